#include "engine/dvRunLog.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "project/dvProject.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

QByteArray encodedLines(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += encodeFileName(line) + "\r\n";
    return bytes;
}

} // namespace

QString escapeControls(const QString& text)
{
    bool plain = true;
    for (const QChar c : text)
        plain = plain && !isControl(c.unicode());
    if (plain)
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!isControl(u))
            out += c;
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
    }
    return out;
}

QString runFileRefusal(const QString& path, const TdvBatch* batch, const QString& targetExt)
{
    const QByteArray name = encodeFileName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0) {
        // Whoever may write into the folder could point a link at any file of ours.
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("it is a symbolic link, which is not followed");
        if (S_ISDIR(st.st_mode))
            return systemMessage(EISDIR);
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("it is not a regular file");
        // Emptying it would empty its other names too, one of which may be a presentation.
        if (st.st_nlink > 1)
            return QStringLiteral("it has other names (hard links), which would change with it");
    }
    if (!batch)
        return QString();
    if (batch->WouldList(path))
        return QStringLiteral("it is one of the presentations the run converts");
    const QString target = resolvedPath(batch->FTargetFolder);
    const QString real = resolvedPath(path);
    if (!target.isEmpty() && isBelow(real, target) &&
        real.endsWith(targetExt.isEmpty() ? QStringLiteral(".pdf") : targetExt, Qt::CaseInsensitive))
        return QStringLiteral("it may be one of the PDF files the run writes");
    return QString();
}

TdvRunLog::~TdvRunLog()
{
    Close();
}

namespace {

// Refuses `path` as a file of the run's own when it may not be one (runFileRefusal), and makes its folder;
// `refuse` turns the reason into the caller's error. Answers the folder, empty for the current one.
template <class Refuse>
QString makeRunFileFolder(const QString& path, const TdvBatch* batch, const QString& targetExt, Refuse refuse)
{
    QString reason = runFileRefusal(path, batch, targetExt);
    if (!reason.isEmpty())
        throw refuse(reason);
    QString folder = extractFilePath(path);
    if (!folder.isEmpty() && !makeFolder(folder, &reason))
        throw refuse(reason);
    return folder;
}

} // namespace

void TdvRunLog::Open(const QString& path, const TdvBatch* batch, const QString& targetExt)
{
    Close();
    const auto refuse = [&](const QString& reason) {
        return TdvError(
            QStringLiteral("The run log %1 cannot be written: %2").arg(escapeControls(path), reason));
    };
    makeRunFileFolder(path, batch, targetExt, refuse);
    QString reason;
    // Opened once for the whole run: no link followed, and a FIFO cannot make the run wait for a reader.
    const int fd = ::open(encodeFileName(path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        throw refuse(errno == ELOOP ? QStringLiteral("it is a symbolic link, which is not followed")
                                    : systemMessage(errno));
    struct stat st;
    int error = 0;
    const bool stated = ::fstat(fd, &st) == 0;
    if (stated && !S_ISREG(st.st_mode))
        reason = QStringLiteral("it is not a regular file");
    else if (stated && st.st_nlink > 1)
        reason = QStringLiteral("it has other names (hard links), which would change with it");
    // An existing log is replaced; a write of nothing finds the files that open but take no text (/proc).
    else if (!stated || ::ftruncate(fd, 0) != 0 || ::write(fd, "", 0) != 0)
        error = errno;
    if (error != 0)
        reason = systemMessage(error);
    if (!reason.isEmpty()) {
        ::close(fd);
        throw refuse(reason);
    }
    std::lock_guard lock(FLock);
    FFd = fd;
    FPath = path;
    FFailed = false;
}

bool TdvRunLog::Append(const QString& line, QString* error)
{
    std::lock_guard lock(FLock);
    if (FFd < 0)
        return false;
    // One write per line: a run killed at any moment leaves whole lines.
    const int failure = writeAll(FFd, encodedLines({line}));
    if (failure == 0)
        return true;
    if (error && !FFailed)
        *error = QStringLiteral("The run log %1 cannot be written: %2")
                     .arg(escapeControls(FPath), systemMessage(failure));
    FFailed = true;
    return false;
}

void TdvRunLog::Close()
{
    std::lock_guard lock(FLock);
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void writeRunFile(const QString& path, const QStringList& lines, const TdvBatch* batch,
                  const QString& targetExt)
{
    const auto refuse = [&](const QString& reason) {
        return TdvError(
            QStringLiteral("The list cannot be written to %1: %2").arg(escapeControls(path), reason));
    };
    const QString folder = makeRunFileFolder(path, batch, targetExt, refuse);
    // Written beside it under a name of its own and put in its place whole: a rename never follows a link
    // planted meanwhile, it replaces the link.
    QString part;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        part = folder + QStringLiteral(".%1.%2.part")
                            .arg(extractFileName(path))
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        fd = ::open(encodeFileName(part).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST)
            throw refuse(systemMessage(errno));
    }
    if (fd < 0)
        throw refuse(systemMessage(EEXIST));
    int error = writeAll(fd, encodedLines(lines));
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(encodeFileName(part).constData(), encodeFileName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(encodeFileName(part).constData());
        throw refuse(systemMessage(error));
    }
}
