// The batch and the converter chain, with converter classes of the test's own.
#include "discovery/dvFileUtils.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "engine/dvRegistry.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Records which worker took which item, and writes a small target like a converter would.
struct Record
{
    std::mutex lock;
    std::map<int, int> takenBy; // item index -> worker
    std::map<int, std::vector<int>> byWorker; // worker -> items in the order it took them
    int done = 0;
};
Record* gRecord = nullptr;

class RecordingConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        const QString target = BuildTargetPath(batch, item);
        {
            std::lock_guard l(gRecord->lock);
            gRecord->takenBy[item->Index] = FCount;
            gRecord->byWorker[FCount].push_back(item->Index);
        }
        // A little work per item, so that every waiting worker gets its share.
        QThread::msleep(2);
        if (target.isEmpty())
            return;
        if (item->Source.endsWith(QLatin1String("bad.pptx"))) {
            item->Result = QStringLiteral("broken deck");
            item->State = 2;
            batch->AddFailure(item->Result);
            return;
        }
        QFile out(target);
        if (out.open(QIODevice::WriteOnly))
            out.write("%PDF-1.4 test");
        out.close();
        AfterConvert(batch, item, target);
        item->Result = target;
        item->State = 1;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<RecordingConvertor> recordingClass;

void countDone(void* context, TdvBatch*, TdvNode*)
{
    auto* record = static_cast<Record*>(context);
    std::lock_guard l(record->lock);
    ++record->done;
}

class EngineTest : public ::testing::Test
{
protected:
    TestSingletons singletons{&recordingClass};
    Record record;
    TempTree tree;
    void SetUp() override { gRecord = &record; }
    void TearDown() override { gRecord = nullptr; }
};

TEST_F(EngineTest, ThreeWorkersTakeEveryItemOnceInListingOrderWhileListingGoesOn)
{
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("3"));
    TdvBatch batch;
    std::unique_ptr<TdvConvertor> chain(
        TdvConvertor::CreateChain(&batch, tree.path(QStringLiteral("out")), countDone, &record));
    EXPECT_EQ(chain->FCount, 3);
    chain->StartChain();
    // Workers are already waiting; items arrive one by one, and listing completes only at the end.
    for (int i = 0; i < 60; ++i) {
        batch.AddFile(tree.path(QStringLiteral("in/%1.pptx").arg(i)));
        if (i % 10 == 0)
            QThread::msleep(5);
    }
    batch.AddSingleSource(tree.path(QStringLiteral("in/last.pptx")));
    chain->WaitChain();
    EXPECT_TRUE(chain->ChainEnded());
    EXPECT_EQ(record.takenBy.size(), 61u);
    EXPECT_EQ(record.done, 61);
    // Items go out in listing order: each worker sees rising indexes.
    for (const auto& [worker, items] : record.byWorker)
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << "worker " << worker;
    EXPECT_GE(record.byWorker.size(), 2u);
    EXPECT_TRUE(batch.IsExhausted());
    EXPECT_EQ(batch.Successes(), 61);
}

TEST_F(EngineTest, HandOutAndExhaustedRule)
{
    TdvBatch batch;
    batch.AddSingleSource(QStringLiteral("http://127.0.0.1/a.pptx"));
    EXPECT_EQ(batch.ItemCount(), 1);
    TdvNode* first = batch.NextItem();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Index, 0);
    EXPECT_FALSE(batch.IsExhausted());
    EXPECT_EQ(batch.NextItem(), nullptr);
    EXPECT_TRUE(batch.IsExhausted());

    // A search that finds nothing ends every worker's first request.
    TdvBatch empty;
    empty.StartSearch(tree.path(QStringLiteral("nothing/*.ppt?")), tree.path(QStringLiteral("out")), true);
    EXPECT_EQ(empty.NextItem(), nullptr);
    EXPECT_TRUE(empty.IsExhausted());

    // An empty target is refused before anything is listed.
    TdvBatch noTarget;
    try {
        noTarget.StartSearch(tree.path(QStringLiteral("*.ppt?")), QString(), false);
        ADD_FAILURE() << "empty target accepted";
    } catch (const TdvError& e) {
        EXPECT_EQ(e.Message, QStringLiteral("Unable to create directory"));
    }
}

