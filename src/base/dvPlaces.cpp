#include "base/dvPlaces.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

TdvFileId TdvFileId::Of(const QString& path)
{
    TdvFileId id;
    struct stat st;
    if (path.isEmpty() || ::stat(encodeFileName(path).constData(), &st) != 0)
        return id;
    id.Exists = true;
    id.Device = st.st_dev;
    id.Inode = st.st_ino;
    id.Size = st.st_size;
    id.ModifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

QString systemMessage(int error)
{
    // strerror may share one buffer among threads; the GNU strerror_r answers a text of its own or fills
    // ours.
    char buffer[256];
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

QString readProblem(const QString& path)
{
    const QByteArray name = encodeFileName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return systemMessage(errno);
    if (S_ISDIR(st.st_mode))
        return systemMessage(EISDIR);
    // Opening is the test the system itself applies; a first byte also catches unreadable media.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return systemMessage(errno);
    int error = 0;
    char byte;
    if (S_ISREG(st.st_mode) && ::read(fd, &byte, 1) < 0)
        error = errno;
    ::close(fd);
    return error != 0 ? systemMessage(error) : QString();
}

QString writeProblem(const QString& folder)
{
    const QByteArray name = encodeFileName(folder);
    if (::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return systemMessage(errno);
    // The superuser may use the blocks kept back for it.
    struct statvfs fs;
    if (::statvfs(name.constData(), &fs) == 0 && (geteuid() == 0 ? fs.f_bfree : fs.f_bavail) == 0)
        return systemMessage(ENOSPC);
    return QString();
}

bool userMayWrite(const QString& path, QString* reason)
{
    const QByteArray name = encodeFileName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return true;
    // The superuser may write anything; a file that nobody may write is still one to leave alone.
    int error = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 ? 0 : EACCES;
    if (error == 0 && geteuid() != 0 && ::access(name.constData(), W_OK) != 0)
        error = errno;
    if (error != 0 && reason)
        *reason = systemMessage(error);
    return error == 0;
}

bool makeFolder(const QString& path, QString* reason, QStringList* made)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    const QByteArray name = encodeFileName(path);
    if (::stat(name.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (reason)
            *reason = systemMessage(ENOTDIR);
        return false;
    }
    QString parent = path;
    while (parent.endsWith(QLatin1Char('/')) && parent.size() > 1)
        parent.chop(1);
    parent.truncate(parent.lastIndexOf(QLatin1Char('/')));
    if (!parent.isEmpty() && !makeFolder(parent, reason, made))
        return false;
    const bool madeHere = ::mkdir(name.constData(), 0777) == 0;
    if (!madeHere && errno != EEXIST) {
        if (reason)
            *reason = systemMessage(errno);
        return false;
    }
    if (madeHere && made)
        made->append(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
    // Something else may stand under that name (a file where a folder should be).
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (reason)
            *reason = systemMessage(errno == 0 || errno == EEXIST ? ENOTDIR : errno);
        return false;
    }
    return true;
}

QString resolvedPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return QString();
    QString existing = QDir::cleanPath(path);
    QString rest;
    // The longest part that exists is resolved by the system; what follows it is taken as written.
    for (;;) {
        char buffer[PATH_MAX];
        if (::realpath(encodeFileName(existing).constData(), buffer)) {
            QString real = decodeFileName(QByteArray(buffer));
            if (!rest.isEmpty())
                real = QDir::cleanPath(real + QLatin1Char('/') + rest);
            return real;
        }
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || existing == QLatin1String("/"))
            return QString();
        const QString name = existing.mid(slash + 1);
        rest = rest.isEmpty() ? name : name + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
}

bool isBelow(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    if (path == folder || folder == QLatin1String("/"))
        return true;
    return path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/');
}

bool removeEmptyFolder(const QString& folder)
{
    return ::rmdir(encodeFileName(folder).constData()) == 0;
}

bool processAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

namespace {

QString kindName(QStandardPaths::StandardLocation kind)
{
    switch (kind) {
    case QStandardPaths::AppConfigLocation:
    case QStandardPaths::ConfigLocation:
        return QStringLiteral("config");
    case QStandardPaths::CacheLocation:
    case QStandardPaths::GenericCacheLocation:
        return QStringLiteral("cache");
    default:
        return QStringLiteral("data");
    }
}

const char* xdgVariable(QStandardPaths::StandardLocation kind)
{
    switch (kind) {
    case QStandardPaths::AppConfigLocation:
    case QStandardPaths::ConfigLocation:
        return "XDG_CONFIG_HOME";
    case QStandardPaths::CacheLocation:
    case QStandardPaths::GenericCacheLocation:
        return "XDG_CACHE_HOME";
    default:
        return "XDG_DATA_HOME";
    }
}

bool usableFolder(const QString& dir)
{
    if (dir.isEmpty() || !QDir::isAbsolutePath(dir) || !QDir().mkpath(dir))
        return false;
    return ::access(encodeFileName(dir).constData(), W_OK | X_OK) == 0;
}

// This user's own folder below the temporary folder. Another user could have made it first to read or
// plant files: it is used only when it is a real folder of ours that nobody else may enter.
QString privateTempFolder()
{
    QString base = QDir::tempPath() + QStringLiteral("/vellum-%1").arg(getuid());
    const QByteArray name = encodeFileName(base);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw TdvError(QStringLiteral("No folder of this user can be made in %1: %2")
                           .arg(QDir::tempPath(), systemMessage(errno)));
    struct stat st;
    if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        throw TdvError(
            QStringLiteral("%1 belongs to another user or is not a folder; it is not used").arg(base));
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        throw TdvError(QStringLiteral("%1 cannot be made private: %2").arg(base, systemMessage(errno)));
    return base;
}

} // namespace

QString userFolder(QStandardPaths::StandardLocation kind)
{
    // Without HOME, Qt falls back on "/", which is no place for one user's files.
    const bool hasHome = !qEnvironmentVariableIsEmpty("HOME") && QDir(qEnvironmentVariable("HOME")).exists();
    if (hasHome || !qEnvironmentVariableIsEmpty(xdgVariable(kind))) {
        QString dir = QStandardPaths::writableLocation(kind);
        if (usableFolder(dir))
            return dir;
    }
    QString app = QCoreApplication::applicationName();
    if (app.isEmpty())
        app = QStringLiteral("vellum");
    QString dir = privateTempFolder() + QLatin1Char('/') + kindName(kind) + QLatin1Char('/') + app;
    if (!QDir().mkpath(dir))
        throw TdvError(QStringLiteral("The folder %1 cannot be made").arg(dir));
    return dir;
}

QString userFile(QStandardPaths::StandardLocation kind, const QString& name)
{
    QString folder;
    try {
        folder = userFolder(kind);
    } catch (const std::exception&) {
        folder = QStandardPaths::writableLocation(kind);
    }
    return folder + QLatin1Char('/') + name;
}

QString currentProgramPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QString changeFileExt(const QString& path, const QString& ext)
{
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot at the very start of the name is a hidden file's mark, not an extension.
    if (dot > nameStart)
        return path.left(dot) + ext;
    return path + ext;
}
