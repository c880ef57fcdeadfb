#pragma once

#include <QByteArray>

class QElapsedTimer;
struct st_mysql;
typedef struct st_mysql MYSQL;
struct ConnectParams;

// Keeps the client library from signing in to a server whose greeting does
// not offer TLS, in the modes that require TLS without checking the host name
// (REQUIRED, VERIFY_CA).
//
// Connector/C 3.3 answers a greeting without the TLS capability with the
// sign-in in clear even when told to enforce TLS; only its host-name check
// refuses first, and that check is what VERIFY_CA must not do. Nor does the
// library offer a hook between reading the greeting and answering it, or a
// way to hand it a socket. So the guard opens the TCP connection to the server
// itself and points the library at a loopback placeholder that never speaks.
// When the library waits for the placeholder's greeting (its I/O wait hook,
// MARIADB_OPT_IO_WAIT), the guard looks at the real server's greeting without
// taking it off the socket (MSG_PEEK). If the greeting offers TLS, or is the
// server's error, the server's socket takes the placeholder's place under the
// same descriptor and the library reads that very greeting; otherwise the
// library's wait fails and nothing has been sent to the server. The check and
// the sign-in use one connection, so a man in the middle cannot show the check
// one greeting and the library another.
//
// One connect at a time on the thread that creates the guard.
class GreetingGuard
{
public:
    // TLS required, the host name not checked, and TCP or an SSH tunnel (the
    // local socket never leaves the machine).
    static bool isNeeded(const ConnectParams &params);

    // Connects to the server, or to `tunnelSocket` when not empty. Throws
    // Failure, with the library's texts and numbers, when the host is
    // unknown or does not answer in time.
    GreetingGuard(const ConnectParams &params, int timeoutSeconds, const QByteArray &tunnelSocket = {});
    ~GreetingGuard();
    GreetingGuard(const GreetingGuard &) = delete;
    GreetingGuard &operator=(const GreetingGuard &) = delete;

    // Where the library is to connect instead of the server.
    static const char *placeholderHost() { return "127.0.0.1"; }
    unsigned placeholderPort() const { return m_placeholderPort; }

    // Around mysql_real_connect on this thread: sets and removes the hook.
    void arm(MYSQL *mysql);
    void disarm(MYSQL *mysql);

    // The server's greeting did not offer TLS: the library's connect failed
    // before it sent anything.
    bool refusedPlain() const { return m_refusedPlain; }

private:
    void connectToHost(const QByteArray &host, unsigned port, const QElapsedTimer &clock, int timeoutSeconds);
    void openPlaceholder();
    static int ioWait(int fd, char isRead, int timeoutMs);
    bool isPlaceholder(int fd) const;
    int handOver(int fd, int timeoutMs);
    enum class Greeting { Incomplete, OffersTls, ServerError, Plain };
    static Greeting judge(const QByteArray &bytes);

    int m_server = -1;
    int m_placeholder = -1;
    unsigned m_placeholderPort = 0;
    bool m_decided = false;
    bool m_refusedPlain = false;
};
