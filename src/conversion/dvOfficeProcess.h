#pragma once

// How an office process of ours starts and ends: its command line, its environment, its namespaces and
// limits, its process group, and the words for a start that failed. Used by the office and its template.

#include <QString>
#include <QStringList>

#include <sys/types.h>

// How long an office may take to start (or to make the template profile) before it is given up.
constexpr int kStartLimitMs = 60000;

// How one office process starts: where its temporary files and its output go, and what isolates it.
struct OfficeStart
{
    QString TempDir;
    QString LogFile;
    bool Isolated = false;
    QString Root; // the profile folder: its tmp/ becomes the office's /tmp
    QStringList Writable;
    QString PrintJob;
    bool Network = false;
    qint64 MemoryLimit = 0; // bytes
};

// The office's program folder (VELLUM_OFFICE_PROGRAM in the environment moves it).
QString officeProgramFolder();
// Folder that holds the per-worker profile copies ("vellum-office-*"): the system's temporary folder.
QString officeProfileRoot();
// The profile folder as the office's bootstrap takes it: a file URL.
QString profileUrl(const QString& dir);
// The flags every office of ours runs with, for the profile folder given.
QStringList officeArguments(const QString& profile);

// Starts the office launcher in a session (and so a process group) of its own, registered for the
// program's exit and signal handlers. Orphaned members of the group come back to this process (subreaper),
// so that every one of them is reaped here. The child gets default signal handling back (no SIGPIPE ignored).
// `how.PrintJob` is the file its PDF printer takes its output path from.
// Answers 0, with `isolationFailure` saying why, when the office was to be isolated and cannot be.
pid_t spawnOffice(const QStringList& arguments, const OfficeStart& how, QString* isolationFailure = nullptr);
// Whether the launcher has ended, without reaping it; `code` gets its exit code (128 + signal).
bool hasExited(pid_t pid, int* code = nullptr);
// Waits up to boundMs for the launcher to end, then kills the group, then reaps every member. Answers the
// launcher's exit code (128 + signal when a signal ended it), or -1 when it had to be killed.
int endGroup(pid_t group, int boundMs);
// "what (exit code 1): the last lines the office wrote into logFile".
QString startFailure(const QString& what, int code, const QString& logFile);
// Offices of this user's programs that died without ending them (a kill, a crash): recognised by a profile
// copy of ours in their command line whose owner is gone. Another program's office, or another user's, is
// never touched.
void killOrphanedOffices();
