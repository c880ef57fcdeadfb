#include "support/FaultProxy.h"

#include "support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <stdexcept>

namespace {

constexpr unsigned char ComQuery = 0x03;
constexpr unsigned char ComStmtPrepare = 0x16;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Bytes on their way to one side, each chunk due at its time.
struct Delayed
{
    std::deque<std::pair<qint64, QByteArray>> chunks;

    qint64 nextDue() const { return chunks.empty() ? -1 : chunks.front().first; }
    // Sends what is due by `until`; false when the peer is gone.
    bool flush(int fd, qint64 until)
    {
        while (!chunks.empty() && chunks.front().first <= until) {
            const QByteArray &c = chunks.front().second;
            if (!sendAll(fd, c.constData(), size_t(c.size())))
                return false;
            chunks.pop_front();
        }
        return true;
    }
};

} // namespace

FaultProxy::FaultProxy(const QString &serverHost, quint16 serverPort)
    : m_serverHost(serverHost.toUtf8()), m_serverPort(serverPort)
{
    m_listener = listenOnLoopback(m_port, "FaultProxy");
    m_acceptor = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy()
{
    m_stop = true;
    m_acceptor.join();
    for (std::thread &t : m_links)
        t.join();
    ::close(m_listener);
}

void FaultProxy::arm(Fault fault, const QString &pattern, std::chrono::milliseconds stall)
{
    const std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_pattern = QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
    m_stall = stall;
    m_armed = true;
}

void FaultProxy::disarm()
{
    const std::lock_guard lock(m_mutex);
    m_armed = false;
}

QByteArray FaultProxy::firedStatement() const
{
    const std::lock_guard lock(m_mutex);
    return m_firedStatement;
}

void FaultProxy::stallAll(std::chrono::milliseconds duration)
{
    m_stallUntil = nowMs() + duration.count();
}

void FaultProxy::setServer(const QString &host, quint16 port)
{
    const std::lock_guard lock(m_mutex);
    m_serverHost = host.toUtf8();
    m_serverPort = port;
}

bool FaultProxy::stalled() const
{
    return nowMs() < m_stallUntil;
}

bool FaultProxy::matches(const QByteArray &statement, Fault &fault, std::chrono::milliseconds &stall)
{
    const std::lock_guard lock(m_mutex);
    if (!m_armed || !m_pattern.match(QString::fromUtf8(statement)).hasMatch())
        return false;
    m_armed = false;
    fault = m_fault;
    stall = m_stall;
    m_firedStatement = statement;
    ++m_fired;
    return true;
}

void FaultProxy::acceptLoop()
{
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            continue;
        ++m_accepted;
        if (m_refusing) {
            ::close(client);
            continue;
        }
        QByteArray host;
        quint16 port = 0;
        {
            const std::lock_guard lock(m_mutex);
            host = m_serverHost;
            port = m_serverPort;
        }
        const int server = connectTo(host, port);
        if (server < 0) {
            ::close(client);
            continue;
        }
        // As the client library and the server do: a chunk goes out at once,
        // not after the peer's delayed acknowledgement of the one before.
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_links.emplace_back([this, client, server] { pump(client, server); });
    }
}

// Moves bytes both ways until either side closes, a fault cuts the link or
// the proxy stops. Client bytes go on packet by packet, so a statement can be
// seen whole before it is forwarded.
void FaultProxy::pump(int client, int server)
{
    QByteArray fromClient;
    bool cutAfterReply = false;
    bool answered = true; // the server spoke last: the client's next bytes are a new turn
    Delayed toClient, toServer;
    const auto forward = [&](int fd, Delayed &queue, const char *data, size_t size) {
        queue.chunks.emplace_back(nowMs() + m_delayMs, QByteArray(data, qsizetype(size)));
        return queue.flush(fd, nowMs());
    };
    char buffer[65536];
    bool open = true;
    while (open && !m_stop) {
        if (stalled()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        qint64 wait = 50;
        for (const qint64 due : {toClient.nextDue(), toServer.nextDue()})
            if (due >= 0)
                wait = qBound(qint64(0), due - nowMs(), wait);
        pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        const int ready = ::poll(p, 2, int(wait));
        if (!toClient.flush(client, nowMs()) || !toServer.flush(server, nowMs()))
            break;
        if (ready <= 0)
            continue;
        if (p[1].revents) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
            answered = true;
            open = n > 0 && forward(client, toClient, buffer, size_t(n)) && !cutAfterReply;
            if (cutAfterReply)
                toClient.flush(client, nowMs() + m_delayMs);
        }
        if (open && p[0].revents) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            if (answered)
                ++m_turns;
            answered = false;
            fromClient.append(buffer, n);
            while (open && fromClient.size() >= 4) {
                const auto *h = reinterpret_cast<const unsigned char *>(fromClient.constData());
                const qsizetype length = qsizetype(h[0] | (h[1] << 8) | (h[2] << 16));
                const bool first = h[3] == 0; // a command starts a new exchange
                if (fromClient.size() < 4 + length)
                    break;
                const QByteArray packet = fromClient.left(4 + length);
                fromClient.remove(0, 4 + length);
                Fault fault{};
                std::chrono::milliseconds stall{};
                const bool command = first && length > 0
                    && (packet.at(4) == char(ComQuery) || packet.at(4) == char(ComStmtPrepare));
                const bool fire = command && matches(packet.mid(5), fault, stall);
                if (fire && fault == Fault::Stall)
                    std::this_thread::sleep_for(stall);
                if (fire && fault == Fault::DropAndCut) {
                    open = false;
                    break;
                }
                open = forward(server, toServer, packet.constData(), size_t(packet.size()));
                if (fire && fault == Fault::CutBeforeReply) {
                    toServer.flush(server, nowMs() + m_delayMs);
                    open = false;
                }
                if (fire && fault == Fault::CutAfterReply)
                    cutAfterReply = true;
            }
        }
    }
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    ::close(client);
    ::close(server);
}
