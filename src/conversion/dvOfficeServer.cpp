#include "conversion/dvOfficeServer.h"

#include "base/dvError.h"
#include "base/dvPlaces.h"
#include "conversion/dvOffice.h"
#include "conversion/dvUno.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/DocumentEvent.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/XGlobalEventBroadcaster.hpp>
#include <com/sun/star/frame/theGlobalEventBroadcaster.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace css;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFirstPauseMs = 1000;
constexpr int kLongestPauseMs = 30000;
// An office that ran this long before it died starts the pauses afresh.
constexpr auto kSteadyRun = std::chrono::seconds(60);
// The acceptors are up once the office answers on its pipe; this only covers a slow machine.
constexpr auto kListenLimit = std::chrono::seconds(10);
// Starts that fail one after another: the installation is broken, and the service manager takes over.
constexpr int kFailedStartsLimit = 5;
constexpr int kTickMs = 250;

// SIGINT and SIGTERM only write to a pipe that the supervisor waits on, whichever thread they hit.
int stopPipe[2] = {-1, -1};

void onStop(int)
{
    const int saved = errno;
    const char byte = 0;
    if (::write(stopPipe[1], &byte, 1) < 0) {
        // A full pipe already holds a stop.
    }
    errno = saved;
}

void catchStopSignals()
{
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw TdvError(QStringLiteral("No pipe for the stop signals: ") + systemMessage(errno));
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM})
        sigaction(sig, &action, nullptr);
}

// Waits up to ms for a stop signal; true when one came. The signal's byte stays in the pipe, so that every
// later wait ends at once as well.
bool stopWithin(int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd fd = {stopPipe[0], POLLIN, 0};
        const int rc = ::poll(&fd, 1, int(std::max<decltype(left)>(0, left)));
        if (rc > 0)
            return true;
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            std::this_thread::sleep_until(until);
        return false;
    }
}

sockaddr_in resolve(const QString& host, int port)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.toLocal8Bit().constData(), nullptr, &hints, &found);
    if (rc != 0 || !found)
        throw TdvError(QStringLiteral("The address %1 cannot be resolved: %2")
                           .arg(host, QString::fromLocal8Bit(gai_strerror(rc))));
    sockaddr_in address;
    memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(uint16_t(port));
    return address;
}

QString numericHost(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

// An office told to listen on a port in use runs on without a word: the port is tried here first, bound
// the way the office binds it (a closed connection that lingers on the port is no obstacle).
void checkPortFree(const sockaddr_in& address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw TdvError(QStringLiteral("No socket to try the port with: ") + systemMessage(errno));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    const int port = ntohs(address.sin_port);
    if (rc == 0)
        return;
    if (error == EADDRINUSE)
        throw TdvError(QStringLiteral("Port %1 on %2 is already in use").arg(port).arg(numericHost(address)));
    throw TdvError(QStringLiteral("Cannot listen on %1:%2: %3")
                       .arg(numericHost(address))
                       .arg(port)
                       .arg(systemMessage(error)));
}

// The member of the office's process group that listens on the port, or 0. Read from the system's socket
// table, so that it is the office that listens and not a program that took the port meanwhile.
pid_t listeningProcess(pid_t group, int port)
{
    QSet<QByteArray> sockets;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (table.open(QIODevice::ReadOnly)) {
        // "sl local_address rem_address st ... inode": addresses in hexadecimal, state 0A is listening.
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            bool number = false;
            if (fields.size() > 9 && fields[3] == "0A" &&
                fields[1].mid(fields[1].indexOf(':') + 1).toInt(&number, 16) == port && number)
                sockets.insert("socket:[" + fields[9] + "]");
        }
    }
    if (sockets.isEmpty())
        return 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number || ::getpgid(pid) != group)
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(entry);
        for (const QString& fd :
             QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            char target[64];
            const ssize_t n = ::readlink(QFile::encodeName(fds + fd).constData(), target, sizeof target);
            if (n > 0 && sockets.contains(QByteArray(target, int(n))))
                return pid;
        }
    }
    return 0;
}

