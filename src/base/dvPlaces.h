#pragma once

#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// What makes a file the one we saw: the same inode on the same device, with the same size and modification
// time. A file saved over another one, or replaced by a rename, is a different file.
struct TdvFileId
{
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    qint64 Size = 0;
    qint64 ModifiedNs = 0;

    static TdvFileId Of(const QString& path);
    bool operator==(const TdvFileId& other) const = default;
};

// Whether this user may replace or delete the file at path: its mode has a write bit for the user (root
// included: a file marked read-only is left alone) and, for others than root, the system grants write access.
// An absent file answers true. The text of the refusal is in `reason` ("Permission denied").
bool userMayWrite(const QString& path, QString* reason = nullptr);

// The per-user folder of a kind (config, data, cache), created when missing. Without a home that can be
// written (HOME unset or not a folder, a read-only home: service accounts, cron) the folder is one of this
// user's own below the temporary folder ("vellum-<uid>", mode 700). Throws TdvError naming the cause when
// neither can be had.
QString userFolder(QStandardPaths::StandardLocation kind);

// A file in the per-user folder of a kind; never fails (without any usable folder it names Qt's place, and
// reading or writing there fails as it would).
QString userFile(QStandardPaths::StandardLocation kind, const QString& name);

// The text of an errno value as the system says it ("Permission denied").
QString systemMessage(int error);

// Why the file at path cannot be read, in the system's words ("Permission denied", "Is a directory", "No such
// file or directory"), or empty text when it can: the office only says "type detection failed" for all of
// them.
QString readProblem(const QString& path);

// Why no file can be made in folder ("Permission denied", "Read-only file system", "No space left on
// device"), or empty text when one can.
QString writeProblem(const QString& folder);

// Makes a folder with its missing parents. On failure `reason` holds the system's text of the first step
// that failed ("Permission denied", "Not a directory").
// `made`, when given, receives the folders that were made, outermost first, each ending with "/".
bool makeFolder(const QString& path, QString* reason = nullptr, QStringList* made = nullptr);

// The path as the system resolves it: absolute, its existing part's symbolic links, "." and ".." resolved,
// the part that does not exist yet appended as it stands; no trailing "/" (but "/" itself). Empty when the
// text is no absolute path.
QString resolvedPath(const QString& path);
// Whether `path` is `folder` or lies below it (both as resolvedPath gives them).
bool isBelow(const QString& path, const QString& folder);
// Removes a folder when it is empty; false when it is not, or cannot be removed.
bool removeEmptyFolder(const QString& folder);

// Whether the process with this id is still running (a process of another user counts as running).
bool processAlive(pid_t pid);

// The running program's full path, read from /proc/self/exe.
QString currentProgramPath();
// The program path with its extension replaced by ext ("vellum" gives "vellum" + ext).
QString changeFileExt(const QString& path, const QString& ext);
