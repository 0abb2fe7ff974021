// The batch, the converter chain and the run, with converter classes of the test's own.
#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "engine/dvPrintJob.h"
#include "engine/dvRegistry.h"
#include "engine/dvRun.h"
#include "engine/dvRunLog.h"
#include "engine/dvWork.h"
#include "project/dvProject.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Records which worker took which item, and writes a small target like a converter would.
struct Record : TdvItemObserver
{
    void ItemListed(const TdvItemEvent& item) override
    {
        std::lock_guard l(lock);
        listed.push_back(item.Source);
    }
    void ItemStarted(const TdvItemEvent& item) override
    {
        std::lock_guard l(lock);
        started.insert(item.Index);
    }
    void ItemDone(const TdvItemEvent&) override
    {
        std::lock_guard l(lock);
        ++done;
    }
    // Items reported so far, while workers still report.
    int DoneNow()
    {
        std::lock_guard l(lock);
        return done;
    }

    std::mutex lock;
    std::set<int> started;                    // items a worker began
    QStringList listed;                       // sources as the batch listed them
    std::map<int, int> takenBy;               // item index -> worker
    std::map<int, std::vector<int>> byWorker; // worker -> items in the order it took them
    int done = 0;
    std::atomic<int> waits{0};
    // How many workers must hold an item at once before the first of them goes on (0: none wait): a test
    // of several workers then does not depend on how the machine schedules them.
    int meet = 0;
    std::atomic<int> met{0};
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
            gRecord->takenBy[item->Index] = FWorkerIndex;
            gRecord->byWorker[FWorkerIndex].push_back(item->Index);
        }
        // A little work per item, so that every waiting worker gets its share.
        QThread::msleep(2);
        if (gRecord->meet > 0 && item->Index < gRecord->meet) {
            ++gRecord->met;
            waitUntil([] { return gRecord->met >= gRecord->meet; }, 10000);
        }
        if (target.isEmpty())
            return;
        if (item->Source.endsWith(QLatin1String("bad.pptx"))) {
            item->Result = QStringLiteral("broken deck");
            item->State = isFailed;
            batch->AddFailure(item->Result);
            return;
        }
        QFile out(target);
        if (out.open(QIODevice::WriteOnly))
            out.write("%PDF-1.4 test");
        out.close();
        AfterConvert(batch, item, target);
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<RecordingConvertor> recordingClass;

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
    // The first two items are held until both are in hand: two workers at least take part.
    record.meet = 2;
    TdvBatch batch;
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record);
    EXPECT_EQ(run.Workers(), 3);
    run.Start();
    // Workers are already waiting; items arrive one by one, and listing completes only at the end.
    for (int i = 0; i < 60; ++i) {
        batch.AddFile(tree.path(QStringLiteral("in/%1.pptx").arg(i)));
        if (i % 10 == 0)
            QThread::msleep(5);
    }
    batch.AddSingleSource(tree.path(QStringLiteral("in/last.pptx")));
    run.Wait();
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(run.Running(), 0);
    EXPECT_EQ(record.takenBy.size(), 61u);
    EXPECT_EQ(record.done, 61);
    // Items go out in listing order: each worker sees rising indexes.
    for (const auto& [worker, items] : record.byWorker)
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << "worker " << worker;
    EXPECT_GE(record.byWorker.size(), 2u);
    EXPECT_TRUE(batch.IsExhausted());
    EXPECT_EQ(batch.Successes(), 61);
}

TEST_F(EngineTest, ARunKeepsTheOptionsItWasSetUpWithWhileTheProjectChanges)
{
    tree.write(QStringLiteral("out/a.pdf"), "old");
    tree.write(QStringLiteral("out/b.pdf"), "old");
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("True"));
    TdvBatch batch;
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record);
    // The options change once the run is set up (the window's Config dialog): that is for the next run.
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("Skip"));
    run.Start();
    batch.AddFile(tree.path(QStringLiteral("in/a.pptx")));
    batch.AddSingleSource(tree.path(QStringLiteral("in/b.pptx")));
    run.Wait();
    EXPECT_EQ(readAll(tree.path(QStringLiteral("out/a.pdf"))), QByteArray("%PDF-1.4 test"));
    EXPECT_EQ(readAll(tree.path(QStringLiteral("out/b.pdf"))), QByteArray("%PDF-1.4 test"));
    EXPECT_EQ(batch.Successes(), 2);
}

TEST_F(EngineTest, SeveralWorkersTakeTheLargestListedItemFirstAndClaimInListingOrder)
{
    // Sizes in listing order; 0 (the first) and 3 tie, so the earlier of them goes first.
    const int sizes[] = {300, 100, 5000, 300, 20};
    for (const bool largestFirst : {false, true}) {
        SCOPED_TRACE(largestFirst);
        TdvBatch batch;
        batch.SetLargestFirst(largestFirst);
        for (int i = 0; i < 5; ++i)
            batch.AddFile(tree.write(QStringLiteral("in/%1.pptx").arg(i), QByteArray(sizes[i], 'x')));
        EXPECT_EQ(batch.LockItems().at(2)->Size, 5000);
        batch.UnlockItems();

        std::vector<int> handed, claimed;
        const auto claim = [&](TdvNode* item) { claimed.push_back(item->Index); };
        handed.push_back(batch.NextItem(claim)->Index);
        handed.push_back(batch.NextItem(claim)->Index);
        // An item listed now that is larger than everything left goes next; a smaller one waits its turn.
        batch.AddFile(tree.write(QStringLiteral("in/late.pptx"), QByteArray(1000, 'x')));
        batch.AddSingleSource(tree.write(QStringLiteral("in/small.pptx"), QByteArray(1, 'x')));
        while (TdvNode* item = batch.NextItem(claim))
            handed.push_back(item->Index);
        EXPECT_EQ(handed, largestFirst ? std::vector<int>({2, 0, 5, 3, 1, 4, 6})
                                       : std::vector<int>({0, 1, 2, 3, 4, 5, 6}));
        // Whatever the hand-out order, every item is seen once, in listing order, before or when it goes.
        EXPECT_EQ(claimed, std::vector<int>({0, 1, 2, 3, 4, 5, 6}));
        EXPECT_TRUE(batch.IsExhausted());
    }

    // A chain of one worker keeps the listing order after a chain of several had started on the batch.
    TdvBatch batch;
    for (int i = 0; i < 4; ++i)
        batch.AddFile(tree.write(QStringLiteral("mixed/%1.pptx").arg(i), QByteArray(10 * (i + 1), 'x')));
    batch.AddSingleSource(tree.write(QStringLiteral("mixed/4.pptx"), QByteArray(1, 'x')));
    batch.SetLargestFirst(true);
    EXPECT_EQ(batch.NextItem()->Index, 3);
    batch.SetLargestFirst(false);
    std::vector<int> rest;
    while (TdvNode* item = batch.NextItem())
        rest.push_back(item->Index);
    EXPECT_EQ(rest, std::vector<int>({0, 1, 2, 4}));
}

