#pragma once

#include "engine/dvBatch.h"
#include "project/dvProject.h"
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TdvConvertor;
class TdvRecord;
class TdvUsage;
using TdvEvent = std::function<void()>;

// A converter class: the engine constructs the product's converter through it, then calls the virtual Create.
class TdvConvertorClass
{
public:
    virtual ~TdvConvertorClass() = default;
    virtual TdvConvertor* NewInstance() const = 0;
};

template <class T> class TdvConvertorClassOf : public TdvConvertorClass
{
public:
    TdvConvertor* NewInstance() const override { return new T(); }
};

// The office listeners a run converts on, one worker each, and which of them can be reached now.
class TdvServers
{
public:
    // The entries of an OfficeServers text: "host:port" ("[v6 address]:port" too), "unix:PATH" (a listener's
    // Unix socket; a relative path counts from the current folder) or "local", separated by blanks; `local`
    // may come more than once, a listener only once. A malformed or repeated entry fails with a message
    // naming it.
    static QStringList Parse(const QString& text);
    static bool IsLocal(const QString& entry) { return entry == QLatin1String("local"); }
    // The socket path of a "unix:PATH" entry, or empty text for any other entry.
    static QString SocketPath(const QString& entry);
    // The host ("[...]" taken off an IPv6 address) and port of a "host:port" entry; false when it is none.
    static bool SplitAddress(const QString& entry, QString& host, int& port);

    explicit TdvServers(QStringList entries);
    const QStringList& Entries() const { return FEntries; }
    void SetUp(int index);
    void SetDown(int index, const QString& reason); // the reason names the listener
    // Every entry is a listener, and none of them can be reached.
    bool AllDown() const;
    // "No office can be reached: " and why, for each listener (each reason names its listener).
    QString DownMessage() const;

private:
    mutable std::mutex FLock;
    QStringList FEntries;
    QStringList FDown; // why each entry is down; empty while it is up
};

// The worker loop: takes items from a batch until none is left or it is asked to stop.
class TdvWorkBase
{
public:
    virtual ~TdvWorkBase();

    virtual void ProcessItem() {}
    // Joins the worker to the batch it takes items from; nothing runs yet.
    virtual void Create(TdvBatch* batch);

    void Start();
    // No further item: the worker ends after the one in hand, or at once while it waits for the listing.
    void Terminate();
    bool Terminated() const { return FTerminated; }
    // Ends the worker at once, from any thread: no further item, and the item in hand ends as not done,
    // neither converted nor failed, and is not reported. A converter with an office ends that office.
    virtual void Abort();
    bool Aborted() const { return FAborted; }
    bool Ended() const { return FEnded; }
    void WaitFor();

    TdvBatch* FBatch = nullptr;
    TdvNode* FItem = nullptr;

protected:
    void Execute();
    // Asked before each item: false while this worker cannot convert (its office cannot be reached), so that
    // the others take the items meanwhile. It waits a little itself before answering false.
    virtual bool ReadyForItem() { return true; }
    // The last steps of the thread body, after the loop (session end, finish event, live count).
    virtual void ThreadEnded() {}
    // Runs under the batch's lock as an item is handed to this worker.
    virtual void ItemTaken(TdvNode* item) { (void)item; }
    // Runs on the worker as it begins the item, outside the batch's lock.
    virtual void ItemStarted(TdvNode* item) { (void)item; }
    // Set by Abort; a converter that waits on something of its own may hand it on (the office start).
    const std::atomic<bool>& AbortFlag() const { return FAborted; }

private:
    void run();

    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FAborted{false};
    std::atomic<bool> FEnded{false};
    std::thread FThread;
};

using TdvWorkers = std::vector<std::unique_ptr<TdvConvertor>>;

// The converter base: one worker of a run, its target paths and the source rules.
class TdvConvertor : public TdvWorkBase
{
public:
    ~TdvConvertor() override;

    // Builds the workers of a run (TdvRun is the one caller), none started; each follows `options` and
    // tells `observer` (which may be null) of the items it begins and ends. `cls` defaults to the options'
    // converter class.
    static TdvWorkers CreateWorkers(const std::shared_ptr<const TdvRunOptions>& options, TdvBatch* batch,
                                    const QString& target, TdvItemObserver* observer,
                                    const TdvConvertorClass* cls = nullptr);
    void ProcessItem() override;

