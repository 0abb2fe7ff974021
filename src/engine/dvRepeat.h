#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>

class QFileSystemWatcher;
class QTimer;
class TdvBatch;

// The repeats of an unattended run (option Daemon), in the window and the console alike: which decks a
// repeat takes, and when the next one is due. A repeat takes only decks that are new or changed since an
// earlier run of this program handled them, and never one that is still being written: a deck is taken once
// its size and times have stayed as they are for a moment. The next run is due after the polling interval at
// the latest, and a moment after decks arrive in a watched folder; the timers and the folder watch need the
// event loop of the thread that made the object.
class TdvRepeat : public QObject
{
public:
    // `onDue` runs on the object's thread when the next run should start.
    explicit TdvRepeat(std::function<void()> onDue, QObject* parent = nullptr);
    ~TdvRepeat() override;

    // How long a deck must stay unchanged before a run takes it (milliseconds); new objects start with the
    // default, which tests shorten.
    static inline std::atomic<int> DefaultSettleMs{2000};
    void SetSettleMs(int ms) { FSettleMs = ms; }
    int SettleMs() const { return FSettleMs >= 0 ? FSettleMs : DefaultSettleMs.load(); }

    // Asked for every listed file, on the listing's thread: whether this run takes it.
    bool Take(const QString& path);
    // After a run: remembers the decks it handled, so that later runs leave them while they stay as they
    // are, and watches the batch's source folder (with its sub-folders when the batch searches them).
    void RunEnded(TdvBatch* batch);
    // The next run is due after intervalMs at the latest; sooner when decks arrive, or when a deck that the
    // last listing left because it was still being written may have settled.
    void Arm(int intervalMs);
    void Disarm();
    bool Armed() const { return FArmed; }
    // Files the last listing left because they were still changing.
    int Deferred() const;
    // Folders watched for arriving decks.
    QStringList Watched() const;

private:
    struct Stamp
    {
        quint64 Inode = 0;
        qint64 Size = -1;
        qint64 Modified = 0;
        qint64 Changed = 0; // the inode's change time: a copy that sets the old times at its end moves it
        bool operator==(const Stamp& other) const = default;
    };
    struct Pending
    {
        Stamp Seen;
        qint64 SeenAt = 0; // monotonic milliseconds when it was first seen so
    };

    void due();
    void folderChanged(const QString& folder);
    void watch(const QString& folder, bool subdirs);
    void addFolders(const QString& folder);
    void prune();

    std::function<void()> FOnDue;
    int FSettleMs = -1; // the default
    bool FArmed = false;
    bool FChanged = false; // a watched folder changed since the last run was due
    QTimer* FPoll = nullptr;
    QTimer* FSettle = nullptr;
    QFileSystemWatcher* FWatcher = nullptr;
    QString FFolder;
    bool FSubdirs = false;

    mutable std::mutex FLock; // Take runs on the listing's thread
    QHash<QString, Stamp> FHandled;
    QHash<QString, Pending> FPending;
    int FDeferred = 0;
    qsizetype FPrunedAt = 0;
};
