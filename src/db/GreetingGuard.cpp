#include "db/GreetingGuard.h"

#include "core/Failure.h"
#include "db/Connection.h"

#include <QElapsedTimer>

#include <errmsg.h>
#include <mysql.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

thread_local GreetingGuard *t_armed = nullptr;

// What the library itself does when no hook is set.
int plainWait(int fd, bool isRead, int timeoutMs)
{
    pollfd p{fd, short(isRead ? POLLIN : POLLOUT), 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs > 0 ? timeoutMs : -1);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        errno = ETIMEDOUT;
    return rc;
}

// The library's own texts for these failures.
[[noreturn]] void failConnect(unsigned code, const QByteArray &host, int detail)
{
    const QString text = code == CR_UNKNOWN_HOST ? QStringLiteral("Unknown server host '%1' (%2)")
                                                 : QStringLiteral("Can't connect to server on '%1' (%2)");
    throw Failure(text.arg(QString::fromUtf8(host.left(100))).arg(detail), long(code));
}

// A non-blocking connect to one address, waited for until `deadline`.
int connectTo(const addrinfo &a, const QElapsedTimer &clock, qint64 deadlineMs, int &error)
{
    const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0)
        return fd;
    error = errno;
    if (error == EINPROGRESS) {
        const int left = int(qMax<qint64>(1, deadlineMs - clock.elapsed()));
        socklen_t len = sizeof error;
        if (plainWait(fd, false, left) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            return fd;
        if (error == EINPROGRESS)
            error = ETIMEDOUT;
    }
    ::close(fd);
    return -1;
}

} // namespace

bool GreetingGuard::isNeeded(const ConnectParams &params)
{
    if (params.tls != TlsMode::Required && params.tls != TlsMode::VerifyCa)
        return false;
    // The library's rule: no host, or "localhost", means the local socket
    // unless TCP is asked for.
    return params.forceTcp || !params.sshHost.isEmpty() || (!params.host.isEmpty() && params.host != "localhost");
}

namespace {

// The tunnel's socket is local: it answers at once or not at all.
int connectToSocket(const QByteArray &path, int &error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    error = size_t(path.size()) < sizeof address.sun_path ? 0 : ENAMETOOLONG;
    if (fd >= 0 && error == 0) {
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            return fd;
    }
    error = error ? error : errno;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

GreetingGuard::GreetingGuard(const ConnectParams &params, int timeoutSeconds, const QByteArray &tunnelSocket)
{
    QElapsedTimer clock;
    clock.start();
    if (tunnelSocket.isEmpty()) {
        connectToHost(
            params.host.isEmpty() ? QByteArray("localhost") : params.host, params.port, clock, timeoutSeconds);
    } else {
        int error = 0;
        m_server = connectToSocket(tunnelSocket, error);
        if (m_server < 0)
            failConnect(CR_CONNECTION_ERROR, tunnelSocket, error);
    }
    openPlaceholder();
}

void GreetingGuard::connectToHost(
    const QByteArray &host, unsigned portNumber, const QElapsedTimer &clock, int timeoutSeconds)
{
    const QByteArray port = QByteArray::number(portNumber ? portNumber : MYSQL_PORT);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const int gai = ::getaddrinfo(host.constData(), port.constData(), &hints, &found);
    if (gai != 0 || !found)
        failConnect(CR_UNKNOWN_HOST, host, gai);
    int error = 0;
    for (const addrinfo *a = found; a && m_server < 0; a = a->ai_next)
        m_server = connectTo(*a, clock, qint64(timeoutSeconds) * 1000, error);
    ::freeaddrinfo(found);
    if (m_server < 0)
        failConnect(CR_CONNECTION_ERROR, host, error);
}

void GreetingGuard::openPlaceholder()
{
    // Never accepted: the library's connection to it only waits.
    m_placeholder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in here{};
    here.sin_family = AF_INET;
    here.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof here;
    if (m_placeholder < 0 || ::bind(m_placeholder, reinterpret_cast<sockaddr *>(&here), sizeof here) != 0
        || ::listen(m_placeholder, 1) != 0
        || ::getsockname(m_placeholder, reinterpret_cast<sockaddr *>(&here), &len) != 0) {
        const int e = errno;
        ::close(m_server);
        if (m_placeholder >= 0)
            ::close(m_placeholder);
        throw Failure(QStringLiteral("Could not prepare the connection: %1").arg(QString::fromLocal8Bit(strerror(e))),
            CR_SOCKET_CREATE_ERROR);
    }
    m_placeholderPort = ntohs(here.sin_port);
}

GreetingGuard::~GreetingGuard()
{
    if (t_armed == this)
        t_armed = nullptr;
    if (m_server >= 0)
        ::close(m_server);
    ::close(m_placeholder);
}

void GreetingGuard::arm(MYSQL *mysql)
{
    t_armed = this;
    int (*hook)(my_socket, my_bool, int) = &GreetingGuard::ioWait;
    mysql_optionsv(mysql, MARIADB_OPT_IO_WAIT, hook);
}

void GreetingGuard::disarm(MYSQL *mysql)
{
    if (t_armed == this)
        t_armed = nullptr;
    mysql_optionsv(mysql, MARIADB_OPT_IO_WAIT, nullptr);
}

int GreetingGuard::ioWait(int fd, char isRead, int timeoutMs)
{
    GreetingGuard *guard = t_armed;
    if (guard && !guard->m_decided && isRead && guard->isPlaceholder(fd))
        return guard->handOver(fd, timeoutMs);
    return plainWait(fd, isRead, timeoutMs);
}

bool GreetingGuard::isPlaceholder(int fd) const
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) == 0 && peer.sin_family == AF_INET
        && peer.sin_addr.s_addr == htonl(INADDR_LOOPBACK) && ntohs(peer.sin_port) == m_placeholderPort;
}

