#pragma once

#include <QStringList>
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

private:
    std::mutex FLogLock;
    int FDone = 0;
};

// The state word of an item's state.
QString stateWord(int state);

extern TdvMain* gMain;
