#include "support/TlsStripProxy.h"

#include "support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int ClientSsl = 0x0800;

} // namespace

TlsStripProxy::TlsStripProxy(const QString &serverHost, quint16 serverPort)
    : m_serverHost(serverHost.toUtf8()), m_serverPort(serverPort)
{
    m_listener = listenOnLoopback(m_port, "TlsStripProxy");
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TlsStripProxy::~TlsStripProxy()
{
    m_stop = true;
    m_acceptor.join();
    for (std::thread &t : m_links)
        t.join();
    ::close(m_listener);
}

QByteArray TlsStripProxy::fromClients() const
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_fromClients;
}

void TlsStripProxy::acceptLoop()
{
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client >= 0)
            m_links.emplace_back([this, client] { link(client); });
    }
}

// Reads the server's first packet whole and passes it on without the flag.
bool TlsStripProxy::stripGreeting(int server, int client)
{
    char header[4];
    if (!readAll(server, header, sizeof header))
        return false;
    const size_t length = uchar(header[0]) | uchar(header[1]) << 8 | uchar(header[2]) << 16;
    QByteArray packet(header, sizeof header);
    packet.resize(qsizetype(4 + length));
    if (!readAll(server, packet.data() + 4, length))
        return false;
    // Protocol 10: version, NUL, thread id (4), scramble (8), filler, capabilities.
    const qsizetype nul = packet.indexOf('\0', 5);
    const qsizetype caps = nul + 1 + 4 + 8 + 1;
    if (packet.size() > 4 && uchar(packet[4]) == 10 && nul > 0 && caps + 2 <= packet.size()) {
        packet[caps + 1] = char(uchar(packet[caps + 1]) & ~(ClientSsl >> 8));
        ++m_stripped;
    }
    return sendAll(client, packet.constData(), size_t(packet.size()));
}

void TlsStripProxy::link(int client)
{
    const int server = connectTo(m_serverHost, m_serverPort);
    if (server >= 0 && stripGreeting(server, client)) {
        char buffer[16384];
        bool open = true;
        while (open && !m_stop) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (i == 0) {
                    std::lock_guard<std::mutex> hold(m_mutex);
                    m_fromClients.append(buffer, n);
                }
                open = sendAll(i == 0 ? server : client, buffer, size_t(n));
            }
        }
    }
    if (server >= 0)
        ::close(server);
    ::close(client);
}
