#include "shell/dvMain.h"

#include "discovery/dvFileUtils.h"
#include "engine/dvBatch.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"

#include <QEventLoop>

#include <cstdio>

TdvMain* gMain = nullptr;

QString stateWord(int state)
{
    switch (state) {
    case isDone:
        return QStringLiteral("Success");
    case isFailed:
        return QStringLiteral("Failure");
    default:
        return QStringLiteral("Running");
    }
}

TdvMain::TdvMain() = default;

TdvMain::~TdvMain()
{
    // Workers end before the batch they draw from.
    CurrentRun.reset();
    Batch.reset();
}

void TdvMain::Run()
{
    const int interval = gProject->Daemon();
    if (interval <= 0) {
        RunOnce();
        return;
    }
    // A watched folder: each repeat converts what arrived or changed. The signal handlers end the program
    // (and its offices) with 128 + the signal, between runs as during one.
    QEventLoop idle;
    TdvRepeat repeat([&idle] { idle.quit(); });
    RunOnce(&repeat);
    if (ShowProgress) {
        const QString line =
            QStringLiteral("Watching %1 for new and changed presentations (every %2 ms at the "
                           "latest; SIGTERM or Ctrl+C ends)\n")
                .arg(Batch->FSourceFolder)
                .arg(interval);
        fputs(line.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
    for (;;) {
        repeat.Arm(interval);
        idle.exec();
        RunOnce(&repeat);
    }
}

bool TdvMain::RunOnce(TdvRepeat* repeat)
{
    // A repeat that finds nothing new says nothing and keeps the last log.
    const bool quietIfEmpty = repeat && Batch;
    Log.clear();
    FDone = 0;
    CurrentRun.reset();
    Batch = std::make_unique<TdvBatch>();
    if (repeat)
        Batch->ListFilter = [repeat](const QString& path) { return repeat->Take(path); };
    const QString target = gProject->Target();
    Batch->StartSearch(gProject->Source(), target, gProject->Subdir());

    CurrentRun = std::make_unique<TdvRun>(Batch.get(), target, &TdvMain::LogItem, this);
    if (!CurrentRun->Servers().isEmpty())
        fprintf(stderr, "OfficeServers: %d %s, one for each office named; ThreadsCount is not used\n",
                CurrentRun->Workers(), CurrentRun->Workers() == 1 ? "worker" : "workers");
    else if (CurrentRun->Workers() < CurrentRun->Requested())
        fprintf(stderr, "ThreadsCount %d is more than this machine can use; running %d workers\n",
                CurrentRun->Requested(), CurrentRun->Workers());
    if (!CurrentRun->Warning().isEmpty() && !quietIfEmpty)
        fprintf(stderr, "%s\n", CurrentRun->Warning().toLocal8Bit().constData());
    CurrentRun->Start();

    // Every worker ends once the listing is complete and no item is left.
    CurrentRun->Wait();
    Batch->Terminate();
    Batch->WaitFor();
    if (repeat)
        repeat->RunEnded(Batch.get());
    const bool listed = Batch->ItemCount() > 0;
    if (quietIfEmpty && !listed)
        return false;
    if (gInfo)
        gInfo->IncCounter(QStringLiteral("C"), 0, 1);
    Finish();
    return listed;
}

void TdvMain::LogItem(void* context, TdvBatch* batch, TdvNode* item)
{
    auto* self = static_cast<TdvMain*>(context);
    const QString word = stateWord(item->State);
    std::lock_guard lock(self->FLogLock);
    self->Log.append(QStringLiteral("%1 => %2 => %3").arg(word, item->Source, item->Result));
    ++self->FDone;
    if (self->ShowProgress) {
        QString result = item->Result;
        if (item->Skipped)
            result = QStringLiteral("(skipped, %1)")
                         .arg(item->Note.isEmpty() ? QStringLiteral("target exists") : item->Note);
        else if (!item->Note.isEmpty())
            result += QStringLiteral(" (%1)").arg(item->Note);
        // While the listing goes on the count so far is no total: "[7/8]" would say the run is nearly done.
        const QString count = batch->IsListed()
                                  ? QStringLiteral("%1/%2").arg(self->FDone).arg(batch->ItemCount())
                                  : QString::number(self->FDone);
        const QString line = QStringLiteral("[%1] %2 %3 => %4\n").arg(count, word, item->Source, result);
        fputs(line.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
}

void TdvMain::Finish()
{
    if (gInfo)
        gInfo->RunEnded(*CurrentRun);
    if (ShowProgress) {
        const QString summary = CurrentRun->Tallies().Summary() + QLatin1Char('\n');
        fputs(summary.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
    const QString logFile = gProject->LogFile();
    if (!logFile.isEmpty())
        writeTextLines(logFile, Log);
}
