#include "conversion/dvSandbox.h"

#include "base/dvError.h"
#include "base/dvPlaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// How offices are isolated here, found at the first start.
enum class TdvIsolation { Unknown, UserNamespace, PlainNamespace, None };
std::atomic<TdvIsolation> gIsolation{TdvIsolation::Unknown};
std::mutex gReasonLock;
QString gReason;

// One step of building the office's root, done by the child between clone and exec.
struct MountStep
{
    enum Kind { Dir, Bind, BindFile, Symlink, Proc, Tmpfs } kind;
    QByteArray source; // Bind, BindFile: host path; Symlink: link text
    QByteArray target; // path below the new root
    bool readOnly = false;
};

// Everything the child needs, prepared before the clone: the child may not allocate.
struct ChildPlan
{
    std::vector<QByteArray> argStorage, envStorage;
    std::vector<char*> argv, envp;
    QByteArray program;
    QByteArray log;
    rlim_t memory = 0;
    bool isolated = false;
    bool network = false;
    QByteArray uidMap, gidMap; // "inside outside 1": the user stays who it is
    QByteArray newRoot;
    std::vector<MountStep> steps;
};

// What the child tells the parent when a step fails: which step and errno.
struct ChildFailure
{
    int step;
    int error;
};

enum ChildStep {
    StepSession = 1,
    StepWait,
    StepStdio,
    StepPrivate,
    StepRootTmpfs,
    StepMount,
    StepPivot,
    StepLimit,
    StepCapabilities,
    StepExec
};

const char* stepName(int step)
{
    switch (step) {
    case StepSession:
        return "new session";
    case StepWait:
        return "user mapping";
    case StepStdio:
        return "standard output";
    case StepPrivate:
        return "private mounts";
    case StepRootTmpfs:
        return "root file system";
    case StepMount:
        return "mount";
    case StepPivot:
        return "root change";
    case StepLimit:
        return "memory limit";
    case StepCapabilities:
        return "capabilities";
    case StepExec:
        return "program start";
    }
    return "start";
}

[[noreturn]] void childFail(int fd, int step, int index = -1)
{
    const ChildFailure failure{step * 1000 + (index >= 0 ? index : 999), errno};
    if (::write(fd, &failure, sizeof failure) < 0) {
        // The parent sees the child end without a word; nothing else can be done here.
    }
    _exit(127);
}

// A bind mount made read-only, keeping the flags that the kernel locks for a user namespace.
int makeReadOnly(const char* path)
{
    mount_attr attr = {};
    attr.attr_set = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;
    if (syscall(SYS_mount_setattr, AT_FDCWD, path, AT_RECURSIVE, &attr, sizeof attr) == 0)
        return 0;
    if (errno != ENOSYS)
        return -1;
    struct statvfs fs;
    if (statvfs(path, &fs) != 0)
        return -1;
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV;
    if (fs.f_flag & ST_NOEXEC)
        flags |= MS_NOEXEC;
    if (fs.f_flag & ST_NOATIME)
        flags |= MS_NOATIME;
    if (fs.f_flag & ST_NODIRATIME)
        flags |= MS_NODIRATIME;
    if (fs.f_flag & ST_RELATIME)
        flags |= MS_RELATIME;
    return mount(nullptr, path, nullptr, flags, nullptr);
}

