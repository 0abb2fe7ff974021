#include "conversion/dvOfficeServer.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvOffice.h"
#include "conversion/dvUno.h"
#include "conversion/dvUrpWatch.h"

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
#include <QFileInfo>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace css;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFirstPauseMs = 1000;
constexpr int kLongestPauseMs = 30000;
// An office that ran this long before it died starts the pauses afresh.
constexpr auto kSteadyRun = std::chrono::seconds(60);
// Starts that fail one after another: the installation is broken, and the service manager takes over.
constexpr int kFailedStartsLimit = 5;
constexpr int kTickMs = 250;
// Bytes on their way in each direction of a client's connection.
constexpr std::size_t kRelayBuffer = 256 << 10;

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

// The listening socket on a TCP address; it stays ours while offices come and go, so that no other program
// can take the port between two of them.
int listenTcp(const sockaddr_in& address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw TdvError(QStringLiteral("No socket to listen on: ") + systemMessage(errno));
    // A closed connection that lingers on the port is no obstacle.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0) {
        const int error = errno;
        ::close(fd);
        const int port = ntohs(address.sin_port);
        if (error == EADDRINUSE)
            throw TdvError(
                QStringLiteral("Port %1 on %2 is already in use").arg(port).arg(numericHost(address)));
        throw TdvError(QStringLiteral("Cannot listen on %1:%2: %3")
                           .arg(numericHost(address))
                           .arg(port)
                           .arg(systemMessage(error)));
    }
    return fd;
}

bool fillUnixAddress(sockaddr_un& address, const QString& path)
{
    address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = encodeFileName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return true;
}

// A listening Unix socket at `path`, whose folder only this user may enter: the socket is then out of reach
// of every other account and of programs that run as them. The folder is made (mode 700) when missing; a
// socket left by a listener that was killed is replaced, one in use is not.
int listenUnix(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray folderName = encodeFileName(folder);
    struct stat info = {};
    if (::stat(folderName.constData(), &info) != 0 && errno == ENOENT &&
        ::mkdir(folderName.constData(), 0700) != 0)
        throw TdvError(QStringLiteral("The folder %1 cannot be made: %2").arg(folder, systemMessage(errno)));
    if (::stat(folderName.constData(), &info) != 0)
        throw TdvError(QStringLiteral("The folder %1 cannot be used: %2").arg(folder, systemMessage(errno)));
    if (!S_ISDIR(info.st_mode))
        throw TdvError(QStringLiteral("%1 is no folder").arg(folder));
    if (info.st_uid != ::geteuid())
        throw TdvError(
            QStringLiteral("The folder %1 belongs to another user: the socket belongs in a folder of "
                           "this user's that only this user can enter")
                .arg(folder));
    if (info.st_mode & 077)
        throw TdvError(
            QStringLiteral("Other users can enter the folder %1 (mode %2): the socket belongs in a "
                           "folder only this user can enter (chmod 700 %1)")
                .arg(folder)
                .arg(info.st_mode & 0777, 3, 8, QLatin1Char('0')));
    sockaddr_un address;
    if (!fillUnixAddress(address, path))
        throw TdvError(QStringLiteral("The socket path %1 is too long (at most %2 bytes)")
                           .arg(path)
                           .arg(sizeof address.sun_path - 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw TdvError(QStringLiteral("No socket to listen on: ") + systemMessage(errno));
    const QByteArray name = encodeFileName(path);
    if (::lstat(name.constData(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            ::close(fd);
            throw TdvError(QStringLiteral("%1 exists and is no socket").arg(path));
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered =
            ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        if (answered) {
            ::close(fd);
            throw TdvError(QStringLiteral("The socket %1 is already in use").arg(path));
        }
        ::unlink(name.constData());
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(name.constData(), 0600) != 0 || ::listen(fd, 64) != 0) {
        const int error = errno;
        ::close(fd);
        throw TdvError(QStringLiteral("Cannot listen on %1: %2").arg(path, systemMessage(error)));
    }
    return fd;
}

// The office process itself in its launcher's process group (the launcher only waits for it).
pid_t officeProcess(pid_t group)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number || ::getpgid(pid) != group)
            continue;
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))
                .endsWith(QLatin1String("/soffice.bin")))
            return pid;
    }
    return group;
}

// One direction of a client's connection: bytes read from one side and not yet written to the other.
class RelayBuffer
{
public:
    RelayBuffer() : FData(kRelayBuffer) {}
    bool Full() const { return FEnd == FData.size() && FBegin == 0; }
    bool Empty() const { return FBegin == FEnd; }

