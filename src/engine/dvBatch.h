#pragma once

#include "base/dvPlaces.h"
#include "engine/dvItemEvents.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TdvBatch;

// One work item. Batches hold hundreds of thousands: fields are laid out without gaps.
struct TdvNode
{
    TdvItemState State = isRunning;
    int Index = 0;
    QString Source;
    QString Result;
    qint64 Size = -1;    // bytes when listed (-1 unknown): with several workers the largest go out first
    bool Handed = false; // given to a worker

    // The claim: what the item decided about its target (empty when it was skipped) as it was handed out.
    bool Claimed = false;
    bool Skipped = false;    // its target existed and the overwrite rule said skip: isDone, no Result
    bool MayReplace = false; // the overwrite rule lets this item replace the file found at Target
    // The failure is the deck's own (the office opened it and refused, or it took too long), not the
    // machine's: the deck is left out of update runs until it changes.
    bool DeckFault = false;
    // Converted, with some text set in fonts that stood in for fonts the machine lacks.
    bool StandInFonts = false;
    QString Target;
    TdvFileId TargetFound; // the file found at Target, so that only it is replaced
    TdvFileId SourceFound; // the source when the item was handed out, so that only it is deleted or renamed
    QString Problem;       // why the claimed target cannot be written (its folder could not be made)
    QString Note;          // what the person should know beyond the result ("the source was kept: ...")
};

// The work items of one run, the thread that lists them, the tallies and the engine-wide lock.
class TdvBatch
{
public:
    TdvBatch();
    ~TdvBatch();
    TdvBatch(const TdvBatch&) = delete;
    TdvBatch& operator=(const TdvBatch&) = delete;

    // Sets the source's folder and pattern and the target folder as StartSearch does, without making a
    // folder or listing anything, so that the run can see what it will list before anything happens.
    void Prepare(const QString& source, const QString& target, bool subdirs);
    void StartSearch(const QString& source, const QString& target, bool subdirs);
    // What the walk takes besides the pattern: a regular expression the path must match (none when
    // empty), and whether hidden files are left out. Set before Prepare or StartSearch.
    void SetSearchRules(const QString& regExt, bool skipHidden);
    // Whether the walk lists this path (or would, once it exists): under the source folder by its real
    // place, a name the pattern and the filters take, never inside the target folder.
    bool WouldList(const QString& path) const;
    // The target folder when it lies inside the source folder and the walk would enter it, else empty: the
    // walk never lists it, so that a run never converts its own PDFs again.
    QString TargetInsideSource() const;
    void AddFile(const QString& path);
    void AddSingleSource(const QString& path);
    bool Matches(const QString& path) const;
    // The next item, waiting while listing goes on; none once every item is handed out. `taken` runs under
    // the batch's lock, in listing order, for every item up to the one handed out that it has not yet seen,
    // so that what workers claim for their items is claimed in listing order whatever the hand-out order
    // and the number of workers.
    // With largest-first set, NextItem hands out the largest item listed so far (the earliest of equal ones),
    // so that a long file does not start last and leave the other workers idle; otherwise listing order.
    // While it waits for the listing, a set `stop` (the asking worker's own, raised with WakeWaiters) ends
    // the wait with no item, leaving the batch as it is.
    TdvNode* NextItem(const std::function<void(TdvNode*)>& taken = {},
                      const std::atomic<bool>* stop = nullptr);
    // Wakes the workers waiting in NextItem, so that each looks at its stop flag again.
    void WakeWaiters();
    void SetLargestFirst(bool on) { FLargestFirst = on; }
    int ItemCount() const;
    bool IsExhausted() const { return FExhausted; }
    bool IsListed() const { return FListed; }
    QList<TdvNode*>& LockItems();
    void UnlockItems();
    void AddFailure(const QString& text);
    void AddSuccess();
    // Folders of the target that this run made for its items. A folder made for an item that then fails or
    // is skipped is removed again once no other item of the run waits to write into it, if it is empty.
    void NoteFolders(TdvNode* item, const QString& folder, const QStringList& made);
    void ItemEnded(TdvNode* item);
    // Target paths claimed by the items of this run; a claim lasts as long as the batch's items.
    bool IsClaimed(const QString& path) const;
    // True the first time a run-wide notice (a key such as "isolation") is to be told, false after: what
    // holds for the whole run is said once, not on every item.
    bool FirstTelling(const QString& key);
    void Claim(const QString& path);
    static QString NormalizePath(const QString& text);
    void Terminate();
    bool Terminated() const { return FTerminated; }
    void WaitFor(); // waits for the search thread to end
    void Clear();

    // Tallies and texts, read by the owner after a run (or under the lock).
    int Successes() const;
    int Failures() const;
    QStringList FailureTexts() const;

    // Asked for each listed file before it becomes an item (a repeat leaves decks it handled before); set
    // before the search starts.
    std::function<bool(const QString& path)> ListFilter;

    // Told of every item as it is listed; set before the search starts.
    TdvItemObserver* Observer = nullptr;
    // The item as it is now, with the listing's progress, taken under the batch's lock.
    TdvItemEvent EventOf(const TdvNode* item) const;

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
    void addListed(const QString& path, qint64 size, bool nameMatched);
    void releaseFolder(const QString& folder, bool removeEmpty);

    int FNextIndex = 0; // items before this index have been handed out
    int FHanded = 0;
    std::atomic<bool> FLargestFirst{false};
    std::vector<TdvNode*> FBySize; // heap of items not yet handed out largest-first, largest on top
    bool FNameImpliesMask = false; // a name the walk accepted also passes the mask's expression
    int FTakenUpTo = 0;            // items before this index have been seen by `taken`
    std::atomic<bool> FExhausted{false};
    int FFailures = 0;
    std::atomic<bool> FListed{false};
    int FSuccesses = 0;
    QList<TdvNode*> FItems;
    // The items themselves, in blocks that grow with the batch: one allocation per block, not per item.
    std::vector<std::unique_ptr<TdvNode[]>> FBlocks;
    qsizetype FBlockUsed = 0, FBlockSize = 0;
    TdvNode* newNode();
    QStringList FFailureTexts;
    QSet<QString> FFailureKeys; // the texts case-folded: one look-up per failure, however many there are
    QSet<QString> FClaimed;
    QHash<QString, int> FMadeFolders;           // folder made by the run -> items that wait to write into it
    QHash<const TdvNode*, QString> FItemFolder; // such an item -> the deepest made folder of its target
    QSet<QString> FTold;

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
