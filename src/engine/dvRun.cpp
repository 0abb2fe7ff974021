#include "engine/dvRun.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "engine/dvRecord.h"
#include "project/dvProject.h"

#include <QObject>

#include <algorithm>
#include <mutex>

QString TdvTallies::Summary() const
{
    QString text = QStringLiteral("%1 listed, %2 converted, %3 skipped, %4 failed")
                       .arg(Listed)
                       .arg(Converted)
                       .arg(Skipped)
                       .arg(Failed);
    if (Open() > 0)
        text += QStringLiteral(", %1 not done").arg(Open());
    // Apart from the counts that add up: these PDFs are among the converted ones.
    if (StandIns > 0)
        text += QStringLiteral("; ") + standInFontsCount(StandIns);
    return text;
}

QString standInFontsCount(int pdfs)
{
    if (pdfs <= 0)
        return QString();
    return pdfs == 1 ? QStringLiteral("1 PDF uses stand-in fonts")
                     : QStringLiteral("%1 PDFs use stand-in fonts").arg(pdfs);
}

TdvRun::TdvRun(const TdvRunOptions& options, TdvBatch* batch, const QString& target,
               TdvItemObserver* observer, const TdvConvertorClass* cls)
    : FBatch(batch)
{
    FRequested = options.ThreadsCount;
    FWorkers = TdvConvertor::CreateWorkers(std::make_shared<const TdvRunOptions>(options), batch, target,
                                           observer, cls);
    // Every run notes what it wrote, so that a later update run knows its PDFs whatever rule wrote them.
    std::shared_ptr<TdvRecord> record;
    const bool update = options.IsOverwrite == TdvOverwrite::Update;
    if (!batch->FTargetFolder.isEmpty() && !isWebAddress(batch->FTargetFolder)) {
        try {
            record = std::make_shared<TdvRecord>(batch->FTargetFolder, update);
        } catch (const std::exception& e) {
            if (update)
                FWarning =
                    QStringLiteral("IsOverwrite=Update converts every presentation: %1").arg(errorMessage(e));
        }
    }
    for (const auto& worker : FWorkers) {
        worker->FOnEnded = [this] { workerEnded(); };
        worker->FRecord = record;
    }
}

TdvRun::~TdvRun()
{
    // The listing is the batch's: a paused run freed while it goes on leaves it to the next run.
    Pause();
    Wait();
    FWorkers.clear();
}

QStringList TdvRun::Servers() const
{
    const TdvConvertor* first = FWorkers.front().get();
    return first->FServers ? first->FServers->Entries() : QStringList();
}

void TdvRun::SetUsage(TdvUsage* usage)
{
    for (const auto& worker : FWorkers)
        worker->FUsage = usage;
}

void TdvRun::SetOnWorkerEnded(QObject* receiver, const TdvEndedEvent& event)
{
    FReceiver = receiver;
    FOnWorkerEnded = event;
}

void TdvRun::Start()
{
    if (FStarted)
        return;
    FStarted = true;
    FRunning = Workers();
    for (const auto& worker : FWorkers)
        worker->Start();
}

void TdvRun::Pause()
{
    // Ended workers stay until the run is freed, so every one is safe to touch.
    for (const auto& worker : FWorkers)
        if (!worker->Ended())
            worker->Terminate();
}

void TdvRun::Stop()
{
    FBatch->Terminate();
    Pause();
}

void TdvRun::Abort()
{
    FBatch->Terminate();
    for (const auto& worker : FWorkers)
        if (!worker->Ended())
            worker->Abort();
}

void TdvRun::Wait()
{
    for (const auto& worker : FWorkers)
        worker->WaitFor();
}

bool TdvRun::Ended() const
{
    return !FStarted ||
           std::all_of(FWorkers.begin(), FWorkers.end(), [](const auto& w) { return w->Ended(); });
}

void TdvRun::workerEnded()
{
    // Runs on the ending worker's thread, as its last step. Counted and posted in one step, so that the
    // receiver sees the counts falling and the 0 last.
    std::lock_guard lock(FEndLock);
    const int running = --FRunning;
    if (!FOnWorkerEnded)
        return;
    if (!FReceiver) {
        FOnWorkerEnded(running);
        return;
    }
    QMetaObject::invokeMethod(
        FReceiver, [event = FOnWorkerEnded, running] { event(running); }, Qt::QueuedConnection);
}

TdvTallies TdvRun::Tallies() const
{
    TdvTallies t;
    t.Successes = FBatch->Successes();
    t.Failures = FBatch->Failures();
    for (const TdvNode* item : std::as_const(FBatch->LockItems())) {
        ++t.Listed;
        if (item->Skipped)
            ++t.Skipped;
        else if (item->State == isDone) {
            ++t.Converted;
            if (item->StandInFonts)
                ++t.StandIns;
        } else if (item->State == isFailed)
            ++t.Failed;
    }
    FBatch->UnlockItems();
    return t;
}
