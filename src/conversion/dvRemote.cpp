// Offices on other machines: a worker reaches an office listener over a socket, sends each deck to it as a
// stream and takes the PDF back the same way, so the listener needs no access to this machine's files.

#include "conversion/dvOffice.h"
#include "conversion/dvUno.h"
#include "discovery/dvFileUtils.h"
#include "discovery/dvPlaces.h"
#include "engine/dvConvertor.h"
#include "project/dvError.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/io/SequenceInputStream.hpp>
#include <com/sun/star/io/TempFile.hpp>
#include <cppuhelper/implbase1.hxx>

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace {

// A PDF comes back in pieces of this size, one call each.
constexpr sal_Int32 kChunk = 4 << 20;

// A TCP connection within the limit: a refusing, unknown or silent host is told quickly and in the system's
// words. Answers the socket, or -1 with `problem` saying why.
int connectWithin(const QString& host, int port, int limitMs, QString& problem)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc =
        getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found);
    if (rc != 0) {
        problem = QString::fromLocal8Bit(gai_strerror(rc));
        return -1;
    }
    problem = QStringLiteral("no address");
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            problem = systemMessage(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) < 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd p = {fd, POLLOUT, 0};
                const int ready = poll(&p, 1, limitMs);
                socklen_t size = sizeof(error);
                if (ready == 0)
                    error = ETIMEDOUT;
                else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                    error = errno;
            }
        }
        if (error == 0) {
            freeaddrinfo(found);
            // Blocking from here on: the bridge's reader waits on it, and closing it ends that wait.
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        problem = error == ETIMEDOUT ? QStringLiteral("no answer within %1 s").arg(limitMs / 1000)
                                     : systemMessage(error);
    }
    freeaddrinfo(found);
    return -1;
}

// The bridge's connection over a socket of our own, so that it can be closed from any thread at any time:
// a call waiting on a remote office ends with an error as soon as its connection is closed.
class SocketConnection : public cppu::WeakImplHelper1<connection::XConnection>
{
public:
    // `broken` is set as soon as the connection fails, before the bridge gets round to saying so: a worker
    // asking whether its office is alive must not take another item on a connection that is gone.
    SocketConnection(int fd, QString description, std::shared_ptr<std::atomic<bool>> broken)
        : FSocket(fd), FDescription(std::move(description)), FBroken(std::move(broken))
    {
    }
    ~SocketConnection() override { ::close(FSocket); }

    sal_Int32 SAL_CALL read(Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        if (bytes.getLength() != count)
            bytes.realloc(count);
        sal_Int32 done = 0;
        while (done < count) {
            const ssize_t n = ::recv(FSocket, bytes.getArray() + done, size_t(count - done), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *FBroken = true;
                throw io::IOException(toOUString(lost(n < 0 ? errno : 0)), *this);
            }
            done += sal_Int32(n);
        }
        return done;
    }