TEST_F(EngineTest, SearchListsMatchingFilesAndRegExt)
{
    tree.write(QStringLiteral("in/a.pptx"));
    tree.write(QStringLiteral("in/b.ppt"));
    tree.write(QStringLiteral("in/c.pdf"));
    tree.write(QStringLiteral("in/2023/d.pptx"));
    gProject->SetOption(QStringLiteral("RegExt"), QStringLiteral("/2023/"));
    TdvBatch batch;
    batch.StartSearch(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), true);
    while (batch.NextItem()) {
    }
    ASSERT_EQ(batch.ItemCount(), 1);
    EXPECT_EQ(batch.LockItems().first()->Source, tree.path(QStringLiteral("in/2023/d.pptx")));
    batch.UnlockItems();
    EXPECT_EQ(batch.FSourceFolder, tree.path(QStringLiteral("in/")));
    EXPECT_TRUE(QFileInfo(tree.path(QStringLiteral("out"))).isDir());
}

TEST_F(EngineTest, FailureTextsAndNormalizePath)
{
    TdvBatch batch;
    batch.AddFailure(QStringLiteral("Disk full"));
    batch.AddFailure(QStringLiteral("disk FULL"));
    batch.AddFailure(QStringLiteral("other"));
    EXPECT_EQ(batch.Failures(), 3);
    EXPECT_EQ(batch.FailureTexts(), QStringList({QStringLiteral("Disk full"), QStringLiteral("other")}));

    struct Case
    {
        const char* in;
        const char* out;
    } cases[] = {{"/in/*.ppt?", "/in/*.ppt?"},
                 {"", ""},
                 {"file:///home/a/x.pptx", "/home/a/x.pptx"},
                 {"file:/x", "/x"},
                 {"file://localhost/in/*.ppt?", "/in/*.ppt?"},
                 {"file:///in/a%20b%23.pptx", "/in/a b#.pptx"},
                 {"http://host/a.pptx", "http://host/a.pptx"}};
    for (const Case& c : cases)
        EXPECT_EQ(TdvBatch::NormalizePath(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    EXPECT_THROW(TdvBatch::NormalizePath(QStringLiteral("file://server/share/x.pptx")), TdvError);
}

TEST_F(EngineTest, TargetPathRules)
{
    TdvConvertor convertor;
    TdvBatch batch;
    batch.FSourceFolder = tree.path(QStringLiteral("in/"));
    batch.FTargetFolder = tree.path(QStringLiteral("out/"));
    TdvNode item;
    auto target = [&](const QString& source) {
        item = TdvNode();
        item.Source = source;
        return convertor.BuildTargetPath(&batch, &item);
    };

    // Sub-folders below the target, and the folder is created; dots in folders are not extensions.
    EXPECT_EQ(target(tree.path(QStringLiteral("in/sub.v2/talk.pptx"))), tree.path(QStringLiteral("out/sub.v2/talk.pdf")));
    EXPECT_TRUE(QFileInfo(tree.path(QStringLiteral("out/sub.v2"))).isDir());
    EXPECT_EQ(target(tree.path(QStringLiteral("in/a:b/noext"))), tree.path(QStringLiteral("out/a:b/noext.pdf")));
    // A web address becomes one name.
    EXPECT_EQ(target(QStringLiteral("http://host:8000/d/a.pptx")), tree.path(QStringLiteral("out/__host_8000_d_a.pdf")));

    gProject->SetOption(QStringLiteral("KeepTargetSubdirs"), QStringLiteral("False"));
    EXPECT_EQ(target(tree.path(QStringLiteral("in/sub/talk.pptx"))), tree.path(QStringLiteral("out/talk.pdf")));

    // An existing target: overwrite, rename with the short name, or skip.
    tree.write(QStringLiteral("out/talk.pdf"), "old");
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))), tree.path(QStringLiteral("out/talk.pdf")));
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("False"));
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))), tree.path(QStringLiteral("out/-vellum-talk.pdf")));
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("SKIP"));
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))), QString());
    EXPECT_EQ(item.State, 1);
    EXPECT_EQ(item.Result, QString());
    EXPECT_EQ(batch.Successes() + batch.Failures(), 0);

    // A folder that cannot be created is reported, and the path is still given.
    tree.write(QStringLiteral("blocker"), "file, not folder");
    batch.FTargetFolder = tree.path(QStringLiteral("blocker/"));
    EXPECT_EQ(target(tree.path(QStringLiteral("in/a.pptx"))), tree.path(QStringLiteral("blocker/a.pdf")));
    EXPECT_EQ(batch.FailureTexts(), QStringList({QStringLiteral("CreateDir Failed: ") + tree.path(QStringLiteral("blocker/"))}));
}

