#include "db/Connection.h"

#include "core/Failure.h"
#include "core/Wait.h"
#include "db/ConnectionString.h"
#include "db/GreetingGuard.h"
#include "db/LocalInfile.h"
#include "db/RowSet.h"
#include "db/SshTunnel.h"
#include "db/Workers.h"

#include <QMap>

#include <atomic>
#include <errmsg.h>
#include <exception>
#include <mutex>
#include <mysql.h>
#include <poll.h>

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

} // namespace

Connection::Connection()
{
    initLibrary();
}

Connection::~Connection()
{
    close();
}

ConnectParams Connection::paramsFrom(const QString &connectionString)
{
    const QMap<QString, QString> attrs = parseConnectionString(connectionString);
    const auto pick = [&](std::initializer_list<const char *> keys) {
        for (const char *k : keys) {
            const auto it = attrs.find(QString::fromLatin1(k));
            if (it != attrs.end())
                return it.value();
        }
        return QString();
    };
    ConnectParams p;
    p.host = pick({"SERVER", "HOST"}).toUtf8();
    p.user = pick({"USER", "UID"}).toUtf8();
    p.password = pick({"PASSWORD", "PWD"}).toUtf8();
    p.database = pick({"DATABASE", "DB"}).toUtf8();
    const QString port = pick({"PORT"});
    if (!port.isEmpty()) {
        bool ok = false;
        const uint n = port.toUInt(&ok);
        if (!ok || n > 65535)
            throw Failure(
                QStringLiteral("The port \"%1\" is not a number from 0 to 65535.").arg(port), Failure::UnknownHost);
        p.port = n;
    }
    if (isServerList(p.host)) {
        std::vector<ServerAddress> servers = parseServerList(p.host, p.port);
        if (servers.size() == 1) {
            p.host = servers.front().host;
            p.port = servers.front().port;
        } else {
            p.host = p.host.trimmed();
            p.servers = std::move(servers);
        }
    }
    // "localhost" means the local socket to this client library; a port other
    // than the standard one can only mean TCP.
    p.forceTcp = p.port != 0 && p.port != 3306;
    p.tls = TlsOptions::modeFrom(pick({"SSLMODE", "SSL-MODE"}));
    p.caFile = pick({"SSLCA", "SSL-CA"}).toUtf8();
    p.sshHost = pick({"SSHHOST"}).trimmed().toUtf8();
    return p;
}

void Connection::open(const QString &connectionString)
{
    open(paramsFrom(connectionString));
}

void Connection::open(const ConnectParams &params)
{
    if (params.servers.size() > 1)
        return openAny(params);
    connect(params);
    afterConnect();
}

void Connection::openUnchecked(const ConnectParams &params)
{
    // Which of several servers takes writes is read from the session.
    if (params.servers.size() > 1)
        return open(params);
    connect(params);
    m_sessionId = mysql_thread_id(m_mysql);
    m_serverIdentity.clear();
    m_serverPort = 0;
    m_readOnlyReason.clear();
    m_clusterId.clear();
    m_charsetProblem.clear();
    m_canReturn = false;
    m_canCompound = false;
}

void Connection::connect(const ConnectParams &params)
{
    close();
    SshTunnel::Route route = tunnelFor(params);
    if (route.socket.isEmpty())
        return connectVia(params, route);
    try {
        connectVia(params, route);
    } catch (const Failure &f) {
        // A tunnel that ended just now may not have been reaped yet: its
        // socket refuses. Once more through a new tunnel.
        if (f.number() != CR_CONNECTION_ERROR)
            throw;
        SshTunnel::end(route);
        route = tunnelFor(params);
        connectVia(params, route);
    }
}

