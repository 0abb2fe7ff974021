#include "base/dvFileUtils.h"

#include "base/dvError.h"
#include "base/dvPlaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<bool> SkipLockFiles{false};

// ---- wildcards -------------------------------------------------------------------------------------------

bool wildcardMatch(const QString& pattern, const QString& name)
{
    // Greedy with one backtrack point, the last "*": a later "*" can absorb whatever an earlier one would
    // have taken, so time stays linear in the name's length times the pattern's, whatever the stars.
    const QChar* p = pattern.constData();
    const QChar* const pEnd = p + pattern.size();
    const QChar* n = name.constData();
    const QChar* const nEnd = n + name.size();
    const QChar* star = nullptr;
    const QChar* resume = nullptr;
    while (n < nEnd) {
        if (p < pEnd && *p == QLatin1Char('*')) {
            star = ++p;
            resume = n;
        } else if (p < pEnd && (*p == QLatin1Char('?') || p->toCaseFolded() == n->toCaseFolded())) {
            ++p;
            ++n;
        } else if (star) {
            p = star;
            n = ++resume;
        } else {
            return false;
        }
    }
    // Once the name has ended, "*" takes nothing and "?" stands for no character.
    while (p < pEnd && (*p == QLatin1Char('*') || *p == QLatin1Char('?')))
        ++p;
    return p == pEnd;
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

// The entry's kind and, for a file, its size when a stat was needed anyway (-1 otherwise).
EntryKind entryKind(int dirFd, const dirent* entry, qint64* size = nullptr)
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
        if (S_ISREG(st.st_mode)) {
            if (size)
                *size = st.st_size;
            return EntryKind::File;
        }
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        if (!S_ISLNK(st.st_mode))
            return EntryKind::Other;
    } else if (type != DT_LNK) {
        return EntryKind::Other;
    }
    if (fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
        if (size)
            *size = st.st_size;
        return EntryKind::File;
    }
    return EntryKind::Other;
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// decodeFileName into a buffer that keeps its capacity from entry to entry: the walk looks at every name
// of a tree and keeps only a few.
void decodeNameInto(QString& name, const char* bytes)
{
    const std::size_t length = std::strlen(bytes);
    const auto* s = reinterpret_cast<const uchar*>(bytes);
    bool ascii = true;
    for (std::size_t i = 0; i < length && ascii; ++i)
        ascii = s[i] < 0x80;
    if (!ascii) {
        name = decodeFileName(QByteArray::fromRawData(bytes, qsizetype(length)));
        return;
    }
    name.resize(qsizetype(length));
    QChar* out = name.data();
    for (std::size_t i = 0; i < length; ++i)
        out[i] = QLatin1Char(char(s[i]));
}

struct Walk
{
    QString pattern;
    bool wild;
    bool subdirs;
    quint32 attributeMask;
    bool lockFiles;
    const std::function<void(const QString&, qint64)>& addFile;
    const std::function<bool()>& stopped;
    bool exclude = false; // a folder that is never entered, known by its device and inode
    dev_t excludedDevice = 0;
    ino_t excludedInode = 0;
    QString name; // reused for every entry

    bool isExcluded(int dirFd, const char* entryName) const
    {
        struct stat st;
        return exclude && fstatat(dirFd, entryName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               st.st_dev == excludedDevice && st.st_ino == excludedInode;
    }

    // False once stopped.
    bool folder(const QString& path)
    {
        const QByteArray native = encodeFileName(path.isEmpty() ? QStringLiteral("./") : path);
        // Sub-folders are noted on the one pass over the folder and entered after its files, so that a
        // folder's files come first without reading it twice.
        QList<QByteArray> folders;
        {
            DirCloser listing{opendir(native.constData())};
            if (!listing.dir)
                return true;
            const int fd = dirfd(listing.dir);
            // One stream per call: readdir is safe on streams no other thread reads.
            while (dirent* entry = readdir(listing.dir)) { // NOLINT(concurrency-mt-unsafe)
                if (!isDotOrDotDot(entry->d_name)) {
                    const bool hidden = entry->d_name[0] == '.';
                    decodeNameInto(name, entry->d_name);
                    const bool matches =
                        wild ? wildcardMatch(pattern, name) : name.compare(pattern, Qt::CaseInsensitive) == 0;
                    qint64 size = -1;
                    EntryKind kind = EntryKind::Other;
                    bool kindKnown = false;
                    if (matches && (!hidden || (attributeMask & faHidden)) &&
                        !(lockFiles && entry->d_name[0] == '~' && entry->d_name[1] == '$')) {
                        kind = entryKind(fd, entry, &size);
                        kindKnown = true;
                        if (kind == EntryKind::File) {
                            // The size orders the hand-out; the walk has it from the stat above, or takes it
                            // here for the files it keeps.
                            struct stat st;
                            if (size < 0 && fstatat(fd, entry->d_name, &st, 0) == 0)
                                size = st.st_size;
                            addFile(path + name, size);
                        }
                    }
                    // Hidden sub-folders are never entered, whatever SkipHidden says.
                    if (subdirs && !hidden) {
                        if (!kindKnown)
                            kind = entryKind(fd, entry);
                        if (kind == EntryKind::Folder && !isExcluded(fd, entry->d_name))
                            folders.append(QByteArray(entry->d_name));
                    }
                }
                if (stopped())
                    return false;
            }
        }
        for (const QByteArray& sub : folders) {
            if (!folder(path + decodeFileName(sub) + QLatin1Char('/')))
                return false;
        }
        return true;
    }
};

} // namespace

