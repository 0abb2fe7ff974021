#include "conversion/dvVellum.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvFetch.h"
#include "conversion/dvFonts.h"
#include "conversion/dvOffice.h"
#include "conversion/dvOfficeErrors.h"
#include "conversion/dvPpConstants.h"
#include "conversion/dvSandbox.h"
#include "engine/dvPrintJob.h"
#include "project/dvProject.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <memory>
#include <mutex>

namespace {

bool written(const QString& path)
{
    return isRegularFile(path) && fileSize(path) > 0;
}

bool isPdf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}
} // namespace

bool TdvVellum::IsNotes() const
{
    return Options().Notes;
}

QString TdvVellum::OutputSettings() const
{
    return QStringLiteral("notes=%1 ppi=%2").arg(IsNotes() ? 1 : 0).arg(Options().MaxImageResolution);
}

void TdvVellum::throwIfTimedOut() const
{
    if (TimedOut())
        throw TdvError(TimeoutMessage());
    // An aborted item tries no further route: its office was ended on purpose.
    if (Aborted())
        throw TdvError(TdvOffice::DeadMessage());
    if (outOfMemory())
        throw TdvError(QStringLiteral("out of memory"));
}

bool TdvVellum::outOfMemory() const
{
    return OutOfMemory();
}

void TdvVellum::exportPresentation(const QString& out)
{
    if (IsNotes()) {
        auto range = std::make_shared<TdvVariant>(std::shared_ptr<TdvAutoObject>());
        FPresentation.Call(QStringLiteral("ExportAsFixedFormat"),
                           {out, ppFixedFormatTypePDF, ppFixedFormatIntentPrint, 0,
                            ppPrintHandoutVerticalFirst, ppPrintOutputNotesPages, 0, TdvVariant::Ref(range),
                            ppPrintAll, QString(), false, true, true, true, true});
    } else {
        FPresentation.Call(QStringLiteral("SaveAs"), {out, ppSaveAsPDF});
    }
    // A store that reports success but leaves no file is a failure, not a success.
    if (!isRegularFile(out) || fileSize(out) <= 0)
        throw TdvError(QStringLiteral("The office wrote no PDF file"));
}

namespace {

// Puts the printer a presentation had back when the printer route ends, however it ends, and empties the
// job file of the office's own printer, so that no later print can write to this item's file.
class TdvPrinterRestore
{
public:
    TdvPrinterRestore(const TdvVariant& presentation, QString previous, QString jobFile)
        : FPresentation(presentation), FPrevious(std::move(previous)), FJobFile(std::move(jobFile))
    {
    }
    ~TdvPrinterRestore()
    {
        if (!FJobFile.isEmpty())
            QFile::remove(FJobFile);
        try {
            FPresentation.Get(QStringLiteral("PrintOptions")).Put(QStringLiteral("ActivePrinter"), FPrevious);
        } catch (const std::exception&) {
            // Setting the printer back is a side operation: it never changes the item's outcome.
        }
    }
    TdvPrinterRestore(const TdvPrinterRestore&) = delete;
    TdvPrinterRestore& operator=(const TdvPrinterRestore&) = delete;

private:
    const TdvVariant& FPresentation;
    QString FPrevious;
    QString FJobFile;
};

// One print job of this program at a time, from choosing the printer until its file is found: a queue's
// files are told apart by their names and times. Taken before the batch's lock, never while holding it.
std::mutex gPrinting;

// The longest wait for a printer's file when the option Timeout sets no limit: a printer that never
// writes must not hold the run for ever.
constexpr int kLongestPrinterWait = 300;

} // namespace

void TdvVellum::printPresentation(TdvBatch* batch, const QString& source, const QString& out,
                                  const QString& exportMessage, QString& note)
{
    // The printer writes its file on the machine of the office; a lost connection is told as it is.
    if (!Server().isEmpty() && !(threadOffice() && threadOffice()->Alive()))
        throw TdvError(exportMessage);
    if (!Server().isEmpty())
        throw TdvError(
            QStringLiteral("%1 (printing was not tried: it needs an office on this machine, and the "
                           "office at %2 is remote)")
                .arg(exportMessage, Server()));
    try {
        note = printHere(batch, source, out);
    } catch (const std::exception& e) {
        // The printer is the last resort: why the export failed stays in view.
        throw TdvError(QStringLiteral("%1, after the export failed: %2").arg(errorMessage(e), exportMessage));
    }
}

