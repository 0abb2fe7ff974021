#include "conversion/dvOffice.h"

#include "base/dvFileUtils.h"
#include "conversion/dvOfficePipe.h"
#include "conversion/dvOfficeProcess.h"
#include "conversion/dvOfficeProfile.h"
#include "conversion/dvSandbox.h"
#include "conversion/dvUno.h"

#include <com/sun/star/awt/PrinterServer.hpp>
#include <com/sun/star/awt/Toolkit.hpp>
#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/frame/Desktop.hpp>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

constexpr int kQuitLimitMs = 15000;
// What the allocation hook loaded into every office says when an allocation fails.
constexpr char kOutOfMemory[] = "vellum-office-memory: an allocation failed";

// The office of each worker thread.
struct ThreadSlot
{
    std::shared_ptr<TdvOffice> office;
    ~ThreadSlot()
    {
        if (office)
            office->Kill();
    }
};
thread_local ThreadSlot slot;
thread_local QString threadServer;
thread_local QString threadWorkFolder;
thread_local int threadMemoryLimitMiB = 0;
thread_local int threadConnectLimit = 20;
thread_local const std::atomic<bool>* threadCancel = nullptr;

} // namespace

// ---- one office ------------------------------------------------------------------------------------------

void TdvOffice::Uno::release()
{
    connection.clear();
    desktop.clear();
    manager.clear();
    context.clear();
    bridge.clear();
}

TdvOffice::TdvOffice() : FUno(std::make_unique<Uno>()) {}

TdvOffice::~TdvOffice()
{
    // Only a kill may happen here: this can run on a thread that never used the bridge.
    Kill();
    reap(0);
    try {
        FUno->release();
    } catch (...) {
        // The bridge is gone with the process; dropping proxies cannot matter any more.
    }
    removeProfile();
}

QString TdvOffice::DeadMessage()
{
    return QStringLiteral("The office process ended unexpectedly");
}

QString TdvOffice::LostMessage() const
{
    if (IsRemote()) {
        const QString fault = FUno->fault->Reason();
        if (!fault.isEmpty())
            return QStringLiteral("The connection to the office at %1 was dropped: %2").arg(FServer, fault);
        return QStringLiteral("The connection to the office at %1 was lost").arg(FServer);
    }
    return DeadMessage();
}

QString TdvOffice::ProgramFolder() const
{
    return officeProgramFolder();
}

QStringList TdvOffice::PrinterNames() const
{
    QStringList names;
    try {
        const Reference<awt::XPrinterServer2> server = awt::PrinterServer::create(FUno->context);
        for (const OUString& name : server->getPrinterNames())
            names.append(toQString(name));
    } catch (const uno::Exception& e) {
        throw TdvError(Alive() ? toQString(e.Message) : LostMessage());
    }
    return names;
}

