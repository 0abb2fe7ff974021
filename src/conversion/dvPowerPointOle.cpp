#include "conversion/dvPowerPointOle.h"

#include "base/dvUsage.h"
#include "conversion/dvOffice.h"
#include "project/dvProject.h"

#include <QLocale>

#include <thread>

TdvPowerPointOle::TdvPowerPointOle() = default;

TdvPowerPointOle::~TdvPowerPointOle()
{
    // The worker has ended its session on its own thread; what is left here is an office whose worker
    // ended without Quit, and that is only killed.
    WaitFor();
    if (FOffice)
        FOffice->Kill();
    FWatch.reset();
    FPresentation.Clear();
    FApplication.Clear();
    FOffice.reset();
}

void TdvPowerPointOle::Create(TdvBatch* batch)
{
    TdvConvertor::Create(batch);
    // No automation call here: this runs on the thread that builds the run.
    FApplication.Clear();
    FPresentation.Clear();
}

void TdvPowerPointOle::StartApplication()
{
    const int resolution = Options().MaxImageResolution;
    setThreadExportSettings(TdvImagePolicy{resolution > 0, resolution}, Options().ExportComments);
    setThreadOfficeServer(Server());
    setThreadOfficeConnectLimit(Options().ConnectTimeout);
    setThreadOfficeCancel(&AbortFlag());
    FApplication = CreateAutomationObject(ProgIdPowerPoint);
    FOffice = threadOffice();
    watchForAbort(FOffice);
    armClock();
    try {
        const TdvVariant version = FApplication.Get(QStringLiteral("Version"));
        FVersion = PowerPointVersion(version);
        if (FUsage)
            FUsage->IncCounter(QStringLiteral("W"), FVersion, 1);
        FApplication.Put(QStringLiteral("Visible"), true);
        FApplication.Put(QStringLiteral("WindowState"), 2);
    } catch (const std::exception&) {
        // Version and window settings are not needed for the export.
    }
    try {
        FApplication.Put(QStringLiteral("DisplayAlerts"), 1);
    } catch (const std::exception&) {
    }
}

void TdvPowerPointOle::refreshSession()
{
    if (!FOffice || !FPresentation.IsNull())
        return;
    if (!FOffice->Alive()) {
        // A crashed, killed or timed-out office is replaced, not used for every later item.
        FApplication.Clear();
        FOffice.reset();
        return;
    }
    // A listener restarts its office by its own rule.
    const int restart = !FOffice->IsRemote() ? Options().OfficeRestart : 0;
    if (restart > 0 && FOffice->ItemsOpened >= restart) {
        // A long-running office grows; a fresh one after so many items keeps the worker lean.
        try {
            FApplication.Call(QStringLiteral("Quit"));
        } catch (const std::exception&) {
            // The session is dropped either way; the process ends with its last reference.
        }
        FApplication.Clear();
        FOffice.reset();
    }
}

void TdvPowerPointOle::OpenPresentation(const QString& path)
{
    refreshSession();
    if (FApplication.IsNull())
        StartApplication();
    else
        armClock();
    if (!FPresentation.IsNull())
        return;
    const bool readOnly = IsReadOnly();
    FPresentation =
        FApplication.Get(QStringLiteral("Presentations")).Call(QStringLiteral("Open"), {path, readOnly});
    startFontTracking();
}

void TdvPowerPointOle::ClosePresentation()
{
    if (!FPresentation.IsNull()) {
        try {
            FPresentation.Call(QStringLiteral("Close"));
        } catch (const std::exception&) {
            // The item's outcome is decided; a close that fails leaves the office to the next refresh.
        }
    }
    FPresentation.Clear();
}

void TdvPowerPointOle::startFontTracking()
{
    if (FFontsTracked || !FOffice || !FOffice->Alive())
        return;
    try {
        FOffice->StartFontTracking();
        FFontsTracked = true;
    } catch (const std::exception&) {
        // An office that cannot track fonts still converts; the item then says nothing of its fonts.
    }
}

QList<TdvFontUse> TdvPowerPointOle::finishFontTracking()
{
    if (!FFontsTracked)
        return {};
    FFontsTracked = false;
    if (!FOffice || !FOffice->Alive())
        return {};
    try {
        return FOffice->FinishFontTracking();
    } catch (const std::exception&) {
        return {};
    }
}

