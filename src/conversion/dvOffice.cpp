#include "conversion/dvOffice.h"

#include "conversion/dvUno.h"
#include "discovery/dvPlaces.h"
#include "engine/dvProcesses.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

constexpr int kStartLimitMs = 60000;
constexpr int kQuitLimitMs = 15000;
// Bumped when the template profile's settings change, so an old template is not reused.
constexpr int kProfileFormat = 3;

} // namespace

QString officeProgramFolder()
{
    const QByteArray env = qgetenv("VELLUM_OFFICE_PROGRAM");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(VELLUM_OFFICE_PROGRAM);
}

namespace {

QString sofficePath()
{
    return officeProgramFolder() + QStringLiteral("/soffice");
}

QString profileUrl(const QString& dir)
{
    return QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded);
}

// The flags every office of ours runs with: no window, no dialogs, no recovery, no lock check.
QStringList officeArguments(const QString& profile)
{
    return {QStringLiteral("-env:UserInstallation=") + profileUrl(profile),
            QStringLiteral("--headless"),
            QStringLiteral("--invisible"),
            QStringLiteral("--nocrashreport"),
            QStringLiteral("--nodefault"),
            QStringLiteral("--nologo"),
            QStringLiteral("--nofirststartwizard"),
            QStringLiteral("--norestore"),
            QStringLiteral("--nolockcheck")};
}

// Starts the office launcher in a session (and so a process group) of its own, registered for the
// program's exit and signal handlers. Orphaned members of the group come back to this process (subreaper),
// so that every one of them is reaped here. The child gets default signal handling back (no SIGPIPE ignored).
pid_t spawnOffice(const QStringList& arguments, const QString& tempDir, const QString& logFile)
{
    static std::once_flag once;
    std::call_once(once, [] {
        adoptOrphans();
        // A write to the pipe of an office that has just died must fail with an error the bridge turns
        // into an exception, not end this program.
        signal(SIGPIPE, SIG_IGN);
    });

    const QByteArray exe = QFile::encodeName(sofficePath());
    std::vector<QByteArray> storage;
    storage.push_back(exe);
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // What the office says goes into its profile folder, where a failed start can quote it.
    const QByteArray log = QFile::encodeName(logFile);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.isEmpty() ? "/dev/null" : log.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The caller's current folder may be one the office cannot enter (its start script then gives up).
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The office's own temporary files go into its profile folder, so they go with it, also after a kill.
    std::vector<QByteArray> envStorage;
    std::vector<char*> envp;
    bool arenas = false;
    for (char** e = environ; *e; ++e) {
        arenas = arenas || strncmp(*e, "MALLOC_ARENA_MAX=", 17) == 0;
        if (tempDir.isEmpty() || strncmp(*e, "TMPDIR=", 7) != 0)
            envp.push_back(*e);
    }
    envStorage.reserve(2);
    if (!tempDir.isEmpty()) {
        envStorage.push_back("TMPDIR=" + QFile::encodeName(tempDir));
        envp.push_back(envStorage.back().data());
    }
    // The office serves our calls on threads of a pool, and the C library gives each new thread a heap of
    // its own: freed memory then stays spread over many heaps, and the office grows by megabytes per deck.
    // Its document work runs under one lock anyway, so one heap costs no time and keeps it at the size of
    // an office that converts on its main thread.
    if (!arenas) {
        envStorage.push_back("MALLOC_ARENA_MAX=1");
        envp.push_back(envStorage.back().data());
    }
    envp.push_back(nullptr);

    // The group is registered before any signal can find it unregistered.
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &all, &old);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, exe.constData(), &actions, &attributes, argv.data(), envp.data());
    if (rc == 0)
        registerChildGroup(pid);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        throw TdvError(QStringLiteral("The office program %1 could not be started: %2")
                           .arg(sofficePath(), QString::fromLocal8Bit(strerror(rc))));
    return pid;
}

bool hasExited(pid_t pid, int* code = nullptr)
{
    siginfo_t info = {};
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    if (info.si_pid != pid)
        return false;
    if (code)
        *code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    return true;
}

// Waits up to boundMs for the launcher to end, then kills the group, then reaps every member. Answers the
// launcher's exit code (128 + signal when a signal ended it), or -1 when it had to be killed.
int endGroup(pid_t group, int boundMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    int code = -1;
    while (!hasExited(group, &code) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The launcher is not reaped yet, so the group id cannot have been given to anyone else.
    ::kill(-group, SIGKILL);
    const auto reapUntil = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(-group, &status, WNOHANG);
        if (got < 0 && errno == ECHILD)
            break;
        if (got > 0)
            continue;
        if (std::chrono::steady_clock::now() > reapUntil)
            break; // a member stuck in the kernel; it is reaped whenever it ends, never waited for here
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    unregisterChildGroup(group);
    return code;
}

// The last lines an office printed, for the message of a failed start.
QString officeSaid(const QString& logFile)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    file.seek(std::max<qint64>(0, file.size() - 2000));
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    while (lines.size() > 3)
        lines.removeFirst();
    return lines.join(QLatin1Char(' ')).simplified();
}