TEST_F(EngineTest, TheWalkRecordsEachItemsSize)
{
    tree.write(QStringLiteral("in/small.pptx"), "12345");
    tree.write(QStringLiteral("in/sub/large.ppt"), QByteArray(4096, 'x'));
    tree.write(QStringLiteral("in/sub/notes.txt"), "not listed");
    TdvBatch batch;
    batch.StartSearch(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), true);
    batch.WaitFor();
    std::map<QString, qint64> sizes;
    for (const TdvNode* item : batch.LockItems())
        sizes[item->Source.mid(tree.path(QStringLiteral("in/")).size())] = item->Size;
    batch.UnlockItems();
    EXPECT_EQ(sizes, (std::map<QString, qint64>{{QStringLiteral("small.pptx"), 5},
                                                {QStringLiteral("sub/large.ppt"), 4096}}));
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
    TdvBatch batch;
    batch.SetSearchRules(QStringLiteral("/2023/"), false);
    batch.StartSearch(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), true);
    while (batch.NextItem()) {
    }
    ASSERT_EQ(batch.ItemCount(), 1);
    EXPECT_EQ(batch.LockItems().first()->Source, tree.path(QStringLiteral("in/2023/d.pptx")));
    batch.UnlockItems();
    EXPECT_EQ(batch.FSourceFolder, tree.path(QStringLiteral("in/")));
    // Listing makes no folder: only an item that is converted needs one.
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("out"))));
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
    followProject(convertor);
    TdvBatch batch;
    batch.FSourceFolder = tree.path(QStringLiteral("in/"));
    batch.FTargetFolder = tree.path(QStringLiteral("out/"));
    TdvNode item;
    // Each target is asked for in a run of its own here; claims within one run have their own test.
    auto target = [&](const QString& source) {
        batch.Clear();
        item = TdvNode();
        item.Source = source;
        return convertor.BuildTargetPath(&batch, &item);
    };

    // Sub-folders below the target, and the folder is created; dots in folders are not extensions.
    EXPECT_EQ(target(tree.path(QStringLiteral("in/sub.v2/talk.pptx"))),
              tree.path(QStringLiteral("out/sub.v2/talk.pdf")));
    EXPECT_TRUE(QFileInfo(tree.path(QStringLiteral("out/sub.v2"))).isDir());
    EXPECT_EQ(target(tree.path(QStringLiteral("in/a:b/noext"))),
              tree.path(QStringLiteral("out/a:b/noext.pdf")));
    // A web address becomes one name.
    EXPECT_EQ(target(QStringLiteral("http://host:8000/d/a.pptx")),
              tree.path(QStringLiteral("out/__host_8000_d_a.pdf")));

    gProject->SetOption(QStringLiteral("KeepTargetSubdirs"), QStringLiteral("False"));
    followProject(convertor);
    EXPECT_EQ(target(tree.path(QStringLiteral("in/sub/talk.pptx"))),
              tree.path(QStringLiteral("out/talk.pdf")));
    EXPECT_FALSE(item.MayReplace);

    // An existing target: overwrite, rename with the short name, or skip.
    tree.write(QStringLiteral("out/talk.pdf"), "old");
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))), tree.path(QStringLiteral("out/talk.pdf")));
    EXPECT_TRUE(item.MayReplace);
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("False"));
    followProject(convertor);
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))),
              tree.path(QStringLiteral("out/-vellum-talk.pdf")));
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("SKIP"));
    followProject(convertor);
    EXPECT_EQ(target(tree.path(QStringLiteral("in/x/talk.pptx"))), QString());
    EXPECT_EQ(item.State, isDone);
    EXPECT_EQ(item.Result, QString());
    EXPECT_EQ(batch.Successes() + batch.Failures(), 0);

    // A folder that cannot be created is the item's problem, said with its cause; the path is still given.
    tree.write(QStringLiteral("blocker"), "file, not folder");
    batch.FTargetFolder = tree.path(QStringLiteral("blocker/"));
    EXPECT_EQ(target(tree.path(QStringLiteral("in/a.pptx"))), tree.path(QStringLiteral("blocker/a.pdf")));
    EXPECT_EQ(
        convertor.TargetProblem(&item),
        QStringLiteral("CreateDir Failed: %1 (Not a directory)").arg(tree.path(QStringLiteral("blocker/"))));
}

TEST_F(EngineTest, ItemsOfOneRunNeverShareATarget)
{
    struct Case
    {
        const char* rule;
        bool oldFile;         // a.pdf from an earlier run
        QStringList expected; // targets of a.ppt, a.pptx, a.pps in listing order ("" skipped)
    };
    const Case cases[] = {
        {"True", false, {"a.pdf", "-vellum-a.pdf", "-vellum--vellum-a.pdf"}},
        {"True", true, {"a.pdf", "-vellum-a.pdf", "-vellum--vellum-a.pdf"}},
        {"False", false, {"a.pdf", "-vellum-a.pdf", "-vellum--vellum-a.pdf"}},
        {"False", true, {"-vellum-a.pdf", "-vellum--vellum-a.pdf", "-vellum--vellum--vellum-a.pdf"}},
        {"Skip", false, {"a.pdf", "", ""}},
        {"Skip", true, {"", "", ""}},
    };
    TdvConvertor convertor;
    followProject(convertor);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + (c.oldFile ? " over an old file" : ""));
        gProject->SetOption(QStringLiteral("IsOverwrite"), QString::fromLatin1(c.rule));
        followProject(convertor);
        QDir(tree.path(QStringLiteral("out"))).removeRecursively();
        if (c.oldFile)
            tree.write(QStringLiteral("out/a.pdf"), "old");
        TdvBatch batch;
        batch.FSourceFolder = tree.path(QStringLiteral("in/"));
        batch.FTargetFolder = tree.path(QStringLiteral("out/"));
        QStringList got;
        for (const char* name : {"a.ppt", "a.pptx", "a.pps"}) {
            TdvNode item;
            item.Source = tree.path(QStringLiteral("in/") + QLatin1String(name));
            const QString target = convertor.BuildTargetPath(&batch, &item);
            got << (target.isEmpty() ? QString() : extractFileName(target));
            // Asked again, the item keeps its claim.
            EXPECT_EQ(convertor.BuildTargetPath(&batch, &item), target);
        }
        EXPECT_EQ(got, c.expected);
    }
}

// Chooses its target, pauses, then writes it: the first item pauses longest, so that a worker choosing at
// conversion time would let the second item take the first one's name.
class PausingConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        QThread::msleep(item->Index == 0 ? 150 : 10);
        const QString target = BuildTargetPath(batch, item);
        if (target.isEmpty())
            return;
        const QString work = WorkFile(QStringLiteral("out.pdf"));
        QFile file(work);
        if (file.open(QIODevice::WriteOnly))
            file.write(item->Source.toUtf8());
        file.close();
        QString failure;
        if (!CommitTarget(item, work, failure)) {
            item->State = isFailed;
            item->Result = failure;
            batch->AddFailure(failure);
            return;
        }
        AfterConvert(batch, item, target);
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<PausingConvertor> pausingClass;

TEST_F(EngineTest, TwoWorkersGiveTheSameFilesAsOne)
{
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("False"));
    gProject->SetOption(QStringLiteral("DeleteSource"), QStringLiteral("True"));
    // Listed before the workers start, the larger a.pptx goes out first with two workers; the names must
    // still follow the listing order, as with one worker.
    for (const bool listedFirst : {false, true}) {
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(
                QStringLiteral("threads %1, listed first %2").arg(threads).arg(listedFirst).toStdString());
            QDir(tree.path(QStringLiteral("out"))).removeRecursively();
            const QString ppt = tree.write(QStringLiteral("in/a.ppt"), "old format");
            const QString pptx = tree.write(QStringLiteral("in/a.pptx"), "new format, and larger");
            gProject->SetOption(QStringLiteral("ThreadsCount"), QString::number(threads));
            TdvBatch batch;
            batch.FSourceFolder = tree.path(QStringLiteral("in/"));
            TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &pausingClass);
            if (!listedFirst)
                run.Start();
            batch.AddFile(ppt);
            batch.AddSingleSource(pptx);
            if (listedFirst)
                run.Start();
            run.Wait();
            // Each deck has its own PDF with its own content, and each source went only after its own PDF.
            EXPECT_EQ(batch.Successes(), 2);
            EXPECT_EQ(readAll(tree.path(QStringLiteral("out/a.pdf"))), ppt.toUtf8());
            EXPECT_EQ(readAll(tree.path(QStringLiteral("out/-vellum-a.pdf"))), pptx.toUtf8());
            EXPECT_FALSE(QFileInfo::exists(ppt));
            EXPECT_FALSE(QFileInfo::exists(pptx));
            // Nothing of the work is left in the target folder.
            EXPECT_EQ(QDir(tree.path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
        }
    }
}

