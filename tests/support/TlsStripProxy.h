#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

// A man in the middle for tests: a TCP proxy on a free loopback port
// (port()) that forwards to a MySQL/MariaDB server but clears the TLS flag
// (CLIENT_SSL) in the server's greeting, so a client that goes on signs in
// in the clear. It keeps every byte the clients sent (fromClients()).
// Runs on threads of its own, so a test may block in the client library.
class TlsStripProxy
{
public:
    TlsStripProxy(const QString &serverHost, quint16 serverPort);
    ~TlsStripProxy();
    TlsStripProxy(const TlsStripProxy &) = delete;
    TlsStripProxy &operator=(const TlsStripProxy &) = delete;

    quint16 port() const { return m_port; }
    // Greetings passed on with the flag cleared.
    int strippedCount() const { return m_stripped; }
    QByteArray fromClients() const;

private:
    void acceptLoop();
    void link(int client);
    bool stripGreeting(int server, int client);

    QByteArray m_serverHost;
    quint16 m_serverPort = 0;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_stripped{0};
    std::thread m_acceptor;
    std::list<std::thread> m_links;
    mutable std::mutex m_mutex;
    QByteArray m_fromClients;
};