// Why an office that is no longer alive ended, from its launcher's status: the launcher passes on the
// office's signal as 128 + the signal. A lost bridge may come a moment before the process has ended.
QString endReason(pid_t launcher)
{
    const auto until = Clock::now() + std::chrono::seconds(2);
    siginfo_t info = {};
    while (launcher > 0 && ::waitid(P_PID, id_t(launcher), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid != launcher && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (launcher <= 0 || info.si_pid != launcher)
        return QStringLiteral("its connection was lost");
    int signal = info.si_code == CLD_EXITED ? 0 : info.si_status;
    if (info.si_code == CLD_EXITED && info.si_status > 128)
        signal = info.si_status - 128;
    if (signal > 0)
        return QStringLiteral("signal %1, %2").arg(signal).arg(QString::fromLocal8Bit(strsignal(signal)));
    return QStringLiteral("exit code %1").arg(info.si_status);
}

// Counts the documents the office has closed, for whichever client. Their opening is no event to count on:
// a hidden document, as clients load them, never announces it.
class DocumentCounter : public cppu::WeakImplHelper1<document::XDocumentEventListener>
{
public:
    void SAL_CALL documentEventOccured(const document::DocumentEvent& event) override
    {
        if (event.EventName == "OnUnload")
            ++Closed;
    }
    void SAL_CALL disposing(const lang::EventObject&) override {}

    std::atomic<int> Closed{0};
};

bool documentsOpen(TdvOffice& office)
{
    try {
        return office.uno().desktop->getComponents()->createEnumeration()->hasMoreElements();
    } catch (const uno::Exception&) {
        return true; // no answer: the next look finds the office dead, or asks again
    }
}

class TdvOfficeServer
{
public:
    TdvOfficeServer(const QString& host, int port, int restartAfter)
        : FAddress(resolve(host, port)), FRestartAfter(restartAfter)
    {
        FWhere = QStringLiteral("%1:%2").arg(numericHost(FAddress)).arg(port);
    }
    int Run();

private:
    enum class TdvWatchEnd { Stop, Died, Restart };
    void start();
    TdvWatchEnd watch(QString& reason);

    sockaddr_in FAddress;
    QString FWhere; // "127.0.0.1:2002"
    int FRestartAfter;
    std::shared_ptr<TdvOffice> FOffice;
    rtl::Reference<DocumentCounter> FCounter;
};

void TdvOfficeServer::start()
{
    const int port = ntohs(FAddress.sin_port);
    FOffice = TdvOffice::Start(
        QStringLiteral("socket,host=%1,port=%2,tcpNoDelay=1").arg(numericHost(FAddress)).arg(port));
    FCounter = new DocumentCounter();
    try {
        frame::theGlobalEventBroadcaster::get(FOffice->uno().context)
            ->addDocumentEventListener(FCounter.get());
    } catch (const uno::Exception& e) {
        FOffice->Terminate();
        throw TdvError(QStringLiteral("The office's documents cannot be counted: ") + toQString(e.Message));
    }
    const auto until = Clock::now() + kListenLimit;
    pid_t listener = 0;
    while (!(listener = listeningProcess(FOffice->ProcessGroup(), port))) {
        if (!FOffice->Alive() || Clock::now() > until) {
            FOffice->Terminate();
            throw TdvError(QStringLiteral("The office does not listen on %1").arg(FWhere));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    printf("Office listening on %s (pid %d)\n", qPrintable(FWhere), int(listener));
    fflush(stdout);
}

TdvOfficeServer::TdvWatchEnd TdvOfficeServer::watch(QString& reason)
{
    for (;;) {
        if (stopWithin(kTickMs))
            return TdvWatchEnd::Stop;
        if (!FOffice->Alive()) {
            reason = endReason(FOffice->ProcessGroup());
            return TdvWatchEnd::Died;
        }
        const int closed = FCounter->Closed;
        if (FRestartAfter > 0 && closed >= FRestartAfter && !documentsOpen(*FOffice)) {
            reason = QStringLiteral("%1 documents closed (OfficeRestart=%2), none open now")
                         .arg(closed)
                         .arg(FRestartAfter);
            return TdvWatchEnd::Restart;
        }
    }
}

int TdvOfficeServer::Run()
{
    catchStopSignals();
    const auto stopped = [this] {
        printf("Office on %s stopped\n", qPrintable(FWhere));
        fflush(stdout);
        return 0;
    };
    int pauseMs = kFirstPauseMs;
    int failedStarts = 0;
    for (bool first = true;; first = false) {
        // A taken port ends the server, also between two offices: waiting for it could last for ever.
        checkPortFree(FAddress);
        const auto started = Clock::now();
        try {
            start();
            failedStarts = 0;
        } catch (const TdvError& e) {
            FOffice.reset();
            if (first || ++failedStarts >= kFailedStartsLimit)
                throw;
            fprintf(stderr, "No office on %s (%s); trying again in %d s\n", qPrintable(FWhere),
                    e.Message.toLocal8Bit().constData(), pauseMs / 1000);
            if (stopWithin(pauseMs))
                return stopped();
            pauseMs = std::min(2 * pauseMs, kLongestPauseMs);
            continue;
        }

        QString reason;
        const TdvWatchEnd end = watch(reason);
        if (end == TdvWatchEnd::Restart) {
            fprintf(stderr, "Restarting the office on %s: %s\n", qPrintable(FWhere),
                    reason.toLocal8Bit().constData());
        } else if (end == TdvWatchEnd::Died) {
            if (Clock::now() - started > kSteadyRun)
                pauseMs = kFirstPauseMs;
            fprintf(stderr, "The office on %s ended (%s); starting a new one in %d s\n", qPrintable(FWhere),
                    reason.toLocal8Bit().constData(), pauseMs / 1000);
        }
        FOffice->Terminate();
        FOffice.reset();
        FCounter.clear();
        if (end == TdvWatchEnd::Stop)
            return stopped();
        if (end == TdvWatchEnd::Died) {
            if (stopWithin(pauseMs))
                return stopped();
            pauseMs = std::min(2 * pauseMs, kLongestPauseMs);
        }
    }
}

} // namespace

int runOfficeServer(const QString& host, int port, int restartAfter)
{
    try {
        TdvOfficeServer server(host, port, restartAfter);
        return server.Run();
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
        return 1;
    }
}