std::shared_ptr<TdvOffice> TdvOffice::Start(bool forStrangers)
{
    const QString templ = officeTemplateProfile();
    std::shared_ptr<TdvOffice> office(new TdvOffice());

    removeStaleProfiles();
    QTemporaryDir profile(officeProfileRoot() + QStringLiteral("/vellum-office-%1-XXXXXX").arg(getpid()));
    if (!profile.isValid())
        throw TdvError(QStringLiteral("No folder for the office profile in %1: %2")
                           .arg(officeProfileRoot(), profile.errorString()));
    profile.setAutoRemove(false);
    office->FProfile = profile.path();
    QString reason = copyTree(templ, office->FProfile);
    if (reason.isEmpty() && !makeFolder(office->FProfile + QStringLiteral("/tmp"), &reason) &&
        reason.isEmpty())
        reason = QStringLiteral("its tmp folder cannot be made");
    if (!reason.isEmpty()) {
        // Nothing of a copy that cannot start an office is kept.
        QDir(office->FProfile).removeRecursively();
        throw TdvError(
            QStringLiteral("The office profile cannot be copied to %1: %2").arg(office->FProfile, reason));
    }
    if (forStrangers && !addSettings(office->FProfile, noMacrosSettings()))
        throw TdvError(
            QStringLiteral("The office profile in %1 cannot be locked against macros").arg(office->FProfile));

    // The pipe's name stands in no command line: the office reads it from its profile, which only this user
    // can read, so no other program can learn it and take it first.
    QString pipe = QStringLiteral("vellum-%1-").arg(getpid());
    for (int i = 0; i < 2; ++i)
        pipe +=
            QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, QLatin1Char('0'));
    if (!addSettings(office->FProfile, acceptSetting(pipe)))
        throw TdvError(QStringLiteral("The office profile in %1 cannot be written").arg(office->FProfile));
    office->FPipe = pipe;

    OfficeStart how;
    how.TempDir = office->FProfile + QStringLiteral("/tmp");
    how.LogFile = office->FProfile + QStringLiteral("/office.log");
    how.Root = office->FProfile;
    how.PrintJob = office->PrintJobFile();
    if (!threadWorkFolder.isEmpty())
        how.Writable << threadWorkFolder;
    how.MemoryLimit = qint64(threadMemoryLimitMiB) << 20;
    how.Isolated = isolationWanted(&office->FNotIsolated);
    // A listener's office, too, is reached only through its pipe: the listener relays its clients there.
    how.Network = false;
    const auto arguments = [&] { return officeArguments(office->FProfile); };
    QString failure;
    office->FGroup = spawnOffice(arguments(), how, &failure);
    if (office->FGroup == 0) {
        isolationFailed(failure);
        office->FNotIsolated = failure;
        how.Isolated = false;
        office->FGroup = spawnOffice(arguments(), how);
    }
    office->FIsolated = how.Isolated;
    office->FWritable = how.Writable;
    office->FMemoryLimitMiB = threadMemoryLimitMiB;
    const QString log = how.LogFile;

    try {
        const Reference<uno::XComponentContext> local = localUnoContext();
        const Reference<bridge::XBridgeFactory2> bridges = bridge::BridgeFactory::create(local);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        Reference<connection::XConnection> connection;
        for (;;) {
            int code = 0;
            if (hasExited(office->FGroup, &code))
                throw TdvError(startFailure(QStringLiteral("The office ended during its start"), code, log));
            connection = connectOfficePipe(office->pipeFile(), office->FGroup);
            if (connection.is())
                break;
            if (std::chrono::steady_clock::now() > until)
                throw TdvError(QStringLiteral("The office did not accept a connection within %1 s")
                                   .arg(kStartLimitMs / 1000));
            if (threadCancel && *threadCancel)
                throw TdvError(QStringLiteral("The office start was cancelled"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const Reference<bridge::XBridge> link =
            bridges->createBridge(OUString(), OUString("urp"), connection, {});
        Uno& u = *office->FUno;
        u.bridge.set(link, UNO_QUERY_THROW);
        u.bridge->addEventListener(disposeFlagListener(u.disposed));
        u.context.set(link->getInstance(OUString("StarOffice.ComponentContext")), UNO_QUERY_THROW);
        u.manager = u.context->getServiceManager();
        u.desktop = frame::Desktop::create(u.context);
    } catch (const uno::Exception& e) {
        office->Kill();
        throw TdvError(QStringLiteral("The office could not be reached: ") + toQString(e.Message));
    } catch (...) {
        office->Kill();
        throw;
    }
    return office;
}

bool TdvOffice::OutOfMemory() const
{
    if (FMemoryLimitMiB <= 0 || IsRemote() || FProfile.isEmpty())
        return false;
    QFile log(FProfile + QStringLiteral("/office.log"));
    if (!log.open(QIODevice::ReadOnly))
        return false;
    log.seek(std::max<qint64>(0, log.size() - 65536));
    return log.readAll().contains(kOutOfMemory);
}

bool TdvOffice::CanWrite(const QString& path) const
{
    if (IsRemote())
        return false;
    if (!FIsolated)
        return true;
    for (const QString& folder : FWritable)
        if (path.startsWith(folder + QLatin1Char('/')))
            return true;
    return false;
}

QString TdvOffice::InstancePipe() const
{
    const QString pipe = officeInstancePipe(FProfile);
    return FIsolated ? FProfile + QStringLiteral("/tmp/") + QFileInfo(pipe).fileName() : pipe;
}

QString TdvOffice::pipeFile() const
{
    // An isolated office's /tmp is the tmp folder of its profile.
    const QString name = QFileInfo(officePipeFile(FPipe)).fileName();
    return FIsolated ? FProfile + QStringLiteral("/tmp/") + name : officePipeFile(FPipe);
}

bool TdvOffice::Alive() const
{
    if (*FUno->disposed || FKilled || FExited)
        return false;
    if (IsRemote())
        return true;
    std::lock_guard guard(FLock);
    if (FGroup <= 0)
        return false;
    if (hasExited(FGroup)) {
        FExited = true;
        return false;
    }
    return true;
}

void TdvOffice::Kill()
{
    std::lock_guard guard(FLock);
    FKilled = true;
    if (FGroup > 0)
        ::kill(-FGroup, SIGKILL);
    // A remote office cannot be killed from here: closing the socket ends every call waiting on it.
    if (IsRemote() && FUno->connection.is()) {
        try {
            FUno->connection->close();
        } catch (const uno::Exception&) {
            // Closed already by the other side: nothing waits on it any more.
        }
    }
}

void TdvOffice::reap(int boundMs)
{
    pid_t group;
    {
        std::lock_guard guard(FLock);
        group = FGroup;
    }
    if (group <= 0)
        return;
    endGroup(group, boundMs);
    std::lock_guard guard(FLock);
    FGroup = 0;
    FExited = true;
}

void TdvOffice::Terminate()
{
    if (IsRemote()) {
        // The listener's office serves others too: only this connection ends.
        try {
            if (FUno->bridge.is())
                FUno->bridge->dispose();
        } catch (const uno::Exception&) {
            // A bridge the listener dropped first is gone already, which is what this asks for.
        }
        Kill();
        try {
            FUno->release();
        } catch (const uno::Exception&) {
            // Proxies of a closed connection are dropped all the same.
        }
        return;
    }
    if (Alive()) {
        // A frozen office must not hold its worker: past the limit the group is killed, which also
        // releases the call below.
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::thread guard([&] {
            std::unique_lock l(m);
            if (!cv.wait_for(l, std::chrono::milliseconds(kQuitLimitMs), [&] { return done; }))
                Kill();
        });
        try {
            FUno->desktop->terminate();
        } catch (const uno::Exception&) {
            // The office often goes before its answer does.
        }
        {
            std::lock_guard l(m);
            done = true;
        }
        cv.notify_all();
        guard.join();
    }
    try {
        FUno->release();
    } catch (const uno::Exception&) {
        // Proxies of an office that has gone are dropped all the same.
    }
    reap(kQuitLimitMs);
    removeProfile();
}

namespace {

Reference<awt::XFontMappingUse> fontMapping(const TdvOffice::Uno& u)
{
    return Reference<awt::XFontMappingUse>(awt::Toolkit::create(u.context), UNO_QUERY_THROW);
}

} // namespace

void TdvOffice::StartFontTracking()
{
    try {
        fontMapping(*FUno)->startTrackingFontMappingUse();
    } catch (const uno::Exception& e) {
        // An office lost meanwhile (a listener killed) fails here like any other call, not past the worker.
        throw TdvError(toQString(e.Message));
    }
}

QList<TdvFontUse> TdvOffice::FinishFontTracking()
{
    QList<TdvFontUse> uses;
    try {
        for (const awt::XFontMappingUseItem& item : fontMapping(*FUno)->finishTrackingFontMappingUse()) {
            TdvFontUse use;
            use.Requested = toQString(item.originalFont);
            for (const OUString& font : item.usedFonts)
                use.Used.append(toQString(font));
            use.Count = item.count;
            uses.append(use);
        }
    } catch (const uno::Exception& e) {
        throw TdvError(toQString(e.Message));
    }
    return uses;
}

QString TdvOffice::PipeSocket() const
{
    return pipeFile();
}

QString officePipeFile(const QString& pipeName)
{
    // Where the office's pipe acceptor puts its socket, whatever the temporary folder.
    return QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(getuid()).arg(pipeName);
}

// The office's single-instance pipe, named after its profile's address: MD5 over the UTF-16 text,
// each byte in hexadecimal without leading zeros. An office that is killed leaves it behind.
QString officeInstancePipe(const QString& profile)
{
    const QString url = profileUrl(profile);
    QByteArray utf16;
    for (const QChar c : url) {
        utf16.append(char(c.unicode() & 0xff));
        utf16.append(char(c.unicode() >> 8));
    }
    QString name = QStringLiteral("SingleOfficeIPC_");
    for (const char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
        name += QString::number(quint8(byte), 16);
    return officePipeFile(name);
}

void TdvOffice::removeProfile()
{
    if (FGroup != 0)
        return;
    if (!FPipe.isEmpty()) {
        QFile::remove(pipeFile());
        FPipe.clear();
    }
    if (!FProfile.isEmpty())
        QFile::remove(InstancePipe());
    if (!FProfile.isEmpty()) {
        QDir(FProfile).removeRecursively();
        FProfile.clear();
    }
}

// ---- the worker's office ---------------------------------------------------------------------------------

std::shared_ptr<TdvOffice> threadOffice()
{
    return slot.office;
}

std::shared_ptr<TdvOffice> ensureThreadOffice()
{
    if (slot.office && slot.office->Alive())
        return slot.office;
    if (slot.office) {
        std::shared_ptr<TdvOffice> dead = std::move(slot.office);
        dead->Terminate(); // kills and reaps what is left of it
    }
    slot.office =
        threadServer.isEmpty() ? TdvOffice::Start() : TdvOffice::Connect(threadServer, threadConnectLimit);
    return slot.office;
}

void setThreadOfficeServer(const QString& server)
{
    threadServer = server;
}

void setThreadOfficeCancel(const std::atomic<bool>* cancel)
{
    threadCancel = cancel;
}

void setThreadOfficeWorkFolder(const QString& folder)
{
    threadWorkFolder = folder;
}

void setThreadOfficeMemoryLimit(int mib)
{
    threadMemoryLimitMiB = std::max(mib, 0);
}

void setThreadOfficeConnectLimit(int seconds)
{
    threadConnectLimit = std::max(seconds, 1);
}

void endThreadOffice()
{
    std::shared_ptr<TdvOffice> office = std::move(slot.office);
    if (office)
        office->Terminate();
}
