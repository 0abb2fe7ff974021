// Offices on other machines: a worker reaches an office listener over a socket, and the office reads each
// deck from a stream of ours and writes the PDF into another, piece by piece as it goes, so that the listener
// needs no access to this machine's files and no deck is ever held here whole.

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvOffice.h"
#include "conversion/dvOfficeErrors.h"
#include "conversion/dvOfficePipe.h"
#include "conversion/dvUno.h"
#include "engine/dvConvertor.h"
#include "project/dvProject.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/io/BufferSizeExceededException.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/io/NotConnectedException.hpp>
#include <com/sun/star/io/TempFile.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/io/XOutputStream.hpp>
#include <com/sun/star/io/XSeekable.hpp>
#include <com/sun/star/io/XStream.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <cppuhelper/implbase1.hxx>
#include <cppuhelper/implbase2.hxx>
#include <rtl/ref.hxx>

#include <QByteArray>

#include <algorithm>
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
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace {

// The bridge asks for every message whole, by the length its sender wrote in front of it: a length from a
// listener that is no office (or a broken one) must not decide what this program allocates. An office's
// largest message in a conversion is a piece of the PDF it writes (32 KiB); anything near this limit is no
// answer to our calls.
constexpr sal_Int32 kLargestMessage = 16 << 20;
// A message is taken in as its bytes arrive, in buffers that grow by this much at least: a length alone
// costs nothing.
constexpr sal_Int32 kReceiveStep = 64 << 10;
// readSomeBytes answers at most this much at once; readBytes gives what is asked, as it must (offices ask
// for 8 and 32 KiB at a time).
constexpr sal_Int32 kLargestPiece = 4 << 20;
// The office opens no deck of 2 GiB or more (its package reader counts in 32 bits): a 2.13 GB deck converts,
// a 2.21 GB one fails as "damaged", after the office has read it for minutes.
constexpr qint64 kLargestDeck = (qint64(1) << 31) - 1;
// The piece in which a deck is copied into the office's own temporary file.
constexpr sal_Int32 kStagePiece = 1 << 20;

QString mebibytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1 << 20), 'f', bytes < (10 << 20) ? 1 : 0);
}

void setSocketOptions(int fd, bool tcp)
{
    // Blocking from here on: the bridge's reader waits on it, and closing it ends that wait.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    if (tcp)
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
}

// Connects a non-blocking socket within the limit; answers 0 or the errno of the failure.
int connectSocket(int fd, const sockaddr* address, socklen_t size, int limitMs)
{
    if (::connect(fd, address, size) == 0)
        return 0;
    int error = errno;
    if (error == EINPROGRESS) {
        pollfd p = {fd, POLLOUT, 0};
        const int ready = poll(&p, 1, limitMs);
        socklen_t length = sizeof(error);
        if (ready == 0)
            error = ETIMEDOUT;
        else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            error = errno;
    }
    return error;
}

QString connectProblem(int error, int limitMs)
{
    return error == ETIMEDOUT ? QStringLiteral("no answer within %1 s").arg(limitMs / 1000)
                              : systemMessage(error);
}

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
        const int error = connectSocket(fd, a->ai_addr, a->ai_addrlen, limitMs);
        if (error == 0) {
            freeaddrinfo(found);
            setSocketOptions(fd, true);
            return fd;
        }
        ::close(fd);
        problem = connectProblem(error, limitMs);
    }
    freeaddrinfo(found);
    return -1;
}

// A listener's Unix socket: on this machine, or the local end of an SSH tunnel to one.
int connectUnixWithin(const QString& path, int limitMs, QString& problem)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = encodeFileName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path)) {
        problem = systemMessage(ENAMETOOLONG);
        return -1;
    }
    memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = systemMessage(errno);
        return -1;
    }
    const int error = connectSocket(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address, limitMs);
    if (error != 0) {
        ::close(fd);
        problem = connectProblem(error, limitMs);
        return -1;
    }
    setSocketOptions(fd, false);
    return fd;
}

// The bridge's connection over a socket of our own, so that it can be closed from any thread at any time:
// a call waiting on a remote office ends with an error as soon as its connection is closed.
class SocketConnection : public cppu::WeakImplHelper1<connection::XConnection>
{
public:
    // `broken` is set as soon as the connection fails, before the bridge gets round to saying so: a worker
    // asking whether its office is alive must not take another item on a connection that is gone.
    SocketConnection(int fd, QString description, std::shared_ptr<std::atomic<bool>> broken,
                     std::shared_ptr<TdvLinkFault> fault)
        : FSocket(fd), FDescription(std::move(description)), FBroken(std::move(broken)),
          FFault(std::move(fault))
    {
    }
    ~SocketConnection() override { ::close(FSocket); }