TEST_F(EngineTest, CommitReplacesOnlyTheFileTheClaimFound)
{
    TdvConvertor convertor;
    TdvBatch batch;
    batch.FSourceFolder = tree.path(QStringLiteral("in/"));
    batch.FTargetFolder = tree.path(QStringLiteral("out/"));
    const QString target = tree.path(QStringLiteral("out/talk.pdf"));
    struct Case
    {
        const char* name;
        const char* before;              // the target when claimed, or null
        std::function<void()> meanwhile; // what happens between claim and commit
        const char* failure;             // the message's end, or null for success
    };
    const Case cases[] = {
        {"new file", nullptr, [] {}, nullptr},
        {"replaces the old PDF", "old", [] {}, nullptr},
        {"another program made the target", nullptr,
         [&] { tree.write(QStringLiteral("out/talk.pdf"), "theirs"); },
         "was made by another program during the conversion; it was kept"},
        {"another program saved over the target", "old",
         [&] {
             const QString fresh = tree.write(QStringLiteral("out/fresh"), "theirs, newer");
             ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(target).constData());
         },
         "was changed by another program during the conversion; it was kept"},
        {"read-only target", "old", [&] { ::chmod(QFile::encodeName(target).constData(), 0444); },
         "cannot be replaced: Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch.Clear();
        QFile::remove(target);
        if (c.before)
            tree.write(QStringLiteral("out/talk.pdf"), c.before);
        TdvNode item;
        item.Source = tree.write(QStringLiteral("in/talk.pptx"), "deck");
        ASSERT_EQ(convertor.BuildTargetPath(&batch, &item), target);
        c.meanwhile();
        const QByteArray kept = QFileInfo::exists(target) ? readAll(target) : QByteArray();
        const QString work = convertor.WorkFile(QStringLiteral("w.pdf"));
        QFile file(work);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF new");
        file.close();
        QString failure;
        const bool committed = convertor.CommitTarget(&item, work, failure);
        if (!c.failure) {
            EXPECT_TRUE(committed) << failure.toStdString();
            EXPECT_EQ(readAll(target), QByteArray("%PDF new"));
        } else {
            EXPECT_FALSE(committed);
            EXPECT_EQ(failure, target + QLatin1Char(' ') + QLatin1String(c.failure));
            EXPECT_EQ(readAll(target), kept);
        }
        ::chmod(QFile::encodeName(target).constData(), 0644);
        EXPECT_EQ(QDir(tree.path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("talk.pdf")});
    }

    // From another file system the finished file goes through a hidden part file beside the target, which
    // does not stay.
    const QString shm = QStringLiteral("/dev/shm");
    if (QFileInfo(shm).isDir() && TdvFileId::Of(shm).Device != TdvFileId::Of(tree.path()).Device) {
        batch.Clear();
        QFile::remove(target);
        TdvNode item;
        item.Source = tree.write(QStringLiteral("in/talk.pptx"), "deck");
        convertor.BuildTargetPath(&batch, &item);
        QTemporaryDir elsewhere(shm + QStringLiteral("/vellum-test-XXXXXX"));
        QFile file(elsewhere.filePath(QStringLiteral("w.pdf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF from afar");
        file.close();
        QString failure;
        EXPECT_TRUE(convertor.CommitTarget(&item, file.fileName(), failure)) << failure.toStdString();
        EXPECT_EQ(readAll(target), QByteArray("%PDF from afar"));
        EXPECT_EQ(QDir(tree.path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("talk.pdf")});
    }
}

TEST_F(EngineTest, SourceRulesAfterConversion)
{
    TdvConvertor convertor;
    followProject(convertor);
    TdvBatch batch;
    TdvNode item;
    auto run = [&](const QString& name, const QByteArray& targetContent,
                   std::initializer_list<const char*> options) {
        gProject->SetOptionLines({});
        followProject(convertor);
        for (const char* o : options) {
            gProject->SetOptionLines(gProject->OptionLines() << QString::fromUtf8(o));
            followProject(convertor);
        }
        item.Source = tree.write(QStringLiteral("in/") + name, "deck");
        const QString target =
            tree.write(QStringLiteral("out/") + name + QStringLiteral(".pdf"), targetContent);
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
    followProject(convertor);
    convertor.AfterConvert(&batch, &item, tree.path(QStringLiteral("out/e2.pptx.pdf")));
    EXPECT_TRUE(QFile::exists(item.Source));

    // A newer version saved over the source while it was converted is the user's work: it stays, and the
    // item says why. The same for the rename.
    for (const char* option : {"DeleteSource=True", "RenameSource=.done"}) {
        SCOPED_TRACE(option);
        gProject->SetOptionLines({QString::fromLatin1(option)});
        followProject(convertor);
        item = TdvNode();
        item.Source = tree.write(QStringLiteral("in/g.pptx"), "version 1");
        item.SourceFound = TdvFileId::Of(item.Source);
        const QString newer =
            tree.write(QStringLiteral("in/g.new"), "version 2, saved during the conversion");
        ::rename(QFile::encodeName(newer).constData(), QFile::encodeName(item.Source).constData());
        convertor.AfterConvert(&batch, &item, tree.write(QStringLiteral("out/g.pdf"), "pdf"));
        EXPECT_EQ(readAll(item.Source), QByteArray("version 2, saved during the conversion"));
        EXPECT_FALSE(QFileInfo::exists(item.Source + QStringLiteral(".done")));
        EXPECT_EQ(item.Note, QStringLiteral("The source was kept: it changed during the conversion"));
    }
    // A source moved away meanwhile was not changed: the item says what happened, and the moved file stays.
    for (const char* option : {"DeleteSource=True", "RenameSource=.done"}) {
        SCOPED_TRACE(option);
        gProject->SetOptionLines({QString::fromLatin1(option)});
        followProject(convertor);
        item = TdvNode();
        item.Source = tree.write(QStringLiteral("in/m.pptx"), "deck");
        item.SourceFound = TdvFileId::Of(item.Source);
        const QString moved = tree.mkdir(QStringLiteral("elsewhere")) + QStringLiteral("m.pptx");
        ::rename(QFile::encodeName(item.Source).constData(), QFile::encodeName(moved).constData());
        convertor.AfterConvert(&batch, &item, tree.write(QStringLiteral("out/m.pdf"), "pdf"));
        EXPECT_EQ(readAll(moved), QByteArray("deck"));
        EXPECT_FALSE(QFileInfo::exists(item.Source + QStringLiteral(".done")));
        EXPECT_EQ(item.Note, QStringLiteral("The source was moved or deleted during the conversion"));
        QFile::remove(moved);
    }
    // The same file, untouched, goes.
    gProject->SetOptionLines({QStringLiteral("DeleteSource=True")});
    followProject(convertor);
    item = TdvNode();
    item.Source = tree.write(QStringLiteral("in/h.pptx"), "deck");
    item.SourceFound = TdvFileId::Of(item.Source);
    convertor.AfterConvert(&batch, &item, tree.write(QStringLiteral("out/h.pdf"), "pdf"));
    EXPECT_FALSE(QFileInfo::exists(item.Source));
    EXPECT_TRUE(item.Note.isEmpty());

    // File times follow the source.
    const QString old = tree.write(QStringLiteral("in/f.pptx"), "deck");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, old.toLocal8Bit().constData(), times, 0);
    gProject->SetOptionLines({QStringLiteral("KeepFileTime=True")});
    followProject(convertor);
    item.Source = old;
    const QString target = tree.write(QStringLiteral("out/f.pdf"), "pdf");
    convertor.AfterConvert(&batch, &item, target);
    EXPECT_EQ(QFileInfo(target).lastModified().toSecsSinceEpoch(), 1000000000);
}

// Converts as the product does around the office: its target's problems first, then a work file committed
// into place. A deck named "bad..." fails.
class CommittingConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        const QString target = BuildTargetPath(batch, item);
        if (target.isEmpty())
            return;
        QString failure = TargetProblem(item);
        if (failure.isEmpty() && extractFileName(item->Source).startsWith(QLatin1String("bad")))
            failure = QStringLiteral("broken deck");
        if (failure.isEmpty()) {
            const QString work = WorkFile(QStringLiteral("out.pdf"));
            QFile file(work);
            if (file.open(QIODevice::WriteOnly))
                file.write("%PDF-1.4 test");
            file.close();
            CommitTarget(item, work, failure);
        }
        if (!failure.isEmpty()) {
            item->State = isFailed;
            item->Result = failure;
            batch->AddFailure(failure);
            return;
        }
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<CommittingConvertor> committingClass;

// Failed and skipped items leave no folder behind that the run made for them; folders that hold a PDF, that
// another item still writes into, or that were there before the run stay.
TEST_F(EngineTest, FoldersMadeForItemsThatCameToNothingGoAgain)
{
    for (const char* deck : {"ok/a.pptx", "fail/bad.pptx", "mixed/bad.pptx", "mixed/b.pptx",
                             "deep/er/bad.pptx", "old/bad.pptx", "twice/bad.ppt", "twice/bad.pptx"})
        tree.write(QStringLiteral("in/") + QLatin1String(deck));
    tree.mkdir(QStringLiteral("out/old"));
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("Skip")); // twice/bad.pptx is skipped
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        QDir(tree.path(QStringLiteral("out"))).removeRecursively();
        tree.mkdir(QStringLiteral("out/old"));
        gProject->SetOption(QStringLiteral("ThreadsCount"), QString::number(threads));
        TdvBatch batch;
        batch.StartSearch(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), true);
        TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &committingClass);
        run.Start();
        run.Wait();
        EXPECT_EQ(batch.Successes(), 2);
        QStringList folders;
        QDirIterator it(tree.path(QStringLiteral("out")), QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            folders << it.next().mid(tree.path(QStringLiteral("out/")).size());
        folders.sort();
        EXPECT_EQ(folders,
                  QStringList({QStringLiteral("mixed"), QStringLiteral("ok"), QStringLiteral("old")}));
    }

    // Items claimed but never run (a stopped run) leave nothing either once their batch goes.
    QDir(tree.path(QStringLiteral("out"))).removeRecursively();
    {
        TdvBatch batch;
        batch.Prepare(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out/")), true);
        batch.AddSingleSource(tree.path(QStringLiteral("in/deep/er/bad.pptx")));
        TdvConvertor convertor;
        TdvNode* item = batch.LockItems().first();
        batch.UnlockItems();
        convertor.BuildTargetPath(&batch, item);
        EXPECT_TRUE(QFileInfo(tree.path(QStringLiteral("out/deep/er"))).isDir());
    }
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("out/deep"))));
}