QString TdvPowerPointOle::leftOutNote()
{
    if (FPresentation.IsNull())
        return QString();
    try {
        return FPresentation.Get(QStringLiteral("PicturesLeftOut")).ToText();
    } catch (const std::exception&) {
        // The PDF is written; an office that cannot tell what it lacks leaves the note as it is.
        return QString();
    }
}

bool TdvPowerPointOle::IsReadOnly() const
{
    return Options().ReadOnly;
}

QString TdvPowerPointOle::GetApplicationPath()
{
    return FApplication.Get(QStringLiteral("Path")).ToText() + QStringLiteral("/soffice");
}

bool TdvPowerPointOle::HasMacros()
{
    // Applications before version 12 cannot tell; the base's answer (true) is the safe one.
    if (FVersion >= 12) {
        try {
            return FPresentation.Get(QStringLiteral("HasVBProject")).ToBool();
        } catch (const std::exception&) {
        }
    }
    return TdvConvertor::HasMacros();
}

void TdvPowerPointOle::EndSession()
{
    if (FWatch)
        FWatch->Disarm();
    // Dropped without Close: every item has closed its presentation already.
    FPresentation.Clear();
    if (!FApplication.IsNull()) {
        try {
            FApplication.Call(QStringLiteral("Quit"));
        } catch (const std::exception&) {
        }
    }
    FApplication.Clear();
    FOffice.reset();
    // Whatever the thread still holds (an office whose Quit failed) ends with it.
    UninitializeAutomation();
    FWatch.reset();
}

void TdvPowerPointOle::watchForAbort(const std::shared_ptr<TdvOffice>& office)
{
    std::lock_guard lock(FAbortLock);
    FAbortOffice = office;
    if (office && Aborted())
        office->Kill();
}

void TdvPowerPointOle::Abort()
{
    TdvConvertor::Abort();
    std::lock_guard lock(FAbortLock);
    if (const std::shared_ptr<TdvOffice> office = FAbortOffice.lock())
        office->Kill();
}

namespace {

// Failed tries in a row after which a listener counts as down for the whole run: its items then go to the
// others, or fail at once when every listener is down.
constexpr int kTriesBeforeDown = 3;
constexpr std::chrono::milliseconds kLongestPause{30000};

} // namespace

bool TdvPowerPointOle::connectSession(QString& failure)
{
    using namespace std::chrono;
    // A connection lost counts as a failed try: a listener that is going down may still take the next one.
    if (FOffice && FOffice->IsRemote() && !FOffice->Alive()) {
        FConnectFailure = FOffice->LostMessage();
        if (++FFailedTries >= kTriesBeforeDown)
            FServers->SetDown(FServerIndex, FConnectFailure);
        FRetryAt = steady_clock::now() + FBackoff;
        FBackoff = std::min(FBackoff * 2, kLongestPause);
    }
    refreshSession();
    if (!FApplication.IsNull())
        return true;
    if (steady_clock::now() < FRetryAt) {
        failure = FConnectFailure;
        return false;
    }
    try {
        // Connected first on its own, so that a failure reads as the connection's, not the application's.
        setThreadOfficeServer(Server());
        setThreadOfficeConnectLimit(Options().ConnectTimeout);
        setThreadOfficeCancel(&AbortFlag());
        watchForAbort(ensureThreadOffice());
        StartApplication();
        FFailedTries = 0;
        FBackoff = milliseconds(1000);
        FConnectFailure.clear();
        FServers->SetUp(FServerIndex);
        return true;
    } catch (const std::exception& e) {
        FApplication.Clear();
        FOffice.reset();
        FConnectFailure = errorMessage(e);
        failure = FConnectFailure;
        if (++FFailedTries >= kTriesBeforeDown)
            FServers->SetDown(FServerIndex, FConnectFailure);
        FRetryAt = steady_clock::now() + FBackoff;
        FBackoff = std::min(FBackoff * 2, kLongestPause);
        return false;
    }
}

bool TdvPowerPointOle::ReadyForItem()
{
    if (Server().isEmpty())
        return true;
    QString failure;
    if (connectSession(failure))
        return true;
    // With every listener down the items fail at once, each saying so, instead of waiting for ever.
    if (FServers->AllDown())
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return false;
}