QString TdvVellum::printHere(TdvBatch* batch, const QString& source, const QString& out)
{
    const std::lock_guard printing(gPrinting);
    QString printer;
    std::unique_ptr<TdvPrintedFile> printed;
    {
        // One worker at a time chooses and uses the printer.
        TdvBatchLock lock(batch);
        const TdvPrinterRestore restore(
            FPresentation, FApplication.Get(QStringLiteral("ActivePrinter")).ToText(), PdfPrinterJobFile());
        SetPdfPrinterTarget(out);
        printer = PdfPrinterName();
        printed = std::make_unique<TdvPrintedFile>(printer, out, source);
        printed->Begin();
        FPresentation.Get(QStringLiteral("PrintOptions")).Put(QStringLiteral("ActivePrinter"), printer);
        FPresentation.Call(QStringLiteral("PrintOut"), {TdvVariant::Missing()});
    }
    // A printer may write its file after the office has handed the job over (a queue does): it gets the
    // item's limit of its own to do so.
    const int limit = Options().Timeout > 0 ? Options().Timeout : kLongestPrinterWait;
    if (!WaitOutsideOffice([&] { return printed->Poll(); }, limit))
        throw TdvError(printed->Failure(limit));
    if (!isPdf(out))
        throw TdvError(QStringLiteral("The printer %1 wrote a file that is not a PDF").arg(printer));
    const QString lacks = QStringLiteral("no links, no outline, pages of paper size");
    const QString wanted = Options().PDFWriter;
    if (!wanted.isEmpty() && wanted != printer)
        return QStringLiteral("The printer %1 is not available; printed on %2 instead: %3")
            .arg(wanted, printer, lacks);
    return QStringLiteral("Printed on %1: %2").arg(printer, lacks);
}

QString TdvVellum::prepareItem(TdvNode* item, QString& out)
{
    const QString& source = item->Source;
    // The office writes into this worker's own folder; the finished file is moved into place, so a failed,
    // stopped or killed item leaves nothing beside the target and an existing target stays until then.
    if (QString problem = TargetProblem(item); !problem.isEmpty())
        return problem;
    // The office answers an unreadable source with "type detection failed" at best: the system says why.
    if (!isWebAddress(source)) {
        const QString reason = readProblem(source);
        if (!reason.isEmpty())
            return unreadablePresentationMessage(source, reason);
    }
    // A worker on a listener that cannot be reached says why; with every listener down, naming them all.
    if (!Server().isEmpty()) {
        QString failure;
        if (!connectSession(failure))
            return FServers->AllDown() ? FServers->DownMessage() : failure;
    }
    // Every route opens an empty file as a new, blank presentation: that would be no conversion of it.
    if (!isWebAddress(source) && isRegularFile(source) && fileSize(source) == 0) {
        item->DeckFault = true;
        return damagedPresentationMessage();
    }
    try {
        out = WorkFile(QStringLiteral("item-%1.pdf").arg(item->Index));
        QFile::remove(out);
        // An office started for this item writes into the work folder, and nowhere else of the user's.
        setThreadOfficeWorkFolder(extractFilePath(out).chopped(1));
        const int workers = std::min(Options().ThreadsCount, maxThreadsCount());
        setThreadOfficeMemoryLimit(officeMemoryLimitMiB(Options().OfficeMemoryLimit, workers));
    } catch (const std::exception& e) {
        return errorMessage(e);
    }
    return QString();
}

bool TdvVellum::runRoutes(TdvBatch* batch, const QString& source, const QString& out, QString& failure,
                          QString& note)
{
    bool done = false;
    try {
        OpenPresentation(source);
        try {
            exportPresentation(out);
            done = true;
            note = leftOutNote();
        } catch (const std::exception& exportFailure) {
            const QString exportMessage = errorMessage(exportFailure);
            throwIfTimedOut();
            startFontTracking();
            if (ConvertWithOfficeSuite(source, out) && written(out)) {
                done = true;
            } else {
                throwIfTimedOut();
                printPresentation(batch, source, out, exportMessage, note);
                done = true;
            }
        }
    } catch (const std::exception& mainFailure) {
        failure = errorMessage(mainFailure);
        note.clear();
        // A printer that left a part of a file behind must not pass it off as the suite's PDF.
        QFile::remove(out);
        // A timed-out or aborted item is not loaded again by another route.
        if (!TimedOut() && !Aborted() && !outOfMemory()) {
            // The fallback's own load is tracked too: without it a deck the route converts would say nothing.
            startFontTracking();
            done = ConvertWithOfficeSuite(source, out) && written(out);
        }
    }
    if (!done && TimedOut())
        failure = TimeoutMessage();
    // An office that ran out of memory may still have written a PDF without what it could not hold: the item
    // fails, and the office is replaced before the next one.
    if (outOfMemory()) {
        done = false;
        failure = OutOfMemoryMessage();
        DropOffice();
    }
    return done;
}