// Whoever may write into the target can plant a link in place of a sub-folder; the run follows only the links
// the person named.
TEST_F(EngineTest, SubFoldersOfTheTargetThatAreLinksAreNotFollowed)
{
    const QString elsewhere = tree.mkdir(QStringLiteral("elsewhere"));
    tree.write(QStringLiteral("in/sub/deep.pptx"));
    tree.write(QStringLiteral("in/top.pptx"));
    tree.mkdir(QStringLiteral("real-out"));
    ASSERT_EQ(::symlink(QFile::encodeName(tree.path(QStringLiteral("real-out"))).constData(),
                        QFile::encodeName(tree.path(QStringLiteral("out"))).constData()),
              0);
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(),
                        QFile::encodeName(tree.path(QStringLiteral("real-out/sub"))).constData()),
              0);
    TdvBatch batch;
    batch.StartSearch(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), true);
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &committingClass);
    run.Start();
    run.Wait();
    QMap<QString, QString> results;
    for (const TdvNode* item : std::as_const(batch.LockItems()))
        results[extractFileName(item->Source)] = item->Result;
    batch.UnlockItems();
    // The target the person named may be a link; a link below it is not followed.
    EXPECT_EQ(results[QStringLiteral("top.pptx")], tree.path(QStringLiteral("out/top.pdf")));
    EXPECT_TRUE(QFileInfo::exists(tree.path(QStringLiteral("real-out/top.pdf"))));
    EXPECT_EQ(
        results[QStringLiteral("deep.pptx")],
        QStringLiteral("The PDF file cannot be written to %1: %2 is a symbolic link, which is not followed")
            .arg(tree.path(QStringLiteral("out/sub/deep.pdf")), tree.path(QStringLiteral("out/sub"))));
    EXPECT_TRUE(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// What the walk will list is known before it starts: the run's own files are checked against it.
TEST_F(EngineTest, TheBatchKnowsWhatItWouldListAndNeverEntersATargetInsideTheSource)
{
    tree.write(QStringLiteral("in/a.pptx"));
    tree.write(QStringLiteral("in/out/a.pdf"));
    tree.write(QStringLiteral("in/sub/b.pptx"));
    ASSERT_EQ(::symlink(QFile::encodeName(tree.path(QStringLiteral("in"))).constData(),
                        QFile::encodeName(tree.path(QStringLiteral("link"))).constData()),
              0);
    struct Case
    {
        const char* source;
        const char* target;
        bool subdirs;
        const char* path;
        bool listed;
    } cases[] = {
        {"in/*.ppt?", "out", false, "in/a.pptx", true},
        {"in/*.ppt?", "out", false, "in/new.pptx", true}, // once it exists
        {"in/*.ppt?", "out", false, "in/run.log", false},
        {"in/*.ppt?", "out", false, "in/sub/b.pptx", false},
        {"in/*.ppt?", "out", true, "in/sub/b.pptx", true},
        {"in/*.ppt?", "out", true, "in/.hidden/b.pptx", false},
        {"in/*.ppt?", "out", true, "link/sub/b.pptx", true}, // the same file by another name
        {"in/*.*", "in/out", true, "in/run.log", true},
        {"in/*.*", "in/out", true, "in/out/a.pdf", false},
        {"in/*.*", "in/out", true, "in/out/run.log", false},
        {"in/a.pptx", "out", true, "in/sub/a.pptx", true},
        {"in/a.pptx", "out", true, "in/sub/b.pptx", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.path);
        TdvBatch batch;
        batch.Prepare(tree.path(QString::fromUtf8(c.source)), tree.path(QString::fromUtf8(c.target)),
                      c.subdirs);
        EXPECT_EQ(batch.WouldList(tree.path(QString::fromUtf8(c.path))), c.listed);
    }

    // The target inside the source is never listed, by the walk either: no PDF of an earlier run is converted
    // again.
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
    TdvBatch batch;
    batch.StartSearch(tree.path(QStringLiteral("in/*.*")), tree.path(QStringLiteral("in/out")), true);
    EXPECT_EQ(batch.TargetInsideSource(), resolvedPath(tree.path(QStringLiteral("in/out"))));
    batch.WaitFor();
    QStringList listed;
    for (const TdvNode* item : std::as_const(batch.LockItems()))
        listed << item->Source.mid(tree.path().size());
    batch.UnlockItems();
    listed.sort();
    EXPECT_EQ(listed, QStringList({QStringLiteral("in/a.pptx"), QStringLiteral("in/sub/b.pptx")}));

    // A PDF that an item of the run claimed is never listed as a source of it.
    TdvBatch own;
    own.Prepare(tree.path(QStringLiteral("in/*.*")), tree.path(QStringLiteral("in/")), false);
    own.Claim(tree.path(QStringLiteral("in/a.pdf")));
    own.AddFile(tree.path(QStringLiteral("in/a.pdf")));
    own.AddSingleSource(tree.path(QStringLiteral("in/a.pptx")));
    EXPECT_EQ(own.ItemCount(), 1);
}

TEST(RunLog, ControlCharactersAreEscapedSoThatAnItemIsOneLine)
{
    struct Case
    {
        QString text;
        QString shown;
    } cases[] = {
        {QStringLiteral("/in/plain talk.pptx"), QStringLiteral("/in/plain talk.pptx")},
        {QStringLiteral("z.pptx\nFailure => budget.pptx\r\n"),
         QStringLiteral("z.pptx\\nFailure => budget.pptx\\r\\n")},
        {QStringLiteral("a\tb\x1b[31mred\x07.pptx"), QStringLiteral("a\\tb\\x1b[31mred\\x07.pptx")},
        {QString(QChar(0x9B)) + QStringLiteral("2J") + QChar(0x7F), QStringLiteral("\\x9b2J\\x7f")},
        {QStringLiteral("line") + QChar(0x2028) + QStringLiteral("sep"), QStringLiteral("line\\u2028sep")},
        {QString::fromUtf8("caf\xC3\xA9 \\ \xE6\x97\xA5.pptx"),
         QString::fromUtf8("caf\xC3\xA9 \\ \xE6\x97\xA5.pptx")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeControls(c.text), c.shown);
}

class RunLogTest : public EngineTest
{
protected:
    // Opens `path` as the log of a run of in/*.ppt? into out/ (sub-folders too); answers the refusal.
    QString open(TdvRunLog& log, const QString& path)
    {
        TdvBatch batch;
        batch.Prepare(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out/")), true);
        try {
            log.Open(path, &batch, QStringLiteral(".pdf"));
        } catch (const TdvError& e) {
            return e.Message;
        }
        return QString();
    }
};

TEST_F(RunLogTest, TheLogIsNoneOfTheRunsFilesAndNoLink)
{
    const QString victim = tree.write(QStringLiteral("elsewhere/victim.txt"), "precious");
    const QString deck = tree.write(QStringLiteral("in/sub/talk.pptx"), "deck");
    const QString pdf = tree.write(QStringLiteral("out/sub/talk.pdf"), "old pdf");
    tree.mkdir(QStringLiteral("logs/folder.log"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(),
                        QFile::encodeName(tree.path(QStringLiteral("logs/link.log"))).constData()),
              0);
    ASSERT_EQ(::link(QFile::encodeName(victim).constData(),
                     QFile::encodeName(tree.path(QStringLiteral("logs/hard.log"))).constData()),
              0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree.path(QStringLiteral("logs/fifo.log"))).constData(), 0600), 0);
    struct Case
    {
        QString path;
        QString reason;
    } cases[] = {
        {tree.path(QStringLiteral("logs/link.log")),
         QStringLiteral("it is a symbolic link, which is not followed")},
        {tree.path(QStringLiteral("logs/folder.log")), QStringLiteral("Is a directory")},
        {tree.path(QStringLiteral("logs/fifo.log")), QStringLiteral("it is not a regular file")},
        {tree.path(QStringLiteral("logs/hard.log")),
         QStringLiteral("it has other names (hard links), which would change with it")},
        {deck, QStringLiteral("it is one of the presentations the run converts")},
        {tree.path(QStringLiteral("in/new.pptx")),
         QStringLiteral("it is one of the presentations the run converts")},
        {pdf, QStringLiteral("it may be one of the PDF files the run writes")},
        {tree.path(QStringLiteral("out/other/new.PDF")),
         QStringLiteral("it may be one of the PDF files the run writes")},
        {QStringLiteral("/proc/version"), QStringLiteral("Input/output error")},
    };
    for (const Case& c : cases) {
        TdvRunLog log;
        EXPECT_EQ(open(log, c.path),
                  QStringLiteral("The run log %1 cannot be written: %2").arg(c.path, c.reason));
        EXPECT_FALSE(log.IsOpen());
    }
    EXPECT_EQ(readAll(victim), QByteArray("precious"));
    EXPECT_EQ(readAll(deck), QByteArray("deck"));
    EXPECT_EQ(readAll(pdf), QByteArray("old pdf"));
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("in/new.pptx"))));
}

