#include "engine/dvRecord.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"

#include <QCryptographicHash>
#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every line ends with this field, so that a line cut short by a crash is never read as a whole one.
constexpr char kEnd[] = ".";

// Paths and texts keep their bytes; a tab, a line break or any other control byte, and "%", become "%XX".
QByteArray escape(const QString& text)
{
    const QByteArray bytes = encodeFileName(text);
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = uchar(c);
        if (b < 0x20 || b == 0x7F || b == '%') {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

QString unescape(const QByteArray& field)
{
    return decodeFileName(QByteArray::fromPercentEncoding(field));
}

quint64 hashOf(const QByteArray& bytes)
{
    return quint64(qHash(bytes, 0));
}

bool readNumber(const QByteArray& field, qint64& number)
{
    bool ok = false;
    number = field.toLongLong(&ok);
    return ok;
}

// Holds a lock on the record's lock file for a scope.
class FileLock
{
public:
    FileLock(const QString& path, int operation)
    {
        FFd = ::open(encodeFileName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FFd < 0)
            return;
        while (::flock(FFd, operation) != 0) {
            if (errno != EINTR) {
                ::close(FFd);
                FFd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (FFd >= 0)
            ::close(FFd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

} // namespace

QString TdvRecord::FileFor(const QString& targetFolder)
{
    QString folder = targetFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QByteArray digest =
        QCryptographicHash::hash(encodeFileName(folder), QCryptographicHash::Sha1).toHex().left(20);
    return userFolder(QStandardPaths::AppDataLocation) + QStringLiteral("/records/") +
           QString::fromLatin1(digest) + QStringLiteral(".rec");
}

TdvRecord::TdvRecord(const QString& targetFolder, bool load)
{
    FFile = FileFor(targetFolder);
    FLockFile = FFile + QStringLiteral(".lock");
    QString reason;
    if (!makeFolder(FFile.left(FFile.lastIndexOf(QLatin1Char('/'))), &reason))
        throw TdvError(QStringLiteral("The record %1 cannot be made: %2").arg(FFile, reason));
    const qint64 size = fileSize(FFile);
    FSizeAtOpen = std::max<qint64>(size, 0);
    if (size <= 0) {
        // The header says which folder the file speaks of, for a person who finds it.
        QString folder = targetFolder;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        append("# vellum: PDFs written to, and presentations failed for, " + escape(folder) + '\n');
    }
    if (load) {
        FLoaded = true;
        read();
    }
}

TdvRecord::~TdvRecord()
{
    try {
        const qint64 size = fileSize(FFile);
        const bool grown =
            FLoaded ? FLines > 2 * Entries() + 256 : size > (qint64(1) << 20) && size > 2 * FSizeAtOpen;
        if (grown)
            Compact();
    } catch (...) {
        // A record that stays long is read all the same.
    }
}

void TdvRecord::read()
{
    const FileLock lock(FLockFile, LOCK_SH);
    QFile file(FFile);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return;
        throw TdvError(QStringLiteral("The record %1 cannot be read: %2").arg(FFile, file.errorString()));
    }
    const QByteArray all = file.readAll();
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            break; // a last line without its end is one a crash cut short
        parse(all.mid(start, end - start));
        start = end + 1;
    }
}

void TdvRecord::parse(const QByteArray& line)
{
    if (line.isEmpty() || line.startsWith('#'))
        return;
    const QList<QByteArray> f = line.split('\t');
    if (f.last() != kEnd)
        return;
    ++FLines;
    if (f[0] == "W" && f.size() == 10) {
        WrittenEntry w;
        qint64 inode = 0;
        if (!readNumber(f[3], w.SourceSize) || !readNumber(f[4], w.SourceModified) ||
            !readNumber(f[6], inode) || !readNumber(f[7], w.Size) || !readNumber(f[8], w.Modified))
            return;
        w.Inode = quint64(inode);
        w.Source = hashOf(f[2]);
        w.Settings = hashOf(f[5]);
        FWritten.insert(f[1], w);
        // A deck converted since it failed has failed no more.
        FFailed.remove(f[2]);
    } else if (f[0] == "F" && f.size() == 7) {
        FailedEntry e;
        if (!readNumber(f[2], e.SourceSize) || !readNumber(f[3], e.SourceModified))
            return;
        e.Settings = hashOf(f[4]);
        e.Text = f[5];
        FFailed.insert(f[1], e);
    }
}

void TdvRecord::append(const QByteArray& line)
{
    std::lock_guard guard(FLock);
    const FileLock lock(FLockFile, LOCK_EX);
    if (!lock.Held())
        return;
    const int fd = ::open(encodeFileName(FFile).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // After a line that a crash cut short, the new one starts on a line of its own.
    struct stat st;
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        const int in = ::open(encodeFileName(FFile).constData(), O_RDONLY | O_CLOEXEC);
        if (in >= 0) {
            if (::pread(in, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(in);
        }
    }
    writeAll(fd, last == '\n' ? line : '\n' + line);
    ::close(fd);
}

bool TdvRecord::UpToDate(const QString& target, const TdvFileId& targetNow, const QString& source,
                         const TdvFileId& sourceNow, const QString& settings) const
{
    if (!targetNow.Exists || !sourceNow.Exists)
        return false;
    std::lock_guard guard(FLock);
    const auto found = FWritten.constFind(escape(target));
    if (found == FWritten.cend())
        return false;
    const WrittenEntry& w = *found;
    return w.Source == hashOf(escape(source)) && w.Settings == hashOf(escape(settings)) &&
           w.SourceSize == sourceNow.Size && w.SourceModified == sourceNow.ModifiedNs &&
           w.Inode == quint64(targetNow.Inode) && w.Size == targetNow.Size &&
           w.Modified == targetNow.ModifiedNs;
}

QString TdvRecord::FailedBefore(const QString& source, const TdvFileId& sourceNow,
                                const QString& settings) const
{
    if (!sourceNow.Exists)
        return QString();
    std::lock_guard guard(FLock);
    const auto found = FFailed.constFind(escape(source));
    if (found == FFailed.cend())
        return QString();
    const FailedEntry& e = *found;
    if (e.Settings != hashOf(escape(settings)) || e.SourceSize != sourceNow.Size ||
        e.SourceModified != sourceNow.ModifiedNs)
        return QString();
    return unescape(e.Text);
}

void TdvRecord::Written(const QString& target, const TdvFileId& targetNow, const QString& source,
                        const TdvFileId& sourceThen, const QString& settings)
{
    if (!targetNow.Exists || !sourceThen.Exists)
        return;
    const QByteArray line =
        "W\t" + escape(target) + '\t' + escape(source) + '\t' + QByteArray::number(sourceThen.Size) + '\t' +
        QByteArray::number(sourceThen.ModifiedNs) + '\t' + escape(settings) + '\t' +
        QByteArray::number(quint64(targetNow.Inode)) + '\t' + QByteArray::number(targetNow.Size) + '\t' +
        QByteArray::number(targetNow.ModifiedNs) + '\t' + kEnd + '\n';
    append(line);
    if (FLoaded) {
        std::lock_guard guard(FLock);
        parse(line.chopped(1));
    }
}

void TdvRecord::Failed(const QString& source, const TdvFileId& sourceThen, const QString& settings,
                       const QString& text)
{
    if (!sourceThen.Exists)
        return;
    const QByteArray line = "F\t" + escape(source) + '\t' + QByteArray::number(sourceThen.Size) + '\t' +
                            QByteArray::number(sourceThen.ModifiedNs) + '\t' + escape(settings) + '\t' +
                            escape(text) + '\t' + kEnd + '\n';
    append(line);
    if (FLoaded) {
        std::lock_guard guard(FLock);
        parse(line.chopped(1));
    }
}

void TdvRecord::Compact()
{
    std::lock_guard guard(FLock);
    const FileLock lock(FLockFile, LOCK_EX);
    if (!lock.Held())
        return;
    QFile file(FFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray all = file.readAll();
    file.close();

    // The last line of each target and deck, in the order of the first line of each.
    QList<QByteArray> kept;
    QHash<QByteArray, qsizetype> at;
    const auto keep = [&](const QByteArray& key, const QByteArray& line) {
        const auto found = at.constFind(key);
        if (found != at.cend()) {
            kept[*found] = line;
        } else {
            at.insert(key, kept.size());
            kept.append(line);
        }
    };
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            break;
        const QByteArray line = all.mid(start, end - start + 1);
        start = end + 1;
        if (line.startsWith('#')) {
            if (kept.isEmpty())
                keep(QByteArrayLiteral("#"), line);
            continue;
        }
        const QList<QByteArray> f = line.chopped(1).split('\t');
        if (f.size() < 3 || f.last() != kEnd)
            continue;
        if (f[0] == "W") {
            keep("W\t" + f[1], line);
            const auto failed = at.constFind("F\t" + f[2]);
            if (failed != at.cend())
                kept[*failed].clear();
        } else if (f[0] == "F") {
            keep("F\t" + f[1], line);
        }
    }

    // Written beside the record and renamed over it: the record is whole, old or new, whatever happens.
    const QString temp = FFile + QStringLiteral(".new-%1").arg(getpid());
    const QByteArray tempName = encodeFileName(temp);
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    int error = 0;
    for (const QByteArray& line : std::as_const(kept))
        if (error == 0 && !line.isEmpty())
            error = writeAll(fd, line);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0 || ::rename(tempName.constData(), encodeFileName(FFile).constData()) != 0)
        ::unlink(tempName.constData());
}
