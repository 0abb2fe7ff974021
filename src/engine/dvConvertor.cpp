#include "engine/dvConvertor.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvRecord.h"
#include "engine/dvRegistry.h"
#include "project/dvProject.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

int maxThreadsCount()
{
    return 4 * std::max(QThread::idealThreadCount(), 1);
}

// ---- worker loop -----------------------------------------------------------------------------------------

TdvWorkBase::~TdvWorkBase()
{
    WaitFor();
}

void TdvWorkBase::Create(TdvBatch* batch)
{
    FBatch = batch;
}

void TdvWorkBase::Start()
{
    if (!FThread.joinable())
        FThread = std::thread([this] { run(); });
}

void TdvWorkBase::Terminate()
{
    FTerminated = true;
    if (FBatch)
        FBatch->WakeWaiters();
}

void TdvWorkBase::Abort()
{
    FAborted = true;
    Terminate();
}

void TdvWorkBase::WaitFor()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TdvWorkBase::run()
{
    Execute();
    ThreadEnded();
    FEnded = true;
}

void TdvWorkBase::Execute()
{
    while (!FTerminated) {
        if (!ReadyForItem()) {
            // Items left are taken by the others meanwhile; once they are all gone there is nothing to wait
            // for.
            if (FBatch->IsExhausted())
                break;
            continue;
        }
        FItem = FBatch->NextItem([this](TdvNode* item) { ItemTaken(item); }, &FTerminated);
        if (!FItem) {
            FTerminated = true;
            break;
        }
        ItemStarted(FItem);
        try {
            ProcessItem();
        } catch (const std::exception& e) {
            FItem->Result = errorMessage(e);
        } catch (...) {
            FItem->Result = QStringLiteral("Unknown error");
        }
        FItem = nullptr;
    }
}

// ---- the workers of a run --------------------------------------------------------------------------------

TdvConvertor::~TdvConvertor()
{
    WaitFor();
    removeWorkFolder();
}

TdvWorkers TdvConvertor::CreateWorkers(const std::shared_ptr<const TdvRunOptions>& options, TdvBatch* batch,
                                       const QString& target, TdvItemObserver* observer,
                                       const TdvConvertorClass* cls)
{
    QString folder = TdvBatch::NormalizePath(target);
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    // The batch's search thread may be reading the folder already: it is written only when it differs.
    if (batch->FTargetFolder != folder)
        batch->FTargetFolder = folder;
    if (!cls)
        cls = options->ConvertorClass;
    if (!cls)
        throw TdvError(QStringLiteral("No converter class is set"));
    removeLeftoversOfDeadRuns();
    // With office listeners named, one worker each; otherwise every worker is a thread with an office
    // process of its own, and more than four per core only thrash.
    const QStringList servers = TdvServers::Parse(options->OfficeServers);
    const int count =
        servers.isEmpty() ? std::min(options->ThreadsCount, maxThreadsCount()) : int(servers.size());
    // One worker converts in listing order; several take the largest first, so none is left with a
    // long file at the end while the others sit idle.
    batch->SetLargestFirst(count > 1);
    auto pool = servers.isEmpty() ? nullptr : std::make_shared<TdvServers>(servers);
    TdvWorkers workers;
    for (int index = 0; index < std::max(count, 1); ++index) {
        std::unique_ptr<TdvConvertor> worker(cls->NewInstance());
        worker->FClass = cls;
        worker->FWorkerIndex = index;
        worker->FOptions = options;
        worker->FObserver = observer;
        if (pool) {
            worker->FServers = pool;
            worker->FServerIndex = index;
        }
        worker->Create(batch);
        workers.push_back(std::move(worker));
    }
    return workers;
}

QString TdvConvertor::Server() const
{
    if (!FServers || FServerIndex < 0)
        return QString();
    const QString entry = FServers->Entries().at(FServerIndex);
    return TdvServers::IsLocal(entry) ? QString() : entry;
}

void TdvConvertor::ProcessItem()
{
    try {
        Convert(FBatch, FItem);
    } catch (const std::exception& e) {
        if (!Aborted())
            escaped(errorMessage(e));
    } catch (...) {
        if (!Aborted())
            escaped(QStringLiteral("Unknown error"));
    }
    // An aborted item whose outcome was not yet told stays not done: what failed was the abort's kill.
    if (Aborted() && FItem->State == isRunning)
        return;
    recordOutcome(FItem);
    // A folder made for an item that came to nothing goes again.
    FBatch->ItemEnded(FItem);
    if (FObserver)
        FObserver->ItemDone(FBatch->EventOf(FItem));
}

void TdvConvertor::ItemStarted(TdvNode* item)
{
    if (FObserver)
        FObserver->ItemStarted(FBatch->EventOf(item));
}

void TdvConvertor::recordOutcome(const TdvNode* item)
{
    if (!FRecord || !item->SourceFound.Exists || isWebAddress(item->Source))
        return;
    try {
        if (item->State == isDone && !item->Skipped && !item->Target.isEmpty() &&
            item->Result == item->Target)
            FRecord->Written(item->Target, TdvFileId::Of(item->Target), item->Source, item->SourceFound,
                             OutputSettings());
        else if (item->State == isFailed && item->DeckFault)
            FRecord->Failed(item->Source, item->SourceFound, OutputSettings(), item->Result);
    } catch (...) {
        // A line the record misses costs the next update run a conversion, nothing more.
    }
}

void TdvConvertor::ThreadEnded()
{
    try {
        EndSession();
    } catch (...) {
        // Ending a session is a side operation; the worker ends regardless.
    }
    removeWorkFolder();
    if (FOnEnded)
        FOnEnded();
}

void TdvConvertor::escaped(const QString& error)
{
    // An error that left the conversion before its outcome was told: the item failed, and counts so.
    {
        TdvBatchLock lock(FBatch);
        if (FItem->State != isRunning)
            return;
        FItem->State = isFailed;
        FItem->Result = error;
    }
    FBatch->AddFailure(error);
}