// Builds the office's root below plan.newRoot and makes it the root. Only system calls: no allocation.
void buildRoot(const ChildPlan& plan, int errorFd)
{
    // Nothing mounted here reaches the system's mount table.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        childFail(errorFd, StepPrivate);
    if (mount("tmpfs", plan.newRoot.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
        childFail(errorFd, StepRootTmpfs);
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const MountStep& s = plan.steps[i];
        const char* target = s.target.constData();
        int rc = 0;
        switch (s.kind) {
        case MountStep::Dir:
            rc = mkdir(target, 0755) == 0 || errno == EEXIST ? 0 : -1;
            break;
        case MountStep::Symlink:
            rc = symlink(s.source.constData(), target);
            break;
        case MountStep::Bind:
        case MountStep::BindFile:
            if (s.kind == MountStep::Bind) {
                rc = mkdir(target, 0755) == 0 || errno == EEXIST ? 0 : -1;
            } else {
                const int fd = open(target, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                rc = fd < 0 ? -1 : close(fd);
            }
            if (rc == 0)
                rc = mount(s.source.constData(), target, nullptr, MS_BIND | MS_REC, nullptr);
            if (rc == 0 && s.readOnly)
                rc = makeReadOnly(target);
            break;
        case MountStep::Proc:
            rc = mkdir(target, 0755) == 0 || errno == EEXIST ? 0 : -1;
            if (rc == 0)
                rc = mount("proc", target, "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
            break;
        case MountStep::Tmpfs:
            rc = mkdir(target, 0755) == 0 || errno == EEXIST ? 0 : -1;
            if (rc == 0)
                rc = mount("tmpfs", target, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=64m");
            break;
        }
        if (rc != 0)
            childFail(errorFd, StepMount, int(i));
    }
    if (chdir(plan.newRoot.constData()) != 0 || syscall(SYS_pivot_root, ".", ".") != 0 ||
        umount2(".", MNT_DETACH) != 0 || chdir("/") != 0)
        childFail(errorFd, StepPivot);
    // The root itself takes nothing new: only the folders bound writable do.
    if (mount(nullptr, "/", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
        childFail(errorFd, StepPivot);
}

bool writeOwn(const char* path, const QByteArray& text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.constData(), size_t(text.size())) == text.size();
    close(fd);
    return ok;
}

[[noreturn]] void childMain(const ChildPlan& plan, bool userNamespace, int errorFd)
{
    if (setsid() < 0)
        childFail(errorFd, StepSession);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        sigaction(s, &dfl, nullptr);
    // Until its user is mapped this process is nobody in its namespace; it maps itself, as its own user.
    if (userNamespace &&
        (!writeOwn("/proc/self/setgroups", "deny") || !writeOwn("/proc/self/uid_map", plan.uidMap) ||
         !writeOwn("/proc/self/gid_map", plan.gidMap)))
        childFail(errorFd, StepWait);

    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = plan.log.isEmpty()
                        ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                        : open(plan.log.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
        childFail(errorFd, StepStdio);

    if (plan.isolated)
        buildRoot(plan, errorFd);
    if (chdir("/") != 0)
        childFail(errorFd, StepPivot);
    // The office's files and sockets are its user's alone.
    umask(077);
    if (plan.memory > 0) {
        const rlimit limit{plan.memory, plan.memory};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            childFail(errorFd, StepLimit);
    }
    if (plan.isolated) {
        // No capability survives the exec, whoever runs the program: root included.
        for (int cap = 0; cap <= 63; ++cap)
            if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL)
                childFail(errorFd, StepCapabilities);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            childFail(errorFd, StepCapabilities);
    }
    // Only standard input, output and error go on into the office.
    if (syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) != 0)
        for (int fd = 3; fd < 65536; ++fd)
            if (fd != errorFd)
                close(fd);
    sigset_t none;
    sigemptyset(&none);
    // The forked child has one thread: the process-wide mask is its own.
    sigprocmask(SIG_SETMASK, &none, nullptr); // NOLINT(concurrency-mt-unsafe)
    execve(plan.program.constData(), plan.argv.data(), plan.envp.data());
    childFail(errorFd, StepExec);
}

QByteArray path8(const QString& path)
{
    return QFile::encodeName(path);
}

// The steps that build the office's root: the system's programs and libraries read-only, the fonts, a
// private /dev, /proc and /tmp, and the office's own folders writable.
std::vector<MountStep> rootSteps(const TdvSpawn& spawn, const QByteArray& newRoot)
{
    std::vector<MountStep> steps;
    QSet<QByteArray> made;
    const auto ensureParents = [&](const QByteArray& path) {
        for (qsizetype at = path.indexOf('/', 1); at > 0; at = path.indexOf('/', at + 1)) {
            const QByteArray parent = path.left(at);
            if (!made.contains(parent)) {
                made.insert(parent);
                steps.push_back({MountStep::Dir, {}, newRoot + parent});
            }
        }
    };
    const auto add = [&](MountStep::Kind kind, const QByteArray& source, const QByteArray& path,
                         bool readOnly) {
        ensureParents(path);
        made.insert(path);
        steps.push_back({kind, source, newRoot + path, readOnly});
    };
    // A host path, bound at the same place (a link is bound as what it points to).
    const auto bindHost = [&](const QString& path, bool readOnly) {
        const QByteArray p = path8(QDir::cleanPath(path));
        const QFileInfo info(path);
        if (made.contains(p))
            return;
        if (info.isDir())
            add(MountStep::Bind, p, p, readOnly);
        else if (info.exists())
            add(MountStep::BindFile, p, p, readOnly);
    };

    // Program folders; on a merged system /bin and /lib are links into /usr.
    bindHost(QStringLiteral("/usr"), true);
    for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        const QString path = QString::fromLatin1(top);
        const QFileInfo info(path);
        if (info.isSymLink()) {
            char target[4096];
            const ssize_t n = readlink(top, target, sizeof target - 1);
            if (n > 0)
                add(MountStep::Symlink, QByteArray(target, int(n)), QByteArray(top), false);
        } else if (info.isDir()) {
            bindHost(path, true);
        }
    }
    // What the office and the libraries below it read of the system's settings, and nothing of its
    // secrets.
    for (const char* file :
         {"/etc/fonts",         "/etc/ld.so.cache",     "/etc/ld.so.conf", "/etc/ld.so.conf.d",
          "/etc/libreoffice",   "/etc/alternatives",    "/etc/passwd",     "/etc/group",
          "/etc/nsswitch.conf", "/etc/localtime",       "/etc/timezone",   "/etc/locale.alias",
          "/etc/locale.conf",   "/etc/default/locale",  "/etc/papersize",  "/etc/mime.types",
          "/etc/hosts",         "/etc/host.conf",       "/etc/os-release", "/etc/machine-id",
          "/etc/cups",          "/var/cache/fontconfig"})
        bindHost(QString::fromLatin1(file), true);

    add(MountStep::Tmpfs, {}, "/dev", false);
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/full", "/dev/random", "/dev/urandom"})
        add(MountStep::BindFile, QByteArray(device), QByteArray(device), false);
    add(MountStep::Symlink, "/proc/self/fd", "/dev/fd", false);
    add(MountStep::Symlink, "/proc/self/fd/0", "/dev/stdin", false);
    add(MountStep::Symlink, "/proc/self/fd/1", "/dev/stdout", false);
    add(MountStep::Symlink, "/proc/self/fd/2", "/dev/stderr", false);
    add(MountStep::Tmpfs, {}, "/dev/shm", false);
    add(MountStep::Proc, {}, "/proc", false);

    // The office's private /tmp, then the rest of what it reads and its own folders at their own paths
    // (often below /tmp: bound before it, they would be hidden by it).
    add(MountStep::Bind, path8(spawn.Root + QStringLiteral("/tmp")), "/tmp", false);
    for (const QString& path : spawn.Readable)
        bindHost(path, true);
    QStringList writable = spawn.Writable;
    writable.prepend(spawn.Root);
    for (const QString& path : std::as_const(writable)) {
        const QByteArray p = path8(QDir::cleanPath(path));
        if (!p.isEmpty() && !made.contains(p) && QFileInfo(path).isDir())
            add(MountStep::Bind, p, p, false);
    }
    return steps;
}

// Starts one child; answers its pid, or 0 with `failure` saying why when isolation failed.
pid_t startChild(const ChildPlan& plan, bool userNamespace, QString& failure)
{
    int errors[2];
    if (pipe2(errors, O_CLOEXEC) != 0)
        throw TdvError(QStringLiteral("No pipe to start the office with: ") + systemMessage(errno));
    unsigned long flags = SIGCHLD;
    if (plan.isolated)
        flags |= CLONE_NEWNS | (plan.network ? 0 : CLONE_NEWNET) | CLONE_NEWPID | CLONE_NEWIPC |
                 CLONE_NEWUTS | (userNamespace ? CLONE_NEWUSER : 0);
    // A copy of this process, as fork makes it, but in new namespaces; it runs only system calls until exec.
    const long pid = syscall(SYS_clone, flags, nullptr, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::close(errors[0]);
        childMain(plan, plan.isolated && userNamespace, errors[1]);
    }
    const int cloneError = errno;
    ::close(errors[1]);
    if (pid < 0) {
        ::close(errors[0]);
        if (plan.isolated) {
            failure = QStringLiteral("no namespaces can be made here (%1)").arg(systemMessage(cloneError));
            return 0;
        }
        throw TdvError(QStringLiteral("The office program %1 could not be started: %2")
                           .arg(QString::fromLocal8Bit(plan.program), systemMessage(cloneError)));
    }

    // The child says nothing when exec succeeds: its end of the pipe closes with it.
    ChildFailure said = {0, 0};
    ssize_t n = 0;
    pollfd p = {errors[0], POLLIN, 0};
    if (::poll(&p, 1, 30000) > 0)
        n = ::read(errors[0], &said, sizeof said);
    ::close(errors[0]);
    if (n == 0)
        return pid_t(pid);

    ::kill(pid_t(pid), SIGKILL);
    ::waitpid(pid_t(pid), nullptr, 0);
    const int step = said.step / 1000;
    const QString why = n == sizeof said
                            ? QStringLiteral("%1 failed (%2)")
                                  .arg(QString::fromLatin1(stepName(step)), systemMessage(said.error))
                            : QStringLiteral("its start ended without a word");
    if (plan.isolated && step != StepExec) {
        failure = why;
        return 0;
    }
    throw TdvError(
        QStringLiteral("The office program %1 could not be started: %2")
            .arg(QString::fromLocal8Bit(plan.program), n == sizeof said ? systemMessage(said.error) : why));
}

} // namespace

int officeMemoryLimitMiB(int option, int workers)
{
    if (option > 0)
        return option;
    const qint64 machine = qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) >> 20;
    return int(std::max<qint64>(2048, machine / 2 / std::max(workers, 1)));
}

QStringList userFontFolders()
{
    QStringList folders;
    const QString home = QDir::homePath();
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    folders << (dataHome.isEmpty() ? home + QStringLiteral("/.local/share")
                                   : QString::fromLocal8Bit(dataHome)) +
                   QStringLiteral("/fonts");
    folders << home + QStringLiteral("/.fonts");
    // Their settings and cache, so that the office finds the same fonts without scanning them anew.
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    folders << (configHome.isEmpty() ? home + QStringLiteral("/.config")
                                     : QString::fromLocal8Bit(configHome)) +
                   QStringLiteral("/fontconfig");
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    folders << (cacheHome.isEmpty() ? home + QStringLiteral("/.cache") : QString::fromLocal8Bit(cacheHome)) +
                   QStringLiteral("/fontconfig");
    folders << home + QStringLiteral("/.fonts.conf");
    folders.removeDuplicates();
    return folders;
}

bool isolationWanted(QString* reason)
{
    if (!qgetenv("VELLUM_NO_ISOLATION").isEmpty()) {
        if (reason)
            *reason = QStringLiteral("isolation is switched off (VELLUM_NO_ISOLATION)");
        return false;
    }
    if (gIsolation == TdvIsolation::None) {
        if (reason) {
            std::lock_guard guard(gReasonLock);
            *reason = gReason;
        }
        return false;
    }
    return true;
}

void isolationFailed(const QString& reason)
{
    std::lock_guard guard(gReasonLock);
    gReason = reason;
    gIsolation = TdvIsolation::None;
}

QString notIsolatedNote(const QString& reason)
{
    return QStringLiteral("Offices are not isolated here: %1; a deck can reach the network and the user's "
                          "files")
        .arg(reason);
}

pid_t spawnProcess(const TdvSpawn& spawn, QString* isolationFailure)
{
    ChildPlan plan;
    plan.program = path8(spawn.Program);
    plan.argStorage.push_back(plan.program);
    for (const QString& a : spawn.Arguments)
        plan.argStorage.push_back(a.toLocal8Bit());
    for (QByteArray& s : plan.argStorage)
        plan.argv.push_back(s.data());
    plan.argv.push_back(nullptr);
    for (const QString& e : spawn.Environment)
        plan.envStorage.push_back(e.toLocal8Bit());
    for (QByteArray& s : plan.envStorage)
        plan.envp.push_back(s.data());
    plan.envp.push_back(nullptr);
    plan.log = path8(spawn.LogFile);
    plan.memory = rlim_t(std::max<qint64>(spawn.MemoryLimit, 0));
    plan.isolated = spawn.Isolated;
    plan.network = spawn.Network;
    plan.uidMap = QByteArray::number(getuid()) + ' ' + QByteArray::number(getuid()) + " 1";
    plan.gidMap = QByteArray::number(getgid()) + ' ' + QByteArray::number(getgid()) + " 1";
    if (plan.isolated) {
        plan.newRoot = path8(spawn.Root + QStringLiteral("/root"));
        if (!QDir().mkpath(spawn.Root + QStringLiteral("/root")) ||
            !QDir().mkpath(spawn.Root + QStringLiteral("/tmp")))
            throw TdvError(QStringLiteral("No folder for the office in %1").arg(spawn.Root));
        plan.steps = rootSteps(spawn, plan.newRoot);
    }

    QString failure;
    if (!plan.isolated)
        return startChild(plan, false, failure);
    // A user namespace where the kernel allows it; as root, plain namespaces where it does not.
    TdvIsolation mode = gIsolation;
    if (mode == TdvIsolation::Unknown || mode == TdvIsolation::UserNamespace) {
        const pid_t pid = startChild(plan, true, failure);
        if (pid > 0) {
            gIsolation = TdvIsolation::UserNamespace;
            return pid;
        }
        if (mode == TdvIsolation::Unknown && geteuid() == 0)
            mode = TdvIsolation::PlainNamespace;
    }
    if (mode == TdvIsolation::PlainNamespace) {
        QString plainFailure;
        const pid_t pid = startChild(plan, false, plainFailure);
        if (pid > 0) {
            gIsolation = TdvIsolation::PlainNamespace;
            return pid;
        }
        failure = plainFailure;
    }
    if (isolationFailure)
        *isolationFailure = failure;
    return 0;
}
