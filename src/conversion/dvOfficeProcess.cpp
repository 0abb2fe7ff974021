#include "conversion/dvOfficeProcess.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvSandbox.h"
#include "engine/dvProcesses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

QString officeProgramFolder()
{
    const QByteArray env = qgetenv("VELLUM_OFFICE_PROGRAM");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(VELLUM_OFFICE_PROGRAM);
}

QString officeProfileRoot()
{
    return QDir::tempPath();
}

namespace {

QString sofficePath()
{
    return officeProgramFolder() + QStringLiteral("/soffice");
}

// The allocation hook of the offices: installed beside the program (bin/../lib/vellum), or in the build tree.
QString memoryHook()
{
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QStringList candidates = {QFileInfo(program).absolutePath() +
                                        QStringLiteral("/../lib/vellum/libvellum-office-memory.so"),
                                    QString::fromLocal8Bit(VELLUM_MEMORY_HOOK_INSTALLED),
                                    QString::fromLocal8Bit(VELLUM_MEMORY_HOOK_BUILT)};
    for (const QString& path : candidates)
        if (QFileInfo::exists(path))
            return QDir::cleanPath(path);
    return QString();
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
            .arg(QString::fromLocal8Bit(sigdescr_np(code - 128)));
    if (code < 0)
        return QStringLiteral("it did not end within %1 s").arg(kStartLimitMs / 1000);
    return QStringLiteral("exit code %1").arg(code);
}

} // namespace

QString profileUrl(const QString& dir)
{
    return QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded);
}

// The flags every office of ours runs with: no window, no dialogs, no recovery, no lock check. The cache of
// the system's shared extensions is the profile's own too: an office of root's would otherwise fill the
// system's (/var/spool/libreoffice) with folders only root may read, and every other user's office would
// then fail to start.
QStringList officeArguments(const QString& profile)
{
    return {QStringLiteral("-env:UserInstallation=") + profileUrl(profile),
            QStringLiteral("-env:UNO_SHARED_PACKAGES_CACHE=") + profileUrl(profile) +
                QStringLiteral("/shared-extensions"),
            QStringLiteral("--headless"),
            QStringLiteral("--invisible"),
            QStringLiteral("--nocrashreport"),
            QStringLiteral("--nodefault"),
            QStringLiteral("--nologo"),
            QStringLiteral("--nofirststartwizard"),
            QStringLiteral("--norestore"),
            QStringLiteral("--nolockcheck")};
}

pid_t spawnOffice(const QStringList& arguments, const OfficeStart& how, QString* isolationFailure)
{
    static std::once_flag once;
    std::call_once(once, [] {
        adoptOrphans();
        // A write to the pipe of an office that has just died must fail with an error the bridge turns
        // into an exception, not end this program.
        signal(SIGPIPE, SIG_IGN);
    });

    TdvSpawn spawn;
    spawn.Program = sofficePath();
    spawn.Arguments = arguments;
    spawn.LogFile = how.LogFile; // what the office says goes into its profile folder, for a failed start
    spawn.MemoryLimit = how.MemoryLimit;
    spawn.Isolated = how.Isolated;
    spawn.Root = how.Root;
    spawn.Writable = how.Writable;
    spawn.Network = how.Network;
    if (how.Isolated) {
        spawn.Readable = userFontFolders();
        // An office installed outside /usr brings its own folder.
        const QString installation = QDir::cleanPath(officeProgramFolder() + QStringLiteral("/.."));
        if (!installation.startsWith(QLatin1String("/usr/")))
            spawn.Readable << installation;
    }

    // The office's own temporary files go into its profile folder, so they go with it, also after a kill.
    bool arenas = false;
    for (char** e = environ; *e; ++e) {
        arenas = arenas || strncmp(*e, "MALLOC_ARENA_MAX=", 17) == 0;
        if ((how.TempDir.isEmpty() || strncmp(*e, "TMPDIR=", 7) != 0) &&
            strncmp(*e, "VELLUM_PRINT_JOB=", 17) != 0 && strncmp(*e, "SHELL=", 6) != 0)
            spawn.Environment << QString::fromLocal8Bit(*e);
    }
    if (!how.TempDir.isEmpty())
        spawn.Environment << QStringLiteral("TMPDIR=") + how.TempDir;
    // The printer's command runs in the shell SHELL names, whatever the user's login shell is.
    spawn.Environment << QStringLiteral("SHELL=/bin/sh");
    if (!how.PrintJob.isEmpty())
        spawn.Environment << QStringLiteral("VELLUM_PRINT_JOB=") + how.PrintJob;
    // The office serves our calls on threads of a pool, and the C library gives each new thread a heap of
    // its own: freed memory then stays spread over many heaps, and the office grows by megabytes per deck.
    // Its document work runs under one lock anyway, so one heap costs no time and keeps it at the size of
    // an office that converts on its main thread.
    if (!arenas)
        spawn.Environment << QStringLiteral("MALLOC_ARENA_MAX=1");
    // Under a memory limit, the office's log tells when an allocation failed.
    const QString hook = memoryHook();
    if (how.MemoryLimit > 0 && !hook.isEmpty()) {
        QString preload = QStringLiteral("LD_PRELOAD=") + hook;
        for (qsizetype i = 0; i < spawn.Environment.size(); ++i)
            if (spawn.Environment[i].startsWith(QLatin1String("LD_PRELOAD=")))
                preload += QLatin1Char(' ') + spawn.Environment.takeAt(i).mid(11);
        spawn.Environment << preload;
        spawn.Readable << hook;
    }

    // The group is registered before any signal can find it unregistered.
    sigset_t all;
    sigfillset(&all);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &all, &old);
    pid_t pid = 0;
    try {
        pid = spawnProcess(spawn, isolationFailure);
        if (pid > 0)
            registerChildGroup(pid);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

bool hasExited(pid_t pid, int* code)
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

QString startFailure(const QString& what, int code, const QString& logFile)
{
    QString message = QStringLiteral("%1 (%2)").arg(what, exitMeaning(code));
    const QString said = officeSaid(logFile);
    if (!said.isEmpty())
        message += QStringLiteral(": ") + said;
    return message;
}

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
