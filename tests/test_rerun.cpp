// Runs again over folders converted before: the up-to-date rule, the record behind it, and the repeats of a
// watched folder.
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "engine/dvRecord.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "project/dvProject.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

// What the converter was asked to convert, by file name.
std::mutex gCallsLock;
std::multiset<QString> gCalls;

// Writes a small PDF that holds its deck's bytes; a deck whose name holds "bad" fails as a deck the office
// refused. Notes change what a PDF holds, as they do in the product.
class FakeConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        const QString target = BuildTargetPath(batch, item);
        if (target.isEmpty())
            return;
        {
            std::lock_guard lock(gCallsLock);
            gCalls.insert(extractFileName(item->Source));
        }
        if (item->Source.contains(QLatin1String("bad"))) {
            item->Result = QStringLiteral("The presentation could not be opened: %1").arg(item->Source);
            item->State = isFailed;
            item->DeckFault = true;
            batch->AddFailure(item->Result);
            return;
        }
        const QString written = WorkFile(QStringLiteral("%1.pdf").arg(item->Index));
        QFile out(written);
        out.open(QIODevice::WriteOnly);
        out.write("%PDF-1.4 " + readAll(item->Source));
        out.close();
        QString failure;
        if (!CommitTarget(item, written, failure)) {
            item->Result = failure;
            item->State = isFailed;
            batch->AddFailure(failure);
            return;
        }
        AfterConvert(batch, item, target);
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
    QString OutputSettings() const override
    {
        return gProject->Notes() ? QStringLiteral("notes") : QString();
    }
};
const TdvConvertorClassOf<FakeConvertor> fakeClass;

// What became of one deck in a run.
struct Outcome
{
    bool called = false;
    TdvItemState state = isRunning;
    bool skipped = false;
    QString note;
    QString result;
};

void setTime(const QString& path, qint64 secs)
{
    const struct timespec times[2] = {{secs, 0}, {secs, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, encodeFileName(path).constData(), times, 0), 0);
}

class RerunTest : public ::testing::Test
{
protected:
    TestSingletons singletons{&fakeClass};
    TempTree tree;
    QString in(const QString& name) const { return tree.path(QStringLiteral("in/") + name); }
    QString out(const QString& name) const { return tree.path(QStringLiteral("out/") + name); }

    // One run over in/ into out/ with `threads` workers; the outcome of each deck by file name.
    std::map<QString, Outcome> run(int threads = 1, TdvRepeat* repeat = nullptr)
    {
        {
            std::lock_guard lock(gCallsLock);
            gCalls.clear();
        }
        gProject->SetOption(QStringLiteral("ThreadsCount"), QString::number(threads));
        TdvBatch batch;
        if (repeat)
            batch.ListFilter = [repeat](const QString& path) { return repeat->Take(path); };
        batch.StartSearch(in(QStringLiteral("*.ppt?")), tree.path(QStringLiteral("out")), true);
        {
            TdvRun run(projectRunOptions(), &batch, tree.path(QStringLiteral("out")), nullptr);
            run.Start();
            run.Wait();
        }
        batch.WaitFor();
        if (repeat)
            repeat->RunEnded(&batch);
        std::map<QString, Outcome> outcomes;
        std::lock_guard lock(gCallsLock);
        for (const TdvNode* item : batch.LockItems()) {
            Outcome& o = outcomes[item->Source.mid(in(QString()).size())];
            o.called = gCalls.count(extractFileName(item->Source)) > 0;
            o.state = item->State;
            o.skipped = item->Skipped;
            o.note = item->Note;
            o.result = item->Result;
        }
        batch.UnlockItems();
        return outcomes;
    }
};