    // Reads what fits, showing it to `watch`; false at the end of the stream or on an error.
    bool ReadFrom(int fd, TdvUrpWatch& watch)
    {
        if (FBegin > 0 && FEnd == FData.size()) {
            memmove(FData.data(), FData.data() + FBegin, FEnd - FBegin);
            FEnd -= FBegin;
            FBegin = 0;
        }
        if (FEnd == FData.size())
            return true;
        const ssize_t n = ::recv(fd, FData.data() + FEnd, FData.size() - FEnd, MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (n == 0)
            return false;
        watch.Feed(FData.data() + FEnd, size_t(n));
        FEnd += size_t(n);
        return true;
    }

    // Writes what it can; false when the other side is gone.
    bool WriteTo(int fd)
    {
        if (Empty())
            return true;
        const ssize_t n = ::send(fd, FData.data() + FBegin, FEnd - FBegin, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        FBegin += size_t(n);
        if (FBegin == FEnd)
            FBegin = FEnd = 0;
        return true;
    }

private:
    std::vector<unsigned char> FData;
    std::size_t FBegin = 0;
    std::size_t FEnd = 0;
};

// A client's connection, passed through to the office's pipe byte for byte. The listener takes no part in
// the protocol; it only counts the client's calls and the office's answers, so that it knows when the client
// waits on the office.
struct Relay
{
    ~Relay()
    {
        ::close(Client);
        if (Office >= 0)
            ::close(Office);
    }
    bool Waiting() const { return Up.Requests() > Down.Replies(); }

    int Client = -1;
    int Office = -1;
    RelayBuffer ToOffice, ToClient;
    TdvUrpWatch Up, Down;
    std::int64_t Heard = 0; // messages of the office's so far
    // Since when the client has waited without a word from the office.
    Clock::time_point Since;
};

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
        return QStringLiteral("signal %1, %2").arg(signal).arg(QString::fromLocal8Bit(sigdescr_np(signal)));
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

// Whether the office has documents open; no answer (an office that is going) tells neither.
enum class TdvOpen { No, Yes, Unknown };
TdvOpen documentsOpen(TdvOffice& office)
{
    try {
        return office.uno().desktop->getComponents()->createEnumeration()->hasMoreElements() ? TdvOpen::Yes
                                                                                             : TdvOpen::No;
    } catch (const uno::Exception&) {
        return TdvOpen::Unknown; // the next look finds the office dead, or asks again
    }
}

class TdvOfficeServer
{
public:
    explicit TdvOfficeServer(const TdvOfficeServerSettings& settings) : FSettings(settings)
    {
        if (!settings.SocketPath.isEmpty()) {
            FWhere = QStringLiteral("unix:") + settings.SocketPath;
        } else {
            FAddress = resolve(settings.Host, settings.Port);
            FWhere = QStringLiteral("%1:%2").arg(numericHost(FAddress)).arg(settings.Port);
        }
    }
    ~TdvOfficeServer()
    {
        FRelays.clear();
        if (FListener >= 0) {
            ::close(FListener);
            if (!FSettings.SocketPath.isEmpty())
                ::unlink(encodeFileName(FSettings.SocketPath).constData());
        }
    }
    int Run();

private:
    enum class TdvWatchEnd { Stop, Died, Restart, Stuck };
    void start();
    TdvWatchEnd watch(QString& reason);
    void acceptClients();
    // Moves bytes of a relay; false once it is over. `left` is set when the client went away.
    bool serve(Relay& relay, short clientEvents, short officeEvents, bool& left);

    TdvOfficeServerSettings FSettings;
    sockaddr_in FAddress = {};
    QString FWhere; // "127.0.0.1:2002" or "unix:/run/user/1000/vellum/office"
    int FListener = -1;
    std::shared_ptr<TdvOffice> FOffice;
    rtl::Reference<DocumentCounter> FCounter;
    std::list<Relay> FRelays;
};

void TdvOfficeServer::start()
{
    FOffice = TdvOffice::Start(true);
    FCounter = new DocumentCounter();
    try {
        frame::theGlobalEventBroadcaster::get(FOffice->uno().context)
            ->addDocumentEventListener(FCounter.get());
    } catch (const uno::Exception& e) {
        FOffice->Terminate();
        throw TdvError(QStringLiteral("The office's documents cannot be counted: ") + toQString(e.Message));
    }
    printf("Office listening on %s (pid %d)\n", qPrintable(FWhere),
           int(officeProcess(FOffice->ProcessGroup())));
    fflush(stdout);
}

void TdvOfficeServer::acceptClients()
{
    for (;;) {
        const int client = ::accept4(FListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            return; // none waiting, or one that gave up meanwhile
        if (FSettings.SocketPath.isEmpty()) {
            const int one = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        Relay& relay = FRelays.emplace_back();
        relay.Client = client;
        sockaddr_un address;
        const int office = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (office < 0 || !fillUnixAddress(address, FOffice->PipeSocket()) ||
            ::connect(office, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            // The office's acceptor takes connections at once; a client it cannot take is dropped, and its
            // worker tries again.
            if (office >= 0)
                ::close(office);
            FRelays.pop_back();
            continue;
        }
        relay.Office = office;
    }
}

bool TdvOfficeServer::serve(Relay& relay, short clientEvents, short officeEvents, bool& left)
{
    const bool waited = relay.Waiting();
    if (clientEvents & (POLLIN | POLLHUP | POLLERR))
        left = !relay.ToOffice.ReadFrom(relay.Client, relay.Up);
    bool officeGone = false;
    if (officeEvents & (POLLIN | POLLHUP | POLLERR))
        officeGone = !relay.ToClient.ReadFrom(relay.Office, relay.Down);
    if (!left)
        left = !relay.ToClient.WriteTo(relay.Client);
    if (!relay.ToOffice.WriteTo(relay.Office))
        officeGone = true;
    // The office's silence counts from the client's first open call, or from the office's last message.
    const std::int64_t heard = relay.Down.Requests() + relay.Down.Replies();
    if ((!waited && relay.Waiting()) || heard != relay.Heard)
        relay.Since = Clock::now();
    relay.Heard = heard;
    // The office ended the connection: what it said last is passed on, and the client sees the end.
    if (officeGone && !left)
        relay.ToClient.WriteTo(relay.Client);
    return !left && !officeGone;
}

TdvOfficeServer::TdvWatchEnd TdvOfficeServer::watch(QString& reason)
{
    auto nextTick = Clock::now();
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({stopPipe[0], POLLIN, 0});
        fds.push_back({FListener, POLLIN, 0});
        for (const Relay& relay : FRelays) {
            fds.push_back(
                {relay.Client,
                 short((relay.ToOffice.Full() ? 0 : POLLIN) | (relay.ToClient.Empty() ? 0 : POLLOUT)), 0});
            fds.push_back(
                {relay.Office,
                 short((relay.ToClient.Full() ? 0 : POLLIN) | (relay.ToOffice.Empty() ? 0 : POLLOUT)), 0});
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
        const int rc =
            ::poll(fds.data(), nfds_t(fds.size()), int(std::clamp<decltype(wait)>(wait, 0, kTickMs)));
        if (rc < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        if (rc > 0 && fds[0].revents)
            return TdvWatchEnd::Stop;

        std::size_t at = 2;
        for (auto it = FRelays.begin(); it != FRelays.end(); at += 2) {
            bool left = false;
            const bool open = rc <= 0 || serve(*it, fds[at].revents, fds[at + 1].revents, left);
            if (open) {
                ++it;
                continue;
            }
            // A client that leaves while the office works for it leaves the office busy with a deck nobody
            // waits for, maybe stuck in it for good: the next client gets a fresh office at once.
            if (left && it->Waiting()) {
                reason = QStringLiteral("a client left during a call");
                return TdvWatchEnd::Stuck;
            }
            FRelays.erase(it++);
            if (left && FRelays.empty() && documentsOpen(*FOffice) == TdvOpen::Yes) {
                reason = QStringLiteral("a client left a document open");
                return TdvWatchEnd::Restart;
            }
        }
        if (rc > 0 && fds[1].revents)
            acceptClients();

        if (Clock::now() < nextTick)
            continue;
        nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
        if (!FOffice->Alive()) {
            reason = endReason(FOffice->ProcessGroup());
            return TdvWatchEnd::Died;
        }
        bool waiting = false;
        for (const Relay& relay : FRelays) {
            waiting = waiting || relay.Waiting();
            if (FSettings.CallLimit > 0 && relay.Waiting() &&
                Clock::now() - relay.Since > std::chrono::seconds(FSettings.CallLimit)) {
                reason = QStringLiteral("a client waited %1 s without a word from it (Timeout=%1)")
                             .arg(FSettings.CallLimit);
                return TdvWatchEnd::Stuck;
            }
        }
        // Asked only while no client waits: an office at work answers late.
        const int closed = FCounter->Closed;
        if (FSettings.RestartAfter > 0 && closed >= FSettings.RestartAfter && !waiting &&
            documentsOpen(*FOffice) == TdvOpen::No) {
            reason = QStringLiteral("%1 documents closed (OfficeRestart=%2), none open now")
                         .arg(closed)
                         .arg(FSettings.RestartAfter);
            return TdvWatchEnd::Restart;
        }
    }
}

int TdvOfficeServer::Run()
{
    catchStopSignals();
    FListener = FSettings.SocketPath.isEmpty() ? listenTcp(FAddress) : listenUnix(FSettings.SocketPath);
    const auto stopped = [this] {
        printf("Office on %s stopped\n", qPrintable(FWhere));
        fflush(stdout);
        return 0;
    };
    int pauseMs = kFirstPauseMs;
    int failedStarts = 0;
    for (bool first = true;; first = false) {
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
        // The clients of this office lose their connections with it; their workers connect again.
        FRelays.clear();
        if (end == TdvWatchEnd::Restart) {
            fprintf(stderr, "Restarting the office on %s: %s\n", qPrintable(FWhere),
                    reason.toLocal8Bit().constData());
        } else if (end == TdvWatchEnd::Stuck) {
            fprintf(stderr, "Stopping the office on %s: %s; starting a new one\n", qPrintable(FWhere),
                    reason.toLocal8Bit().constData());
            FOffice->Kill();
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

int runOfficeServer(const TdvOfficeServerSettings& settings)
{
    try {
        // Every office the listener starts, on this thread, runs under the limit.
        setThreadOfficeMemoryLimit(settings.MemoryLimitMiB);
        TdvOfficeServer server(settings);
        return server.Run();
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
        return 1;
    }
}
