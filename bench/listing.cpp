// Listing speed: a batch search against find(1) over the same large tree.
//   bench_listing [folder]   (default: a new temporary folder, removed afterwards)
#include "base/dvFileUtils.h"
#include "discovery/dvMatch.h"
#include "engine/dvBatch.h"
#include "project/dvProject.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

static void makeTree(const QString& root)
{
    // 1,000 folders of 100 files: a tenth are presentations, some hidden, some office lock files.
    for (int d = 0; d < 1000; ++d) {
        const QString folder = root + QStringLiteral("/g%1/d%2/").arg(d / 50).arg(d);
        QDir().mkpath(folder);
        for (int f = 0; f < 100; ++f) {
            QString name;
            if (f % 10 == 0)
                name = QStringLiteral("deck%1.pptx").arg(f);
            else if (f == 11)
                name = QStringLiteral(".hidden%1.ppt").arg(f);
            else if (f == 21)
                name = QStringLiteral("~$lock%1.pptx").arg(f);
            else
                name = QStringLiteral("file%1.txt").arg(f);
            QFile file(folder + name);
            file.open(QIODevice::WriteOnly);
        }
    }
}

int main(int argc, char** argv)
{
    QTemporaryDir temp;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    if (argc <= 1) {
        QElapsedTimer make;
        make.start();
        makeTree(root);
        printf("tree: 100000 files in 1000 folders made in %.2f s\n", make.elapsed() / 1000.0);
    }

    TdvProject project;
    gProject = &project;
    SkipLockFiles = true;
    project.SetOptionLines({QStringLiteral("Subdir=True")});

    double findBest = 1e9, batchBest = 1e9;
    int findCount = 0, batchCount = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        QProcess find;
        find.start(QStringLiteral("find"), {root, QStringLiteral("-name"), QStringLiteral("*.ppt*")});
        find.waitForFinished(-1);
        findBest = std::min(findBest, timer.nsecsElapsed() / 1e6);
        findCount = find.readAllStandardOutput().count('\n');

        QTemporaryDir out;
        timer.restart();
        TdvBatch batch;
        batch.StartSearch(root + QStringLiteral("/*.ppt?"), out.path(), true);
        while (!batch.IsListed())
            QThread::usleep(200);
        batchBest = std::min(batchBest, timer.nsecsElapsed() / 1e6);
        batchCount = batch.ItemCount();
    }
    printf("find -name '*.ppt*': %8.1f ms, %d paths\n", findBest, findCount);
    printf("batch search:        %8.1f ms, %d items (hidden included, lock files skipped)\n", batchBest,
           batchCount);
    printf("ratio batch/find:    %8.2f (best of 3 runs each)\n", batchBest / findBest);
    gProject = nullptr;
    return 0;
}