TEST_F(RerunTest, UpdateConvertsOnlyNewAndChangedDecksAndNeverTrustsAForeignPdf)
{
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("Update"));
    const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
    for (const char* name : {"same.pptx", "changed.pptx", "edited.pptx", "foreign.pptx", "bad.pptx",
                             "badfixed.pptx", "sub/deep.ppt"}) {
        tree.write(QStringLiteral("in/") + QLatin1String(name), QByteArray("deck ") + name);
        setTime(in(QLatin1String(name)), hourAgo);
    }
    // A PDF that another program put there, newer than its deck: never taken for up to date.
    tree.write(QStringLiteral("out/foreign.pdf"), "someone else's");

    auto first = run();
    ASSERT_EQ(first.size(), 7u);
    for (const auto& [name, o] : first) {
        EXPECT_TRUE(o.called) << name.toStdString();
        EXPECT_EQ(o.state, name.contains(QLatin1String("bad")) ? isFailed : isDone) << name.toStdString();
    }
    EXPECT_TRUE(readAll(out(QStringLiteral("foreign.pdf"))).startsWith("%PDF"));

    // Between the runs: a deck saved again, a new one, one PDF edited by another program, one failed deck
    // mended.
    tree.write(QStringLiteral("in/changed.pptx"), "deck changed.pptx, second version");
    tree.write(QStringLiteral("in/new.pptx"), "deck new.pptx");
    tree.write(QStringLiteral("out/edited.pdf"), "%PDF edited by hand");
    tree.write(QStringLiteral("in/badfixed.pptx"), "deck badfixed.pptx, saved again");

    struct Expect
    {
        const char* name;
        bool called;
        TdvItemState state;
        const char* note;
    } second[] = {
        {"same.pptx", false, isDone, "up to date"},
        {"sub/deep.ppt", false, isDone, "up to date"},
        {"foreign.pptx", false, isDone, "up to date"}, // ours since the first run
        {"changed.pptx", true, isDone, ""},
        {"new.pptx", true, isDone, ""},
        {"edited.pptx", true, isDone, ""},
        {"bad.pptx", false, isFailed,
         "failed before and unchanged since; not tried again (RetryFailed=True "
         "tries it)"},
        {"badfixed.pptx", true, isFailed, ""},
    };
    auto again = run(2);
    ASSERT_EQ(again.size(), std::size(second));
    for (const Expect& e : second) {
        const Outcome& o = again[QLatin1String(e.name)];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(o.called, e.called);
        EXPECT_EQ(o.state, e.state);
        EXPECT_EQ(o.note, QLatin1String(e.note));
        EXPECT_EQ(o.skipped, !e.called && e.state == isDone);
    }
    // A deck left out says why it failed the first time.
    EXPECT_EQ(again[QStringLiteral("bad.pptx")].result,
              QStringLiteral("The presentation could not be opened: %1").arg(in(QStringLiteral("bad.pptx"))));
    EXPECT_TRUE(readAll(out(QStringLiteral("edited.pdf"))).startsWith("%PDF-1.4 "));
    EXPECT_TRUE(readAll(out(QStringLiteral("changed.pdf"))).startsWith("%PDF-1.4 "));

    // Asked to, the failed decks are tried again; the rest stays as it is.
    gProject->SetOption(QStringLiteral("RetryFailed"), QStringLiteral("True"));
    auto retried = run();
    for (const auto& [name, o] : retried)
        EXPECT_EQ(o.called, name.contains(QLatin1String("bad"))) << name.toStdString();
    gProject->SetOption(QStringLiteral("RetryFailed"), QString());

    // Other settings make other PDFs: none of the old ones is up to date.
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("True"));
    auto notes = run();
    for (const auto& [name, o] : notes)
        EXPECT_TRUE(o.called) << name.toStdString();

    // A deck put back as an older copy (an earlier time, the same size) is a change too.
    gProject->SetOption(QStringLiteral("Notes"), QString());
    run();
    setTime(in(QStringLiteral("same.pptx")), hourAgo - 86400);
    auto older = run();
    EXPECT_TRUE(older[QStringLiteral("same.pptx")].called);
    EXPECT_FALSE(older[QStringLiteral("new.pptx")].called);
}

