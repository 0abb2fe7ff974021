#include "engine/dvBatch.h"

#include "discovery/dvFileUtils.h"
#include "discovery/dvMatch.h"
#include "project/dvError.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

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
    if (!isWebAddress(FTargetFolder) && !QFileInfo(FTargetFolder).isDir())
        QDir().mkpath(FTargetFolder);
    FMask = extractFileName(normalSource);
    FSourceFolder = extractFilePath(normalSource);
    FSubdirs = subdirs;
    if (!FListed && !FThread.joinable())
        FThread = std::thread([this] { Execute(); });
}

void TdvBatch::Execute()
{
    FRegExt = gProject ? gProject->RegExt() : QString();
    FSkipHidden = gProject ? TdvProject::ReadBool(gProject->GetOption(QStringLiteral("SkipHidden")), false) : false;
    SearchFolder(FSourceFolder, FMask, FSubdirs, FSkipHidden ? faNoHidden : faAnyFile,
                 [this](const QString& path) { AddFile(path); }, [this] { return FTerminated.load(); });
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

void TdvBatch::AddFile(const QString& path)
{
    if (!Matches(path))
        return;
    TdvNode* node = new TdvNode;
    node->Source = path;
    {
        std::lock_guard lock(FLock);
        node->Index = FItems.size();
        FItems.append(node);
        FItemAdded.notify_all();
    }
    if (OnListed)
        OnListed(OnListedContext, this, node);
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
        if (FNextIndex < FItems.size()) {
            TdvNode* item = FItems.at(FNextIndex++);
            if (taken)
                taken(item);
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
    if (!FFailureTexts.contains(text, Qt::CaseInsensitive))
        FFailureTexts.append(text);
}

void TdvBatch::AddSuccess()
{
    std::lock_guard lock(FLock);
    ++FSuccesses;
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
    if (!text.startsWith(QLatin1String("file:")))
        return text;
    // Parsed by hand rather than by QUrl: a source pattern's "?" is a wildcard here, not a query.
    QString rest = text.mid(5);
    if (rest.startsWith(QLatin1String("//"))) {
        const int slash = rest.indexOf(QLatin1Char('/'), 2);
        const QString host = rest.mid(2, slash < 0 ? -1 : slash - 2);
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
            throw TdvError(QStringLiteral("The address %1 names another computer; only local file addresses "
                                          "can be converted")
                               .arg(text));
        rest = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    }
    const QString path = QUrl::fromPercentEncoding(rest.toUtf8());
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
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
    qDeleteAll(FItems);
    FItems.clear();
    FClaimed.clear();
    FNextIndex = 0;
    FFailures = 0;
    FSuccesses = 0;
    FListed = false;
    FExhausted = false;
}
