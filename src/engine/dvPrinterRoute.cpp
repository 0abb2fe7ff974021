// The printer route's printers: the platform's own PDF printer, and the registry entries of the printers
// that take their output path from it.
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

static const QString kPdfWriterKey = QStringLiteral("Software\\Adobe\\Acrobat PDFWriter");
static const QString kDistillerKey = QStringLiteral("Software\\Adobe\\Acrobat Distiller\\PrinterJobControl");
static const QString kFreePdfKey = QStringLiteral("Software\\shbox\\FreePdfXp");
static const QString kDevicesKey = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices");

QString virtualPdfPrinter()
{
    return QStringLiteral("Vellum PDF");
}

void TdvConvertor::SetPdfPrinterTarget(const QString& target)
{
    // This platform's own printer first: its job file belongs to this worker's office alone, so no other
    // worker or copy of the program can redirect its output. Written whole, so the printer never reads half
    // a path.
    try {
        const QString job = PdfPrinterJobFile();
        if (!job.isEmpty()) {
            QSaveFile file(job);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(encodeFileName(target));
                file.commit();
            }
        }
    } catch (...) {
        // The route checks for its file afterwards; a job file that cannot be written shows there.
    }
    try {
        const QString writer = Options().PDFWriter;
        if (writer == QLatin1String("FreePDF XP")) {
            TdvRegistry machine(TdvRegistry::LocalMachine);
            if (machine.OpenKey(kFreePdfKey, false)) {
                machine.WriteString(QStringLiteral("PDFFilename"), target);
                machine.CloseKey();
            }
            return;
        }
        TdvRegistry user(TdvRegistry::CurrentUser);
        if (user.OpenKey(kPdfWriterKey, false)) {
            // Another copy of the program may still be printing through the same driver: wait until the
            // driver has taken its file name, but never longer than the item may take.
            QElapsedTimer waited;
            waited.start();
            const qint64 limit = qint64(Options().Timeout) * 1000;
            while (Options().MultiInstance && !user.ReadString(QStringLiteral("PDFFileName")).isEmpty()) {
                if (limit > 0 && waited.elapsed() >= limit)
                    break;
                QThread::msleep(limit > 0 ? std::min<qint64>(1000, limit - waited.elapsed()) : 1000);
            }
            user.WriteString(QStringLiteral("PDFFileName"), target);
            user.WriteString(QStringLiteral("bExecViewer"), QStringLiteral("0"));
            user.CloseKey();
        }
        if (user.OpenKey(kDistillerKey, true)) {
            user.WriteString(GetApplicationPath(), target);
            user.WriteString(QStringLiteral("C:\\Windows\\splwow64.exe"), target);
            user.CloseKey();
        }
    } catch (...) {
        // The route checks for its file afterwards; a store that cannot be written shows there.
    }
}

bool TdvConvertor::PrinterInstalled(const QString& name)
{
    TdvRegistry user(TdvRegistry::CurrentUser);
    // Without a list nothing can be said against the name.
    if (!user.OpenKey(kDevicesKey, false))
        return true;
    return !user.ReadString(name).isEmpty();
}

QString TdvConvertor::PdfPrinterName()
{
    QString wanted = Options().PDFWriter;
    if (wanted.isEmpty())
        return virtualPdfPrinter();
    // A printer the machine does not have would print nowhere: the office's own PDF printer takes the job.
    try {
        if (!PrinterInstalled(wanted))
            return virtualPdfPrinter();
    } catch (const std::exception&) {
        // The printers could not be listed: the one named is tried, and a job that prints nowhere fails
        // the item with its own message.
    }
    return wanted;
}