TEST_F(RerunTest, DecksOfOneNameKeepTheirOwnPdfsAcrossUpdateRuns)
{
    // a.ppt and a.pptx share a name: the second gets the renamed form, in every run, and neither deck's
    // PDF is taken for the other's.
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("Update"));
    tree.write(QStringLiteral("in/a.ppt"), "old format");
    tree.write(QStringLiteral("in/a.pptx"), "new format");
    auto first = run();
    const QString pdf = out(QStringLiteral("a.pdf"));
    const QString renamed = out(QStringLiteral("-vellum-a.pdf"));
    ASSERT_EQ(first[QStringLiteral("a.ppt")].result, pdf);
    ASSERT_EQ(first[QStringLiteral("a.pptx")].result, renamed);
    const QByteArray pdfBytes = readAll(pdf), renamedBytes = readAll(renamed);

    auto second = run();
    EXPECT_EQ(second[QStringLiteral("a.ppt")].note, QStringLiteral("up to date"));
    EXPECT_EQ(second[QStringLiteral("a.pptx")].note, QStringLiteral("up to date"));
    tree.write(QStringLiteral("in/a.pptx"), "new format, saved again");
    auto third = run();
    EXPECT_FALSE(third[QStringLiteral("a.ppt")].called);
    EXPECT_EQ(third[QStringLiteral("a.pptx")].result, renamed);
    EXPECT_EQ(readAll(pdf), pdfBytes);
    EXPECT_EQ(readAll(renamed), "%PDF-1.4 new format, saved again");
    EXPECT_NE(renamedBytes, readAll(renamed));
}

TEST_F(RerunTest, TheRecordKeepsWholeLinesFromTwoWritersAndCompactsToTheLastOfEach)
{
    const QString folder = tree.mkdir(QStringLiteral("target")) + QLatin1Char('/');
    const QString deck = tree.write(QStringLiteral("d.pptx"), "deck");
    const TdvFileId deckId = TdvFileId::Of(deck);
    const QString pdf = tree.write(QStringLiteral("target/d.pdf"), "%PDF");
    const TdvFileId pdfId = TdvFileId::Of(pdf);

    // Two copies of the program add lines at once; a name with a tab and a line break stays one field.
    {
        TdvRecord one(folder, false), two(folder, false);
        std::thread a([&] {
            for (int i = 0; i < 300; ++i)
                one.Failed(QStringLiteral("/in/a%1\t\n.pptx").arg(i), deckId, QString(), QStringLiteral("A"));
        });
        std::thread b([&] {
            for (int i = 0; i < 300; ++i)
                two.Failed(QStringLiteral("/in/b%1.pptx").arg(i), deckId, QString(), QStringLiteral("B"));
        });
        a.join();
        b.join();
    }
    // A line cut short by a crash is ignored, and the next line is read whole.
    {
        QFile file(TdvRecord::FileFor(folder));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("F\t/in/torn.pptx\t4\t12");
    }
    {
        TdvRecord record(folder, false);
        record.Written(pdf, pdfId, deck, deckId, QString());
        record.Failed(QStringLiteral("/in/b0.pptx"), deckId, QString(), QStringLiteral("B again"));
        record.Written(pdf, pdfId, QStringLiteral("/in/b1.pptx"), deckId, QString()); // b1 converted since
    }
    TdvRecord loaded(folder, true);
    EXPECT_EQ(loaded.Entries(), 1 + 600 - 1);
    EXPECT_EQ(loaded.FailedBefore(QStringLiteral("/in/a7\t\n.pptx"), deckId, QString()), QStringLiteral("A"));
    EXPECT_EQ(loaded.FailedBefore(QStringLiteral("/in/b0.pptx"), deckId, QString()),
              QStringLiteral("B again"));
    EXPECT_EQ(loaded.FailedBefore(QStringLiteral("/in/b1.pptx"), deckId, QString()), QString());
    EXPECT_EQ(loaded.FailedBefore(QStringLiteral("/in/torn.pptx"), deckId, QString()), QString());
    // The last line for d.pdf names b1, so the PDF is no longer d.pptx's.
    EXPECT_FALSE(loaded.UpToDate(pdf, pdfId, deck, deckId, QString()));
    EXPECT_TRUE(loaded.UpToDate(pdf, pdfId, QStringLiteral("/in/b1.pptx"), deckId, QString()));

    // Compacted, the record holds the same and no more lines than entries, whole.
    const qint64 before = fileSize(loaded.File());
    loaded.Compact();
    EXPECT_LT(fileSize(loaded.File()), before);
    TdvRecord compacted(folder, true);
    EXPECT_EQ(compacted.Lines(), compacted.Entries());
    EXPECT_EQ(compacted.Entries(), loaded.Entries());
    EXPECT_EQ(compacted.FailedBefore(QStringLiteral("/in/b0.pptx"), deckId, QString()),
              QStringLiteral("B again"));
    EXPECT_TRUE(compacted.UpToDate(pdf, pdfId, QStringLiteral("/in/b1.pptx"), deckId, QString()));
}