void Connection::connectVia(const ConnectParams &params, const SshTunnel::Route &route)
{
    // Where TLS is required but the library would sign in without it, the
    // guard reaches the server first and lets the library have the
    // connection only once the server's greeting offers TLS.
    std::unique_ptr<GreetingGuard> guard;
    if (GreetingGuard::isNeeded(params))
        guard = std::make_unique<GreetingGuard>(params, ConnectTimeoutSeconds, route.socket);
    MYSQL *m = mysql_init(nullptr);
    if (!m)
        throw Failure(QStringLiteral("Out of memory while creating a connection."), Failure::OutOfMemory);
    const unsigned timeout = ConnectTimeoutSeconds;
    mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    const unsigned ioTimeout = 60;
    const unsigned readTimeout = params.readTimeoutSeconds;
    mysql_optionsv(m, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    mysql_optionsv(m, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
    mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (guard || (params.forceTcp && route.socket.isEmpty())) {
        const unsigned proto = MYSQL_PROTOCOL_TCP;
        mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &proto);
    } else if (!route.socket.isEmpty()) {
        const unsigned proto = MYSQL_PROTOCOL_SOCKET;
        mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &proto);
    }
    TlsOptions::apply(m, params);
    LocalInfile::setUp(m, params.localInfile);
    try {
        signIn(m, params, guard.get(), route.socket);
        TlsOptions::checkEncrypted(m, params);
    } catch (const Failure &f) {
        mysql_close(m);
        // What ssh said meanwhile (a forward refused, a server it cannot
        // reach) says more than the library's lost connection.
        const QString trouble = route.socket.isEmpty() || f.isTlsFailure() ? QString() : SshTunnel::troubleSince(route);
        if (!trouble.isEmpty())
            throw Failure(trouble + QStringLiteral(" (%1)").arg(f.description()), Failure::SshTunnel);
        throw;
    } catch (...) {
        mysql_close(m);
        throw;
    }
    m_mysql = m;
    m_params = params;
    m_serverInUse.clear();
    m_sessionChecked = false;
}

SshTunnel::Route Connection::tunnelFor(const ConnectParams &params)
{
    if (params.sshHost.isEmpty())
        return {};
    // The library checks the certificate's name against the host it
    // connects to, which through the tunnel is this computer's socket.
    if (params.tls == TlsMode::VerifyIdentity)
        throw Failure(QStringLiteral("The server's host name cannot be checked through an SSH tunnel. For a "
                                     "connection through the SSH host %1, check the certificate against the CA file "
                                     "only.")
                          .arg(QString::fromUtf8(params.sshHost)),
            Failure::TlsConnectionError);
    return SshTunnel::route(params.sshHost, params.host.isEmpty() ? QByteArray("localhost") : params.host,
        params.port ? params.port : 3306);
}

void Connection::signIn(MYSQL *m, const ConnectParams &params, GreetingGuard *guard, const QByteArray &socket)
{
    const auto orNull = [](const QByteArray &b) { return b.isEmpty() ? nullptr : b.constData(); };
    const bool tunnel = !socket.isEmpty() && !guard;
    const char *host = guard ? GreetingGuard::placeholderHost() : tunnel ? "localhost" : orNull(params.host);
    const unsigned port = guard ? guard->placeholderPort() : tunnel ? 0 : params.port;
    if (guard)
        guard->arm(m);
    const bool connected = mysql_real_connect(m, host, params.user.constData(), params.password.constData(),
        orNull(params.database), port, tunnel ? socket.constData() : nullptr, CLIENT_FOUND_ROWS);
    if (guard)
        guard->disarm(m);
    if (connected)
        return;
    if (guard && guard->refusedPlain())
        TlsOptions::refuseUnencrypted();
    throw Failure(
        TlsOptions::describeFailure(params, mysql_errno(m), QString::fromUtf8(mysql_error(m))), long(mysql_errno(m)));
}

bool Connection::openWaiting(const ConnectParams &params, const std::function<bool(qint64 ms)> &waiting)
{
    close();
    struct Attempt
    {
        std::atomic<bool> ended{false};
        Connection opened;
        std::exception_ptr failure;
    };
    auto attempt = std::make_shared<Attempt>();
    Wait wait;
    wait.until([&] { return attempt->ended.load(); }).every(50, waiting);
    std::thread worker([attempt, params, wake = wait.waker()] {
        mysql_thread_init();
        try {
            attempt->opened.open(params);
        } catch (...) {
            attempt->failure = std::current_exception();
        }
        mysql_thread_end();
        attempt->ended = true;
        wake();
    });
    // An attempt that ended while the user gave up is taken all the same.
    const bool gaveUp = wait.run() == Wait::Result::GaveUp && !attempt->ended;
    if (gaveUp) {
        // The attempt's connection closes with it, in whichever thread lets
        // go of it last.
        Workers::adopt(std::move(worker), [attempt] { return attempt->ended.load(); });
        Workers::reap();
        return false;
    }
    worker.join();
    if (attempt->failure)
        std::rethrow_exception(attempt->failure);
    takeOver(attempt->opened);
    return true;
}