// How an office's end reads to a person: its exit code, or the signal that ended it.
QString exitMeaning(int code)
{
    if (code > 128 && code < 128 + 65)
        return QStringLiteral("ended by signal %1, %2")
            .arg(code - 128)
            .arg(QString::fromLocal8Bit(strsignal(code - 128)));
    if (code < 0)
        return QStringLiteral("it did not end within %1 s").arg(kStartLimitMs / 1000);
    return QStringLiteral("exit code %1").arg(code);
}

QString startFailure(const QString& what, int code, const QString& logFile)
{
    QString message = QStringLiteral("%1 (%2)").arg(what, exitMeaning(code));
    const QString said = officeSaid(logFile);
    if (!said.isEmpty())
        message += QStringLiteral(": ") + said;
    return message;
}

bool copyTree(const QString& from, const QString& to)
{
    QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(path);
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

const char kSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    // No lock files beside the user's documents, also after a crash.
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    // Load VBA code, so that a macro deck shows its libraries; load settings never run macros.
    "<item oor:path=\"/org.openoffice.Office.Impress/Filter/Import/VBA\"><prop oor:name=\"Load\" "
    "oor:op=\"fuse\">"
    "<value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"MacroSecurityLevel\""
    " oor:op=\"fuse\"><value>3</value></prop></item>\n"
    // Nothing to recover in a converter's office: saving recovery data only costs time.
    "<item oor:path=\"/org.openoffice.Office.Recovery/AutoSave\"><prop oor:name=\"Enabled\" oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Recovery/RecoveryInfo\"><prop oor:name=\"Enabled\" "
    "oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    // Per-document work a hidden conversion never shows: the recent-documents list with a thumbnail rendered
    // from the first slide of each deck, and the slide sorter's previews in the view each load makes.
    "<item oor:path=\"/org.openoffice.Office.Common/History\"><prop oor:name=\"PickListSize\" "
    "oor:op=\"fuse\"><value>0</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/History\"><prop oor:name=\"RecentDocsThumbnail\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Impress/MultiPaneGUI/SlideSorterBar/Visible\"><prop "
    "oor:name=\"ImpressView\" oor:op=\"fuse\"><value>false</value></prop></item>\n";

// An office whose profile has not yet seen its version takes itself for freshly upgraded, and runs its
// graphics self-tests on every start: seconds of CPU per office before the first deck. The template records
// the office's version as seen, so no copy of it runs them.
QByteArray seenVersionSetting()
{
    QFile settings(officeProgramFolder() + QStringLiteral("/../share/registry/main.xcd"));
    if (!settings.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression pattern(
        QStringLiteral("<prop oor:name=\"ooSetupVersion\">\\s*<value>([0-9.]+)</value>"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(settings.readAll()));
    if (!match.hasMatch())
        return {};
    return "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
           "oor:op=\"fuse\"><value>" +
           match.captured(1).toLatin1() + "</value></prop></item>\n";
}

QString templateKey()
{
    // A new office build gets a new template: a profile made by another version may not fit it.
    const QSettings version(officeProgramFolder() + QStringLiteral("/versionrc"), QSettings::IniFormat);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(officeProgramFolder().toUtf8());
    hash.addData(version.value(QStringLiteral("Version/buildid")).toString().toUtf8());
    hash.addData(QByteArray::number(kProfileFormat));
    return QString::fromLatin1(hash.result().toHex().left(12));
}

std::atomic<int> pipeCounter{0};

// Added to the profile copy of an office that strangers reach: no macro runs, whatever a document or its
// location says.
const char kNoMacros[] =
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value></prop></item>\n";

bool forbidMacros(const QString& profile)
{
    QFile settings(profile + QStringLiteral("/user/registrymodifications.xcu"));
    if (!settings.open(QIODevice::ReadWrite))
        return false;
    QByteArray text = settings.readAll();
    const qsizetype end = text.lastIndexOf("</oor:items>");
    if (end < 0)
        return false;
    text.insert(end, kNoMacros);
    return settings.seek(0) && settings.write(text) == text.size();
}

// Profile copies of programs that were killed (a signal ends the program without its clean-up) are
// removed by the next run: each copy's name carries the process id of its program.
// Offices of this user's programs that died without ending them (a kill, a crash): recognised by a profile
// copy of ours in their command line whose owner is gone. Another program's office, or another user's, is
// never touched.
void killOrphanedOffices()
{
    const QByteArray prefix = "-env:UserInstallation=" +
                              profileUrl(officeProfileRoot() + QStringLiteral("/vellum-office-")).toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        struct stat st;
        const QByteArray dir = "/proc/" + entry.toLatin1();
        if (!number || pid == getpid() || ::stat(dir.constData(), &st) != 0 || st.st_uid != getuid())
            continue;
        QFile cmdline(QString::fromLatin1(dir) + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& argument : cmdline.readAll().split('\0')) {
            if (!argument.startsWith(prefix))
                continue;
            const pid_t owner = pid_t(argument.mid(prefix.size()).split('-').value(0).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner)) {
                const pid_t group = ::getpgid(pid);
                if (group > 1 && group != ::getpgrp())
                    ::kill(-group, SIGKILL);
                ::kill(pid, SIGKILL);
            }
            break;
        }
    }
}

void removeStaleProfiles()
{
    static std::once_flag once;
    std::call_once(once, [] {
        killOrphanedOffices();
        const QStringList copies =
            QDir(officeProfileRoot())
                .entryList({QStringLiteral("vellum-office-*-*")}, QDir::Dirs | QDir::NoSymLinks);
        for (const QString& name : copies) {
            bool number = false;
            const pid_t owner = pid_t(name.section(QLatin1Char('-'), 2, 2).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner)) {
                const QString dir = officeProfileRoot() + QLatin1Char('/') + name;
                QFile::remove(officeInstancePipe(dir));
                QDir(dir).removeRecursively();
            }
        }
        const QString pipePrefix = QFileInfo(officePipeFile(QStringLiteral("vellum-"))).fileName();
        const QStringList pipes =
            QDir(QStringLiteral("/tmp")).entryList({pipePrefix + QLatin1Char('*')}, QDir::System);
        for (const QString& name : pipes) {
            bool number = false;
            const pid_t owner =
                pid_t(name.mid(pipePrefix.size()).section(QLatin1Char('-'), 0, 0).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner))
                QFile::remove(QStringLiteral("/tmp/") + name);
        }
    });
}

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
thread_local int threadConnectLimit = 20;

} // namespace