void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&, qint64)>& addFile,
                  const std::function<bool()>& stopped, const QString& excluded)
{
    Walk walk{
        pattern, hasWildcards(pattern), subdirs, attributeMask, SkipLockFiles, addFile, stopped, false, 0, 0,
        {}};
    struct stat st;
    if (!excluded.isEmpty() && ::stat(encodeFileName(excluded).constData(), &st) == 0) {
        walk.exclude = true;
        walk.excludedDevice = st.st_dev;
        walk.excludedInode = st.st_ino;
    }
    walk.folder(folder);
}

void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&)>& addFile, const std::function<bool()>& stopped)
{
    SearchFolder(
        folder, pattern, subdirs, attributeMask,
        std::function<void(const QString&, qint64)>([&](const QString& path, qint64) { addFile(path); }),
        stopped);
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
    const quint32 time =
        quint32(parts.tm_hour) << 11 | quint32(parts.tm_min) << 5 | quint32(parts.tm_sec / 2);
    return qint32(date << 16 | time);
}

qint32 TdvFileUtils::FileDosTime(const QString& path, bool creationTime, bool utc)
{
    QString found = path;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (hasWildcards(name)) {
        found.clear();
        const QString folder = path.left(path.size() - name.size());
        SearchFolder(
            folder, name, false, faAnyFile | 0x10,
            [&](const QString& p) {
                if (found.isEmpty())
                    found = p;
            },
            [&] { return !found.isEmpty(); });
        if (found.isEmpty())
            return -1;
    }
    struct statx st;
    const QByteArray native = encodeFileName(found);
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
    if (!file.open(append ? QIODevice::WriteOnly | QIODevice::Append
                          : QIODevice::WriteOnly | QIODevice::Truncate))
        throw TdvError(file.errorString());
    const QByteArray bytes =
        charSize == 2 ? QByteArray(reinterpret_cast<const char*>(text.constData()), text.size() * 2)
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

static QString decodeUtf8Escaped(const QByteArray& bytes, bool* valid);

bool isValidUtf8(const QByteArray& bytes)
{
    bool valid = true;
    decodeUtf8Escaped(bytes, &valid);
    return valid;
}

// The bytes 0x80 to 0x9F of Windows-1252; the five it leaves undefined map to the C1 controls, as Windows
// itself reads them, so they survive a round trip.
static const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const uchar u = uchar(b);
        *out++ = QChar(u >= 0x80 && u < 0xA0 ? kCp1252High[u - 0x80] : char16_t(u));
    }
    return text;
}

bool toWindows1252(const QString& text, QByteArray& bytes)
{
    bytes.clear();
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes.append(char(u));
            continue;
        }
        const char16_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), u);
        if (hit == std::end(kCp1252High))
            return false;
        bytes.append(char(0x80 + (hit - std::begin(kCp1252High))));
    }
    return true;
}