void Connection::takeOver(Connection &other)
{
    close();
    std::swap(m_mysql, other.m_mysql);
    m_sessionId = other.m_sessionId;
    m_serverIdentity = other.m_serverIdentity;
    m_serverInUse = other.m_serverInUse;
    m_serverPort = other.m_serverPort;
    m_readOnlyReason = other.m_readOnlyReason;
    m_clusterId = other.m_clusterId;
    m_openedAt = other.m_openedAt;
    m_canReturn = other.m_canReturn;
    m_canCompound = other.m_canCompound;
    m_charsetProblem = other.m_charsetProblem;
    m_sessionChecked = other.m_sessionChecked;
    m_params = other.m_params;
}

namespace {

// A Galera node's readiness, cluster and state, as "NAME=value" pairs; the
// status table is read only on a node of a cluster.
const QByteArray wsrepColumn = ", IF(@@GLOBAL.wsrep_on, (SELECT GROUP_CONCAT(VARIABLE_NAME, '=', VARIABLE_VALUE) FROM "
                               "information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME IN ('WSREP_READY', "
                               "'WSREP_LOCAL_STATE', 'WSREP_CLUSTER_STATE_UUID')), NULL)";

// The columns that tell the server instance apart: a host name, port and
// data folder name one installation; server_uuid (MySQL) one data folder.
// None of them changes when the server restarts (see restartedSinceOpen()).
QByteArray serverIdentityColumns(MYSQL *m, bool mariaDb)
{
    QByteArray columns = ", @@hostname, @@port, @@datadir, @@server_id";
    if (!mariaDb && mysql_get_server_version(m) >= 50600)
        columns += ", @@server_uuid";
    return columns;
}

} // namespace

// The handshake asks for utf8mb4, but the server may have put the session in
// another character set (init_connect). What the session says is checked;
// only when it differs is it set again with the client library's own call
// (which sets the library's escaping alike) and checked once more. The same
// statement reads which server this is, at no extra round trip.
void Connection::afterConnect()
{
    m_sessionId = mysql_thread_id(m_mysql);
    const unsigned long version = mysql_get_server_version(m_mysql);
    const bool mariaDb = QByteArray(mysql_get_server_info(m_mysql)).contains("MariaDB");
    m_canReturn = version >= 100500 && mariaDb;
    if (readSession(mariaDb) != SessionCheck::OtherCharset)
        return;
    if (mysql_set_character_set(m_mysql, "utf8mb4") != 0) {
        m_charsetProblem = QStringLiteral("The session's character set could not be set to utf8mb4: %1")
                               .arg(QString::fromUtf8(mysql_error(m_mysql)));
        return;
    }
    readSession(mariaDb);
}

// Reads the session's character sets, id, clock, sql_mode and server;
// charsetProblem() tells when the session is not as escaping assumes.
Connection::SessionCheck Connection::readSession(bool mariaDb)
{
    m_sessionChecked = true;
    m_charsetProblem.clear();
    m_serverIdentity.clear();
    m_canCompound = false;
    const QByteArray head = "SELECT @@character_set_client, @@character_set_connection, @@character_set_results, "
                            "CONNECTION_ID(), UNIX_TIMESTAMP(), @@sql_mode, @@read_only";
    const QByteArray identity = serverIdentityColumns(m_mysql, mariaDb);
    std::unique_ptr<RowSet> rows;
    try {
        rows = select(head + (mariaDb ? wsrepColumn : QByteArray(", NULL")) + identity);
    } catch (const Failure &f) {
        if (!mariaDb || f.number() != Failure::UnknownSystemVariable) // a build without Galera
            throw;
        rows = select(head + ", NULL" + identity);
    }
    const auto cell = [&](int c) {
        const RowStore::Cell v = rows->rows().cell(0, c);
        return v.isNull() ? QByteArray("NULL") : QByteArray(v.text().data(), qsizetype(v.text().size()));
    };
    if (!rows || rows->recordCount() != 1 || rows->fieldCount() < 9) {
        m_charsetProblem = QStringLiteral("The session's character set could not be read.");
        return SessionCheck::Unreadable;
    }
    readServerState(cell(6), cell(7));
    m_sessionId = cell(3).toULong();
    m_openedAt = cell(4).toLongLong();
    // Oracle mode reads BEGIN ... END as PL/SQL.
    m_canCompound = mariaDb && mysql_get_server_version(m_mysql) >= 100101 && !cell(5).contains("ORACLE");
    m_serverPort = cell(9).toUInt();
    for (int c = 8; c < rows->fieldCount(); ++c)
        m_serverIdentity += QByteArray::number(cell(c).size()) + ':' + cell(c);
    const char *names[] = {"client", "connection", "results"};
    for (int c = 0; c < 3; ++c) {
        if (cell(c) != "utf8mb4") {
            m_charsetProblem = QStringLiteral("The server set the session's character_set_%1 to %2, not utf8mb4, so "
                                              "values could not be sent safely. Nothing is written on this connection.")
                                   .arg(QLatin1String(names[c]), QString::fromUtf8(cell(c)));
            return SessionCheck::OtherCharset;
        }
    }
    return SessionCheck::Ok;
}