    void SAL_CALL write(const Sequence<sal_Int8>& bytes) override
    {
        sal_Int32 done = 0;
        while (done < bytes.getLength()) {
            const ssize_t n =
                ::send(FSocket, bytes.getConstArray() + done, size_t(bytes.getLength() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *FBroken = true;
                throw io::IOException(toOUString(lost(n < 0 ? errno : 0)), *this);
            }
            done += sal_Int32(n);
        }
    }

    void SAL_CALL flush() override {}

    void SAL_CALL close() override
    {
        // Shut down, not closed: a read waiting on it returns, and the number stays ours until the end.
        *FBroken = true;
        if (!FClosed.exchange(true))
            ::shutdown(FSocket, SHUT_RDWR);
    }

    OUString SAL_CALL getDescription() override { return toOUString(FDescription); }

private:
    QString lost(int error) const
    {
        if (FClosed)
            return QStringLiteral("The connection to %1 was closed").arg(FDescription);
        return QStringLiteral("The connection to %1 ended: %2")
            .arg(FDescription, error ? systemMessage(error) : QStringLiteral("closed by the other side"));
    }

    const int FSocket;
    const QString FDescription;
    const std::shared_ptr<std::atomic<bool>> FBroken;
    std::atomic<bool> FClosed{false};
};

// Closes a connection when the limit passes before the caller is done with it.
class ConnectionClock
{
public:
    ConnectionClock(Reference<connection::XConnection> connection, int limitMs)
        : FConnection(std::move(connection)), FThread([this, limitMs] {
              std::unique_lock l(FLock);
              if (!FWake.wait_for(l, std::chrono::milliseconds(limitMs), [this] { return FDone; })) {
                  FFired = true;
                  try {
                      FConnection->close();
                  } catch (...) {
                  }
              }
          })
    {
    }
    ~ConnectionClock()
    {
        {
            std::lock_guard l(FLock);
            FDone = true;
        }
        FWake.notify_all();
        FThread.join();
    }
    bool Fired()
    {
        std::lock_guard l(FLock);
        return FFired;
    }

private:
    Reference<connection::XConnection> FConnection;
    std::mutex FLock;
    std::condition_variable FWake;
    bool FDone = false;
    bool FFired = false;
    std::thread FThread;
};

bool isLocalFileUrl(const OUString& url)
{
    return url.startsWithIgnoreAsciiCase("file:");
}

// The local path of a "file://" address, its bytes as they were escaped.
QString localPathOfUrl(const OUString& url)
{
    QString text = toQString(url);
    text.remove(0, 5); // "file:"
    if (text.startsWith(QLatin1String("//")))
        text.remove(0, text.indexOf(QLatin1Char('/'), 2));
    return decodeFileName(QByteArray::fromPercentEncoding(text.toLatin1()));
}

QByteArray readLocalFile(const QString& path)
{
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw TdvError(QStringLiteral("%1 cannot be read: %2").arg(path, systemMessage(errno)));
    QByteArray data;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw TdvError(QStringLiteral("%1 cannot be read: %2").arg(path, systemMessage(error)));
        }
        if (n == 0)
            break;
        data.append(buffer, n);
    }
    ::close(fd);
    return data;
}

Sequence<beans::PropertyValue> withProperty(const Sequence<beans::PropertyValue>& args, const char* name,
                                            const Any& value)
{
    std::vector<beans::PropertyValue> list;
    for (const beans::PropertyValue& p : args)
        if (p.Name != OUString::createFromAscii(name))
            list.push_back(p);
    beans::PropertyValue added;
    added.Name = OUString::createFromAscii(name);
    added.Value = value;
    list.push_back(added);
    return Sequence<beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

} // namespace

std::shared_ptr<TdvOffice> TdvOffice::Connect(const QString& server, int limitSeconds)
{
    QString host;
    int port = 0;
    if (!TdvServers::SplitAddress(server, host, port))
        throw TdvError(QStringLiteral("%1 is no office address (host:port)").arg(server));
    const int limitMs = std::max(limitSeconds, 1) * 1000;

    QString problem;
    const int fd = connectWithin(host, port, limitMs, problem);
    if (fd < 0)
        throw TdvError(QStringLiteral("The office at %1 cannot be reached: %2").arg(server, problem));
    std::shared_ptr<TdvOffice> office(new TdvOffice());
    office->FServer = server;
    Uno& u = *office->FUno;
    u.connection.set(new SocketConnection(fd, server, u.disposed));
    try {
        const Reference<bridge::XBridgeFactory2> bridges = bridge::BridgeFactory::create(localUnoContext());
        // A listener that takes the connection but never answers would hold the worker for good.
        ConnectionClock clock(u.connection, limitMs);
        try {
            const Reference<bridge::XBridge> link =
                bridges->createBridge(OUString(), OUString("urp"), u.connection, {});
            u.bridge.set(link, UNO_QUERY_THROW);
            u.bridge->addEventListener(disposeFlagListener(u.disposed));
            u.context.set(link->getInstance(OUString("StarOffice.ComponentContext")), UNO_QUERY_THROW);
            u.manager = u.context->getServiceManager();
            u.desktop = frame::Desktop::create(u.context);
        } catch (const uno::Exception&) {
            if (clock.Fired())
                throw TdvError(QStringLiteral("The office at %1 did not answer within %2 s")
                                   .arg(server)
                                   .arg(limitMs / 1000));
            throw;
        }
        if (clock.Fired())
            throw TdvError(QStringLiteral("The office at %1 did not answer within %2 s")
                               .arg(server)
                               .arg(limitMs / 1000));
    } catch (const uno::Exception& e) {
        office->Kill();
        throw TdvError(
            QStringLiteral("The office at %1 cannot be reached: %2").arg(server, toQString(e.Message)));
    } catch (...) {
        office->Kill();
        throw;
    }
    return office;
}

