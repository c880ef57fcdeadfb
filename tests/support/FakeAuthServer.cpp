#include "support/FakeAuthServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray packet(quint8 sequence, const QByteArray &payload)
{
    QByteArray out;
    const auto n = quint32(payload.size());
    out += char(n & 0xff);
    out += char((n >> 8) & 0xff);
    out += char((n >> 16) & 0xff);
    out += char(sequence);
    return out + payload;
}

QByteArray handshake()
{
    QByteArray p;
    p += char(10);
    p += QByteArray("5.5.5-10.11.0-MariaDB-fake") + '\0';
    p += QByteArray("\x01\x00\x00\x00", 4); // thread id
    p += QByteArray("abcdefgh") + '\0';    // scramble, first part
    // CLIENT_LONG_PASSWORD | FOUND_ROWS | LONG_FLAG | CONNECT_WITH_DB |
    // PROTOCOL_41 | TRANSACTIONS | SECURE_CONNECTION; no CLIENT_SSL.
    const quint32 caps = 0x1 | 0x2 | 0x4 | 0x8 | 0x200 | 0x2000 | 0x8000 | 0x80000 /* PLUGIN_AUTH */;
    p += char(caps & 0xff);
    p += char((caps >> 8) & 0xff);
    p += char(45);                          // utf8mb4
    p += QByteArray("\x02\x00", 2);         // status
    p += char((caps >> 16) & 0xff);
    p += char((caps >> 24) & 0xff);
    p += char(21);                          // scramble length
    p += QByteArray(10, '\0');
    p += QByteArray("ijklmnopqrst") + '\0'; // scramble, second part
    p += QByteArray("mysql_native_password") + '\0';
    return packet(0, p);
}

bool readPacket(int fd, QByteArray &all, quint8 *sequence)
{
    unsigned char header[4];
    size_t got = 0;
    while (got < 4) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return false;
        const ssize_t n = ::read(fd, header + got, 4 - got);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    const size_t size = header[0] | (header[1] << 8) | (header[2] << 16);
    *sequence = header[3];
    QByteArray body(qsizetype(size), '\0');
    got = 0;
    while (got < size) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return false;
        const ssize_t n = ::read(fd, body.data() + got, size - got);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    all += body;
    return true;
}

void writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

} // namespace

FakeAuthServer::FakeAuthServer()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_listen, 4) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

FakeAuthServer::~FakeAuthServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        ::close(m_listen);
}

QByteArray FakeAuthServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void FakeAuthServer::serve()
{
    while (!m_stop) {
        pollfd pfd{m_listen, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0)
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        serveClient(fd);
        ::close(fd);
    }
}

void FakeAuthServer::serveClient(int fd)
{
    writeAll(fd, handshake());
    QByteArray in;
    quint8 sequence = 0;
    const bool answered = readPacket(fd, in, &sequence);
    {
        std::lock_guard lock(m_mutex);
        m_received += in;
    }
    if (!answered)
        return;
    m_sawLogin = true;
    // Auth switch request to the clear-text method.
    writeAll(fd, packet(quint8(sequence + 1), QByteArray("\xfe", 1) + QByteArray("mysql_clear_password") + '\0'));
    in.clear();
    readPacket(fd, in, &sequence);
    {
        std::lock_guard lock(m_mutex);
        m_received += in;
    }
    // Whatever came, refuse: the test is about what was sent.
    const QByteArray error("\xff\x15\x04#28000Access denied");
    writeAll(fd, packet(quint8(sequence + 1), error));
}