    sal_Int32 SAL_CALL read(Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        if (count < 0 || count > kLargestMessage) {
            // The bridge's reader swallows its error: the worker's failure text takes it from the fault.
            const QString reason =
                QStringLiteral("it sent a message of %1 MiB, larger than any answer of an office (%2 MiB)")
                    .arg(mebibytes(count < 0 ? qint64(count) + (qint64(1) << 32) : qint64(count)),
                         mebibytes(kLargestMessage));
            FFault->Set(reason);
            *FBroken = true;
            throw io::IOException(
                toOUString(QStringLiteral("The office at %1: %2").arg(FDescription, reason)), *this);
        }
        // Grown as the bytes come: a length with nothing behind it costs nothing.
        bytes.realloc(std::min(count, kReceiveStep));
        sal_Int32 done = 0;
        while (done < count) {
            if (done == bytes.getLength())
                bytes.realloc(std::min(count, std::max(2 * done, done + kReceiveStep)));
            const ssize_t n = ::recv(FSocket, bytes.getArray() + done, size_t(bytes.getLength() - done), 0);
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
        if (const int failure = sendAll(FSocket, bytes); failure != 0) {
            *FBroken = true;
            throw io::IOException(toOUString(lost(std::max(failure, 0))), *this);
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
    const std::shared_ptr<TdvLinkFault> FFault;
    std::atomic<bool> FClosed{false};
};

// Closes a connection when the limit passes before the caller is done with it.
class ConnectionClock
{
public:
    ConnectionClock(const Reference<connection::XConnection>& connection, int limitMs)
        : FConnection(connection), FThread([this, limitMs] {
              std::unique_lock l(FLock);
              if (!FWake.wait_for(l, std::chrono::milliseconds(limitMs), [this] { return FDone; })) {
                  FFired = true;
                  try {
                      FConnection->close();
                  } catch (const uno::Exception&) {
                      // Closed already: the wait it was to end is over either way.
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

// Whether the office takes this machine's files as streams of ours rather than by their paths.
bool streamsFiles(const TdvOffice& office)
{
    return office.StreamsFiles();
}

// A deck read by the office piece by piece, as it asks, straight from the file: the office sees no file of
// this machine, and no more of the deck is held here than the piece asked for. Import filters seek, so it
// seeks too; positions and the length are 64-bit.
class DeckInputStream : public cppu::WeakImplHelper2<io::XInputStream, io::XSeekable>
{
public:
    // Opens the deck; fails with the system's words.
    explicit DeckInputStream(const QString& path) : FPath(path)
    {
        FFile = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
        struct stat info = {};
        if (FFile < 0 || ::fstat(FFile, &info) != 0) {
            const int error = errno;
            if (FFile >= 0)
                ::close(FFile);
            FFile = -1;
            throw TdvError(unreadablePresentationMessage(path, systemMessage(error)));
        }
        FSize = sal_Int64(info.st_size);
    }
    ~DeckInputStream() override
    {
        if (FFile >= 0)
            ::close(FFile);
    }

    sal_Int32 SAL_CALL readBytes(Sequence<sal_Int8>& data, sal_Int32 count) override
    {
        return read(data, count, count);
    }
    sal_Int32 SAL_CALL readSomeBytes(Sequence<sal_Int8>& data, sal_Int32 most) override
    {
        return read(data, most, std::min(most, kLargestPiece));
    }
    void SAL_CALL skipBytes(sal_Int32 count) override
    {
        std::lock_guard l(FLock);
        checkOpen();
        if (count < 0)
            throw io::BufferSizeExceededException(OUString(), *this);
        FPosition = std::min(FSize, FPosition + count);
    }
    sal_Int32 SAL_CALL available() override
    {
        std::lock_guard l(FLock);
        checkOpen();
        return sal_Int32(std::clamp<sal_Int64>(FSize - FPosition, 0, SAL_MAX_INT32));
    }
    void SAL_CALL closeInput() override
    {
        std::lock_guard l(FLock);
        if (FFile >= 0)
            ::close(FFile);
        FFile = -1;
    }
    void SAL_CALL seek(sal_Int64 location) override
    {
        std::lock_guard l(FLock);
        checkOpen();
        if (location < 0 || location > FSize)
            throw lang::IllegalArgumentException(OUString(), *this, 0);
        FPosition = location;
    }
    sal_Int64 SAL_CALL getPosition() override
    {
        std::lock_guard l(FLock);
        checkOpen();
        return FPosition;
    }
    sal_Int64 SAL_CALL getLength() override
    {
        std::lock_guard l(FLock);
        checkOpen();
        return FSize;
    }

    // Why reading the deck failed, in words; empty while it has not.
    QString Failure() const
    {
        std::lock_guard l(FLock);
        return FFailure;
    }
    sal_Int64 Size() const { return FSize; }

private:
    void checkOpen()
    {
        if (FFile < 0)
            throw io::NotConnectedException(OUString(), *this);
    }

    // Reads up to `take` of the `count` bytes asked for from the current position; fewer only at the end.
    sal_Int32 read(Sequence<sal_Int8>& data, sal_Int32 count, sal_Int32 take)
    {
        std::lock_guard l(FLock);
        checkOpen();
        if (count < 0)
            throw io::BufferSizeExceededException(OUString(), *this);
        const sal_Int32 want = sal_Int32(std::clamp<sal_Int64>(FSize - FPosition, 0, take));
        data.realloc(want);
        sal_Int32 done = 0;
        while (done < want) {
            const ssize_t n =
                ::pread(FFile, data.getArray() + done, size_t(want - done), off_t(FPosition + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                FFailure = unreadablePresentationMessage(FPath, systemMessage(errno));
                throw io::IOException(toOUString(FFailure), *this);
            }
            if (n == 0)
                break; // the file became shorter meanwhile: its end is here
            done += sal_Int32(n);
        }
        if (done < want)
            data.realloc(done);
        FPosition += done;
        return done;
    }

    const QString FPath;
    mutable std::mutex FLock;
    int FFile = -1;
    sal_Int64 FSize = 0;
    sal_Int64 FPosition = 0;
    QString FFailure;
};

// The PDF as the office writes it, piece by piece, into the worker's work file.
class PdfOutputStream : public cppu::WeakImplHelper1<io::XOutputStream>
{
public:
    explicit PdfOutputStream(const QString& path) : FPath(path)
    {
        FFile = ::open(encodeFileName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (FFile < 0)
            throw TdvError(writeFailure(errno));
    }
    ~PdfOutputStream() override
    {
        if (FFile >= 0)
            ::close(FFile);
    }

    void SAL_CALL writeBytes(const Sequence<sal_Int8>& data) override
    {
        std::lock_guard l(FLock);
        if (FFile < 0)
            throw io::NotConnectedException(OUString(), *this);
        const char* at = reinterpret_cast<const char*>(data.getConstArray());
        size_t left = size_t(data.getLength());
        while (left > 0) {
            const ssize_t n = ::write(FFile, at, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail(errno);
            at += n;
            left -= size_t(n);
        }
    }
    void SAL_CALL flush() override {}
    void SAL_CALL closeOutput() override
    {
        std::lock_guard l(FLock);
        closeFile();
    }

    // Closes the file once the office is done; a failure (the disk filled up at the end) is thrown.
    void Finish()
    {
        std::lock_guard l(FLock);
        closeFile();
        if (!FFailure.isEmpty())
            throw io::IOException(toOUString(FFailure), *this);
    }
    // Closes and removes what was written of a PDF that failed.
    void Discard()
    {
        std::lock_guard l(FLock);
        if (FFile >= 0)
            ::close(FFile);
        FFile = -1;
        ::unlink(encodeFileName(FPath).constData());
    }
    QString Failure() const
    {
        std::lock_guard l(FLock);
        return FFailure;
    }

private:
    QString writeFailure(int error) const
    {
        return QStringLiteral("The PDF file cannot be written to %1: %2")
            .arg(extractFilePath(FPath), systemMessage(error));
    }
    [[noreturn]] void fail(int error)
    {
        FFailure = writeFailure(error);
        throw io::IOException(toOUString(FFailure), *this);
    }
    void closeFile()
    {
        if (FFile < 0)
            return;
        const int rc = ::close(FFile);
        FFile = -1;
        if (rc != 0 && errno != EINTR && FFailure.isEmpty())
            FFailure = writeFailure(errno);
    }

    const QString FPath;
    mutable std::mutex FLock;
    int FFile = -1;
    QString FFailure;
};

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

// The office names a stream it was given "private:stream" in its messages; the person knows the file.
void nameTheFile(uno::Exception& e, const OUString& url)
{
    e.Message = e.Message.replaceAll(OUString("private:stream"), url);
}

} // namespace

void TdvLinkFault::Set(const QString& reason)
{
    std::lock_guard l(FLock);
    if (FReason.isEmpty())
        FReason = reason;
}

QString TdvLinkFault::Reason() const
{
    std::lock_guard l(FLock);
    return FReason;
}

std::shared_ptr<TdvOffice> TdvOffice::Connect(const QString& server, int limitSeconds)
{
    const QString socketPath = TdvServers::SocketPath(server);
    QString host;
    int port = 0;
    if (socketPath.isEmpty() && !TdvServers::SplitAddress(server, host, port))
        throw TdvError(QStringLiteral("%1 is no office address (host:port or unix:PATH)").arg(server));
    const int limitMs = std::max(limitSeconds, 1) * 1000;

    QString problem;
    const int fd = socketPath.isEmpty() ? connectWithin(host, port, limitMs, problem)
                                        : connectUnixWithin(socketPath, limitMs, problem);
    if (fd < 0)
        throw TdvError(QStringLiteral("The office at %1 cannot be reached: %2").arg(server, problem));
    std::shared_ptr<TdvOffice> office(new TdvOffice());
    office->FServer = server;
    Uno& u = *office->FUno;
    u.connection.set(new SocketConnection(fd, server, u.disposed, u.fault));
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
        const QString fault = u.fault->Reason();
        throw TdvError(QStringLiteral("The office at %1 cannot be reached: %2")
                           .arg(server, fault.isEmpty() ? toQString(e.Message) : fault));
    } catch (...) {
        office->Kill();
        throw;
    }
    return office;
}

// The office reads a deck in thousands of small pieces, each a call across the connection, which made a deck
// take two to four times as long as from its file: the deck is copied once, in large pieces, into a
// temporary file of the office's own (in its private /tmp), which it then reads at its own speed.
Reference<io::XInputStream> stagedDeck(TdvOffice& office, DeckInputStream& deck)
{
    const Reference<io::XStream> temp(io::TempFile::create(office.uno().context), UNO_QUERY_THROW);
    const Reference<io::XOutputStream> out = temp->getOutputStream();
    Sequence<sal_Int8> piece;
    for (;;) {
        const sal_Int32 n = deck.readBytes(piece, kStagePiece);
        if (n <= 0)
            break;
        if (n < piece.getLength())
            piece.realloc(n);
        out->writeBytes(piece);
    }
    out->flush();
    Reference<io::XSeekable>(temp, UNO_QUERY_THROW)->seek(0);
    deck.closeInput();
    return temp->getInputStream();
}

Reference<lang::XComponent> loadDocument(TdvOffice& office, const OUString& url,
                                         const Sequence<beans::PropertyValue>& args)
{
    const Reference<frame::XComponentLoader> loader(office.uno().desktop, UNO_QUERY_THROW);
    if (isLocalFileUrl(url)) {
        const qint64 size = fileSize(localPathOfUrl(url));
        if (size > kLargestDeck)
            throw io::IOException(
                toOUString(
                    QStringLiteral("The presentation is %1 GiB; the office opens presentations below 2 GiB")
                        .arg(double(size) / (qint64(1) << 30), 0, 'f', 2)),
                Reference<uno::XInterface>());
    }
    // Every office gets a local deck as a stream: it sees no file of the user's, and no folder that the
    // deck's relative links could climb out of.
    if (!streamsFiles(office) || !isLocalFileUrl(url))
        return loader->loadComponentFromURL(url, OUString("_blank"), 0, args);
    const rtl::Reference<DeckInputStream> deck(new DeckInputStream(localPathOfUrl(url)));
    try {
        return loader->loadComponentFromURL(
            OUString("private:stream"), OUString("_blank"), 0,
            withProperty(args, "InputStream", Any(stagedDeck(office, *deck))));
    } catch (uno::Exception& e) {
        // The office tells a failed read of our stream as its own error: the cause is ours to say.
        const QString failure = deck->Failure();
        if (!failure.isEmpty() && office.Alive())
            throw io::IOException(toOUString(failure), Reference<uno::XInterface>());
        nameTheFile(e, url);
        throw;
    }
}

void storeDocument(TdvOffice& office, const Reference<frame::XStorable>& storable, const OUString& url,
                   const Sequence<beans::PropertyValue>& args)
{
    // An office here writes the PDF itself where it may (the worker's work folder); a remote one, or one
    // that may not write there, writes it into a stream of ours.
    if (!isLocalFileUrl(url) || office.CanWrite(localPathOfUrl(url))) {
        storable->storeToURL(url, args);
        return;
    }
    const rtl::Reference<PdfOutputStream> pdf(new PdfOutputStream(localPathOfUrl(url)));
    try {
        storable->storeToURL(
            OUString("private:stream"),
            withProperty(args, "OutputStream", Any(Reference<io::XOutputStream>(pdf.get()))));
        pdf->Finish();
    } catch (uno::Exception& e) {
        pdf->Discard();
        const QString failure = pdf->Failure();
        if (!failure.isEmpty() && office.Alive())
            throw io::IOException(toOUString(failure), Reference<uno::XInterface>());
        nameTheFile(e, url);
        throw;
    }
}