void Connection::readServerState(const QByteArray &readOnly, const QByteArray &wsrep)
{
    m_readOnlyReason.clear();
    m_clusterId.clear();
    if (wsrep != "NULL") {
        QMap<QByteArray, QByteArray> status;
        for (const QByteArray &pair : wsrep.split(',')) {
            const qsizetype equals = pair.indexOf('=');
            status.insert(pair.left(equals).toUpper(), equals < 0 ? QByteArray() : pair.mid(equals + 1));
        }
        if (status.value("WSREP_READY").toUpper() != "ON")
            m_readOnlyReason = QStringLiteral("The server is a Galera node that is not ready for use (wsrep_ready is "
                                              "not ON).");
        else if (status.value("WSREP_LOCAL_STATE") != "4")
            m_readOnlyReason = QStringLiteral("The server is a Galera node that is not synced with its cluster "
                                              "(wsrep_local_state is %1, not 4).")
                                   .arg(QString::fromUtf8(status.value("WSREP_LOCAL_STATE")));
        else
            m_clusterId = status.value("WSREP_CLUSTER_STATE_UUID");
    }
    if (m_readOnlyReason.isEmpty() && readOnly == "1")
        m_readOnlyReason = QStringLiteral("The server is read-only (read_only is ON): it may be a replica, or kept "
                                          "from changes on purpose.");
}

// Uptime costs the server a walk over all its sessions, so it is read only
// here, when a lost session's fate matters, not at every connect.
bool Connection::restartedSinceOpen(qint64 openedAt)
{
    const std::unique_ptr<RowSet> rows = select("SHOW GLOBAL STATUS LIKE 'Uptime'");
    if (rows->recordCount() != 1 || rows->fieldCount() != 2)
        throw Failure(QStringLiteral("The server did not tell its uptime."));
    const RowStore::Cell v = rows->rows().cell(0, 1);
    const qint64 uptime = QByteArray(v.text().data(), qsizetype(v.text().size())).toLongLong();
    return m_openedAt - uptime > openedAt;
}

bool Connection::clusterMayHold(unsigned serverPort)
{
    const std::unique_ptr<RowSet> rows = select("SHOW GLOBAL STATUS LIKE 'wsrep_incoming_addresses'");
    if (rows->recordCount() != 1 || rows->fieldCount() != 2)
        return true;
    const RowStore::Cell v = rows->rows().cell(0, 1);
    const QByteArray addresses = QByteArray(v.text().data(), qsizetype(v.text().size())).trimmed();
    if (addresses.isEmpty())
        return true;
    for (const QByteArray &entry : addresses.split(',')) {
        // A member whose address is not told ("AUTO", no port) may be it.
        const QByteArray t = entry.trimmed();
        if (t.isEmpty() || !isServerList(t))
            return true;
        try {
            if (parseServerList(t, 0).front().port == serverPort)
                return true;
        } catch (const Failure &) {
            return true;
        }
    }
    return false;
}

