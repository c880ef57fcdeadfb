#pragma once

#include "db/ServerList.h"
#include "db/SshTunnel.h"
#include "db/TlsOptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct st_mysql;
typedef struct st_mysql MYSQL;
struct st_mysql_res;
typedef struct st_mysql_res MYSQL_RES;
class RowSet;
class GreetingGuard;

// One warning of the server about a statement (SHOW WARNINGS).
struct ServerWarning
{
    unsigned code = 0;
    QString message;
};

// Where and as whom a connection signs in, read from the connection text.
struct ConnectParams
{
    QByteArray host;
    QByteArray user;
    QByteArray password;
    QByteArray database;
    unsigned port = 0; // 0: the client's default
    bool forceTcp = false;
    TlsMode tls = TlsMode::Preferred;
    QByteArray caFile; // for the verifying modes
    // Reached through an SSH tunnel to this destination ("[user@]host[:port]"
    // or a Host alias); host and port then name the server as the SSH host
    // sees it. Empty: a direct connection.
    QByteArray sshHost;
    // How long a read may wait for the server; 0 waits for as long as it
    // takes (a reader that can be cancelled instead).
    unsigned readTimeoutSeconds = 60;
    // Several servers to choose from (host then holds the setting as typed):
    // tried in order, a writable one preferred; empty for one host.
    std::vector<ServerAddress> servers;
    // The session may run LOAD DATA LOCAL, fed by LocalInfile::Serving
    // alone (the import's own connection); every other refuses it.
    bool localInfile = false;

    bool operator==(const ConnectParams &) const = default;
};

// One link to a MySQL or MariaDB server over MariaDB Connector/C. Opened from
// the ODBC-style connection text; every failure is thrown as a Failure that
// carries the server's (or client's) message and error number.
//
// Client settings: a 10 s connect timeout, utf8mb4 (asked for in the
// handshake, checked, and set again only where the server's init_connect
// changed it), UPDATE counting found rows rather than changed rows, one
// statement per call (no multi-statement text). Not thread-safe: one
// thread uses a connection at a time.
class Connection
{
public:
    static constexpr int ConnectTimeoutSeconds = 10;

    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void open(const QString &connectionString);
    void open(const ConnectParams &params);
    // Opens as open() does but reads nothing of the session, a round trip
    // less: for a reader of one statement in plain ASCII (which every
    // character set a session may use reads alike) that checks its result's
    // fields instead (resultSpeaksUtf8mb4). Meanwhile isSessionChecked() is
    // false, charsetProblem() and serverIdentity() are empty and sessionId()
    // is the handshake's.
    void openUnchecked(const ConnectParams &params);
    bool isSessionChecked() const { return m_sessionChecked; }
    // Opens as open() does, but in a thread of its own while the caller's
    // event loop runs, so a server slow to answer leaves the window alive.
    // `waiting` is called about every 50 ms with the time waited so far and
    // returns false to give up: the attempt is then left to end on its own
    // (at most the connect timeout) and its connection closed. Returns false
    // when given up; throws Failure as open() does.
    bool openWaiting(const ConnectParams &params, const std::function<bool(qint64 ms)> &waiting);
    bool isOpen() const { return m_mysql != nullptr; }
    // Whether the session still looks usable, told without asking the
    // server: it is open and nothing has come on its socket since the last
    // answer was read (to an idle session the server sends nothing but its
    // closing). A link that broke silently still looks usable.
    bool looksAlive() const;
    void close();

    // Runs one statement that yields no rows; returns the affected (found) rows.
    quint64 exec(const QByteArray &sql);

    // Runs one statement given as bytes and reads all its rows (SELECT,
    // SHOW, INSERT ... RETURNING); an empty set for one that yields none.
    std::unique_ptr<RowSet> select(const QByteArray &sql);

    // Runs one statement that may yield several results (a compound
    // statement) and reads them all into `out`: one RowSet per result set,
    // in order. Throws the first failure, also one that comes after some
    // results; `out` then holds those before it.
    void results(const QByteArray &sql, std::vector<std::unique_ptr<RowSet>> &out);

    quint64 insertId() const;
    QByteArray escape(const QByteArray &value) const;
    QByteArray quote(const QByteArray &value) const { return '\'' + escape(value) + '\''; }

