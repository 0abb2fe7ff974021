#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

// Whole-file text and file time stamps.
class TdvFileUtils
{
public:
    static qint32 FileDosTime(const QString& path, bool creationTime, bool utc);
    static QString ReadFileText(const QString& path, int charSize);
    static void WriteFileText(const QString& path, const QString& text, int charSize, bool append);
};

// The encodings text files are read in. Files of the Windows program carry no mark and are in its ANSI code
// page (Windows-1252 for the Western languages it was sold in); anything else we read is UTF-8 or UTF-16.
enum class TdvTextEncoding { Utf8, Windows1252 };

// Text files of the system: read honouring UTF-16 LE/BE and UTF-8 marks; without a mark, valid UTF-8 is
// UTF-8 and anything else Windows-1252. Lines end with CR LF, CR or LF. Written without a mark, every line
// ended by CR LF: in UTF-8, or in Windows-1252 when asked and every character has a byte there; a text that
// Windows-1252 cannot hold is written in UTF-8 with a mark instead, which both programs read back unchanged.
// readTextLines answers false when the file cannot be read (error, when given, says why); writeTextLines
// writes the file whole or not at all (a link is followed) and throws TdvError.
bool readTextLines(const QString& path, QStringList& lines, TdvTextEncoding* encoding = nullptr,
                   QString* error = nullptr);
void writeTextLines(const QString& path, const QStringList& lines,
                    TdvTextEncoding encoding = TdvTextEncoding::Utf8);
QStringList splitLines(const QString& text);

// Writes all of `size` bytes at `data` to `fd` (interrupted calls retried, short writes finished); answers 0
// or the errno of the write that failed (EIO for a write that took nothing).
int writeAll(int fd, const char* data, size_t size);
inline int writeAll(int fd, const QByteArray& bytes)
{
    return writeAll(fd, bytes.constData(), size_t(bytes.size()));
}
// Copies what is left to read of `in` into `out`; closes neither. Answers 0 or the errno of the step that
// failed.
int copyDescriptor(int in, int out);
// Copies the file at `from` (a link as the file it names) to `to`; answers 0 or the errno of the step that
// failed. With `exclusive` the copy is a new file (EEXIST when `to` is there) that goes again when the copy
// fails; without, `to` is made or emptied and takes the source's permissions.
int copyFileContents(const QString& from, const QString& to, bool exclusive);

// An exclusive lock on a lock file (made when missing) for the life of the object, for read-modify-write of
// a file that several copies of the program share. Throws TdvError when the lock file cannot be opened.
class TdvFileLock
{
public:
    explicit TdvFileLock(const QString& path);
    ~TdvFileLock();
    TdvFileLock(const TdvFileLock&) = delete;
    TdvFileLock& operator=(const TdvFileLock&) = delete;

private:
    int FHandle = -1;
};
bool isValidUtf8(const QByteArray& bytes);
QString fromWindows1252(const QByteArray& bytes);
// False when a character has no byte in Windows-1252.
bool toWindows1252(const QString& text, QByteArray& bytes);

// File names are bytes on Linux, and archives from Windows bring names that are not UTF-8. Valid UTF-8
// decodes as usual; every other byte becomes the lone surrogate U+DC80 + byte, which encodeFileName turns
// back into that byte, so a name read from a folder reaches the office and the target unchanged. Every
// file-system call on a source or target path goes through these (Qt's own encoding would replace them).
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);
// False when the text holds a character no file name can carry (a lone surrogate of another kind).
bool isFileNameEncodable(const QString& name);
bool fileExists(const QString& path);
bool isRegularFile(const QString& path);
bool isDirectory(const QString& path);
qint64 fileSize(const QString& path); // -1 when missing
bool makePath(const QString& folder); // with all missing parents
bool removeFile(const QString& path);
// "file://" and the path's bytes, percent-encoded: the form the office takes any local name in.
QString fileUrl(const QString& path);

// A DOS date-time from seconds since the epoch (UTC), or -1 outside 1980..2107.
qint32 dosDateTime(qint64 secsSinceEpoch, bool utc);

// Windows-style wildcard test of a name: "*" any run, "?" one character or none at the end, case ignored.
bool wildcardMatch(const QString& pattern, const QString& name);

extern std::atomic<bool> SkipLockFiles;

// Attribute masks of the walk: everything but folders, and also without hidden entries.
constexpr quint32 faAnyFile = 0x1EF;
constexpr quint32 faNoHidden = 0x1ED;
constexpr quint32 faHidden = 0x2;

// The folder walk. Every accepted path goes to addFile, with the file's size in bytes (-1 when it cannot be
// read); stopped() is asked after each entry. The folder `excluded` (the run's target inside its source),
// when given, is never entered, by whatever name the walk meets it.
void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&, qint64)>& addFile,
                  const std::function<bool()>& stopped, const QString& excluded = QString());
void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&)>& addFile, const std::function<bool()>& stopped);
