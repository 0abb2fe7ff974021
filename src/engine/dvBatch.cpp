#include "engine/dvBatch.h"

#include "discovery/dvFileUtils.h"
#include "discovery/dvMatch.h"
#include "project/dvError.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

TdvBatch::TdvBatch() = default;

TdvBatch::~TdvBatch()
{
    Terminate();
    WaitFor();
    Clear();
}

void TdvBatch::StartSearch(const QString& source, const QString& target, bool subdirs)
{
    const QString normalSource = NormalizePath(source);
    FTargetFolder = NormalizePath(target);
    if (FTargetFolder.isEmpty())
        throw TdvError(QStringLiteral("Unable to create directory"));
    // The folder is made by the first item that needs it: a search that finds nothing makes nothing.
    FMask = extractFileName(normalSource);
    FSourceFolder = extractFilePath(normalSource);
    FSubdirs = subdirs;
    if (!FListed && !FThread.joinable())
        FThread = std::thread([this] { Execute(); });
}

void TdvBatch::Execute()
{
    FRegExt = gProject ? gProject->RegExt() : QString();
    FSkipHidden = gProject ? gProject->SkipHidden() : false;
    FNameImpliesMask = FRegExt.isEmpty() && maskFollowsFromName(FMask);
    SearchFolder(
        FSourceFolder, FMask, FSubdirs, FSkipHidden ? faNoHidden : faAnyFile,
        [this](const QString& path, qint64 size) { addListed(path, size, true); },
        [this] { return FTerminated.load(); });
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
        node = newNode();
        node->Source = path;
        node->Size = size;
        node->Index = FItems.size();
        FItems.append(node);
        FBySize.push_back(node);
        std::push_heap(FBySize.begin(), FBySize.end(), smallerThan);
        FItemAdded.notify_all();
    }
    if (OnListed)
        OnListed(OnListedContext, this, node);
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

TdvNode* TdvBatch::NextItem(const std::function<void(TdvNode*)>& taken)
{
    std::unique_lock lock(FLock);
    for (;;) {
        if (FHanded < FItems.size()) {
            TdvNode* item = nullptr;
            if (FLargestFirst) {
                // Items handed out in listing order by an earlier chain are still in the heap.
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
        // Woken by AddFile and by the end of listing; the bound only guards against a lost wake-up.
        FItemAdded.wait_for(lock, std::chrono::milliseconds(500));
    }
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
    // Relative paths are taken from the current folder here too, so no caller hands the office a
    // "file:" address it cannot resolve.
    return absolutePath(normalizeFileAddress(text));
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

void TdvBatch::Clear()
{
    std::lock_guard lock(FLock);
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
