#pragma once

// Starting an office process apart from the user's files and the network: namespaces of its own (user where
// the kernel allows, mount, network, process ids, IPC), a root made of the system's program folders
// read-only, the fonts, and the few folders of its own it writes. Where no namespace can be made the office
// starts as a plain child, and the program says so once.

#include <QString>
#include <QStringList>
#include <sys/types.h>

struct TdvSpawn
{
    QString Program;
    QStringList Arguments;   // without the program
    QStringList Environment; // "NAME=value", the whole environment
    QString LogFile;         // standard output and error; empty: /dev/null
    qint64 MemoryLimit = 0;  // bytes of address space per process (RLIMIT_AS); 0: none

    bool Isolated = false;
    // A private folder (0700) of the office's own: `Root`/tmp becomes its /tmp, `Root`/root holds the new
    // root while it is built. Bound read-write at its own path.
    QString Root;
    QStringList Writable; // more folders bound read-write at their own paths
    QStringList Readable; // more folders bound read-only at their own paths, where they exist
    bool Network = false; // keeps the system's network (an office that must accept connections from it)
};

// Starts the program in a session (and so a process group) of its own, with default signal handling, an
// empty signal mask, umask 077, "/" as its current folder and only standard input, output and error open.
// With `Isolated`, in namespaces of its own; when they cannot be made, `isolationFailure` gets the reason and
// nothing is started (answers 0). Other failures throw TdvError.
pid_t spawnProcess(const TdvSpawn& spawn, QString* isolationFailure);

// Whether offices are to be isolated: false once a try failed or when the environment variable
// VELLUM_NO_ISOLATION is set (tests); `reason` then says why.
bool isolationWanted(QString* reason = nullptr);
// Remembers for the rest of the process that isolation does not work here.
void isolationFailed(const QString& reason);
// The text that a run shows once when its offices are not isolated.
QString notIsolatedNote(const QString& reason);

// The memory limit of each office in MiB: `option` when it is set, else half the machine's memory shared
// among `workers`, at least 2048 MiB.
int officeMemoryLimitMiB(int option, int workers);

// The folders of the user's own fonts, which offices may read.
QStringList userFontFolders();