std::vector<ServerWarning> Connection::warnings(bool always)
{
    std::vector<ServerWarning> out;
    if (!m_mysql || (!always && mysql_warning_count(m_mysql) == 0))
        return out;
    const std::unique_ptr<RowSet> rows = select("SHOW WARNINGS");
    if (rows->fieldCount() < 3)
        return out;
    for (qint64 r = 0; r < rows->recordCount(); ++r) {
        const auto text = [&](int c) {
            const RowStore::Cell v = rows->rows().cell(r, c);
            return QString::fromUtf8(v.text().data(), qsizetype(v.text().size()));
        };
        if (text(0).compare(QLatin1String("Note"), Qt::CaseInsensitive) != 0)
            out.push_back({text(1).toUInt(), text(2)});
    }
    return out;
}

void Connection::requireKnownCharset() const
{
    if (!m_charsetProblem.isEmpty())
        throw Failure(m_charsetProblem);
}

QString Connection::tlsCipher() const
{
    const char *cipher = m_mysql ? mysql_get_ssl_cipher(m_mysql) : nullptr;
    return cipher ? QString::fromLatin1(cipher) : QString();
}

QString Connection::tlsVersion() const
{
    const char *version = nullptr;
    if (!m_mysql || tlsCipher().isEmpty() || mariadb_get_infov(m_mysql, MARIADB_CONNECTION_TLS_VERSION, &version) != 0)
        return {};
    return version ? QString::fromLatin1(version) : QString();
}

bool Connection::isLocalSocket() const
{
    // A tunnel's socket leads to another computer.
    return m_mysql && m_params.sshHost.isEmpty() && TlsOptions::isLocalSocket(m_mysql);
}

bool Connection::looksAlive() const
{
    if (!m_mysql)
        return false;
    pollfd socket{int(mysql_get_socket(m_mysql)), POLLIN | POLLRDHUP, 0};
    return socket.fd >= 0 && ::poll(&socket, 1, 0) == 0;
}

void Connection::close()
{
    if (m_mysql) {
        mysql_close(m_mysql);
        m_mysql = nullptr;
    }
}

void Connection::fail() const
{
    if (!m_mysql)
        failNotOpen();
    throw Failure(QString::fromUtf8(mysql_error(m_mysql)), long(mysql_errno(m_mysql)));
}

void Connection::failNotOpen() const
{
    Failure::throwNotOpen();
}

void Connection::query(const QByteArray &sql)
{
    if (!m_mysql)
        failNotOpen();
    if (mysql_real_query(m_mysql, sql.constData(), sql.size()) != 0)
        fail();
}

MYSQL_RES *Connection::useResult(const QString &source)
{
    MYSQL_RES *res = mysql_use_result(m_mysql);
    if (!res) {
        if (mysql_errno(m_mysql))
            fail();
        throw Failure(QStringLiteral("The statement returned no rows: %1").arg(source));
    }
    return res;
}

quint64 Connection::exec(const QByteArray &sql)
{
    query(sql);
    if (mysql_field_count(m_mysql) != 0) {
        // A statement that unexpectedly yields rows: drain them.
        if (MYSQL_RES *res = mysql_store_result(m_mysql))
            mysql_free_result(res);
        return 0;
    }
    const my_ulonglong n = mysql_affected_rows(m_mysql);
    return n == my_ulonglong(-1) ? 0 : quint64(n);
}

void Connection::results(const QByteArray &sql, std::vector<std::unique_ptr<RowSet>> &out)
{
    query(sql);
    for (;;) {
        if (mysql_field_count(m_mysql) != 0) {
            out.push_back(std::make_unique<RowSet>());
            out.back()->readResult(*this, QString());
        }
        const int next = mysql_next_result(m_mysql);
        if (next > 0)
            fail();
        if (next < 0)
            return;
    }
}

std::unique_ptr<RowSet> Connection::select(const QByteArray &sql)
{
    query(sql);
    auto rows = std::make_unique<RowSet>();
    if (mysql_field_count(m_mysql) != 0)
        rows->readResult(*this, QString::fromUtf8(sql));
    return rows;
}

quint64 Connection::insertId() const
{
    return m_mysql ? quint64(mysql_insert_id(m_mysql)) : 0;
}

QByteArray Connection::escape(const QByteArray &value) const
{
    if (!m_mysql)
        failNotOpen();
    QByteArray out(value.size() * 2 + 1, Qt::Uninitialized);
    const unsigned long n = mysql_real_escape_string(m_mysql, out.data(), value.constData(), value.size());
    out.truncate(qsizetype(n));
    return out;
}
