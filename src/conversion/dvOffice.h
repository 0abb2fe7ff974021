#pragma once

// One LibreOffice process per converter worker, reached over a UNO bridge on a private pipe.
// This header carries no UNO type; the bridge's objects live behind TdvOffice::Uno (dvUno.h).

#include "conversion/dvAutomation.h"
#include "conversion/dvFonts.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

class TdvOffice
{
public:
    struct Uno;

    // Starts an office with a private copy of the template profile and connects to it. The start has its
    // own limit (60 s); past it, or when the process ends first, it fails with a message that says so.
    // An office `forStrangers` serves the UNO clients of other programs (through its pipe, which the office
    // listener relays): its profile runs no macro at all.
    static std::shared_ptr<TdvOffice> Start(bool forStrangers = false);
    // Connects to an office listener at "host:port" on this or another machine. Reaching it and its first
    // answer have their own limit; past it, or when it refuses, it fails with a message naming it.
    static std::shared_ptr<TdvOffice> Connect(const QString& server, int limitSeconds);
    ~TdvOffice();
    TdvOffice(const TdvOffice&) = delete;
    TdvOffice& operator=(const TdvOffice&) = delete;

    // The bridge is up and the process has not ended.
    bool Alive() const;
    // Asks the office to end (Desktop.terminate), waits a bounded time, kills what is left and reaps it.
    void Terminate();
    // Kills the whole process group at once, or drops the connection to a remote office; safe from any
    // thread (the item watchdog uses it).
    void Kill();

    // An office of a listener, reached over a socket: it has no process here, and files reach it as streams.
    bool IsRemote() const { return !FServer.isEmpty(); }
    // Decks reach the office as streams of ours (loadDocument), never by their paths: always for a remote
    // office, and for an office here unless switched off (a bench compares the two ways).
    bool StreamsFiles() const { return IsRemote() || FStreamFiles; }
    void SetStreamFiles(bool on) { FStreamFiles = on; }
    QString Server() const { return FServer; }
    // The text of a failure on a dead office or a lost connection.
    QString LostMessage() const;

    pid_t ProcessGroup() const { return FGroup; }
    // The socket file of the office's pipe, which other connections to the office may use too.
    QString PipeSocket() const;
    // The office runs in namespaces of its own: no network, none of the user's files. When it does not,
    // NotIsolatedReason says why.
    bool Isolated() const { return FIsolated; }
    QString NotIsolatedReason() const { return FNotIsolated; }
    // Whether the office can write the file `path` itself: it is on this machine and not isolated, or the
    // file is in a folder bound into its namespaces.
    bool CanWrite(const QString& path) const;
    // The address space each of its processes may take, in MiB; 0 for none.
    int MemoryLimitMiB() const { return FMemoryLimitMiB; }
    // One of its processes could not get memory: it ran into the limit.
    bool OutOfMemory() const;
    QString ProgramFolder() const;
    QString ProfileDir() const { return FProfile; }
    // The file the office's PDF printer takes the path of its next PDF from (empty for a remote office).
    QString PrintJobFile() const
    {
        return FProfile.isEmpty() ? QString() : FProfile + QStringLiteral("/print-job");
    }
    // The printers the office can print to; fails with the office's message when it cannot be asked.
    QStringList PrinterNames() const;
    // The socket of the office's single-instance pipe: in its private /tmp when it is isolated.
    QString InstancePipe() const;

    // Which fonts the office sets for the fonts documents ask for, from StartFontTracking on. The office
    // tracks for its whole process, so a worker whose office converts one item at a time learns that
    // item's fonts. Both fail with the office's message.
    void StartFontTracking();
    QList<TdvFontUse> FinishFontTracking();

    // Items this process has opened, for the restart after `OfficeRestart` items.
    int ItemsOpened = 0;

    Uno& uno() const { return *FUno; }

    // The text of a failure on a dead office.
    static QString DeadMessage();

private:
    TdvOffice();
    void reap(int boundMs);
    void removeProfile();
    QString pipeFile() const;

    std::unique_ptr<Uno> FUno;
    mutable std::mutex FLock;
    pid_t FGroup = 0; // the launcher's pid, which is also the group id; 0 once reaped
    std::atomic<bool> FKilled{false};
    mutable std::atomic<bool> FExited{false};
    QString FProfile;
    QString FPipe;
    QString FServer; // "host:port" or "unix:PATH" of a remote office
    std::atomic<bool> FStreamFiles{true};
    bool FIsolated = false;
    QStringList FWritable;
    QString FNotIsolated;
    int FMemoryLimitMiB = 0;
};

// Kills an office when an item's time limit passes. One per worker; its thread runs only while armed
// at least once, and touches nothing but the process group.
class TdvOfficeWatch
{
public:
    TdvOfficeWatch() = default;
    ~TdvOfficeWatch();
    TdvOfficeWatch(const TdvOfficeWatch&) = delete;
    TdvOfficeWatch& operator=(const TdvOfficeWatch&) = delete;

    void Arm(const std::shared_ptr<TdvOffice>& office, std::chrono::milliseconds limit);
    void Disarm();
    // The limit passed and the office was killed since the last Reset.
    bool Fired() const { return FFired; }
    void Reset() { FFired = false; }

private:
    void run();

    std::mutex FLock;
    std::condition_variable FWake;
    std::thread FThread;
    std::weak_ptr<TdvOffice> FOffice;
    std::chrono::steady_clock::time_point FDeadline;
    bool FArmed = false;
    int FArming = 0; // counts the arms, so that a deadline set meanwhile is not moved
    bool FStop = false;
    std::atomic<bool> FFired{false};
};

// The calling thread's office: each converter worker has its own, and the office-suite route attaches to it.
std::shared_ptr<TdvOffice> threadOffice();
// The calling thread's office, started when there is none and replaced when it has died; for a thread
// given a server, connected to that listener instead.
std::shared_ptr<TdvOffice> ensureThreadOffice();
// The office listener the calling thread's office is on ("host:port"), or empty for a local office.
void setThreadOfficeServer(const QString& server);
// The worker's private folder, which its office may write (the PDF goes there).
void setThreadOfficeWorkFolder(const QString& folder);
// The memory limit of the offices the calling thread starts, in MiB (0: none).
void setThreadOfficeMemoryLimit(int mib);
// The limit for reaching a listener and its first answer, in seconds.
void setThreadOfficeConnectLimit(int seconds);
// A flag that, once set (by another thread), ends an office start of the calling thread at once: the
// starting office is killed and the start fails. Null for none.
void setThreadOfficeCancel(const std::atomic<bool>* cancel);
// Ends the calling thread's office: a clean end when it is alive, a kill otherwise.
void endThreadOffice();

// The template profile, made once per user under the user's cache folder (document locking off, VBA
// loading on, the PDF printer). Returns its folder, making it first when needed; fails with a message.
QString officeTemplateProfile();
// What names the template: the office's program folder, its build and flavour, the profile's format and
// the font replacement table, which follows the fonts the machine has.
QString officeTemplateKey();
// The socket file of an office's pipe: the office leaves it behind, so its owner removes it.
QString officePipeFile(const QString& pipeName);
// The socket file of the single-instance pipe that an office makes for its profile folder.
QString officeInstancePipe(const QString& profileDir);

// Puts the office's factories into the automation registry: the office's service manager and the presentation
// application. Once per process, before the first conversion; later calls do nothing, so that a factory put
// in place afterwards stays.
void registerOfficeAutomation();
