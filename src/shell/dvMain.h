#pragma once

#include <QStringList>
#include <memory>
#include <mutex>

class TdvBatch;
class TdvRun;
struct TdvNode;

// The console runner: runs the project once without any window.
class TdvMain
{
public:
    TdvMain();
    ~TdvMain();

    void Run();
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
