#include "conversion/dvVellum.h"

#include "conversion/dvOfficeErrors.h"
#include "conversion/dvPpConstants.h"
#include "discovery/dvFileUtils.h"
#include "discovery/dvPlaces.h"
#include "project/dvProject.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

bool written(const QString& path)
{
    return isRegularFile(path) && fileSize(path) > 0;
}
} // namespace

bool TdvVellum::IsNotes() const
{
    return gProject && gProject->Notes();
}

void TdvVellum::throwIfTimedOut() const
{
    if (TimedOut())
        throw TdvError(TimeoutMessage());
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

void TdvVellum::printPresentation(TdvBatch* batch, const QString& out, const QString& exportMessage)
{
    bool written = false;
    {
        // One worker at a time chooses and uses the printer.
        TdvBatchLock lock(batch);
        const QString previous = FApplication.Get(QStringLiteral("ActivePrinter")).ToText();
        auto restore = [&] {
            try {
                FPresentation.Get(QStringLiteral("PrintOptions"))
                    .Put(QStringLiteral("ActivePrinter"), previous);
            } catch (const std::exception&) {
                // Setting the printer back is a side operation: it never changes the item's outcome.
            }
        };
        try {
            SetPdfPrinterTarget(out);
            const QString printer = PdfPrinterName();
            FPresentation.Get(QStringLiteral("PrintOptions")).Put(QStringLiteral("ActivePrinter"), printer);
            FPresentation.Call(QStringLiteral("PrintOut"), {TdvVariant::Missing()});
            // No waiting for the printer: the file is there now or the route failed.
            written = fileExists(out);
        } catch (...) {
            restore();
            throw;
        }
        restore();
    }
    if (!written)
        throw TdvError(exportMessage);
}

void TdvVellum::Convert(TdvBatch* batch, TdvNode* item)
{
    const QString target = BuildTargetPath(batch, item);
    if (target.isEmpty())
        return;
    const QString& source = item->Source;
    // The office writes into this worker's own folder; the finished file is moved into place, so a failed,
    // stopped or killed item leaves nothing beside the target and an existing target stays until then.
    QString failure = TargetProblem(item);
    // The office answers an unreadable source with "type detection failed" at best: the system says why.
    if (failure.isEmpty() && !isWebAddress(source)) {
        const QString reason = readProblem(source);
        if (!reason.isEmpty())
            failure = unreadablePresentationMessage(source, reason);
    }
    // Every route opens an empty file as a new, blank presentation: that would be no conversion of it.
    if (failure.isEmpty() && !isWebAddress(source) && isRegularFile(source) && fileSize(source) == 0)
        failure = damagedPresentationMessage();
    QString out;
    if (failure.isEmpty()) {
        try {
            out = WorkFile(QStringLiteral("item-%1.pdf").arg(item->Index));
            QFile::remove(out);
        } catch (const std::exception& e) {
            failure = errorMessage(e);
        }
    }

    bool done = false;
    if (failure.isEmpty()) {
        BeginItem();
        try {
            OpenPresentation(source);
            try {
                exportPresentation(out);
                done = true;
            } catch (const std::exception& exportFailure) {
                const QString exportMessage = errorMessage(exportFailure);
                throwIfTimedOut();
                if (ConvertWithOfficeSuite(source, out) && written(out)) {
                    done = true;
                } else {
                    throwIfTimedOut();
                    printPresentation(batch, out, exportMessage);
                    done = true;
                }
            }
        } catch (const std::exception& mainFailure) {
            failure = errorMessage(mainFailure);
            // A timed-out item is not loaded again by another route.
            if (!TimedOut() && ConvertWithOfficeSuite(source, out) && written(out))
                done = true;
        }
        if (!done && TimedOut())
            failure = TimeoutMessage();
        ClosePresentation();
        EndItem();
        if (done && !CommitTarget(item, out, failure))
            done = false;
        QFile::remove(out);
    }

    if (!done) {
        // The user knows the target, not the work file that stood in for it.
        if (!out.isEmpty())
            failure.replace(officeSuiteUrl(out), officeSuiteUrl(target)).replace(out, target);
        item->Result = failure;
        item->State = isFailed;
        batch->AddFailure(failure);
        return;
    }
    AfterConvert(batch, item, target);
    item->Result = target;
    item->State = isDone;
    batch->AddSuccess();
}
