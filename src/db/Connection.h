#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct st_mysql;
typedef struct st_mysql MYSQL;
class RowSet;

// Where and as whom a connection signs in, read from the connection text.
struct ConnectParams
{
    QByteArray host;
    QByteArray user;
    QByteArray password;
    QByteArray database;
    unsigned port = 0; // 0: the client's default
    bool forceTcp = false;
    // How long a read may wait for the server; 0 waits for as long as it
    // takes (a reader that can be cancelled instead).
    unsigned readTimeoutSeconds = 60;
};

// One link to a MySQL or MariaDB server over MariaDB Connector/C. Opened from
// the ODBC-style connection text; every failure is thrown as a Failure that
// carries the server's (or client's) message and error number.
//
// Client settings: a 10 s connect timeout, utf8mb4, UPDATE counting found
// rows rather than changed rows, one statement per call. Not thread-safe: one
// thread uses a connection at a time.
class Connection
{
public:
    static constexpr int ConnectTimeoutSeconds = 10;

    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Kept for the callers that set it; rows are always read to the client.
    void setCursorLocation(int location) { m_cursorLocation = location; }
    int cursorLocation() const { return m_cursorLocation; }

    void open(const QString &connectionString);
    void open(const ConnectParams &params);
    bool isOpen() const { return m_mysql != nullptr; }
    int state() const { return isOpen() ? 1 : 0; }
    void close();

    // Runs one statement. Returns its rows when it yields any (SHOW, SELECT),
    // else nullptr.
    std::unique_ptr<RowSet> execute(const QString &sql);
    // Runs one statement that yields no rows; returns the affected (found) rows.
    quint64 exec(const QByteArray &sql);

    quint64 insertId() const;
    QByteArray escape(const QByteArray &value) const;
    QByteArray quote(const QByteArray &value) const { return '\'' + escape(value) + '\''; }

    const ConnectParams &params() const { return m_params; }
    MYSQL *handle() const { return m_mysql; }

    // Throws the connection's current error.
    [[noreturn]] void fail() const;
    [[noreturn]] void failNotOpen() const;

    // Parses the connection text; throws Failure on a port that is not a number.
    static ConnectParams paramsFrom(const QString &connectionString);

private:
    MYSQL *m_mysql = nullptr;
    ConnectParams m_params;
    int m_cursorLocation = 0;
};