// The watched folder: a QCoreApplication for the timers and the folder watch.
class RepeatTest : public RerunTest
{
protected:
    int argc = 1;
    char name[12] = "test_rerun";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};

    // Serves events until the repeat is due; false when it is not due within the bound.
    bool waitForDue(bool& due, int ms = 20000)
    {
        return waitUntil(
            [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                return due;
            },
            ms);
    }
};

TEST_F(RepeatTest, ARepeatTakesArrivingDecksAtOnceButNoneStillBeingWritten)
{
    const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
    tree.write(QStringLiteral("in/a.pptx"), "a");
    tree.mkdir(QStringLiteral("in/sub"));
    bool due = false;
    TdvRepeat repeat([&] { due = true; });
    repeat.SetSettleMs(400);

    // The first run takes what has been still for a moment: a.pptx was written just now.
    auto first = run(1, &repeat);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(repeat.Deferred(), 1);
    repeat.Arm(600000);
    ASSERT_TRUE(waitForDue(due));
    due = false;
    first = run(1, &repeat);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[QStringLiteral("a.pptx")].called);
    EXPECT_TRUE(repeat.Watched().contains(tree.path(QStringLiteral("in/sub"))));

    // A deck arriving in a sub-folder starts the next run long before the polling interval; only it is
    // converted.
    repeat.Arm(600000);
    tree.write(QStringLiteral("in/sub/b.pptx"), "b");
    ASSERT_TRUE(waitForDue(due));
    due = false;
    auto second = run(1, &repeat);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[QStringLiteral("sub/b.pptx")].called);

    // A deck still being written is left while it grows, and taken whole once it has been still.
    const QString growing = tree.write(QStringLiteral("in/c.pptx"), "first part");
    EXPECT_TRUE(run(1, &repeat).empty());
    QFile more(growing);
    ASSERT_TRUE(more.open(QIODevice::Append));
    more.write(", second part");
    more.close();
    EXPECT_TRUE(run(1, &repeat).empty());
    EXPECT_EQ(repeat.Deferred(), 2);
    repeat.Arm(600000);
    ASSERT_TRUE(waitForDue(due)); // the deferred deck makes the repeat due after a moment
    due = false;
    auto third = run(1, &repeat);
    ASSERT_EQ(third.size(), 1u);
    EXPECT_TRUE(third[QStringLiteral("c.pptx")].called);
    EXPECT_EQ(TdvFileId::Of(growing).Size, QByteArray("first part, second part").size());

    // A deck dated in the future (a machine whose clock runs ahead) settles by this program's clock; a deck
    // saved again is taken again; the others are left.
    const QString future = tree.write(QStringLiteral("in/future.pptx"), "future");
    setTime(future, QDateTime::currentSecsSinceEpoch() + 86400);
    tree.write(QStringLiteral("in/a.pptx"), "a, saved again");
    setTime(in(QStringLiteral("a.pptx")), hourAgo);
    EXPECT_TRUE(run(1, &repeat).empty());
    repeat.Arm(600000);
    ASSERT_TRUE(waitForDue(due));
    due = false;
    auto fourth = run(1, &repeat);
    EXPECT_EQ(fourth.size(), 2u);
    EXPECT_TRUE(fourth[QStringLiteral("future.pptx")].called);
    EXPECT_TRUE(fourth[QStringLiteral("a.pptx")].called);

    // Nothing new: a repeat lists nothing, and the polling interval alone makes the next one due.
    EXPECT_TRUE(run(1, &repeat).empty());
    repeat.Arm(300);
    ASSERT_TRUE(waitForDue(due));
}

} // namespace
