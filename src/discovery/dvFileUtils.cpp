#include "discovery/dvFileUtils.h"

#include "project/dvError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<bool> SkipLockFiles{false};

// ---- wildcards -------------------------------------------------------------------------------------------

static bool wildcardAt(const QChar* p, const QChar* pEnd, const QChar* n, const QChar* nEnd)
{
    while (p < pEnd) {
        if (*p == QLatin1Char('*')) {
            while (p < pEnd && *p == QLatin1Char('*'))
                ++p;
            if (p == pEnd)
                return true;
            for (const QChar* k = n; k <= nEnd; ++k)
                if (wildcardAt(p, pEnd, k, nEnd))
                    return true;
            return false;
        }
        if (*p == QLatin1Char('?')) {
            // One character, or none once the name has ended.
            if (n < nEnd)
                ++n;
            ++p;
            continue;
        }
        if (n == nEnd || p->toCaseFolded() != n->toCaseFolded())
            return false;
        ++p;
        ++n;
    }
    return n == nEnd;
}

bool wildcardMatch(const QString& pattern, const QString& name)
{
    return wildcardAt(pattern.constData(), pattern.constData() + pattern.size(), name.constData(),
                      name.constData() + name.size());
}

static bool hasWildcards(const QString& pattern)
{
    return pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?'));
}

// ---- the walk --------------------------------------------------------------------------------------------

namespace {

struct DirCloser
{
    DIR* dir;
    ~DirCloser()
    {
        if (dir)
            closedir(dir);
    }
};

enum class EntryKind { Other, File, Folder };

EntryKind entryKind(int dirFd, const dirent* entry)
{
    // A link to a folder is never entered (it could loop); a link to a file counts as that file.
    unsigned char type = entry->d_type;
    if (type == DT_REG)
        return EntryKind::File;
    if (type == DT_DIR)
        return EntryKind::Folder;
    struct stat st;
    if (type == DT_UNKNOWN) {
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Other;
        if (S_ISREG(st.st_mode))
            return EntryKind::File;
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        if (!S_ISLNK(st.st_mode))
            return EntryKind::Other;
    } else if (type != DT_LNK) {
        return EntryKind::Other;
    }
    if (fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
        return EntryKind::File;
    return EntryKind::Other;
}

} // namespace

void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&)>& addFile, const std::function<bool()>& stopped)
{
    const QString base = folder.isEmpty() ? QStringLiteral("./") : folder;
    const QByteArray native = QFile::encodeName(base);
    const bool lockFiles = SkipLockFiles;
    {
        DirCloser listing{opendir(native.constData())};
        if (!listing.dir)
            return;
        const int fd = dirfd(listing.dir);
        const bool wild = hasWildcards(pattern);
        while (dirent* entry = readdir(listing.dir)) {
            const QString name = QFile::decodeName(entry->d_name);
            if (name != QLatin1String(".") && name != QLatin1String("..") &&
                (wild ? wildcardMatch(pattern, name) : name.compare(pattern, Qt::CaseInsensitive) == 0)) {
                const bool hidden = name.startsWith(QLatin1Char('.'));
                const bool hiddenOk = !hidden || (attributeMask & faHidden);
                if (hiddenOk && !(lockFiles && name.startsWith(QLatin1String("~$"))) &&
                    entryKind(fd, entry) == EntryKind::File)
                    addFile(folder + name);
            }
            if (stopped())
                return;
        }
    }
    if (!subdirs || stopped())
        return;
    DirCloser listing{opendir(native.constData())};
    if (!listing.dir)
        return;
    const int fd = dirfd(listing.dir);
    while (dirent* entry = readdir(listing.dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        // Hidden sub-folders are never entered, whatever SkipHidden says.
        if (!name.startsWith(QLatin1Char('.')) && entryKind(fd, entry) == EntryKind::Folder)
            SearchFolder(folder + name + QLatin1Char('/'), pattern, subdirs, attributeMask, addFile, stopped);
        if (stopped())
            return;
    }
}

// ---- file times ------------------------------------------------------------------------------------------

qint32 dosDateTime(qint64 secs, bool utc)
{
    const time_t t = time_t(secs);
    struct tm parts;
    if (utc ? !gmtime_r(&t, &parts) : !localtime_r(&t, &parts))
        return -1;
    const int year = parts.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return -1;
    const quint32 date = quint32(year - 1980) << 9 | quint32(parts.tm_mon + 1) << 5 | quint32(parts.tm_mday);
    const quint32 time = quint32(parts.tm_hour) << 11 | quint32(parts.tm_min) << 5 | quint32(parts.tm_sec / 2);
    return qint32(date << 16 | time);
}

qint32 TdvFileUtils::FileDosTime(const QString& path, bool creationTime, bool utc)
{
    QString found = path;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (hasWildcards(name)) {
        found.clear();
        const QString folder = path.left(path.size() - name.size());
        SearchFolder(folder, name, false, faAnyFile | 0x10, [&](const QString& p) {
            if (found.isEmpty())
                found = p;
        }, [&] { return !found.isEmpty(); });
        if (found.isEmpty())
            return -1;
    }
    struct statx st;
    const QByteArray native = QFile::encodeName(found);
    if (statx(AT_FDCWD, native.constData(), 0, STATX_BTIME | STATX_MTIME | STATX_CTIME, &st) != 0)
        return -1;
    qint64 secs = st.stx_mtime.tv_sec;
    if (creationTime)
        secs = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_ctime.tv_sec;
    return dosDateTime(secs, utc);
}

QString TdvFileUtils::ReadFileText(const QString& path, int charSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TdvError(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError)
        throw TdvError(file.errorString());
    if (charSize == 2)
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    return QString::fromLatin1(bytes);
}

void TdvFileUtils::WriteFileText(const QString& path, const QString& text, int charSize, bool append)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(append ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
        throw TdvError(file.errorString());
    const QByteArray bytes = charSize == 2
                                 ? QByteArray(reinterpret_cast<const char*>(text.constData()), text.size() * 2)
                                 : text.toLatin1();
    if (file.write(bytes) != bytes.size())
        throw TdvError(file.errorString());
}

// ---- text files ------------------------------------------------------------------------------------------

QStringList splitLines(const QString& text)
{
    QStringList lines;
    QString current;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(current);
            current.clear();
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        lines.append(current);
    return lines;
}

bool readTextLines(const QString& path, QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError)
        return false;
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
        text = QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        text = QStringDecoder(QStringDecoder::Utf16BE)(bytes.mid(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else {
        text = QStringDecoder(QStringDecoder::System)(bytes);
    }
    lines = splitLines(text);
    return true;
}

void writeTextLines(const QString& path, const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1String("\r\n");
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        QDir().mkpath(info.absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TdvError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray bytes = QStringEncoder(QStringEncoder::System)(text);
    if (file.write(bytes) != bytes.size())
        throw TdvError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}
