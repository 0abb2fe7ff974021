#pragma once

#include "engine/dvItemEvents.h"
#include "engine/dvRunLog.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

class TdvProject;
class TdvRepeat;
class TdvRun;
class TdvWork;
class TdvInfo;

// The console runner: runs the project without any window, once, or with Daemon over and over until a
// signal ends the program. Each run follows the project's options as they are when it begins.
class TdvMain : private TdvItemObserver
{
public:
    // `info` (which may be null) counts the runs and reports their failures.
    TdvMain(const TdvProject& project, TdvInfo* info);
    ~TdvMain();
    TdvMain(const TdvMain&) = delete;
    TdvMain& operator=(const TdvMain&) = delete;

    void Run();
    // One run; a repeat takes only the decks `repeat` lets through. Answers whether the run listed anything.
    bool RunOnce(TdvRepeat* repeat = nullptr);
    void Finish();

    // The batch of the last run, and the run, which goes first.
    std::unique_ptr<TdvWork> Work;
    std::unique_ptr<TdvRun> CurrentRun;
    QStringList Log;
    // Progress lines go to standard output unless a caller turns them off.
    bool ShowProgress = true;
    // A line of the run log could not be written (the run went on; it ends with a failure code).
    bool LogFailed() const { return FLogFailed; }

private:
    // A line for each item as it ends, in the log, the run log and on standard output.
    void ItemDone(const TdvItemEvent& item) override;

    const TdvProject& FProject;
    TdvInfo* FInfo;
    std::mutex FLogLock;
    int FDone = 0;
    TdvRunLog FRunLog;
    std::atomic<bool> FLogFailed{false};
};

// The state word of an item's state.
QString stateWord(int state);

extern TdvMain* gMain;