// ---- template profile ------------------------------------------------------------------------------------

QString officeProfileRoot()
{
    return QDir::tempPath();
}

QString officeTemplateProfile()
{
    static std::mutex lock;
    std::lock_guard guard(lock);

    const QString cache = userFolder(QStandardPaths::CacheLocation);
    const QString name = QStringLiteral("office-profile-") + templateKey();
    const QString dir = cache + QLatin1Char('/') + name;
    const QString ready = dir + QStringLiteral("/.vellum-ready");
    if (QFileInfo::exists(ready))
        return dir;

    // Other copies of the program may make the same template at the same time.
    QLockFile fileLock(dir + QStringLiteral(".lock"));
    fileLock.setStaleLockTime(2 * kStartLimitMs);
    if (!fileLock.tryLock(kStartLimitMs + 10000)) {
        if (fileLock.error() == QLockFile::LockFailedError)
            throw TdvError(QStringLiteral("The office profile %1 is locked by another process").arg(dir));
        throw TdvError(
            QStringLiteral("The office profile cannot be made in %1: %2")
                .arg(cache, systemMessage(fileLock.error() == QLockFile::PermissionError ? EACCES : EIO)));
    }
    if (QFileInfo::exists(ready))
        return dir;

    QTemporaryDir staging(dir + QStringLiteral("-XXXXXX"));
    if (!staging.isValid() || !QDir().mkpath(staging.path() + QStringLiteral("/user")))
        throw TdvError(
            QStringLiteral("The office profile cannot be made in %1: %2").arg(cache, staging.errorString()));
    QFile settings(staging.path() + QStringLiteral("/user/registrymodifications.xcu"));
    const QByteArray text = kSettings + seenVersionSetting() + "</oor:items>\n";
    if (!settings.open(QIODevice::WriteOnly) || settings.write(text) != text.size())
        throw TdvError(QStringLiteral("The office profile cannot be written in %1").arg(staging.path()));
    settings.close();

    // The first start of a new profile fills it in; the copies then start at once.
    QStringList arguments = officeArguments(staging.path());
    arguments << QStringLiteral("--terminate_after_init");
    const QString log = staging.path() + QStringLiteral("/office.log");
    const pid_t pid = spawnOffice(arguments, QString(), log);
    const int code = endGroup(pid, kStartLimitMs);
    if (code != 0)
        throw TdvError(startFailure(
            QStringLiteral("The office could not make its profile in %1").arg(staging.path()), code, log));
    QFile::remove(log);

    QFile marker(staging.path() + QStringLiteral("/.vellum-ready"));
    if (!marker.open(QIODevice::WriteOnly))
        throw TdvError(QStringLiteral("The office profile cannot be written in %1: %2")
                           .arg(staging.path(), marker.errorString()));
    marker.close();
    QDir(dir).removeRecursively();
    if (!QDir().rename(staging.path(), dir))
        throw TdvError(QStringLiteral("The office profile cannot be moved to %1").arg(dir));
    staging.setAutoRemove(false);
    return dir;
}

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

