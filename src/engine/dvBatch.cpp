#include "engine/dvBatch.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "discovery/dvMatch.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

TdvBatch::TdvBatch() = default;

TdvBatch::~TdvBatch()
{
    Terminate();
    WaitFor();
    Clear();
}

void TdvBatch::Prepare(const QString& source, const QString& target, bool subdirs)
{
    const QString normalSource = NormalizePath(source);
    FTargetFolder = NormalizePath(target);
    // In the form the workers use, with its closing slash: setting up the run then writes nothing that the
    // search thread, already started, reads.
    if (!FTargetFolder.isEmpty() && !FTargetFolder.endsWith(QLatin1Char('/')))
        FTargetFolder += QLatin1Char('/');
    FMask = extractFileName(normalSource);
    FSourceFolder = extractFilePath(normalSource);
    FSubdirs = subdirs;
}

void TdvBatch::StartSearch(const QString& source, const QString& target, bool subdirs)
{
    Prepare(source, target, subdirs);
    if (FTargetFolder.isEmpty())
        throw TdvError(QStringLiteral("Unable to create directory"));
    // The folder is made by the first item that needs it: a search that finds nothing makes nothing.
    if (!FListed && !FThread.joinable())
        FThread = std::thread([this] { Execute(); });
}

QString TdvBatch::TargetInsideSource() const
{
    if (!FSubdirs || FSourceFolder.isEmpty() || isWebAddress(FSourceFolder) || isWebAddress(FTargetFolder))
        return QString();
    const QString source = resolvedPath(FSourceFolder);
    QString target = resolvedPath(FTargetFolder);
    // The target may be the source folder itself: then only the run's own PDFs are left out, one by one.
    if (source.isEmpty() || target.isEmpty() || !isBelow(target, source) || target == source)
        return QString();
    return target;
}

bool TdvBatch::WouldList(const QString& path) const
{
    if (FSourceFolder.isEmpty() || isWebAddress(FSourceFolder) || isWebAddress(path))
        return false;
    const QString folder = resolvedPath(FSourceFolder);
    const QString real = resolvedPath(path);
    if (folder.isEmpty() || real.isEmpty() || !isBelow(real, folder) || real == folder)
        return false;
    const QString relative = real.mid(folder.size() + (folder.endsWith(QLatin1Char('/')) ? 0 : 1));
    const QStringList parts = relative.split(QLatin1Char('/'));
    const QString& name = parts.last();
    if (parts.size() > 1) {
        if (!FSubdirs)
            return false;
        // Hidden folders are never entered, nor the target folder inside the source.
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            if (parts[i].startsWith(QLatin1Char('.')))
                return false;
        const QString skipped = TargetInsideSource();
        if (!skipped.isEmpty() && isBelow(real, skipped))
            return false;
    }
    if (name.isEmpty() || (FSkipHidden && name.startsWith(QLatin1Char('.'))) ||
        (SkipLockFiles && name.startsWith(QLatin1String("~$"))))
        return false;
    const bool wild = FMask.contains(QLatin1Char('*')) || FMask.contains(QLatin1Char('?'));
    if (wild ? !wildcardMatch(FMask, name) : name.compare(FMask, Qt::CaseInsensitive) != 0)
        return false;
    return sourceMatches(FSourceFolder + relative, FMask, FRegExt);
}

void TdvBatch::SetSearchRules(const QString& regExt, bool skipHidden)
{
    FRegExt = regExt;
    FSkipHidden = skipHidden;
}

void TdvBatch::Execute()
{
    FNameImpliesMask = FRegExt.isEmpty() && maskFollowsFromName(FMask);
    SearchFolder(
        FSourceFolder, FMask, FSubdirs, FSkipHidden ? faNoHidden : faAnyFile,
        [this](const QString& path, qint64 size) { addListed(path, size, true); },
        [this] { return FTerminated.load(); }, TargetInsideSource());
    setListed();
}

void TdvBatch::setListed()
{
    std::lock_guard lock(FLock);
    FListed = true;
    FItemAdded.notify_all();
}

bool TdvBatch::Matches(const QString& path) const
{
    return sourceMatches(path, FMask, FRegExt);
}