TEST_F(EngineTest, SourceRulesAfterConversion)
{
    TdvConvertor convertor;
    TdvBatch batch;
    TdvNode item;
    auto run = [&](const QString& name, const QByteArray& targetContent, std::initializer_list<const char*> options) {
        gProject->SetOptionLines({});
        for (const char* o : options)
            gProject->SetOptionLines(gProject->OptionLines() << QString::fromUtf8(o));
        item.Source = tree.write(QStringLiteral("in/") + name, "deck");
        const QString target = tree.write(QStringLiteral("out/") + name + QStringLiteral(".pdf"), targetContent);
        convertor.AfterConvert(&batch, &item, target);
        return target;
    };

    run(QStringLiteral("a.pptx"), "pdf", {"DeleteSource=True", "RenameSource=.done"});
    EXPECT_FALSE(QFile::exists(tree.path(QStringLiteral("in/a.pptx"))));
    EXPECT_FALSE(QFile::exists(tree.path(QStringLiteral("in/a.pptx.done"))));

    run(QStringLiteral("b.pptx"), "pdf", {"RenameSource=.done"});
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("in/b.pptx.done"))));

    // A rename never replaces an existing file.
    tree.write(QStringLiteral("in/c.pptx.done"), "keep me");
    run(QStringLiteral("c.pptx"), "pdf", {"RenameSource=.done"});
    EXPECT_EQ(readAll(tree.path(QStringLiteral("in/c.pptx.done"))), QByteArray("keep me"));
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("in/c.pptx"))));

    // An empty target never costs the source.
    run(QStringLiteral("d.pptx"), "", {"DeleteSource=True"});
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("in/d.pptx"))));

    // A read-only source stays.
    item.Source = tree.write(QStringLiteral("in/e.pptx"), "deck");
    chmod(item.Source.toLocal8Bit().constData(), 0444);
    run(QStringLiteral("e2.pptx"), "pdf", {});
    item.Source = tree.path(QStringLiteral("in/e.pptx"));
    gProject->SetOptionLines({QStringLiteral("DeleteSource=1")});
    convertor.AfterConvert(&batch, &item, tree.path(QStringLiteral("out/e2.pptx.pdf")));
    EXPECT_TRUE(QFile::exists(item.Source));

    // File times follow the source.
    const QString old = tree.write(QStringLiteral("in/f.pptx"), "deck");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, old.toLocal8Bit().constData(), times, 0);
    gProject->SetOptionLines({QStringLiteral("KeepFileTime=True")});
    item.Source = old;
    const QString target = tree.write(QStringLiteral("out/f.pdf"), "pdf");
    convertor.AfterConvert(&batch, &item, target);
    EXPECT_EQ(QFileInfo(target).lastModified().toSecsSinceEpoch(), 1000000000);
}

TEST_F(EngineTest, StopChainSkipsEndedWorkersAndFinishEventsReachTheGuiThread)
{
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("3"));
    TdvBatch batch;
    std::unique_ptr<TdvConvertor> chain(
        TdvConvertor::CreateChain(&batch, tree.path(QStringLiteral("out")), countDone, &record));
    int finished = 0;
    const auto guiThread = QThread::currentThread();
    bool allOnGui = true;
    chain->SetOnFinish([&] {
        ++finished;
        allOnGui = allOnGui && QThread::currentThread() == guiThread;
    });
    batch.AddFile(tree.path(QStringLiteral("in/1.pptx")));
    chain->StartChain();
    // Stop while listing still goes on: each worker ends after at most one more item.
    chain->StopChain();
    batch.AddSingleSource(tree.path(QStringLiteral("in/2.pptx")));
    QElapsedTimer timer;
    timer.start();
    while (!chain->ChainEnded() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(chain->ChainEnded());
    chain->StopChain(); // every worker has ended: nothing is touched
    EXPECT_EQ(finished, 3);
    EXPECT_TRUE(allOnGui);
    chain.reset();

    // A new chain on the same batch continues with what is left and never repeats an item.
    const int handled = record.done;
    std::unique_ptr<TdvConvertor> again(
        TdvConvertor::CreateChain(&batch, tree.path(QStringLiteral("out")), countDone, &record));
    again->StartChain();
    again->WaitChain();
    EXPECT_EQ(record.done, 2);
    EXPECT_LE(handled, 2);
    EXPECT_EQ(record.takenBy.size(), 2u);
}

