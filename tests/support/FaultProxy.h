#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>

// A TCP proxy for tests between a client and the MySQL/MariaDB server, able to
// break a connection at a chosen statement. It listens on a free loopback
// port (port()); point a connection at 127.0.0.1:port() instead of the server.
//
// It reads the client's packets far enough to see each command (sequence 0):
// the text of a COM_QUERY or a COM_STMT_PREPARE is matched against the armed
// pattern. A fault fires once:
//   CutBeforeReply - the statement is forwarded, then both sides are closed
//                    before the server's reply can come back;
//   CutAfterReply  - the statement and the server's first reply bytes are
//                    forwarded, then both sides are closed;
//   DropAndCut     - the statement is not forwarded, and both sides are
//                    closed: it never reaches the server;
//   Stall          - the statement is held for the given time, then sent on;
//                    the connection stays open (a slow server or network).
// stallAll() holds every connection in both directions for a time;
// setRefusing() turns new connections away.
//
// setDelay() holds every chunk for a fixed time in each direction, as a
// network link far away does. turns() counts the client's flights: each time
// it sends after the server has answered, on any connection, the client has
// waited for one round trip (the handshake's first one included).
//
// Runs on threads of its own, so a test may block in the client library
// while the proxy works. Not for TLS or compressed connections.
class FaultProxy
{
public:
    enum class Fault { CutBeforeReply, CutAfterReply, Stall, DropAndCut };

    FaultProxy(const QString &serverHost, quint16 serverPort);
    ~FaultProxy();
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    quint16 port() const { return m_port; }

    // Arms `fault` for the next statement matching `pattern` on any connection.
    void arm(Fault fault, const QString &pattern, std::chrono::milliseconds stall = {});
    void disarm();
    // Whether the armed fault has fired, and how often any has.
    bool hasFired() const { return m_fired > 0 && !m_armed; }
    int firedCount() const { return m_fired; }
    // The statement that fired the last fault.
    QByteArray firedStatement() const;
    // Holds all traffic on every connection for `duration` from now.
    void stallAll(std::chrono::milliseconds duration);
    // While on, new connections are closed at once (a server out of reach).
    void setRefusing(bool refusing) { m_refusing = refusing; }
    // New connections go to this server from now on (a load balancer, a
    // fail-over); open ones stay where they are.
    void setServer(const QString &host, quint16 port);
    // Each chunk is forwarded `oneWay` after it came, in both directions.
    void setDelay(std::chrono::milliseconds oneWay) { m_delayMs = oneWay.count(); }
    int turns() const { return m_turns; }
    // Connections that reached the proxy, refused ones included.
    int accepted() const { return m_accepted; }
    void resetTurns() { m_turns = 0; }

private:
    void acceptLoop();
    void pump(int client, int server);
    bool matches(const QByteArray &statement, Fault &fault, std::chrono::milliseconds &stall);
    bool stalled() const;

    QByteArray m_serverHost;
    quint16 m_serverPort = 0;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::list<std::thread> m_links;
    mutable std::mutex m_mutex;
    bool m_armed = false;
    Fault m_fault = Fault::CutBeforeReply;
    QRegularExpression m_pattern;
    std::chrono::milliseconds m_stall{0};
    QByteArray m_firedStatement;
    std::atomic<int> m_fired{0};
    std::atomic<qint64> m_stallUntil{0};
    std::atomic<bool> m_refusing{false};
    std::atomic<qint64> m_delayMs{0};
    std::atomic<int> m_turns{0};
    std::atomic<int> m_accepted{0};
};
