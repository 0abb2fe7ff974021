#include "engine/dvProcesses.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kSlots = 1024;
std::atomic<pid_t> groups[kSlots];

// The guardian: a small process of our own that holds the reading end of a pipe whose only writing end is
// in this program. When this program ends in any way (a kill, a crash), the pipe reads as ended and the
// guardian kills the office groups it was told about.
std::atomic<int> guardianPipe{-1};
std::atomic<pid_t> guardianPid{0};

void onTerminate(int sig)
{
    killAllChildGroups();
    _exit(128 + sig);
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void guardianMain(int readEnd)
{
    static pid_t known[kSlots];
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
        ::signal(sig, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    // The forked child has one thread: the process-wide mask is its own.
    sigprocmask(SIG_SETMASK, &none, nullptr); // NOLINT(concurrency-mt-unsafe)
    // Out of the program's process group and session, so that what ends those does not end the guardian
    // before it has done its work.
    ::setsid();
    prctl(PR_SET_NAME, "vellum-guard", 0, 0, 0);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::dup2(readEnd, 0);
    // Nothing else of the program stays open here (sockets to offices, the writing end of the pipe).
    ::close_range(3, ~0U, 0);
    for (;;) {
        qint32 record = 0;
        const ssize_t got = ::read(0, &record, sizeof record);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != ssize_t(sizeof record))
            break;
        if (record > 0) {
            for (pid_t& slot : known)
                if (slot == 0) {
                    slot = record;
                    break;
                }
        } else {
            for (pid_t& slot : known)
                if (slot == -record)
                    slot = 0;
        }
    }
    for (const pid_t group : known)
        if (group > 0)
            ::kill(-group, SIGKILL);
    _exit(0);
}

void startGuardian()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid == 0)
        guardianMain(fds[0]);
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return;
    }
    guardianPid = pid;
    guardianPipe = fds[1];
}

void tellGuardian(qint32 record)
{
    static std::once_flag once;
    std::call_once(once, startGuardian);
    const int fd = guardianPipe.load();
    if (fd >= 0) {
        while (::write(fd, &record, sizeof record) < 0 && errno == EINTR) {
        }
    }
}

// Children that are neither offices nor ours to wait for: programs started detached (a desktop opener) end
// up here once their launcher has gone, because this program collects the orphans of its office groups.
void reapStrayChildren()
{
    const pid_t ownGroup = ::getpgrp();
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile file(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& word : file.readAll().split(' ')) {
            const pid_t child = pid_t(word.trimmed().toInt());
            if (child <= 0 || child == guardianPid.load())
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // "pid (name) state ppid pgrp ...": the name may hold blanks, so read after its last ")".
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() < 3 || fields[0] != "Z")
                continue;
            const pid_t group = pid_t(fields[2].toInt());
            bool office = false;
            for (const auto& slot : groups)
                office = office || slot.load() == group;
            // Children in our own group are waited for by whoever started them.
            if (!office && group != ownGroup)
                ::waitpid(child, nullptr, WNOHANG);
        }
    }
}

} // namespace

void adoptOrphans()
{
    static std::once_flag once;
    std::call_once(once, [] {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        std::thread([] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                reapStrayChildren();
            }
        }).detach();
    });
}

void registerChildGroup(pid_t group)
{
    tellGuardian(qint32(group));
    for (auto& slot : groups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group))
            return;
    }
}

void unregisterChildGroup(pid_t group)
{
    tellGuardian(-qint32(group));
    for (auto& slot : groups) {
        pid_t expected = group;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

void killAllChildGroups()
{
    for (auto& slot : groups) {
        const pid_t group = slot.load();
        if (group > 0)
            ::kill(-group, SIGKILL);
    }
}

int liveChildGroups()
{
    int n = 0;
    for (auto& slot : groups)
        if (slot.load() > 0)
            ++n;
    return n;
}

void installTerminationHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &action, nullptr);
}
