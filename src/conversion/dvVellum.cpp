#include "conversion/dvVellum.h"

#include "discovery/dvFileUtils.h"
#include "project/dvProject.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
std::atomic<int> partCounter{0};

// PowerPoint's constants for the notes-page export.
constexpr int ppSaveAsPDF = 32;
constexpr int ppFixedFormatTypePDF = 2;
constexpr int ppFixedFormatIntentPrint = 2;
constexpr int ppPrintHandoutVerticalFirst = 1;
constexpr int ppPrintOutputNotesPages = 5;
constexpr int ppPrintAll = 1;
} // namespace

TdvPartFile::TdvPartFile(const QString& target) : FTarget(target)
{
    FPath = extractFilePath(target) + QStringLiteral(".vellum-%1-%2.part").arg(getpid()).arg(++partCounter);
    removeFile(FPath);
}

TdvPartFile::~TdvPartFile()
{
    if (!FCommitted)
        removeFile(FPath);
}

bool TdvPartFile::Written() const
{
    return isRegularFile(FPath) && fileSize(FPath) > 0;
}

bool TdvPartFile::Commit(QString& failure)
{
    if (!Written()) {
        failure = QStringLiteral("No PDF file was written");
        return false;
    }
    // rename() replaces an existing target in one step: readers see the old PDF or the new one.
    if (::rename(encodeFileName(FPath).constData(), encodeFileName(FTarget).constData()) != 0) {
        failure = QStringLiteral("The PDF file cannot be written to %1: %2")
                      .arg(FTarget, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    FCommitted = true;
    return true;
}

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
    // An existing target stays until a route has written its successor completely.
    TdvPartFile part(target);
    const QString& out = part.Path();
    const QString& source = item->Source;

    BeginItem();
    bool done = false;
    QString failure;
    try {
        OpenPresentation(source);
        try {
            exportPresentation(out);
            done = true;
        } catch (const std::exception& exportFailure) {
            const QString exportMessage = errorMessage(exportFailure);
            throwIfTimedOut();
            if (ConvertWithOfficeSuite(source, out) && part.Written()) {
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
        if (!TimedOut() && ConvertWithOfficeSuite(source, out) && part.Written())
            done = true;
    }
    if (done && !part.Commit(failure))
        done = false;

    if (!done) {
        if (TimedOut())
            failure = TimeoutMessage();
        // The user knows the target, not the part file that stood in for it.
        failure.replace(officeSuiteUrl(out), officeSuiteUrl(target)).replace(out, target);
        item->Result = failure;
        item->State = 2;
        batch->AddFailure(failure);
        ClosePresentation();
        EndItem();
        return;
    }
    try {
        ClosePresentation();
        EndItem();
        AfterConvert(batch, item, target);
        item->Result = target;
        item->State = 1;
        batch->AddSuccess();
    } catch (const std::exception&) {
    }
}