namespace {

// What the person should know of the office beyond the item's result: said once per run.
void tellOfficeNotices(TdvBatch* batch, TdvNode* item)
{
    const std::shared_ptr<TdvOffice> office = threadOffice();
    if (!office || office->IsRemote() || office->Isolated() ||
        !batch->FirstTelling(QStringLiteral("isolation")))
        return;
    const QString note = notIsolatedNote(office->NotIsolatedReason());
    item->Note = item->Note.isEmpty() ? note : item->Note + QStringLiteral("; ") + note;
}

} // namespace

void TdvVellum::reportOutcome(TdvBatch* batch, TdvNode* item, const QString& target, const QString& out,
                              bool done, QString failure, const QString& note, const QString& fonts)
{
    if (!done) {
        // The user knows the target, not the work file that stood in for it.
        if (!out.isEmpty())
            failure.replace(officeSuiteUrl(out), officeSuiteUrl(target)).replace(out, target);
        item->Result = failure;
        item->State = isFailed;
        batch->AddFailure(failure);
        tellOfficeNotices(batch, item);
        return;
    }
    // How the PDF came about, where it is not the export: the person sees what it lacks.
    item->Note = note;
    AfterConvert(batch, item, target);
    if (!fonts.isEmpty()) {
        item->StandInFonts = true;
        item->Note = item->Note.isEmpty() ? fonts : fonts + QStringLiteral("; ") + item->Note;
    }
    tellOfficeNotices(batch, item);
    item->Result = target;
    item->State = isDone;
    batch->AddSuccess();
}

QString TdvVellum::fetchItem(TdvNode* item, QString& deck)
{
    // The office never reaches the network: the deck is fetched here, into the worker's own folder, with
    // its name's extension, which helps the office tell its format.
    const QString suffix = QFileInfo(QUrl(item->Source).fileName()).suffix();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
    try {
        deck = WorkFile(QStringLiteral("item-%1.download%2")
                            .arg(item->Index)
                            .arg(plain.match(suffix).hasMatch() ? QLatin1Char('.') + suffix : QString()));
        fetchDeck(item->Source, deck, kMaxDownloadBytes, std::max(Options().Timeout, 0));
    } catch (const std::exception& e) {
        deck = item->Source;
        return errorMessage(e);
    }
    if (fileSize(deck) == 0)
        return damagedPresentationMessage();
    return QString();
}

void TdvVellum::Convert(TdvBatch* batch, TdvNode* item)
{
    const QString target = BuildTargetPath(batch, item);
    if (target.isEmpty())
        return;
    QString out;
    QString note;
    QString failure = prepareItem(item, out);
    QString deck = item->Source;
    if (failure.isEmpty() && isWebAddress(item->Source))
        failure = fetchItem(item, deck);
    bool done = false;
    QString fonts;
    if (failure.isEmpty()) {
        BeginItem();
        done = runRoutes(batch, deck, out, failure, note);
        // Finished whatever the outcome, so that this item's fonts never count for the next one.
        const QList<TdvFontUse> uses = finishFontTracking();
        if (done)
            fonts = standInFontsNote(uses, pdfFontNames(out));
        // The office answered and refused the deck, the deck took too long or needed more memory than the
        // limit: it would again. An office that could not start, or died, says nothing about the deck. (Fonts
        // the machine lacks are the machine's: a strict failure for them below is no fault of the deck.)
        const auto office = threadOffice();
        item->DeckFault = !done && (TimedOut() || outOfMemory() || (office && office->Alive()));
        ClosePresentation();
        EndItem();
        const TdvMissingFonts rule = Options().MissingFonts;
        if (rule == TdvMissingFonts::Ignore)
            fonts.clear();
        if (done && !fonts.isEmpty() && rule == TdvMissingFonts::Fail) {
            // The strict user gets no PDF that does not look like the deck.
            done = false;
            failure = fonts;
        }
        // An aborted item puts nothing in place and tells no outcome: it is not done.
        if (Aborted() || (done && !CommitTarget(item, out, failure)))
            done = false;
        QFile::remove(out);
    }
    if (deck != item->Source) {
        QFile::remove(deck);
        failure.replace(officeSuiteUrl(deck), item->Source).replace(deck, item->Source);
    }
    if (!done && Aborted())
        return;
    reportOutcome(batch, item, target, out, done, failure, note, fonts);
}
