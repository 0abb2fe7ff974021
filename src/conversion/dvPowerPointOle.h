#pragma once

#include "conversion/dvAutomation.h"
#include "engine/dvConvertor.h"

#include <QList>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class TdvOffice;
class TdvOfficeWatch;
struct TdvFontUse;

// The converter that owns one presentation application session per worker thread. It converts nothing by
// itself: the product class adds the export. The session starts at the worker's first item, on the worker's
// thread, and ends there too (EndSession); the destructor runs on the owner's thread and only kills an
// office that is still alive.
class TdvPowerPointOle : public TdvConvertor
{
public:
    TdvPowerPointOle();
    ~TdvPowerPointOle() override;

    void Create(TdvBatch* batch) override;
    void StartApplication();
    void OpenPresentation(const QString& path);
    void ClosePresentation();
    bool IsReadOnly() const;
    QString GetApplicationPath() override;
    bool HasMacros() override;
    void EndSession() override;
    // Also ends the worker's office at once (from any thread), so that the call in progress returns.
    void Abort() override;
    // The job file of this worker's office's PDF printer; none for an office on a listener.
    QString PdfPrinterJobFile() override;
    // The printers this worker's office can print to; without an office here, the store's list.
    bool PrinterInstalled(const QString& name) override;

    TdvVariant FApplication;
    TdvVariant FPresentation;
    int FVersion = 0;

protected:
    // A worker on an office listener connects before it takes an item, and while its listener cannot be
    // reached leaves the items to the others, trying again after a growing pause.
    bool ReadyForItem() override;
    // Connects this worker's session to its listener unless the pause after a failed try is still on.
    // Answers false when there is no session; `failure` then says why.
    bool connectSession(QString& failure);

    // Office supervision around one item: the item's clock starts at its first call on an office that is
    // up and, past the `Timeout` option, kills that office.
    void BeginItem();
    void EndItem();
    bool TimedOut() const;
    QString TimeoutMessage() const;
    // Waits until `ready` holds or `seconds` have passed, looking every 100 ms, for something outside the
    // office (a printer's file): the item's clock stands still meanwhile, so that the office's time and this
    // wait are bounded each on their own. Answers `ready`'s last word.
    bool WaitOutsideOffice(const std::function<bool()>& ready, int seconds);
    // The item's office could not get memory within its limit; killing it makes the next item start afresh.
    bool OutOfMemory() const;
    QString OutOfMemoryMessage() const;
    void DropOffice();

    // The fonts the worker's office set for one item: tracking starts once the presentation is loaded (the
    // load lays out text, such as a master's, that the PDF never shows), or before a fallback route loads
    // it, and finishes once every route has run, so one item's fonts never count for the next.
    void startFontTracking();
    QList<TdvFontUse> finishFontTracking();
    // What the office left out of the open presentation's PDF (pictures it could not draw), for the item's
    // note; empty when nothing, or when the office cannot tell.
    QString leftOutNote();

private:
    void armClock();
    void refreshSession();
    // The office an abort must end; one that arrives after the abort is ended as it arrives.
    void watchForAbort(const std::shared_ptr<TdvOffice>& office);

    std::shared_ptr<TdvOffice> FOffice; // the real office behind FApplication, if there is one
    std::unique_ptr<TdvOfficeWatch> FWatch;
    std::mutex FAbortLock;
    std::weak_ptr<TdvOffice> FAbortOffice;
    bool FClockPending = false;
    bool FFontsTracked = false;
    bool FClockRunning = false;
    std::chrono::steady_clock::time_point FDeadline;
    int FTimeout = 0;
    // Reaching the listener: when to try again, the pause after the next failure, failed tries in a row.
    std::chrono::steady_clock::time_point FRetryAt;
    std::chrono::milliseconds FBackoff{1000};
    int FFailedTries = 0;
    QString FConnectFailure;
};

// The major version in an application's version text: "16.0" gives 16, "12" gives 12, "7.4" gives 7, a text
// that is no number gives 0.
int PowerPointVersion(const TdvVariant& value);

// The image settings of every PDF export, from the option MaxImageResolution. The office's own default
// resamples every image above 300 ppi on every page it appears on, which costs most of the export's time and
// gives larger files, not smaller: by default images go out as the deck holds them (JPEGs unchanged).
struct TdvImagePolicy
{
    bool Reduce = false;
    int MaxResolution = 0; // ppi, when Reduce
};
TdvImagePolicy imagePolicy();

// Whether every PDF export carries the presentations' review comments as annotations: only when the option
// ExportComments asks. The export filter's own default, whenever any setting is passed to it, is to carry
// them, and a reviewer's remark must not reach whoever gets the PDF.
bool exportComments();

// What the calling worker's run asks of every PDF its office writes (the two above); a worker sets them
// from its run's options as its session starts. A thread that never sets them keeps images and leaves
// comments out.
void setThreadExportSettings(const TdvImagePolicy& images, bool comments);

// Converts a document to PDF through the office suite's automation bridge on the calling worker's office.
// True when the suite stored the PDF; every failure answers false.
bool ConvertWithOfficeSuite(const QString& source, const QString& target);

// The failure of a deck that no route can open.
QString damagedPresentationMessage();

// The address the office suite gets for a path: a file URL with every special character encoded ("#", "%",
// blanks and letters beyond ASCII percent-encoded as UTF-8); a web address is kept as it is.
QString officeSuiteUrl(const QString& path);

// The PDF export filter of a loaded document's family, asked through its service names; fails for a document
// of no family that can be stored as PDF.
QString pdfFilterOf(const std::function<bool(const QString&)>& supportsService);