void TdvPowerPointOle::BeginItem()
{
    FTimeout = std::max(Options().Timeout, 0);
    FClockPending = FTimeout > 0;
    if (FWatch)
        FWatch->Reset();
}

void TdvPowerPointOle::armClock()
{
    if (!FClockPending || !FOffice)
        return;
    FClockPending = false;
    if (!FWatch)
        FWatch = std::make_unique<TdvOfficeWatch>();
    FDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(FTimeout);
    FClockRunning = true;
    FWatch->Arm(FOffice, std::chrono::seconds(FTimeout));
}

void TdvPowerPointOle::EndItem()
{
    FClockPending = false;
    FClockRunning = false;
    if (FWatch)
        FWatch->Disarm();
}

bool TdvPowerPointOle::WaitOutsideOffice(const std::function<bool()>& ready, int seconds)
{
    using namespace std::chrono;
    const bool stopped = FClockRunning && FWatch && !FWatch->Fired();
    const auto left = duration_cast<milliseconds>(FDeadline - steady_clock::now());
    if (stopped)
        FWatch->Disarm();
    const auto until = steady_clock::now() + std::chrono::seconds(seconds);
    bool done = ready();
    while (!done && steady_clock::now() < until) {
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(milliseconds(100), until - steady_clock::now()));
        done = ready();
    }
    if (stopped) {
        const milliseconds rest = std::max(left, milliseconds(0));
        FDeadline = steady_clock::now() + rest;
        FWatch->Arm(FOffice, rest);
    }
    return done;
}

QString TdvPowerPointOle::PdfPrinterJobFile()
{
    return FOffice && !FOffice->IsRemote() ? FOffice->PrintJobFile() : QString();
}

bool TdvPowerPointOle::PrinterInstalled(const QString& name)
{
    if (!FOffice || FOffice->IsRemote() || !FOffice->Alive())
        return TdvConvertor::PrinterInstalled(name);
    return FOffice->PrinterNames().contains(name);
}

bool TdvPowerPointOle::TimedOut() const
{
    return FWatch && FWatch->Fired();
}

QString TdvPowerPointOle::TimeoutMessage() const
{
    return QStringLiteral("Conversion timed out after %1 s").arg(FTimeout);
}

bool TdvPowerPointOle::OutOfMemory() const
{
    return FOffice && FOffice->OutOfMemory();
}

QString TdvPowerPointOle::OutOfMemoryMessage() const
{
    return QStringLiteral("The presentation needs more than %1 MiB to convert")
        .arg(FOffice ? FOffice->MemoryLimitMiB() : 0);
}

void TdvPowerPointOle::DropOffice()
{
    if (FOffice)
        FOffice->Kill();
}

int PowerPointVersion(const TdvVariant& value)
{
    int result = 0;
    const TdvVariant& v = value.Deref();
    bool converted = false;
    if (v.GetKind() == TdvVariant::Kind::Int) {
        result = v.ToInt();
        converted = true;
    } else if (v.GetKind() == TdvVariant::Kind::Text) {
        const double number = QLocale::c().toDouble(v.ToText().trimmed(), &converted);
        if (converted && number > -2147483648.0 && number < 2147483648.0)
            result = int(number);
        else
            converted = false;
    }
    if (!converted) {
        // Where the number does not convert (another decimal separator), drop the first "." and read the
        // rest as an integer: "16.0" gives 160, taken back to 16 below.
        QString text;
        try {
            text = v.ToText();
        } catch (const std::exception&) {
        }
        const int dot = int(text.indexOf(QLatin1Char('.')));
        if (dot >= 0)
            text.remove(dot, 1);
        bool ok = false;
        result = text.trimmed().toInt(&ok);
        if (!ok)
            result = 0;
    }
    if (result > 77)
        result /= 10;
    return result;
}

QString damagedPresentationMessage()
{
    return QStringLiteral("The presentation could not be opened: it is damaged or protected by a password");
}

QString officeSuiteUrl(const QString& path)
{
    if (isWebAddress(path))
        return path;
    // The name's own bytes, escaped: Qt's encoding would replace those that are not UTF-8.
    return fileUrl(absolutePath(path));
}

