#include "engine/dvConvertor.h"

#include "discovery/dvFileUtils.h"
#include "project/dvError.h"
#include "engine/dvRegistry.h"
#include "project/dvProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

std::atomic<int> LiveConverters{0};

int maxThreadsCount()
{
    return 4 * std::max(QThread::idealThreadCount(), 1);
}

void runOnGuiThread(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
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
        FItem = FBatch->NextItem();
        if (!FItem) {
            FTerminated = true;
            break;
        }
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
}

TdvConvertor* TdvConvertor::CreateChain(TdvBatch* batch, const QString& target, TdvItemProc callback,
                                        void* context, const TdvConvertorClass* cls)
{
    QString folder = TdvBatch::NormalizePath(target);
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    batch->FTargetFolder = folder;
    if (!cls)
        cls = gProject ? gProject->ConvertorClass : nullptr;
    if (!cls)
        throw TdvError(QStringLiteral("No converter class is set"));
    // Every worker is a thread with an office process of its own: more than four per core only thrash.
    const int count = std::min(gProject ? gProject->ThreadsCount() : 1, maxThreadsCount());
    TdvConvertor* head = cls->NewInstance();
    head->FClass = cls;
    head->Create(batch, count, callback, context);
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

void TdvConvertor::SetOnFinish(const TdvEvent& event)
{
    for (TdvConvertor* c = this; c; c = c->FNext.get())
        c->FOnFinish = event;
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

void TdvConvertor::ProcessItem()
{
    Convert(FBatch, FItem);
    if (FOnDone)
        FOnDone(FOnDoneContext, FBatch, FItem);
}

void TdvConvertor::ThreadEnded()
{
    try {
        EndSession();
    } catch (...) {
        // Ending a session is a side operation; the worker ends regardless.
    }
    if (FOnFinish)
        runOnGuiThread(FOnFinish);
    TdvBatchLock lock(FBatch);
    --LiveConverters;
}

// ---- target paths and source rules -----------------------------------------------------------------------

QString TdvConvertor::BuildTargetPath(TdvBatch* batch, TdvNode* item)
{
    const bool web = isWebAddress(item->Source);
    QString name;
    if (web) {
        // A web address keeps everything after its scheme's colon, made into one file name.
        name = item->Source.mid(item->Source.indexOf(QLatin1Char(':')) + 1);
        name.replace(QLatin1Char(':'), QLatin1Char('_'));
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
    } else if (gProject->KeepTargetSubdirs() && !batch->FSourceFolder.isEmpty() &&
               item->Source.startsWith(batch->FSourceFolder)) {
        name = item->Source.mid(batch->FSourceFolder.size());
    } else {
        name = extractFileName(item->Source);
    }
    QString path = batch->FTargetFolder + name;
    const QString ext = gProject->TargetExt;
    if (!ext.isEmpty()) {
        const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        if (dot >= nameStart)
            path.truncate(dot);
        path += ext;
    }
    path = AdjustTargetName(path);

    const QString folder = extractFilePath(path);
    if (!folder.isEmpty() && !isDirectory(folder)) {
        makePath(folder);
        if (!isDirectory(folder))
            batch->AddFailure(QStringLiteral("CreateDir Failed: ") + folder);
    }
    if (fileExists(path)) {
        switch (gProject->IsOverwrite()) {
        case TdvOverwrite::Skip:
            item->State = 1;
            return QString();
        case TdvOverwrite::Overwrite:
            break;
        case TdvOverwrite::Rename:
            path = folder + QLatin1Char('-') + gProject->ShortName + QLatin1Char('-') + extractFileName(path);
            break;
        }
    }
    return path;
}

static bool isReadOnly(const QByteArray& path)
{
    struct stat st;
    return stat(path.constData(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void TdvConvertor::AfterConvert(TdvBatch* batch, TdvNode* item, const QString& target)
{
    (void)batch;
    const QByteArray source = encodeFileName(item->Source);
    const QByteArray targetName = encodeFileName(target);
    if (gProject->KeepFileTime()) {
        struct stat st;
        if (stat(source.constData(), &st) == 0) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            utimensat(AT_FDCWD, targetName.constData(), times, 0);
        }
    }
    // The source is touched only once its target is really there.
    if (!isRegularFile(target) || fileSize(target) <= 0)
        return;
    if (gProject->DeleteSource()) {
        if (!isReadOnly(source))
            ::unlink(source.constData());
    }
    const QString suffix = gProject->RenameSource();
    if (!suffix.isEmpty()) {
        const QByteArray renamed = encodeFileName(item->Source + suffix);
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, renamed.constData(), RENAME_NOREPLACE);
    }
}

void TdvConvertor::DeleteTarget(const QString& path)
{
    removeFile(path);
}

// ---- printer route ---------------------------------------------------------------------------------------

static const QString kPdfWriterKey = QStringLiteral("Software\\Adobe\\Acrobat PDFWriter");
static const QString kDistillerKey = QStringLiteral("Software\\Adobe\\Acrobat Distiller\\PrinterJobControl");
static const QString kFreePdfKey = QStringLiteral("Software\\shbox\\FreePdfXp");
static const QString kDevicesKey = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices");

void TdvConvertor::SetPdfPrinterTarget(const QString& target)
{
    try {
        const QString writer = gProject->PDFWriter();
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
            const qint64 limit = qint64(gProject->Timeout()) * 1000;
            while (gProject->MultiInstance() && !user.ReadString(QStringLiteral("PDFFileName")).isEmpty()) {
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

QString TdvConvertor::PdfPrinterName()
{
    QString name = gProject->PDFWriter();
    if (name.isEmpty())
        name = QStringLiteral("Acrobat PDFWriter");
    try {
        TdvRegistry user(TdvRegistry::CurrentUser);
        if (user.OpenKey(kDevicesKey, false)) {
            if (user.ReadString(name).isEmpty()) {
                name = QStringLiteral("Acrobat PDFWriter");
                if (user.ReadString(name).isEmpty())
                    name = QStringLiteral("Adobe PDF");
            }
            user.CloseKey();
        }
    } catch (...) {
    }
    return name;
}