namespace {

// "/a/b/" gives "/a/"; the root has none.
QString parentFolder(const QString& folder)
{
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/')))
        f.chop(1);
    const qsizetype slash = f.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : f.left(slash + 1);
}

bool isOwnPartFile(const QString& path)
{
    // Asked of every listed path: only hidden names are looked at further.
    const qsizetype start = path.lastIndexOf(QLatin1Char('/')) + 1;
    if (start >= path.size() || path.at(start) != QLatin1Char('.'))
        return false;
    static const QString prefix = QStringLiteral(".vellum-%1-").arg(getpid());
    return QStringView(path).mid(start).startsWith(prefix) && path.endsWith(QLatin1String(".part"));
}

// Heap order: the larger first, of equal sizes the one listed first.
bool smallerThan(const TdvNode* a, const TdvNode* b)
{
    return a->Size != b->Size ? a->Size < b->Size : a->Index > b->Index;
}

} // namespace

void TdvBatch::AddFile(const QString& path)
{
    addListed(path, isWebAddress(path) ? -1 : fileSize(path), false);
}

void TdvBatch::addListed(const QString& path, qint64 size, bool nameMatched)
{
    // A part file this process is moving into place is no source.
    if (isOwnPartFile(path))
        return;
    // The walk has matched the name against the mask already; the expression test is then a foregone
    // conclusion unless the name holds a line break, which the expression's "." does not cross.
    const bool sure = nameMatched && FNameImpliesMask && !path.contains(QLatin1Char('\n')) &&
                      !path.contains(QLatin1Char('\r'));
    if (!sure && !Matches(path))
        return;
    if (ListFilter && !ListFilter(path))
        return;
    TdvNode* node = nullptr;
    {
        std::lock_guard lock(FLock);
        // A PDF that an item of this run claimed is the run's own output, never a source of it. Asked under
        // the lock that claims take, so that no path is both.
        if (FClaimed.contains(path))
            return;
        node = newNode();
        node->Source = path;
        node->Size = size;
        node->Index = FItems.size();
        FItems.append(node);
        FBySize.push_back(node);
        std::push_heap(FBySize.begin(), FBySize.end(), smallerThan);
        FItemAdded.notify_all();
    }
    if (Observer)
        Observer->ItemListed(EventOf(node));
}

TdvItemEvent TdvBatch::EventOf(const TdvNode* item) const
{
    std::lock_guard lock(FLock);
    TdvItemEvent event;
    event.Index = item->Index;
    event.State = item->State;
    event.Skipped = item->Skipped;
    event.StandInFonts = item->StandInFonts;
    event.Source = item->Source;
    event.Result = item->Result;
    event.Note = item->Note;
    event.Listed = int(FItems.size());
    event.ListingEnded = FListed;
    return event;
}

TdvNode* TdvBatch::newNode()
{
    if (FBlockUsed == FBlockSize) {
        // Small batches stay small; large ones take 4,096 items a block.
        FBlockSize = std::min<qsizetype>(FBlocks.empty() ? 16 : FBlockSize * 2, 4096);
        FBlocks.push_back(std::make_unique<TdvNode[]>(size_t(FBlockSize)));
        FBlockUsed = 0;
    }
    return &FBlocks.back()[FBlockUsed++];
}

void TdvBatch::AddSingleSource(const QString& path)
{
    AddFile(path);
    setListed();
}

TdvNode* TdvBatch::NextItem(const std::function<void(TdvNode*)>& taken, const std::atomic<bool>* stop)
{
    std::unique_lock lock(FLock);
    for (;;) {
        if (FHanded < FItems.size()) {
            TdvNode* item = nullptr;
            if (FLargestFirst) {
                // Items handed out in listing order by an earlier run are still in the heap.
                while (!item) {
                    std::pop_heap(FBySize.begin(), FBySize.end(), smallerThan);
                    TdvNode* top = FBySize.back();
                    FBySize.pop_back();
                    if (!top->Handed)
                        item = top;
                }
            } else {
                while (FItems.at(FNextIndex)->Handed)
                    ++FNextIndex;
                item = FItems.at(FNextIndex++);
            }
            item->Handed = true;
            ++FHanded;
            if (taken)
                for (; FTakenUpTo <= item->Index; ++FTakenUpTo)
                    taken(FItems.at(FTakenUpTo));
            return item;
        }
        if (FListed) {
            FExhausted = true;
            return nullptr;
        }
        if (stop && stop->load())
            return nullptr;
        // Woken by AddFile, by the end of listing and by WakeWaiters; the bound only guards against a lost
        // wake-up.
        FItemAdded.wait_for(lock, std::chrono::milliseconds(500));
    }
}