TEST_F(EngineTest, ChainLengthIsBoundedBelowAndAbove)
{
    TdvBatch batch;
    for (const char* value : {"0", "abc", "-4"}) {
        gProject->SetOption(QStringLiteral("ThreadsCount"), QString::fromUtf8(value));
        std::unique_ptr<TdvConvertor> chain(TdvConvertor::CreateChain(&batch, tree.path(), countDone, &record));
        EXPECT_EQ(chain->FCount, 1) << value;
        EXPECT_EQ(chain->FNext, nullptr);
    }
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("10000"));
    std::unique_ptr<TdvConvertor> chain(TdvConvertor::CreateChain(&batch, tree.path(), countDone, &record));
    EXPECT_EQ(chain->FCount, maxThreadsCount());
}

} // namespace

namespace {

// The printer route's store, kept in a temporary folder.
class PrinterStoreTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        qputenv("VELLUM_REGISTRY_DIR", tree.path(QStringLiteral("registry")).toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv("VELLUM_REGISTRY_DIR");
        EngineTest::TearDown();
    }
    static void put(TdvRegistry::Hive hive, const char* key, const char* name, const char* value)
    {
        TdvRegistry store(hive);
        ASSERT_TRUE(store.OpenKey(QString::fromUtf8(key), true));
        store.WriteString(QString::fromUtf8(name), QString::fromUtf8(value));
    }
    static QString get(TdvRegistry::Hive hive, const char* key, const char* name)
    {
        TdvRegistry store(hive);
        return store.OpenKey(QString::fromUtf8(key), false) ? store.ReadString(QString::fromUtf8(name)) : QStringLiteral("<no key>");
    }
};

class OfficePathConvertor : public TdvConvertor
{
public:
    QString GetApplicationPath() override { return QStringLiteral("/usr/lib/office/soffice"); }
};

const char* const devices = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices";
const char* const pdfWriter = "Software\\Adobe\\Acrobat PDFWriter";
const char* const distiller = "Software\\Adobe\\Acrobat Distiller\\PrinterJobControl";

TEST_F(PrinterStoreTest, PrinterNameFallbacks)
{
    TdvConvertor convertor;
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Acrobat PDFWriter")); // no Devices key at all
    put(TdvRegistry::CurrentUser, devices, "Adobe PDF", "winspool,Ne01:");
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Adobe PDF"));
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("Missing Printer"));
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Adobe PDF"));
    put(TdvRegistry::CurrentUser, devices, "acrobat pdfwriter", "x"); // names compared without letter case
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Acrobat PDFWriter"));
    put(TdvRegistry::CurrentUser, devices, "FreePDF XP", "x");
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("FreePDF XP"));
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("FreePDF XP"));
}

TEST_F(PrinterStoreTest, TargetWrites)
{
    OfficePathConvertor convertor;
    // No PDFWriter key: only the two Distiller values, in a key created for them.
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/a.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"), QStringLiteral("<no key>"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, distiller, "/usr/lib/office/soffice"), QStringLiteral("/out/a.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, distiller, "C:\\Windows\\splwow64.exe"), QStringLiteral("/out/a.pdf"));

    // An existing PDFWriter key is overwritten at once without MultiInstance.
    put(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName", "/earlier.pdf");
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/b.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "pdffilename"), QStringLiteral("/out/b.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "bExecViewer"), QStringLiteral("0"));

    // FreePDF XP writes only its own value, and only when its key exists.
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("FreePDF XP"));
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "PDFFilename"), QStringLiteral("<no key>"));
    put(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "Other", "1");
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "PDFFilename"), QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"), QStringLiteral("/out/b.pdf"));
}

TEST_F(PrinterStoreTest, MultiInstanceWaitIsBoundedByTheItemTimeout)
{
    TdvConvertor convertor;
    put(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName", "/never/cleared.pdf");
    gProject->SetOptionLines({QStringLiteral("MultiInstance=True"), QStringLiteral("Timeout=1")});
    QElapsedTimer timer;
    timer.start();
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/d.pdf"));
    EXPECT_GE(timer.elapsed(), 900); // it did wait for the other job...
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"), QStringLiteral("/out/d.pdf")); // ...then went on
}

} // namespace
