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

// Text files of the system: read honouring UTF-16 LE/BE and UTF-8 marks (else the locale's encoding), lines
// ended by CR LF, CR or LF; written in the locale's encoding without a mark, every line ended by CR LF.
// readTextLines answers false when the file cannot be read; writeTextLines throws TdvError.
bool readTextLines(const QString& path, QStringList& lines);
void writeTextLines(const QString& path, const QStringList& lines);
QStringList splitLines(const QString& text);

// A DOS date-time from seconds since the epoch (UTC), or -1 outside 1980..2107.
qint32 dosDateTime(qint64 secsSinceEpoch, bool utc);

// Windows-style wildcard test of a name: "*" any run, "?" one character or none at the end, case ignored.
bool wildcardMatch(const QString& pattern, const QString& name);

extern std::atomic<bool> SkipLockFiles;

// Attribute masks of the walk: everything but folders, and also without hidden entries.
constexpr quint32 faAnyFile = 0x1EF;
constexpr quint32 faNoHidden = 0x1ED;
constexpr quint32 faHidden = 0x2;

// The folder walk. Every accepted path goes to addFile; stopped() is asked after each entry.
void SearchFolder(const QString& folder, const QString& pattern, bool subdirs, quint32 attributeMask,
                  const std::function<void(const QString&)>& addFile, const std::function<bool()>& stopped);
