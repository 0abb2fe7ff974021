#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

class TdvBatch;

// A text as one line of a console line or a log: control characters (line breaks, tab, escape, the C1
// controls and the Unicode line separators) written as "\n", "\r", "\t", "\x1b" or "\u2028", so that a
// name can neither split its item's line nor drive the terminal.
QString escapeControls(const QString& text);

// Why `path` can be no file of the run's own (its log, its exported list), or empty text: it is a symbolic
// link, no regular file, a file with other names, one of the presentations the batch lists or may list,
// or a file of the run's target extension (".pdf" when empty) in its target folder. The batch's source and
// target must be set (TdvBatch::Prepare).
QString runFileRefusal(const QString& path, const TdvBatch* batch, const QString& targetExt);

// The run log: one line per finished item, appended and handed to the system as each item is reported, so
// that a run stopped or killed at any moment leaves the lines of every item it finished.
class TdvRunLog
{
public:
    TdvRunLog() = default;
    ~TdvRunLog();
    TdvRunLog(const TdvRunLog&) = delete;
    TdvRunLog& operator=(const TdvRunLog&) = delete;

    // Opens the file once for the whole run, creating it or emptying the file that is there, never through
    // a symbolic link and never when it is one of the run's own sources or targets. Throws TdvError saying
    // why it cannot be the log ("The run log /out/a.pdf cannot be written: ...").
    void Open(const QString& path, const TdvBatch* batch, const QString& targetExt);
    bool IsOpen() const { return FFd >= 0; }
    const QString& Path() const { return FPath; }
    // Appends one line (CR LF is added) in one write. False when it could not be written; `error` then
    // holds the message, given only for the first failure of the run.
    bool Append(const QString& line, QString* error = nullptr);
    void Close();

private:
    std::mutex FLock;
    int FFd = -1;
    QString FPath;
    bool FFailed = false;
};

// Writes a list of lines as a file of the run's (the window's exported list): by the same rules as the run
// log, and whole or not at all. Throws TdvError saying why it cannot.
void writeRunFile(const QString& path, const QStringList& lines, const TdvBatch* batch,
                  const QString& targetExt);
