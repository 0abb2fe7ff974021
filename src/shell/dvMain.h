#pragma once

#include "engine/dvRunLog.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

class TdvBatch;
class TdvRepeat;
class TdvRun;
struct TdvNode;

// The console runner: runs the project without any window, once, or with Daemon over and over until a
// signal ends the program.
class TdvMain
{
public:
    TdvMain();
    ~TdvMain();

    void Run();
    // One run; a repeat takes only the decks `repeat` lets through. Answers whether the run listed anything.
    bool RunOnce(TdvRepeat* repeat = nullptr);
    static void LogItem(void* context, TdvBatch* batch, TdvNode* item);
    void Finish();

    std::unique_ptr<TdvBatch> Batch;
    std::unique_ptr<TdvRun> CurrentRun;
    QStringList Log;
    // Progress lines go to standard output unless a caller turns them off.
    bool ShowProgress = true;
    // A line of the run log could not be written (the run went on; it ends with a failure code).
    bool LogFailed() const { return FLogFailed; }

private:
    std::mutex FLogLock;
    int FDone = 0;
    TdvRunLog FRunLog;
    std::atomic<bool> FLogFailed{false};
};

// The state word of an item's state.
QString stateWord(int state);

extern TdvMain* gMain;
