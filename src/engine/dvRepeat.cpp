#include "engine/dvRepeat.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <sys/stat.h>

namespace {

// More folders than this are not watched one by one; the polling interval still bounds the wait.
constexpr int kMostWatchedFolders = 10000;

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 nowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 ns(const struct timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace

TdvRepeat::TdvRepeat(std::function<void()> onDue, QObject* parent) : QObject(parent), FOnDue(std::move(onDue))
{
    FPoll = new QTimer(this);
    FPoll->setSingleShot(true);
    FPoll->setTimerType(Qt::PreciseTimer);
    connect(FPoll, &QTimer::timeout, this, [this] { due(); });
    FSettle = new QTimer(this);
    FSettle->setSingleShot(true);
    // Never early: a deck seen changing is taken only once it has been still for the whole moment.
    FSettle->setTimerType(Qt::PreciseTimer);
    connect(FSettle, &QTimer::timeout, this, [this] { due(); });
}

TdvRepeat::~TdvRepeat() = default;

bool TdvRepeat::Take(const QString& path)
{
    if (isWebAddress(path))
        return true;
    struct stat st;
    if (::stat(encodeFileName(path).constData(), &st) != 0)
        return true; // gone or unreadable: the run says why
    const Stamp now{quint64(st.st_ino), qint64(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
    std::lock_guard lock(FLock);
    const auto handled = FHandled.constFind(path);
    if (handled != FHandled.cend() && handled->Inode == now.Inode && handled->Size == now.Size &&
        handled->Modified == now.Modified)
        return false;
    // Still for a moment by the file system's clock, or by ours since an earlier listing saw it just so (a
    // file from a machine whose clock runs ahead, or with a time in the future, settles too).
    const int settleMs = SettleMs();
    const qint64 settleNs = qint64(settleMs) * 1000000;
    if (nowNs() - std::max(now.Modified, now.Changed) >= settleNs) {
        FPending.remove(path);
        return true;
    }
    const auto pending = FPending.find(path);
    if (pending != FPending.end() && pending->Seen == now) {
        if (steadyMs() - pending->SeenAt >= settleMs) {
            FPending.erase(pending);
            return true;
        }
    } else {
        FPending.insert(path, Pending{now, steadyMs()});
    }
    ++FDeferred;
    return false;
}

void TdvRepeat::RunEnded(TdvBatch* batch)
{
    {
        std::lock_guard lock(FLock);
        // Decks handled in any way (converted, skipped, failed) are left until they change; a deck a stopped
        // run never reached is taken by the next.
        for (const TdvNode* item : std::as_const(batch->LockItems())) {
            if (item->State == isRunning || !item->SourceFound.Exists || isWebAddress(item->Source))
                continue;
            const TdvFileId& id = item->SourceFound;
            FHandled.insert(item->Source, Stamp{quint64(id.Inode), id.Size, id.ModifiedNs, 0});
        }
        batch->UnlockItems();
        if (FHandled.size() > 2 * FPrunedAt + 1024)
            prune();
    }
    if (!batch->FSourceFolder.isEmpty())
        watch(batch->FSourceFolder, batch->FSubdirs);
}

void TdvRepeat::prune()
{
    // Decks that left the folder (converted and deleted, moved away) are forgotten, so a folder that sees
    // decks come and go for months does not keep them all.
    for (auto it = FHandled.begin(); it != FHandled.end();)
        it = fileExists(it.key()) ? std::next(it) : FHandled.erase(it);
    for (auto it = FPending.begin(); it != FPending.end();)
        it = fileExists(it.key()) ? std::next(it) : FPending.erase(it);
    FPrunedAt = FHandled.size();
}

void TdvRepeat::Arm(int intervalMs)
{
    FArmed = true;
    FPoll->start(std::max(intervalMs, 1));
    if (FChanged || Deferred() > 0)
        FSettle->start(SettleMs());
}

void TdvRepeat::Disarm()
{
    FArmed = false;
    FPoll->stop();
    FSettle->stop();
}

int TdvRepeat::Deferred() const
{
    std::lock_guard lock(FLock);
    return FDeferred;
}

QStringList TdvRepeat::Watched() const
{
    return FWatcher ? FWatcher->directories() : QStringList();
}

void TdvRepeat::due()
{
    if (!FArmed)
        return;
    Disarm();
    FChanged = false;
    {
        std::lock_guard lock(FLock);
        FDeferred = 0;
    }
    if (FOnDue)
        FOnDue();
}

void TdvRepeat::watch(const QString& folder, bool subdirs)
{
    if (FWatcher && folder == FFolder && subdirs == FSubdirs)
        return;
    delete FWatcher;
    FFolder = folder;
    FSubdirs = subdirs;
    FWatcher = new QFileSystemWatcher(this);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString& changed) { folderChanged(changed); });
    if (subdirs)
        addFolders(folder);
    else if (isDirectory(folder))
        FWatcher->addPath(folder);
}

void TdvRepeat::addFolders(const QString& folder)
{
    // Hidden folders are never searched, and a link to a folder is never followed: neither is watched.
    QStringList todo{folder};
    const QStringList watched = FWatcher->directories();
    const QSet<QString> known(watched.cbegin(), watched.cend());
    QStringList found;
    while (!todo.isEmpty() && known.size() + found.size() < kMostWatchedFolders) {
        QString dir = todo.takeLast();
        if (dir.endsWith(QLatin1Char('/')) && dir.size() > 1)
            dir.chop(1);
        if (!known.contains(dir))
            found.append(dir);
        const QStringList subs = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
        for (const QString& sub : subs)
            todo.append(dir + QLatin1Char('/') + sub);
    }
    if (!found.isEmpty())
        FWatcher->addPaths(found);
}

void TdvRepeat::folderChanged(const QString& folder)
{
    FChanged = true;
    // A folder copied in with its sub-folders is watched from now on.
    if (FSubdirs && FWatcher)
        addFolders(folder);
    if (FArmed && !FSettle->isActive())
        FSettle->start(SettleMs());
}