void TdvBatch::WakeWaiters()
{
    // Under the lock: a worker between its look at its flag and its wait cannot miss the call.
    std::lock_guard lock(FLock);
    FItemAdded.notify_all();
}

int TdvBatch::ItemCount() const
{
    std::lock_guard lock(FLock);
    return FItems.size();
}

QList<TdvNode*>& TdvBatch::LockItems()
{
    FLock.lock();
    return FItems;
}

void TdvBatch::UnlockItems()
{
    FLock.unlock();
}

void TdvBatch::AddFailure(const QString& text)
{
    std::lock_guard lock(FLock);
    ++FFailures;
    // Letter case ignored, as the report has always merged them.
    if (!FFailureKeys.contains(text.toCaseFolded())) {
        FFailureKeys.insert(text.toCaseFolded());
        FFailureTexts.append(text);
    }
}

void TdvBatch::AddSuccess()
{
    std::lock_guard lock(FLock);
    ++FSuccesses;
}

bool TdvBatch::FirstTelling(const QString& key)
{
    std::lock_guard guard(FLock);
    if (FTold.contains(key))
        return false;
    FTold.insert(key);
    return true;
}

bool TdvBatch::IsClaimed(const QString& path) const
{
    std::lock_guard lock(FLock);
    return FClaimed.contains(path);
}

void TdvBatch::Claim(const QString& path)
{
    std::lock_guard lock(FLock);
    FClaimed.insert(path);
}

int TdvBatch::Successes() const
{
    std::lock_guard lock(FLock);
    return FSuccesses;
}

int TdvBatch::Failures() const
{
    std::lock_guard lock(FLock);
    return FFailures;
}

QStringList TdvBatch::FailureTexts() const
{
    std::lock_guard lock(FLock);
    return FFailureTexts;
}

QString TdvBatch::NormalizePath(const QString& text)
{
    return normalizePath(text);
}

void TdvBatch::Terminate()
{
    FTerminated = true;
}

void TdvBatch::WaitFor()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TdvBatch::NoteFolders(TdvNode* item, const QString& folder, const QStringList& made)
{
    std::lock_guard lock(FLock);
    for (const QString& f : made)
        FMadeFolders.insert(f, 0);
    // The deepest folder on the item's way that the run made is the one to count the item in.
    for (QString f = folder; !f.isEmpty() && f != FTargetFolder; f = parentFolder(f)) {
        const auto it = FMadeFolders.find(f);
        if (it != FMadeFolders.end()) {
            ++it.value();
            FItemFolder.insert(item, f);
            return;
        }
    }
}

void TdvBatch::ItemEnded(TdvNode* item)
{
    std::lock_guard lock(FLock);
    const auto it = FItemFolder.find(item);
    if (it == FItemFolder.end())
        return;
    const QString folder = it.value();
    FItemFolder.erase(it);
    releaseFolder(folder, item->State != isDone || item->Skipped);
}

void TdvBatch::releaseFolder(const QString& folder, bool removeEmpty)
{
    auto it = FMadeFolders.find(folder);
    if (it == FMadeFolders.end())
        return;
    --it.value();
    if (!removeEmpty)
        return;
    // Up from the item's folder, every folder the run made that no item waits for and that is empty; the
    // first one that is not ends the climb.
    for (QString f = folder; !f.isEmpty() && f != FTargetFolder; f = parentFolder(f)) {
        it = FMadeFolders.find(f);
        if (it == FMadeFolders.end() || it.value() > 0 || !removeEmptyFolder(f))
            return;
        FMadeFolders.erase(it);
    }
}

void TdvBatch::Clear()
{
    std::lock_guard lock(FLock);
    // Items that never ran (a stopped run) leave no folder made for them.
    const QList<const TdvNode*> waiting = FItemFolder.keys();
    for (const TdvNode* item : waiting)
        releaseFolder(FItemFolder.take(item), true);
    FMadeFolders.clear();
    FItems.clear();
    FBlocks.clear();
    FBlockUsed = FBlockSize = 0;
    FClaimed.clear();
    FBySize.clear();
    FNextIndex = 0;
    FHanded = 0;
    FTakenUpTo = 0;
    FFailures = 0;
    FFailureTexts.clear();
    FFailureKeys.clear();
    FSuccesses = 0;
    FListed = false;
    FExhausted = false;
}
