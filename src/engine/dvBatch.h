#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class TdvBatch;

// One work item.
struct TdvNode
{
    int State = 0; // 0 listed or running, 1 converted or skipped, 2 failed
    int Index = 0;
    QString Source;
    QString Result;
};

using TdvItemProc = void (*)(void* context, TdvBatch* batch, TdvNode* item);

// The work items of one run, the thread that lists them, the tallies and the engine-wide lock.
class TdvBatch
{
public:
    TdvBatch();
    ~TdvBatch();
    TdvBatch(const TdvBatch&) = delete;
    TdvBatch& operator=(const TdvBatch&) = delete;

    void StartSearch(const QString& source, const QString& target, bool subdirs);
    void AddFile(const QString& path);
    void AddSingleSource(const QString& path);
    bool Matches(const QString& path) const;
    TdvNode* NextItem();
    int ItemCount() const;
    bool IsExhausted() const { return FExhausted; }
    bool IsListed() const { return FListed; }
    QList<TdvNode*>& LockItems();
    void UnlockItems();
    void AddFailure(const QString& text);
    void AddSuccess();
    static QString NormalizePath(const QString& text);
    void Terminate();
    bool Terminated() const { return FTerminated; }
    void WaitFor(); // waits for the search thread to end
    void Clear();

    // Tallies and texts, read by the owner after a run (or under the lock).
    int Successes() const;
    int Failures() const;
    QStringList FailureTexts() const;

    TdvItemProc OnListed = nullptr;
    void* OnListedContext = nullptr;

    QString FSourceFolder;
    QString FTargetFolder;
    QString FMask;
    QString FRegExt;
    bool FSubdirs = false;
    bool FSkipHidden = false;

    std::recursive_mutex& Lock() { return FLock; }

private:
    void Execute();
    void setListed();

    int FNextIndex = 0;
    std::atomic<bool> FExhausted{false};
    int FFailures = 0;
    std::atomic<bool> FListed{false};
    int FSuccesses = 0;
    QList<TdvNode*> FItems;
    QStringList FFailureTexts;

    std::atomic<bool> FTerminated{false};
    std::thread FThread;
    mutable std::recursive_mutex FLock;
    std::condition_variable_any FItemAdded;
};

// Holds the batch's lock for a scope.
class TdvBatchLock
{
public:
    explicit TdvBatchLock(TdvBatch* batch) : FBatch(batch) { FBatch->LockItems(); }
    ~TdvBatchLock() { FBatch->UnlockItems(); }
    TdvBatchLock(const TdvBatchLock&) = delete;
    TdvBatchLock& operator=(const TdvBatchLock&) = delete;

private:
    TdvBatch* FBatch;
};