Reference<lang::XComponent> loadDocument(TdvOffice& office, const OUString& url,
                                         const Sequence<beans::PropertyValue>& args)
{
    const Reference<frame::XComponentLoader> loader(office.uno().desktop, UNO_QUERY_THROW);
    // Every office gets a local deck as a stream: it sees no file of the user's, and no folder that the
    // deck's relative links could climb out of.
    if (!isLocalFileUrl(url))
        return loader->loadComponentFromURL(url, OUString("_blank"), 0, args);
    // The deck goes over in one call; the office reads it from a stream of its own.
    const QByteArray bytes = readLocalFile(localPathOfUrl(url));
    const Sequence<sal_Int8> data(reinterpret_cast<const sal_Int8*>(bytes.constData()),
                                  sal_Int32(bytes.size()));
    const Reference<io::XInputStream> stream(
        io::SequenceInputStream::createStreamFromSequence(office.uno().context, data), UNO_QUERY_THROW);
    return loader->loadComponentFromURL(OUString("private:stream"), OUString("_blank"), 0,
                                        withProperty(args, "InputStream", Any(stream)));
}

void storeDocument(TdvOffice& office, const Reference<frame::XStorable>& storable, const OUString& url,
                   const Sequence<beans::PropertyValue>& args)
{
    if (!isLocalFileUrl(url) || office.CanWrite(localPathOfUrl(url))) {
        storable->storeToURL(url, args);
        return;
    }
    // Written into a temporary file of the office's, then read back here piece by piece.
    const Reference<io::XTempFile> temp = io::TempFile::create(office.uno().context);
    storable->storeToURL(OUString("private:stream"),
                         withProperty(args, "OutputStream", Any(temp->getOutputStream())));
    temp->seek(0);
    const Reference<io::XInputStream> in = temp->getInputStream();

    const QString path = localPathOfUrl(url);
    const int fd = ::open(encodeFileName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw TdvError(QStringLiteral("%1 cannot be written: %2").arg(path, systemMessage(errno)));
    try {
        Sequence<sal_Int8> chunk;
        for (;;) {
            const sal_Int32 n = in->readBytes(chunk, kChunk);
            if (n <= 0)
                break;
            const char* at = reinterpret_cast<const char*>(chunk.getConstArray());
            sal_Int32 left = n;
            while (left > 0) {
                const ssize_t w = ::write(fd, at, size_t(left));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0)
                    throw TdvError(
                        QStringLiteral("%1 cannot be written: %2").arg(path, systemMessage(errno)));
                at += w;
                left -= sal_Int32(w);
            }
        }
    } catch (...) {
        ::close(fd);
        ::unlink(encodeFileName(path).constData());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(encodeFileName(path).constData());
        throw TdvError(QStringLiteral("%1 cannot be written: %2").arg(path, systemMessage(error)));
    }
    try {
        in->closeInput();
    } catch (const uno::Exception&) {
        // The office removes its temporary file with the stream either way.
    }
}
