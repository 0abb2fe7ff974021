#include "conversion/dvOfficePipe.h"

#include "base/dvError.h"
#include "base/dvPlaces.h"

#include <com/sun/star/io/IOException.hpp>
#include <cppuhelper/implbase1.hxx>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace css;
using css::uno::Reference;
using css::uno::Sequence;

int sendAll(int socket, const Sequence<sal_Int8>& bytes)
{
    sal_Int32 done = 0;
    while (done < bytes.getLength()) {
        const ssize_t n =
            ::send(socket, bytes.getConstArray() + done, size_t(bytes.getLength() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : -1;
        done += sal_Int32(n);
    }
    return 0;
}

namespace {

class PipeConnection : public cppu::WeakImplHelper1<connection::XConnection>
{
public:
    PipeConnection(int fd, QString description) : FSocket(fd), FDescription(std::move(description)) {}
    ~PipeConnection() override { ::close(FSocket); }

    sal_Int32 SAL_CALL read(Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        if (bytes.getLength() != count)
            bytes.realloc(count);
        sal_Int32 done = 0;
        while (done < count) {
            const ssize_t n = ::recv(FSocket, bytes.getArray() + done, size_t(count - done), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw io::IOException(toOUString(lost(n < 0 ? errno : 0)), *this);
            done += sal_Int32(n);
        }
        return done;
    }

    void SAL_CALL write(const Sequence<sal_Int8>& bytes) override
    {
        if (const int failure = sendAll(FSocket, bytes); failure != 0)
            throw io::IOException(toOUString(lost(std::max(failure, 0))), *this);
    }

    void SAL_CALL flush() override {}

    void SAL_CALL close() override
    {
        // Shut down, not closed: a read waiting on it returns, and the number stays ours until the end.
        if (!FClosed.exchange(true))
            ::shutdown(FSocket, SHUT_RDWR);
    }

    OUString SAL_CALL getDescription() override { return toOUString(FDescription); }

private:
    QString lost(int error) const
    {
        return QStringLiteral("The pipe %1 ended: %2")
            .arg(FDescription, error ? systemMessage(error) : QStringLiteral("closed by the office"));
    }

    const int FSocket;
    const QString FDescription;
    std::atomic<bool> FClosed{false};
};

} // namespace

Reference<connection::XConnection> connectOfficePipe(const QString& path, pid_t group)
{
    // A socket's address holds 107 bytes at most, and a profile deep in the temporary folder gives a longer
    // path: the socket is reached through its folder, opened here.
    const QByteArray folderName = QFile::encodeName(path.section(QLatin1Char('/'), 0, -2));
    const int folder =
        ::open(folderName.isEmpty() ? "/" : folderName.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return {};
    const QByteArray name = "/proc/self/fd/" + QByteArray::number(folder) + '/' +
                            QFile::encodeName(path.section(QLatin1Char('/'), -1));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path) {
        ::close(folder);
        throw TdvError(QStringLiteral("The office's pipe %1 has too long a name").arg(path));
    }
    memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        ::close(folder);
        throw TdvError(QStringLiteral("No socket for the office's pipe: ") + systemMessage(error));
    }
    const int connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(folder);
    if (connected != 0) {
        ::close(fd);
        return {};
    }
    // Only the office we started may answer: a socket of that name made first by someone else is refused.
    ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid() ||
        ::getpgid(peer.pid) != group) {
        ::close(fd);
        throw TdvError(QStringLiteral("The office's pipe %1 is held by another program (pid %2)")
                           .arg(path)
                           .arg(peer.pid));
    }
    return new PipeConnection(fd, path);
}
