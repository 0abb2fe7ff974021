// The engine's own cost at scale, with a converter that asks no office:
//   1. 40,000 items that fail, each with a text of its own (as read-only target PDFs give): the program's
//      CPU seconds for the whole run, which must stay flat per failure;
//   2. the memory kept per listed item: after listing, and once every item is converted, less the bytes of
//      its path.
//   bench_bookkeeping [failures] [items]
#include "base/dvFileUtils.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "engine/dvRun.h"
#include "project/dvProject.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>

namespace {

// Fails every deck with a text that names its target, or converts it without writing anything.
bool gFail = true;

class BenchConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        const QString target = BuildTargetPath(batch, item);
        if (target.isEmpty())
            return;
        if (gFail) {
            item->Result = QStringLiteral("%1 cannot be replaced: Permission denied").arg(target);
            item->State = isFailed;
            batch->AddFailure(item->Result);
            return;
        }
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<BenchConvertor> benchClass;

double cpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 heapBytes()
{
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

QString deckPath(const QString& root, int i)
{
    return root + QStringLiteral("/in/group%1/deck-%2.pptx")
                      .arg(i / 100, 4, 10, QLatin1Char('0'))
                      .arg(i, 6, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int failures = argc > 1 ? atoi(argv[1]) : 40000;
    const int items = argc > 2 ? atoi(argv[2]) : 200000;
    QTemporaryDir work;
    // The run's record goes to a data folder of the bench's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.path() + QStringLiteral("/data")));
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    gProject = new TdvProject();
    gProject->TargetExt = QStringLiteral(".pdf");
    gProject->ShortName = QStringLiteral("vellum");
    gProject->ConvertorClass = &benchClass;
    gProject->SetOptionLines({QStringLiteral("ThreadsCount=2")});
    const QString root = work.path();

    {
        gFail = true;
        TdvBatch batch;
        batch.FSourceFolder = root + QStringLiteral("/in/");
        TdvRun run(gProject->RunOptions(), &batch, root + QStringLiteral("/out"), nullptr);
        const double start = cpuSeconds();
        run.Start();
        for (int i = 0; i < failures; ++i)
            batch.AddFile(deckPath(root, i));
        batch.AddSingleSource(deckPath(root, failures));
        run.Wait();
        const double spent = cpuSeconds() - start;
        printf("%d failures with distinct texts: %.2f CPU-s of the program (%.1f us each), %lld distinct "
               "texts\n",
               run.Tallies().Failed, spent, spent * 1e6 / (failures + 1),
               qlonglong(batch.FailureTexts().size()));
    }

    {
        gFail = false;
        TdvBatch batch;
        batch.FSourceFolder = root + QStringLiteral("/in/");
        // The paths first, as the walk makes them; the items then share their text.
        const qint64 empty = heapBytes();
        QList<QString> paths;
        paths.reserve(items + 1);
        for (int i = 0; i <= items; ++i) {
            const QString path = deckPath(root, i);
            paths.append(QString(path.constData(), path.size())); // no spare capacity, as the walk's
        }
        const qint64 before = heapBytes();
        const double n = items + 1;
        const double pathBytes = double(before - empty) / n - sizeof(QString);
        for (int i = 0; i < items; ++i)
            batch.AddFile(paths[i]);
        batch.AddSingleSource(paths[items]);
        paths.clear();
        const qint64 listed = heapBytes();
        {
            TdvRun run(gProject->RunOptions(), &batch, root + QStringLiteral("/out"), nullptr);
            run.Start();
            run.Wait();
        }
        const qint64 converted = heapBytes();
        printf("%d items, paths of %.0f heap bytes each: listed %.0f bytes per item beyond its path, "
               "converted %.0f "
               "beyond its path (the target's path of about the same size included)\n",
               items + 1, pathBytes, double(listed - before) / n + double(before - empty) / n - pathBytes,
               double(converted - before) / n + double(before - empty) / n - pathBytes);
    }
    delete gProject;
    return 0;
}