TEST_F(RunLogTest, LinesReachTheFileAsTheyAreAppended)
{
    // A log in the target folder, in a folder still to be made, and one of an earlier run that is replaced.
    for (const QString& path :
         {tree.path(QStringLiteral("out/run.log")), tree.path(QStringLiteral("logs/new/run.log"))}) {
        tree.write(QStringLiteral("out/run.log"), "the log of an earlier run\r\n");
        TdvRunLog log;
        ASSERT_EQ(open(log, path), QString());
        EXPECT_EQ(readAll(path), QByteArray());
        EXPECT_TRUE(log.Append(QStringLiteral("Success => /in/a.pptx => /out/a.pdf")));
        // Each line is in the file as soon as it is appended, not when the log is closed.
        EXPECT_EQ(readAll(path), QByteArray("Success => /in/a.pptx => /out/a.pdf\r\n"));
        EXPECT_TRUE(log.Append(QString::fromUtf8("Failure => /in/caf\xC3\xA9.pptx => broken")));
        EXPECT_EQ(
            readAll(path),
            QByteArray(
                "Success => /in/a.pptx => /out/a.pdf\r\nFailure => /in/caf\xC3\xA9.pptx => broken\r\n"));
    }
}

TEST_F(EngineTest, APausedRunEndsAfterCurrentItemsAndPostsEachWorkerEndToItsReceiver)
{
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("3"));
    TdvBatch batch;
    QObject receiver;
    std::vector<int> ends;
    bool allOnGui = true;
    {
        TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record);
        const auto guiThread = QThread::currentThread();
        run.SetOnWorkerEnded(&receiver, [&](int running) {
            ends.push_back(running);
            allOnGui = allOnGui && QThread::currentThread() == guiThread;
        });
        batch.AddFile(tree.path(QStringLiteral("in/1.pptx")));
        run.Start();
        // Paused while listing still goes on: each worker ends after at most one more item.
        run.Pause();
        batch.AddSingleSource(tree.path(QStringLiteral("in/2.pptx")));
        // Posted, never waited for: the workers end while this thread serves nothing.
        run.Wait();
        EXPECT_TRUE(run.Ended());
        EXPECT_TRUE(ends.empty());
        QElapsedTimer timer;
        timer.start();
        while (ends.size() < 3 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        run.Pause(); // every worker has ended: nothing is touched
    }
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends.back(), 0); // the last one says the run is over
    EXPECT_TRUE(std::is_sorted(ends.rbegin(), ends.rend()));
    EXPECT_TRUE(allOnGui);

    // A new run on the same batch continues with what is left and never repeats an item.
    TdvRun again(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record);
    again.Start();
    again.Wait();
    EXPECT_EQ(record.done, 2);
    EXPECT_EQ(record.takenBy.size(), 2u);
    const TdvTallies t = again.Tallies();
    EXPECT_EQ(t.Listed, 2);
    EXPECT_EQ(t.Converted, 2);
    EXPECT_EQ(t.Summary(), QStringLiteral("2 listed, 2 converted, 0 skipped, 0 failed"));
}

