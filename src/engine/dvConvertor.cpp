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

void TdvWorkBase::Create(TdvBatch* batch, int count, TdvItemProc callback, void* context)
{
    (void)count;
    (void)callback;
    (void)context;
    FBatch = batch;
}

void TdvWorkBase::Start()
{
    if (!FThread.joinable())
        FThread = std::thread([this] { run(); });
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
        FItem = FBatch->NextItem([this](TdvNode* item) { ItemTaken(item); });
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

// ---- converter chain -------------------------------------------------------------------------------------

TdvConvertor::~TdvConvertor()
{
    // The chain is freed from its head: wait for every worker before its links go away.
    WaitFor();
    FNext.reset();
    removeWorkFolder();
}

TdvConvertor* TdvConvertor::CreateChain(const std::shared_ptr<const TdvRunOptions>& options, TdvBatch* batch,
                                        const QString& target, TdvItemProc callback, void* context,
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
    TdvConvertor* head = cls->NewInstance();
    head->FClass = cls;
    head->Create(batch, count, callback, context);
    for (TdvConvertor* c = head; c; c = c->FNext.get())
        c->FOptions = options;
    if (!servers.isEmpty()) {
        auto pool = std::make_shared<TdvServers>(servers);
        int index = 0;
        for (TdvConvertor* c = head; c; c = c->FNext.get()) {
            c->FServers = pool;
            c->FServerIndex = index++;
        }
    }
    return head;
}

void TdvConvertor::Create(TdvBatch* batch, int count, TdvItemProc callback, void* context)
{
    TdvWorkBase::Create(batch, count, callback, context);
    FCount = std::max(count, 1);
    FOnDone = callback;
    FOnDoneContext = context;
    if (count > 1) {
        FNext.reset(FClass->NewInstance());
        FNext->FClass = FClass;
        FNext->Create(batch, count - 1, callback, context);
    }
}

void TdvConvertor::StartChain()
{
    for (TdvConvertor* c = this; c; c = c->FNext.get())
        c->Start();
}

void TdvConvertor::StopChain()
{
    // Ended converters stay in the chain until the owner frees it, so every link is safe to touch.
    for (TdvConvertor* c = this; c; c = c->FNext.get())
        if (!c->Ended())
            c->Terminate();
}

void TdvConvertor::WaitChain()
{
    for (TdvConvertor* c = this; c; c = c->FNext.get())
        c->WaitFor();
}

bool TdvConvertor::ChainEnded() const
{
    for (const TdvConvertor* c = this; c; c = c->FNext.get())
        if (!c->Ended())
            return false;
    return true;
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
    if (FOnDone)
        FOnDone(FOnDoneContext, FBatch, FItem);
}

void TdvConvertor::ItemStarted(TdvNode* item)
{
    if (FOnStarted)
        FOnStarted(FOnDoneContext, FBatch, item);
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