    const ConnectParams &params() const { return m_params; }
    // The session's cipher and TLS version; empty when it is not encrypted.
    QString tlsCipher() const;
    QString tlsVersion() const;
    // The session runs over the local socket, which never leaves this computer.
    bool isLocalSocket() const;
    // The server's id of this session (for KILL), read at connect.
    unsigned long sessionId() const { return m_sessionId; }
    // The server of the list that this session runs on ("host:port"); empty
    // when the sign-in names one host.
    const QByteArray &serverInUse() const { return m_serverInUse; }
    // Why the server takes no writes now (read_only, a Galera node not
    // synced), read at connect; empty when it takes them.
    const QString &readOnlyReason() const { return m_readOnlyReason; }
    bool isReadOnly() const { return !m_readOnlyReason.isEmpty(); }
    // The state UUID of the Galera cluster whose synced node this is, read
    // at connect: its nodes hold the same rows. Empty otherwise.
    const QByteArray &clusterId() const { return m_clusterId; }
    // Whether a member of this session's Galera cluster may be the server
    // that listens on `serverPort` (by the members' addresses); true when
    // that cannot be told. Asks the server; throws Failure.
    bool clusterMayHold(unsigned serverPort);
    // The server's own port (@@port), read at connect; 0 when unread.
    unsigned serverPort() const { return m_serverPort; }
    // Which server this session runs on, read at connect: its host name,
    // port, data folder and server id (and server_uuid on MySQL). Sessions
    // of the same server have equal ones; empty when unread.
    const QByteArray &serverIdentity() const { return m_serverIdentity; }
    // The server's clock (Unix seconds) when this session opened.
    qint64 openedAt() const { return m_openedAt; }
    // Whether the server started anew after `openedAt` (its clock), which
    // ended every session of that time and numbers sessions from 1 again.
    // Asks the server; throws Failure.
    bool restartedSinceOpen(qint64 openedAt);
    // The warnings (not notes) the last statement left, as the server words
    // them; asks the server only when it counted some, or `always`. Throws
    // Failure.
    std::vector<ServerWarning> warnings(bool always = false);
    // MariaDB 10.5 and later: INSERT ... RETURNING.
    bool canReturnInserted() const { return m_canReturn && m_useReturning; }
    // MariaDB 10.1.1 and later, not in Oracle mode: BEGIN NOT ATOMIC ... END.
    bool canRunCompound() const { return m_canCompound; }
    // Off: inserts are read back as from a server without RETURNING.
    void setUseReturning(bool use) { m_useReturning = use; }
    // Values are escaped for utf8mb4; a session that does not use it (an
    // init_connect, a proxy) must not be written through. Empty when the
    // session is as escaping assumes, else why not.
    const QString &charsetProblem() const { return m_charsetProblem; }
    // Throws Failure with charsetProblem() when there is one.
    void requireKnownCharset() const;

    // Throws the connection's current error.
    [[noreturn]] void fail() const;
    [[noreturn]] void failNotOpen() const;

    // Parses the connection text; throws Failure on a port that is not a number.
    static ConnectParams paramsFrom(const QString &connectionString);

private:
    // The db layer's readers that stream rows through the client library
    // themselves; nothing else reaches the session's handle.
    friend class RowSet;
    friend class ResultRows;
    friend class TableLoader;
    friend class ImportWriter;
    friend QStringList ColumnNames(Connection &connection, const QString &query);
    MYSQL *handle() const { return m_mysql; }
    // Sends one statement. Throws Failure when not open or refused.
    void query(const QByteArray &sql);
    // Starts reading the result of the statement just sent, row by row
    // (mysql_use_result; the caller frees it). Throws Failure when the server
    // failed, or, naming `source`, when the statement has no result set.
    MYSQL_RES *useResult(const QString &source);

    // mysql_real_connect, through `guard` when there is one, else through
    // `socket` when not empty; throws Failure.
    static void signIn(MYSQL *m, const ConnectParams &params, GreetingGuard *guard, const QByteArray &socket);
    // The running tunnel for a connection through SSH (started when needed),
    // or an empty route; throws Failure.
    static SshTunnel::Route tunnelFor(const ConnectParams &params);
    // Signs in with `params`; throws Failure.
    void connect(const ConnectParams &params);
    // Signs in through `route` when it names a tunnel's socket.
    void connectVia(const ConnectParams &params, const SshTunnel::Route &route);
    void afterConnect();
    // Opens one of params.servers: see ConnectionRace.cpp.
    void openAny(const ConnectParams &params);
    // Takes over `other`'s open session and what was read of it.
    void takeOver(Connection &other);
    void readServerState(const QByteArray &readOnly, const QByteArray &wsrep);
    enum class SessionCheck { Ok, Unreadable, OtherCharset };
    SessionCheck readSession(bool mariaDb);

    MYSQL *m_mysql = nullptr;
    unsigned long m_sessionId = 0;
    QByteArray m_serverIdentity;
    QByteArray m_serverInUse;
    unsigned m_serverPort = 0;
    QString m_readOnlyReason;
    QByteArray m_clusterId;
    qint64 m_openedAt = 0;
    bool m_canReturn = false;
    bool m_useReturning = true;
    bool m_canCompound = false;
    QString m_charsetProblem;
    bool m_sessionChecked = false;
    ConnectParams m_params;
};