// Throws out of its conversion for "throw" decks, as a converter with an unforeseen fault would.
class ThrowingConvertor : public RecordingConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        if (item->Source.contains(QLatin1String("throw")))
            throw TdvError(QStringLiteral("unforeseen"));
        RecordingConvertor::Convert(batch, item);
    }
};
const TdvConvertorClassOf<ThrowingConvertor> throwingClass;

TEST_F(EngineTest, AnErrorThatEscapesAConversionFailsItsItemAndIsReported)
{
    TdvBatch batch;
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &throwingClass);
    batch.AddFile(tree.path(QStringLiteral("in/throw.pptx")));
    batch.AddFile(tree.path(QStringLiteral("in/bad.pptx")));
    batch.AddSingleSource(tree.path(QStringLiteral("in/good.pptx")));
    run.Start();
    run.Wait();
    EXPECT_EQ(record.done, 3); // every item, the thrown one too, reached the report
    const TdvNode* thrown = batch.LockItems().at(0);
    const int state = thrown->State;
    const QString result = thrown->Result;
    batch.UnlockItems();
    EXPECT_EQ(state, isFailed);
    EXPECT_EQ(result, QStringLiteral("unforeseen"));
    const TdvTallies t = run.Tallies();
    EXPECT_EQ(t.Failed, 2);
    EXPECT_EQ(t.Failures, 2);
    EXPECT_EQ(t.Converted, 1);
    EXPECT_EQ(t.Open(), 0);
    EXPECT_TRUE(batch.FailureTexts().contains(QStringLiteral("unforeseen")));
}

// Holds every item until its worker is aborted, then fails as a call on a killed office does.
class HangingConvertor : public RecordingConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        if (!item->Source.contains(QLatin1String("hang"))) {
            RecordingConvertor::Convert(batch, item);
            return;
        }
        ++gRecord->waits;
        QElapsedTimer bound;
        bound.start();
        while (!Aborted() && bound.elapsed() < 20000)
            QThread::msleep(1);
        throw TdvError(QStringLiteral("The office process ended unexpectedly"));
    }
};
const TdvConvertorClassOf<HangingConvertor> hangingClass;

TEST_F(EngineTest, AnAbortedRunEndsAtOnceAndItsItemsInHandStayNotDone)
{
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    TdvBatch batch;
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &hangingClass);
    batch.AddFile(tree.path(QStringLiteral("in/0.pptx")));
    batch.AddFile(tree.path(QStringLiteral("in/1-hang.pptx")));
    batch.AddFile(tree.path(QStringLiteral("in/2-hang.pptx")));
    batch.AddFile(tree.path(QStringLiteral("in/3.pptx")));
    run.Start();
    ASSERT_TRUE(waitUntil([&] { return record.waits == 2; }, 10000));
    QElapsedTimer timer;
    timer.start();
    run.Abort();
    run.Wait();
    // Bounded far below the converters' own 20 s: the abort, not their limit, ended them.
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(record.done, 1); // only the converted item was reported
    const TdvTallies t = run.Tallies();
    EXPECT_EQ(t.Converted, 1);
    EXPECT_EQ(t.Failed, 0);
    EXPECT_EQ(t.Failures, 0);
    EXPECT_EQ(t.Open(), 3);
    EXPECT_TRUE(batch.FailureTexts().isEmpty());
    // Every item a worker began was told as begun, the hung ones too.
    std::lock_guard l(record.lock);
    EXPECT_EQ(record.started, std::set<int>({0, 1, 2}));
}

// Marks the decks with "stand-in" in their names as set in stand-in fonts, as the office route does once it
// knows; a failed one keeps the mark it got before failing.
class StandInConvertor : public RecordingConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        item->StandInFonts = item->Source.contains(QLatin1String("stand-in"));
        RecordingConvertor::Convert(batch, item);
    }
};
const TdvConvertorClassOf<StandInConvertor> standInClass;

TEST_F(EngineTest, TheSummaryCountsConvertedPdfsWithStandInFontsApart)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{QStringLiteral("a.pptx"), QStringLiteral("b.pptx")}, "2 listed, 2 converted, 0 skipped, 0 failed"},
        {{QStringLiteral("stand-in.pptx"), QStringLiteral("a.pptx"), QStringLiteral("stand-in-bad.pptx")},
         "3 listed, 2 converted, 0 skipped, 1 failed; 1 PDF uses stand-in fonts"},
        {{QStringLiteral("stand-in-1.pptx"), QStringLiteral("stand-in-2.pptx")},
         "2 listed, 2 converted, 0 skipped, 0 failed; 2 PDFs use stand-in fonts"},
    };
    for (const auto& [names, summary] : cases) {
        TdvBatch batch;
        TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record, &standInClass);
        for (const QString& name : names.mid(0, names.size() - 1))
            batch.AddFile(tree.path(QStringLiteral("in/") + name));
        batch.AddSingleSource(tree.path(QStringLiteral("in/") + names.last()));
        run.Start();
        run.Wait();
        EXPECT_EQ(run.Tallies().Summary(), QString::fromLatin1(summary));
    }
}

TEST_F(EngineTest, OfficeServersAreParsedStrictly)
{
    EXPECT_EQ(TdvServers::Parse(QStringLiteral("  a.example:2002\tLOCAL  [::1]:2003 10.0.0.7:1 ")),
              QStringList({QStringLiteral("a.example:2002"), QStringLiteral("local"),
                           QStringLiteral("[::1]:2003"), QStringLiteral("10.0.0.7:1")}));
    EXPECT_TRUE(TdvServers::Parse(QString()).isEmpty());
    EXPECT_EQ(TdvServers::Parse(QStringLiteral("local local")).size(), 2);
    // A listener's Unix socket, by its path from the current folder; named twice, it is one listener.
    const QStringList sockets = TdvServers::Parse(QStringLiteral("unix:/run/vellum/a.sock UNIX:tunnels/b"));
    EXPECT_EQ(sockets,
              QStringList({QStringLiteral("unix:/run/vellum/a.sock"),
                           QStringLiteral("unix:") + QDir::currentPath() + QStringLiteral("/tunnels/b")}));
    EXPECT_EQ(TdvServers::SocketPath(sockets[0]), QStringLiteral("/run/vellum/a.sock"));
    EXPECT_TRUE(TdvServers::SocketPath(QStringLiteral("a.example:2002")).isEmpty());
    EXPECT_THROW(TdvServers::Parse(QStringLiteral("unix:/run/a unix:/run/x/../a")), TdvError);
    EXPECT_THROW(TdvServers::Parse(QStringLiteral("unix:")), TdvError);
    // One program's two connections to one office would share its objects: a listener is named once.
    EXPECT_THROW(TdvServers::Parse(QStringLiteral("a:1 local A:1")), TdvError);
    for (const char* bad :
         {"host", "host:", ":2002", "host:0", "host:65536", "host:20x2", "::1:2002", "loc al:1x"}) {
        try {
            TdvServers::Parse(QStringLiteral("local ") + QString::fromUtf8(bad));
            ADD_FAILURE() << bad << " was taken";
        } catch (const TdvError& e) {
            EXPECT_TRUE(errorMessage(e).contains(QString::fromUtf8(bad).section(QLatin1Char(' '), 0, 0)))
                << bad;
        }
    }
}