namespace {

TdvVariant propertyValue(const TdvVariant& manager, const QString& name, const TdvVariant& value)
{
    TdvVariant property = manager.Call(QStringLiteral("Bridge_GetStruct"),
                                       {QStringLiteral("com.sun.star.beans.PropertyValue")});
    property.Put(QStringLiteral("Name"), name);
    property.Put(QStringLiteral("Value"), value);
    return property;
}

} // namespace

QString pdfFilterOf(const std::function<bool(const QString&)>& supportsService)
{
    // A text-document filter cannot store a presentation: the family decides.
    static const std::pair<const char*, const char*> families[] = {
        {"com.sun.star.presentation.PresentationDocument", "impress_pdf_Export"},
        {"com.sun.star.drawing.DrawingDocument", "draw_pdf_Export"},
        {"com.sun.star.sheet.SpreadsheetDocument", "calc_pdf_Export"},
        {"com.sun.star.text.TextDocument", "writer_pdf_Export"},
    };
    for (const auto& [service, filter] : families)
        if (supportsService(QString::fromLatin1(service)))
            return QString::fromLatin1(filter);
    throw TdvAutomationError(QStringLiteral("The document is of no kind that can be stored as PDF"));
}

namespace {

thread_local TdvImagePolicy threadImages;
thread_local bool threadComments = false;

} // namespace

void setThreadExportSettings(const TdvImagePolicy& images, bool comments)
{
    threadImages = images;
    threadComments = comments;
}

TdvImagePolicy imagePolicy()
{
    return threadImages;
}

bool exportComments()
{
    return threadComments;
}

bool ConvertWithOfficeSuite(const QString& source, const QString& target)
{
    const QString sourceUrl = officeSuiteUrl(source);
    const QString targetUrl = officeSuiteUrl(target);
    bool result = false;
    TdvVariant document;
    try {
        const TdvVariant manager = CreateAutomationObject(ProgIdOfficeManager);
        const TdvVariant desktop =
            manager.Call(QStringLiteral("createInstance"), {QStringLiteral("com.sun.star.frame.Desktop")});
        // The same safe load as the presentation route: hidden, no macros, no linked content.
        auto loadArguments = std::make_shared<TdvVariant>(
            std::vector<TdvVariant>{propertyValue(manager, QStringLiteral("Hidden"), true),
                                    propertyValue(manager, QStringLiteral("MacroExecutionMode"), 0),
                                    propertyValue(manager, QStringLiteral("UpdateDocMode"), 0)});
        document = desktop.Call(QStringLiteral("loadComponentFromURL"),
                                {sourceUrl, QStringLiteral("_blank"), 0, TdvVariant::Ref(loadArguments)});
        if (document.IsNull())
            return false;
        const TdvVariant filter =
            propertyValue(manager, QStringLiteral("FilterName"), pdfFilterOf([&](const QString& service) {
                              return document.Call(QStringLiteral("supportsService"), {service}).ToBool();
                          }));
        // The same image and comment settings as the presentation route.
        const TdvImagePolicy images = imagePolicy();
        std::vector<TdvVariant> data{
            propertyValue(manager, QStringLiteral("ExportNotes"), exportComments()),
            propertyValue(manager, QStringLiteral("ReduceImageResolution"), images.Reduce)};
        if (images.Reduce)
            data.push_back(
                propertyValue(manager, QStringLiteral("MaxImageResolution"), images.MaxResolution));
        const TdvVariant filterData = propertyValue(manager, QStringLiteral("FilterData"), TdvVariant(data));
        auto storeArguments = std::make_shared<TdvVariant>(std::vector<TdvVariant>{filter, filterData});
        document.Call(QStringLiteral("storeToURL"), {targetUrl, TdvVariant::Ref(storeArguments)});
        result = true;
    } catch (const std::exception&) {
        // The suite is a fallback: its failure only lets the next route run.
    }
    // Closed after a failed store too, so a document the suite could not store does not stay open in the
    // worker's office for the rest of the run.
    if (!document.IsNull()) {
        try {
            document.Call(QStringLiteral("close"), {true});
        } catch (const std::exception&) {
        }
    }
    return result;
}