std::shared_ptr<TdvOffice> TdvOffice::Start(bool forStrangers)
{
    const QString templ = officeTemplateProfile();
    std::shared_ptr<TdvOffice> office(new TdvOffice());

    removeStaleProfiles();
    QTemporaryDir profile(officeProfileRoot() + QStringLiteral("/vellum-office-%1-XXXXXX").arg(getpid()));
    if (!profile.isValid())
        throw TdvError(QStringLiteral("No folder for the office profile in %1").arg(officeProfileRoot()));
    profile.setAutoRemove(false);
    office->FProfile = profile.path();
    if (!copyTree(templ, office->FProfile) || !QDir().mkpath(office->FProfile + QStringLiteral("/tmp")))
        throw TdvError(QStringLiteral("The office profile cannot be copied to %1").arg(office->FProfile));
    if (forStrangers && !forbidMacros(office->FProfile))
        throw TdvError(
            QStringLiteral("The office profile in %1 cannot be locked against macros").arg(office->FProfile));

    const QString pipe = QStringLiteral("vellum-%1-%2-%3")
                             .arg(getpid())
                             .arg(++pipeCounter)
                             .arg(QDateTime::currentMSecsSinceEpoch() % 1000000);
    office->FPipe = pipe;
    QStringList arguments = officeArguments(office->FProfile);
    arguments << QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe);
    const QString log = office->FProfile + QStringLiteral("/office.log");
    office->FGroup = spawnOffice(arguments, office->FProfile + QStringLiteral("/tmp"), log);

    try {
        const Reference<uno::XComponentContext> local = localUnoContext();
        const Reference<connection::XConnector> connector = connection::Connector::create(local);
        const Reference<bridge::XBridgeFactory2> bridges = bridge::BridgeFactory::create(local);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        Reference<connection::XConnection> connection;
        for (;;) {
            int code = 0;
            if (hasExited(office->FGroup, &code))
                throw TdvError(startFailure(QStringLiteral("The office ended during its start"), code, log));
            try {
                connection = connector->connect(toOUString(QStringLiteral("pipe,name=") + pipe));
                break;
            } catch (const connection::NoConnectException&) {
            }
            if (std::chrono::steady_clock::now() > until)
                throw TdvError(QStringLiteral("The office did not accept a connection within %1 s")
                                   .arg(kStartLimitMs / 1000));
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
        } catch (...) {
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
        } catch (...) {
        }
        Kill();
        try {
            FUno->release();
        } catch (...) {
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
    } catch (...) {
    }
    reap(kQuitLimitMs);
    removeProfile();
}

QString TdvOffice::PipeSocket() const
{
    return officePipeFile(FPipe);
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
        QFile::remove(officePipeFile(FPipe));
        FPipe.clear();
    }
    if (!FProfile.isEmpty())
        QFile::remove(officeInstancePipe(FProfile));
    if (!FProfile.isEmpty()) {
        QDir(FProfile).removeRecursively();
        FProfile.clear();
    }
}

// ---- item watch -----------------------------------------------------------------------------------------

TdvOfficeWatch::~TdvOfficeWatch()
{
    {
        std::lock_guard guard(FLock);
        FStop = true;
        FOffice.reset();
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TdvOfficeWatch::Arm(std::shared_ptr<TdvOffice> office, int seconds)
{
    {
        std::lock_guard guard(FLock);
        FOffice = std::move(office);
        FDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        FArmed = true;
        if (!FThread.joinable())
            FThread = std::thread([this] { run(); });
    }
    FWake.notify_all();
}

void TdvOfficeWatch::Disarm()
{
    std::lock_guard guard(FLock);
    FArmed = false;
    FOffice.reset();
}

void TdvOfficeWatch::run()
{
    std::unique_lock guard(FLock);
    while (!FStop) {
        if (!FArmed) {
            FWake.wait(guard);
            continue;
        }
        if (FWake.wait_until(guard, FDeadline) == std::cv_status::timeout && FArmed &&
            std::chrono::steady_clock::now() >= FDeadline) {
            FArmed = false;
            FFired = true;
            if (std::shared_ptr<TdvOffice> office = FOffice.lock())
                office->Kill();
            FOffice.reset();
        }
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