TEST_F(EngineTest, ListenersAreDownOnlyWhenEveryOneIs)
{
    TdvServers servers({QStringLiteral("a:1"), QStringLiteral("b:2")});
    EXPECT_FALSE(servers.AllDown());
    servers.SetDown(0, QStringLiteral("The office at a:1 cannot be reached: Connection refused"));
    EXPECT_FALSE(servers.AllDown());
    servers.SetDown(1, QStringLiteral("The office at b:2 did not answer within 2 s"));
    EXPECT_TRUE(servers.AllDown());
    EXPECT_EQ(
        servers.DownMessage(),
        QStringLiteral("No office can be reached: The office at a:1 cannot be reached: Connection refused; "
                       "The office at b:2 did not answer within 2 s"));
    servers.SetUp(0);
    EXPECT_FALSE(servers.AllDown());
    // A local office is never down.
    TdvServers mixed({QStringLiteral("local"), QStringLiteral("b:2")});
    mixed.SetDown(1, QStringLiteral("gone"));
    EXPECT_FALSE(mixed.AllDown());
}

// A converter whose listener cannot be reached when it is the first worker of the chain: it never takes an
// item, and the others convert them all.
class UnreachableFirstConvertor : public RecordingConvertor
{
protected:
    bool ReadyForItem() override
    {
        if (FServerIndex != 0)
            return true;
        ++gRecord->waits;
        QThread::msleep(5);
        return false;
    }
};
const TdvConvertorClassOf<UnreachableFirstConvertor> unreachableFirstClass;

TEST_F(EngineTest, OneWorkerPerListenerAndADownOneLeavesItsItemsToTheOthers)
{
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("7"));
    gProject->SetOption(QStringLiteral("OfficeServers"), QStringLiteral("down:1 local b:2"));
    TdvBatch batch;
    TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record,
               &unreachableFirstClass);
    EXPECT_EQ(run.Workers(), 3);
    EXPECT_EQ(run.Servers(),
              QStringList({QStringLiteral("down:1"), QStringLiteral("local"), QStringLiteral("b:2")}));
    QStringList servers;
    for (int i = 0; i < run.Workers(); ++i)
        servers.append(run.Worker(i)->Server());
    EXPECT_EQ(servers, QStringList({QStringLiteral("down:1"), QString(), QStringLiteral("b:2")}));

    run.Start();
    for (int i = 0; i < 20; ++i)
        batch.AddFile(tree.path(QStringLiteral("in/%1.pptx").arg(i)));
    batch.AddSingleSource(tree.path(QStringLiteral("in/last.pptx")));
    run.Wait(); // the down worker ends too, once nothing is left
    EXPECT_EQ(record.done, 21);
    EXPECT_EQ(record.takenBy.size(), 21u);
    EXPECT_GT(record.waits.load(), 0);
    EXPECT_EQ(record.byWorker.count(0), 0u); // the first worker, whose listener is down, took nothing

    // A malformed entry stops the run before anything starts.
    gProject->SetOption(QStringLiteral("OfficeServers"), QStringLiteral("nowhere"));
    EXPECT_THROW(TdvRun(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), &record), TdvError);
}

TEST_F(EngineTest, WorkListsThroughItsFilterAndANewRunTakesWhatAPausedOneLeft)
{
    for (int i = 0; i < 6; ++i)
        tree.write(QStringLiteral("in/%1.pptx").arg(i));
    tree.write(QStringLiteral("in/held.pptx"));
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    TdvWork work(&record, QString(), false);
    EXPECT_FALSE(work.Fed());
    work.List(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), false,
              [](const QString& path) { return !path.endsWith(QLatin1String("held.pptx")); });
    ASSERT_TRUE(waitUntil([&] { return work.Listed(); }, 10000));
    EXPECT_EQ(work.Count(), 6);
    EXPECT_EQ(work.SourceFolder(), tree.path(QStringLiteral("in/")));
    EXPECT_EQ(work.Mask(), QStringLiteral("*.ppt?"));
    {
        std::lock_guard l(record.lock);
        EXPECT_EQ(record.listed.size(), 6);
        EXPECT_FALSE(record.listed.contains(tree.path(QStringLiteral("in/held.pptx"))));
    }

    // However far the first run got before its pause, the second converts the rest and nothing twice.
    std::unique_ptr<TdvRun> first =
        work.NewRun(projectRunOptions(), tree.path(QStringLiteral("out")), nullptr);
    first->Start();
    first->Pause();
    first->Wait();
    std::unique_ptr<TdvRun> second =
        work.NewRun(projectRunOptions(), tree.path(QStringLiteral("out")), nullptr);
    second->Start();
    second->Wait();
    EXPECT_TRUE(work.Exhausted());
    EXPECT_EQ(record.done, 6);
    EXPECT_EQ(record.takenBy.size(), 6u);
    EXPECT_EQ(second->Tallies().Converted, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("out/%1.pdf").arg(i)))) << i;
}

TEST_F(EngineTest, ARunPausedAndFreedWhileTheListingGoesOnLosesNoFile)
{
    for (int i = 0; i < 6; ++i)
        tree.write(QStringLiteral("in/%1.pptx").arg(i));
    // The listing is held at its fourth file until the first run has been paused and freed.
    std::atomic<int> seen{0};
    std::atomic<bool> release{false};
    TdvWork work(&record, QString(), false);
    work.List(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), false,
              [&](const QString&) {
                  if (++seen == 4)
                      waitUntil([&] { return release.load(); }, 10000);
                  return true;
              });
    // Paused while its workers wait for the held listing, the run ends at once with nothing more in hand,
    // and is freed as the window frees a paused run once its workers have ended.
    std::unique_ptr<TdvRun> first =
        work.NewRun(projectRunOptions(), tree.path(QStringLiteral("out")), nullptr);
    first->Start();
    ASSERT_TRUE(waitUntil([&] { return seen == 4 && record.DoneNow() == 3; }, 10000));
    first->Pause();
    first->Wait();
    EXPECT_FALSE(release.load());
    EXPECT_EQ(record.done, 3);
    first.reset();
    release = true;
    ASSERT_TRUE(waitUntil([&] { return work.Listed(); }, 10000));
    EXPECT_EQ(work.Count(), 6);
    std::unique_ptr<TdvRun> second =
        work.NewRun(projectRunOptions(), tree.path(QStringLiteral("out")), nullptr);
    second->Start();
    second->Wait();
    EXPECT_EQ(record.done, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("out/%1.pdf").arg(i)))) << i;
}