int GreetingGuard::handOver(int fd, int timeoutMs)
{
    m_decided = true;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = timeoutMs > 0 ? timeoutMs : qint64(Connection::ConnectTimeoutSeconds) * 1000;
    QByteArray bytes(1024, Qt::Uninitialized);
    Greeting seen = Greeting::Incomplete;
    while (seen == Greeting::Incomplete && clock.elapsed() < limit) {
        if (plainWait(m_server, true, int(limit - clock.elapsed()) + 1) != 1)
            break;
        const ssize_t n = ::recv(m_server, bytes.data(), size_t(bytes.size()), MSG_PEEK);
        if (n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN)))
            break;
        seen = judge(bytes.left(qMax<ssize_t>(n, 0)));
        if (seen == Greeting::Incomplete)
            ::poll(nullptr, 0, 5); // the rest is on its way
    }
    if (seen == Greeting::Plain)
        m_refusedPlain = true;
    if (seen != Greeting::OffersTls && seen != Greeting::ServerError) {
        errno = ETIMEDOUT;
        return 0;
    }
    // The library set its socket's options before it waited; the server's
    // socket takes them over with the descriptor.
    const std::pair<int, int> options[] = {
        {SOL_SOCKET, SO_RCVTIMEO}, {SOL_SOCKET, SO_SNDTIMEO}, {SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_NODELAY}};
    for (const auto &[level, name] : options) {
        char value[32];
        socklen_t len = sizeof value;
        if (::getsockopt(fd, level, name, value, &len) == 0)
            ::setsockopt(m_server, level, name, value, len);
    }
    ::fcntl(m_server, F_SETFL, ::fcntl(fd, F_GETFL));
    if (::dup3(m_server, fd, O_CLOEXEC) < 0)
        return -1;
    ::close(m_server);
    m_server = -1;
    return 1;
}

// The first packet: 3 bytes of length, a sequence number, then either an
// error (0xff) or protocol 10: version text, NUL, 4 bytes of thread id, 8 of
// scramble, a filler byte, and the low 2 bytes of the capabilities.
GreetingGuard::Greeting GreetingGuard::judge(const QByteArray &bytes)
{
    if (bytes.size() < 5)
        return Greeting::Incomplete;
    const auto byte = [&](qsizetype i) { return uchar(bytes[i]); };
    const qsizetype length = byte(0) | byte(1) << 8 | byte(2) << 16;
    if (byte(4) == 0xff)
        return Greeting::ServerError;
    if (byte(4) != 10)
        return Greeting::Plain;
    const qsizetype end = 4 + length;
    const qsizetype nul = bytes.indexOf('\0', 5);
    const qsizetype caps = nul + 1 + 4 + 8 + 1;
    if (nul >= 0 && nul < end && caps + 2 <= end && caps + 2 <= bytes.size())
        return (byte(caps) | byte(caps + 1) << 8) & CLIENT_SSL ? Greeting::OffersTls : Greeting::Plain;
    // Not there yet, unless the packet is whole (or larger than any greeting).
    return bytes.size() >= end || bytes.size() >= 1024 ? Greeting::Plain : Greeting::Incomplete;
}
