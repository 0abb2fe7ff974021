#pragma once

#include "engine/dvConvertor.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

// What a run came to, counted per item from the items themselves, so that the figures add up to what was
// listed.
struct TdvTallies
{
    int Listed = 0;
    int Converted = 0;
    int Skipped = 0;
    int Failed = 0;
    int StandIns = 0;  // converted items whose PDF has text in stand-in fonts
    int Successes = 0; // the batch's own count: converted items and skipped ones that count as success
    int Failures = 0;
    // Items listed but neither converted, skipped nor failed (a run that was stopped).
    int Open() const { return Listed - Converted - Skipped - Failed; }
    // "12 listed, 10 converted, 1 skipped, 1 failed[, 2 not done][; 3 PDFs use stand-in fonts]"
    QString Summary() const;
};

// "1 PDF uses stand-in fonts", "3 PDFs use stand-in fonts"; empty for none.
QString standInFontsCount(int pdfs);

// One run of a batch: the workers that convert its items, from start to end. The window, the console and
// the tests all run batches through it.
class TdvRun
{
public:
    // Sets up the workers for the batch (target folder, how many, the hand-out order) as `options` ask;
    // nothing starts yet. `observer` (which may be null, and outlives the run) is told on a worker's thread
    // as each item begins and ends; `cls` defaults to the options' converter class.
    TdvRun(const TdvRunOptions& options, TdvBatch* batch, const QString& target, TdvItemObserver* observer,
           const TdvConvertorClass* cls = nullptr);
    // Ends the workers, each after its current item, and waits for them; the batch's listing goes on.
    ~TdvRun();
    TdvRun(const TdvRun&) = delete;
    TdvRun& operator=(const TdvRun&) = delete;

    // Called every time a worker ends, with how many still run; 0 means the run is over. With a receiver
    // (which outlives the run) the call is posted to the receiver's thread; without one it is made on the
    // worker's own thread. No worker ever waits for it. Set before Start.
    using TdvEndedEvent = std::function<void(int running)>;
    void SetOnWorkerEnded(QObject* receiver, const TdvEndedEvent& event);
    // The usage record the workers count in (office versions); none counts nothing. Set before Start.
    void SetUsage(TdvUsage* usage);

    void Start();
    // Workers take no more items and end after their current ones; the batch keeps what is left, and a new
    // run on it continues there.
    void Pause();
    // As Pause, and the listing ends too.
    void Stop();
    // As Stop, at once: every worker ends its item in hand as not done (its office is ended, nothing it
    // wrote is put in place) and is not reported. Safe from any thread; Wait then returns promptly.
    void Abort();
    // Waits until every worker has ended.
    void Wait();

    bool Started() const { return FStarted; }
    bool Ended() const;
    // Workers of this run, and how many of them have not yet ended.
    int Workers() const { return int(FWorkers.size()); }
    int Running() const { return FRunning; }
    // The workers ThreadsCount asked for, which may be more than the machine allows.
    int Requested() const { return FRequested; }
    // The office listeners the run converts on (one worker each, ThreadsCount unused), or none.
    QStringList Servers() const;

    TdvBatch* Batch() const { return FBatch; }
    // A worker by its number, from 0.
    TdvConvertor* Worker(int index) const { return FWorkers.at(index).get(); }
    TdvTallies Tallies() const;
    // What the person should know before the run goes on (an update run without its record), or empty.
    const QString& Warning() const { return FWarning; }

private:
    void workerEnded();

    TdvBatch* FBatch;
    TdvWorkers FWorkers;
    std::atomic<int> FRunning{0};
    std::mutex FEndLock;
    int FRequested = 1;
    bool FStarted = false;
    QObject* FReceiver = nullptr;
    TdvEndedEvent FOnWorkerEnded;
    QString FWarning;
};