bool readTextLines(const QString& path, QStringList& lines, TdvTextEncoding* encoding, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QString text;
    TdvTextEncoding found = TdvTextEncoding::Utf8;
    if (bytes.startsWith("\xFF\xFE")) {
        text = QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        text = QStringDecoder(QStringDecoder::Utf16BE)(bytes.mid(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (isValidUtf8(bytes)) {
        text = QString::fromUtf8(bytes);
    } else {
        // Decoding it as UTF-8 would turn every accented letter into U+FFFD, and a Save would lose it.
        text = fromWindows1252(bytes);
        found = TdvTextEncoding::Windows1252;
    }
    lines = splitLines(text);
    if (encoding)
        *encoding = found;
    return true;
}

void writeTextLines(const QString& path, const QStringList& lines, TdvTextEncoding encoding)
{
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1String("\r\n");
    QByteArray bytes;
    if (encoding != TdvTextEncoding::Windows1252 || !toWindows1252(text, bytes)) {
        // UTF-8, except that a file name's bytes that were not UTF-8 are written as they were.
        bytes = encodeFileName(text);
        // A file first read as Windows-1252 gets the mark, or it would be read in that code page again.
        if (encoding == TdvTextEncoding::Windows1252)
            bytes.prepend("\xEF\xBB\xBF");
    }
    // Written beside the file and renamed over it once whole, so a crash or a full disk leaves the old file
    // as it was. A link is followed: the user's link stays and the file it names is replaced.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink())
        target = info.symLinkTarget();
    const QFileInfo targetInfo(target);
    if (!targetInfo.absoluteDir().exists())
        QDir().mkpath(targetInfo.absolutePath());
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        throw TdvError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw TdvError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

int writeAll(int fd, const char* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += size_t(put);
    }
    return 0;
}

int copyDescriptor(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 ? errno : 0;
        if (const int error = writeAll(out, buffer, size_t(got)); error != 0)
            return error;
    }
}

int copyFileContents(const QString& from, const QString& to, bool exclusive)
{
    const int in = ::open(encodeFileName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    mode_t mode = 0666;
    struct stat st;
    if (!exclusive)
        mode = ::fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0600;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    const int out = ::open(encodeFileName(to).constData(), flags, mode);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = copyDescriptor(in, out);
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    // Only a file this call made is removed.
    if (error != 0 && exclusive)
        ::unlink(encodeFileName(to).constData());
    return error;
}

TdvFileLock::TdvFileLock(const QString& path)
{
    FHandle = ::open(encodeFileName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (FHandle < 0)
        throw TdvError(QStringLiteral("Cannot lock \"%1\". %2").arg(path, systemMessage(errno)));
    while (::flock(FHandle, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(FHandle);
            throw TdvError(QStringLiteral("Cannot lock \"%1\". %2").arg(path, systemMessage(error)));
        }
    }
}

TdvFileLock::~TdvFileLock()
{
    ::close(FHandle); // closing the last handle releases the lock
}

// ---- file names as bytes ---------------------------------------------------------------------------------

QString decodeFileName(const QByteArray& bytes)
{
    return decodeUtf8Escaped(bytes, nullptr);
}

static QString decodeUtf8Escaped(const QByteArray& bytes, bool* allValid)
{
    QString name;
    name.reserve(bytes.size());
    const auto* s = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar b = s[i];
        if (b < 0x80) {
            name += QChar(char16_t(b));
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, code = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, code = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, code = b & 0x07, least = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (int k = 1; valid && k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                code = code << 6 | (s[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8 either.
        if (valid && (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF))
            valid = false;
        if (!valid) {
            if (allValid)
                *allValid = false;
            name += QChar(char16_t(0xDC00 + b));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            name += QChar::highSurrogate(code);
            name += QChar::lowSurrogate(code);
        } else {
            name += QChar(char16_t(code));
        }
        i += length;
    }
    return name;
}

QByteArray encodeFileName(const QString& name)
{
    QByteArray bytes;
    bytes.reserve(name.size() * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = name.at(i).unicode();
        char32_t code = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            code = QChar::surrogateToUcs4(u, name.at(++i).unicode());
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            bytes.append(char(u - 0xDC00)); // a byte that was not UTF-8 on disk
            continue;
        } else if (QChar::isSurrogate(u)) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            bytes.append(char(code));
        } else if (code < 0x800) {
            bytes.append(char(0xC0 | code >> 6));
            bytes.append(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.append(char(0xE0 | code >> 12));
            bytes.append(char(0x80 | (code >> 6 & 0x3F)));
            bytes.append(char(0x80 | (code & 0x3F)));
        } else {
            bytes.append(char(0xF0 | code >> 18));
            bytes.append(char(0x80 | (code >> 12 & 0x3F)));
            bytes.append(char(0x80 | (code >> 6 & 0x3F)));
            bytes.append(char(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

bool isFileNameEncodable(const QString& name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < name.size() &&
            QChar::isLowSurrogate(name.at(i + 1).unicode()))
            ++i;
        else if (QChar::isSurrogate(u) && !(u >= 0xDC80 && u <= 0xDCFF))
            return false;
    }
    return true;
}

static bool statPath(const QString& path, struct stat& st)
{
    return !path.isEmpty() && ::stat(encodeFileName(path).constData(), &st) == 0;
}

bool fileExists(const QString& path)
{
    struct stat st;
    return statPath(path, st);
}

bool isRegularFile(const QString& path)
{
    struct stat st;
    return statPath(path, st) && S_ISREG(st.st_mode);
}

bool isDirectory(const QString& path)
{
    struct stat st;
    return statPath(path, st) && S_ISDIR(st.st_mode);
}

qint64 fileSize(const QString& path)
{
    struct stat st;
    return statPath(path, st) ? qint64(st.st_size) : -1;
}

bool makePath(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    if (isDirectory(folder))
        return true;
    const QByteArray bytes = encodeFileName(folder);
    for (qsizetype slash = bytes.indexOf('/', 1);; slash = bytes.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? bytes : bytes.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    return isDirectory(folder);
}

bool removeFile(const QString& path)
{
    return ::unlink(encodeFileName(path).constData()) == 0;
}

QString fileUrl(const QString& path)
{
    // "/" stays; every other byte outside the unreserved set is escaped, a non-UTF-8 byte as itself.
    return QStringLiteral("file://") + QString::fromLatin1(encodeFileName(path).toPercentEncoding("/"));
}