TEST_F(EngineTest, WorkerCountIsBoundedBelowAndAbove)
{
    TdvBatch batch;
    for (const char* value : {"0", "abc", "-4"}) {
        gProject->SetOption(QStringLiteral("ThreadsCount"), QString::fromUtf8(value));
        TdvRun run(projectRunOptions(), &batch, tree.path(), &record);
        EXPECT_EQ(run.Workers(), 1) << value;
    }
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("10000"));
    TdvRun run(projectRunOptions(), &batch, tree.path(), &record);
    EXPECT_EQ(run.Workers(), maxThreadsCount());
    EXPECT_EQ(run.Requested(), 10000);
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
        return store.OpenKey(QString::fromUtf8(key), false) ? store.ReadString(QString::fromUtf8(name))
                                                            : QStringLiteral("<no key>");
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
    followProject(convertor);
    // The office's own PDF printer by default; any other printer only where the machine has it.
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Vellum PDF"));
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("Missing Printer"));
    followProject(convertor);
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Missing Printer")); // no list: nothing against it
    put(TdvRegistry::CurrentUser, devices, "Adobe PDF", "winspool,Ne01:");
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Vellum PDF"));
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("adobe pdf")); // without letter case
    followProject(convertor);
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("adobe pdf"));
    put(TdvRegistry::CurrentUser, devices, "FreePDF XP", "");
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("FreePDF XP"));
    followProject(convertor);
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Vellum PDF")); // listed empty: not installed
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("Vellum PDF"));
    followProject(convertor);
    EXPECT_EQ(convertor.PdfPrinterName(), QStringLiteral("Vellum PDF"));
}

// The office's own printer takes its output path from a job file of its office, which the route rewrites
// whole for every job, whatever PDFWriter says.
class JobFileConvertor : public TdvConvertor
{
public:
    QString Job;
    QString PdfPrinterJobFile() override { return Job; }
};

TEST_F(PrinterStoreTest, TheOfficesPrinterGetsEveryTargetInItsJobFile)
{
    JobFileConvertor convertor;
    followProject(convertor);
    convertor.Job = tree.mkdir(QStringLiteral("office")) + QStringLiteral("print-job");
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("FreePDF XP"));
    followProject(convertor);
    for (const QByteArray target :
         {"/work/item-22.pdf", "/work/a b/\xc3\xa9t\xc3\xa9.pdf", "/w/\xe9t\xe9.pdf"}) {
        convertor.SetPdfPrinterTarget(decodeFileName(target)); // a Latin-1 name keeps its bytes
        EXPECT_EQ(readAll(convertor.Job), target);             // the path alone, no line end
    }
    EXPECT_EQ(QDir(tree.path(QStringLiteral("office"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("print-job")});
}

TEST_F(PrinterStoreTest, TargetWrites)
{
    OfficePathConvertor convertor;
    followProject(convertor);
    // No PDFWriter key: only the two Distiller values, in a key created for them.
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/a.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"), QStringLiteral("<no key>"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, distiller, "/usr/lib/office/soffice"),
              QStringLiteral("/out/a.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, distiller, "C:\\Windows\\splwow64.exe"),
              QStringLiteral("/out/a.pdf"));

    // An existing PDFWriter key is overwritten at once without MultiInstance.
    put(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName", "/earlier.pdf");
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/b.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "pdffilename"), QStringLiteral("/out/b.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "bExecViewer"), QStringLiteral("0"));

    // FreePDF XP writes only its own value, and only when its key exists.
    gProject->SetOption(QStringLiteral("PDFWriter"), QStringLiteral("FreePDF XP"));
    followProject(convertor);
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "PDFFilename"),
              QStringLiteral("<no key>"));
    put(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "Other", "1");
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::LocalMachine, "Software\\shbox\\FreePdfXp", "PDFFilename"),
              QStringLiteral("/out/c.pdf"));
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"), QStringLiteral("/out/b.pdf"));
}

TEST_F(PrinterStoreTest, MultiInstanceWaitIsBoundedByTheItemTimeout)
{
    TdvConvertor convertor;
    followProject(convertor);
    put(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName", "/never/cleared.pdf");
    gProject->SetOptionLines({QStringLiteral("MultiInstance=True"), QStringLiteral("Timeout=1")});
    followProject(convertor);
    QElapsedTimer timer;
    timer.start();
    convertor.SetPdfPrinterTarget(QStringLiteral("/out/d.pdf"));
    EXPECT_GE(timer.elapsed(), 900); // it did wait for the other job...
    EXPECT_EQ(get(TdvRegistry::CurrentUser, pdfWriter, "PDFFileName"),
              QStringLiteral("/out/d.pdf")); // ...then went on
}

TEST(PrintedFile, CupsPdfWritesWhereItsConfigurationSays)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "/home/ann/PDF"}, // its own default
        {"#Out /nowhere\nOut ${HOME}/Documents/PDF files  \n", "/home/ann/Documents/PDF files"},
        {"Out /first\n  Out\t/var/spool/cups-pdf/${USER}\n",
         "/var/spool/cups-pdf/ann"}, // the last one counts
    };
    for (const auto& [configuration, folder] : cases)
        EXPECT_EQ(TdvPrintedFile::CupsPdfFolder(QString::fromUtf8(configuration), QStringLiteral("/home/ann"),
                                                QStringLiteral("ann")),
                  QString::fromUtf8(folder));
}

// A queue of cups-pdf writes into its own folder under the deck's name: the job's file is told apart from
// what was there before and from other programs' files, and is taken out of the queue's folder.
TEST(PrintedFile, AQueuesFileIsTheNewOneNamedAfterTheDeck)
{
    TempTree tree;
    const QString folder = tree.mkdir(QStringLiteral("PDF")).chopped(1);
    const QString out = tree.path(QStringLiteral("item-3.pdf"));
    const QString conf = tree.write(QStringLiteral("cups-pdf.conf"), "Out " + QFile::encodeName(folder));
    qputenv("VELLUM_CUPS_PDF_CONF", QFile::encodeName(conf));
    // An earlier print of the same deck, and another file, both a day old.
    for (const char* name : {"Q3_review.pdf", "letter.pdf"}) {
        QFile file(tree.write(QStringLiteral("PDF/") + QLatin1String(name), "old"));
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
    }
    TdvPrintedFile printed(QStringLiteral("PDF"), out, QStringLiteral("/in/Q3 review.pptx"));
    printed.Begin();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(printed.Poll());
    EXPECT_EQ(printed.Failure(4),
              QStringLiteral("The printer PDF did not write a file within 4 s into %1, where "
                             "a cups-pdf queue writes")
                  .arg(folder));
    // Two new files, neither named after the deck: neither is taken.
    tree.write(QStringLiteral("PDF/a.pdf"), "%PDF-1.4 a");
    tree.write(QStringLiteral("PDF/scan.pdf"), "%PDF-1.4 another program's");
    EXPECT_FALSE(printed.Poll());
    EXPECT_EQ(printed.Failure(4), QStringLiteral("The printer PDF did not write a file within 4 s: %1 holds "
                                                 "several new PDF files, none named after the deck")
                                      .arg(folder));
    // The deck's own: taken once whole, the others left where they are.
    tree.write(QStringLiteral("PDF/Q3_review.pdf"), "%PDF-1.4 the deck");
    bool done = false;
    EXPECT_TRUE(waitUntil([&] { return done = done || printed.Poll(); }, 5000));
    qunsetenv("VELLUM_CUPS_PDF_CONF");
    EXPECT_EQ(readAll(out), QByteArray("%PDF-1.4 the deck"));
    EXPECT_EQ(
        QDir(folder).entryList(QDir::Files),
        (QStringList{QStringLiteral("a.pdf"), QStringLiteral("letter.pdf"), QStringLiteral("scan.pdf")}));
}

} // namespace