    virtual void Convert(TdvBatch* batch, TdvNode* item)
    {
        (void)batch;
        (void)item;
    }
    virtual QString AdjustTargetName(const QString& path) { return path; }
    virtual QString GetApplicationPath() { return QString(); }
    virtual bool HasMacros() { return true; }
    // The job file of this worker's own PDF printer: it holds the path its next PDF goes to. Empty when the
    // worker's office has none (the base has no office).
    virtual QString PdfPrinterJobFile() { return QString(); }
    // Whether the machine has a printer of this name: the store's list of installed printers (its Devices
    // key) where it has one; the product asks its office.
    virtual bool PrinterInstalled(const QString& name);
    // Ends the converter's office session on its own thread; the product overrides it.
    virtual void EndSession() {}
    // The settings that shape a target beyond its presentation (notes pages, image resolution): a PDF
    // written with others is not up to date.
    virtual QString OutputSettings() const { return QString(); }

    // The item's target, claimed in the batch the first time it is asked for (as the item is handed out):
    // no two items of a run write one file, and a file written earlier in the run is never replaced.
    QString BuildTargetPath(TdvBatch* batch, TdvNode* item);
    // Why the item's claimed target cannot be written (a folder that could not be made, a read-only file in
    // its place), or empty text.
    QString TargetProblem(const TdvNode* item) const;
    // Moves a finished file into the item's claimed target: replacing only the file the claim found, never
    // one that appeared or changed meanwhile. On failure `failure` says why and the written file stays.
    bool CommitTarget(const TdvNode* item, const QString& written, QString& failure);
    void AfterConvert(TdvBatch* batch, TdvNode* item, const QString& target);
    // A file of this worker's own below the temporary folder, for a conversion to write before it is
    // complete; the folder goes when the worker ends.
    QString WorkFile(const QString& name);

    // The printer route's store operations.
    void SetPdfPrinterTarget(const QString& target);
    QString PdfPrinterName();

    // Told on the worker's thread of each item it begins and ends; may be null.
    TdvItemObserver* FObserver = nullptr;
    // Called on the worker's own thread as its last step.
    TdvEvent FOnEnded;
    int FWorkerIndex = 0; // this worker's number in its run, from 0
    const TdvConvertorClass* FClass = nullptr;
    // The options of the run; a converter made outside a run has those of a run without a project.
    std::shared_ptr<const TdvRunOptions> FOptions = std::make_shared<const TdvRunOptions>();
    const TdvRunOptions& Options() const { return *FOptions; }
    // The run's office listeners and this worker's entry among them; none when the offices are local.
    std::shared_ptr<TdvServers> FServers;
    int FServerIndex = -1;
    // What earlier runs wrote to the target folder and which decks failed there; none when it cannot be had.
    std::shared_ptr<TdvRecord> FRecord;
    TdvUsage* FUsage = nullptr; // the run's usage record, when it keeps one
    // This worker's listener ("host:port"), or empty for an office on this machine.
    QString Server() const;

protected:
    void ThreadEnded() override;
    void ItemTaken(TdvNode* item) override;
    void ItemStarted(TdvNode* item) override;

private:
    void removeWorkFolder();
    void escaped(const QString& error);
    // Whether the PDF at path is the one this program wrote from the item's deck as the deck is now.
    bool upToDate(const QString& path, const TdvFileId& found, const TdvNode* item) const;
    void skipUpToDate(TdvBatch* batch, TdvNode* item, const QString& path);
    // Adds the item's outcome to the record.
    void recordOutcome(const TdvNode* item);

    QString FWorkFolder;
};

// The virtual PDF printer every office of this program defines, and the one the printer route prints to
// unless the option PDFWriter names another.
QString virtualPdfPrinter();

// Removes what killed runs of this user left behind: work folders and the part files they were moving into
// place. Done once per process, as the first run builds its workers.
void removeLeftoversOfDeadRuns();

// The most workers a run starts: four per core.
int maxThreadsCount();
