#include "shell/dvMain.h"

#include "base/dvFileUtils.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "engine/dvRunLog.h"
#include "engine/dvWork.h"
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

TdvMain::TdvMain(const TdvProject& project, TdvInfo* info) : FProject(project), FInfo(info) {}

TdvMain::~TdvMain()
{
    // The workers draw from the work's batch until they end.
    CurrentRun.reset();
    Work.reset();
}

void TdvMain::Run()
{
    FLogFailed = false;
    // Values the run cannot take are said once, before any work; the run goes on with the defaults.
    for (const QString& problem : FProject.OptionProblems())
        fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
    const int interval = FProject.Daemon();
    if (interval <= 0) {
        RunOnce();
        FRunLog.Close();
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
                .arg(Work->SourceFolder())
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
    // A repeat that finds nothing new says nothing (and so adds nothing to the log).
    const bool quietIfEmpty = repeat && Work;
    Log.clear();
    FDone = 0;
    CurrentRun.reset();
    Work.reset();
    // The run follows the options as they are now; a project changed meanwhile applies to the next run.
    const TdvRunOptions options = FProject.RunOptions();
    TdvItemObserver* const observer = this;
    Work = std::make_unique<TdvWork>(observer, options.RegExt, options.SkipHidden);
    std::function<bool(const QString&)> filter;
    if (repeat)
        filter = [repeat](const QString& path) { return repeat->Take(path); };
    const QString target = FProject.Target();
    Work->List(FProject.Source(), target, FProject.Subdir(), std::move(filter));
    // The log is opened before any item runs: one that cannot be written stops the run before any work. It
    // stays open, so that a watched folder's repeats add their lines to it.
    const QString logFile = FProject.LogFile();
    if (!logFile.isEmpty() && !FRunLog.IsOpen())
        FRunLog.Open(logFile, &Work->Batch(), options.TargetExt);

    CurrentRun = Work->NewRun(options, target, FInfo);
    TdvRun& run = *CurrentRun;
    if (!run.Servers().isEmpty())
        fprintf(stderr, "OfficeServers: %d %s, one for each office named; ThreadsCount is not used\n",
                run.Workers(), run.Workers() == 1 ? "worker" : "workers");
    else if (run.Workers() < run.Requested())
        fprintf(stderr, "ThreadsCount %d is more than this machine can use; running %d workers\n",
                run.Requested(), run.Workers());
    if (!run.Warning().isEmpty() && !quietIfEmpty)
        fprintf(stderr, "%s\n", run.Warning().toLocal8Bit().constData());
    run.Start();

    // Every worker ends once the listing is complete and no item is left.
    run.Wait();
    Work->EndListing();
    if (repeat)
        repeat->RunEnded(&Work->Batch());
    const bool listed = Work->Count() > 0;
    if (quietIfEmpty && !listed)
        return false;
    if (FInfo)
        FInfo->IncCounter(QStringLiteral("C"), 0, 1);
    Finish();
    return listed;
}

void TdvMain::ItemDone(const TdvItemEvent& item)
{
    const QString word = stateWord(item.State);
    // What the run adds to a result (stand-in fonts, a source it kept) stands beside it, as in the window; a
    // skipped item's note says why it was skipped.
    const QString note =
        item.Note.isEmpty() || item.Skipped ? QString() : QStringLiteral(" (%1)").arg(item.Note);
    // One item is one line, whatever its name holds.
    const QString source = escapeControls(item.Source);
    const QString line =
        QStringLiteral("%1 => %2 => %3").arg(word, source, escapeControls(item.Result + note));
    std::lock_guard lock(FLogLock);
    Log.append(line);
    // In the file before it is told, so that a run killed at any moment has logged what it reported.
    if (FRunLog.IsOpen()) {
        QString error;
        if (!FRunLog.Append(line, &error)) {
            FLogFailed = true;
            if (!error.isEmpty())
                fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        }
    }
    ++FDone;
    if (ShowProgress) {
        QString result = item.Result + note;
        if (item.Skipped)
            result = QStringLiteral("(skipped, %1)")
                         .arg(item.Note.isEmpty() ? QStringLiteral("target exists") : item.Note);
        result = escapeControls(result);
        // While the listing goes on the count so far is no total: "[7/8]" would say the run is nearly done.
        const QString count =
            item.ListingEnded ? QStringLiteral("%1/%2").arg(FDone).arg(item.Listed) : QString::number(FDone);
        const QString shown = QStringLiteral("[%1] %2 %3 => %4\n").arg(count, word, source, result);
        fputs(shown.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
}

void TdvMain::Finish()
{
    const TdvRun& run = *CurrentRun;
    if (FInfo)
        FInfo->RunEnded(run);
    if (ShowProgress) {
        const QString summary = run.Tallies().Summary() + QLatin1Char('\n');
        fputs(summary.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
}
