#pragma once

#include "core/Failure.h"

#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>

class Connection;
struct st_mysql;
typedef struct st_mysql MYSQL;
struct st_mysql_res;
typedef struct st_mysql_res MYSQL_RES;
struct st_mysql_stmt;
typedef struct st_mysql_stmt MYSQL_STMT;
struct st_mysql_bind;
typedef struct st_mysql_bind MYSQL_BIND;

// The rows of one running query, one at a time, as the text each cell has
// in the server's text protocol (what mysql_fetch_row gives), whichever
// protocol carries them.
class ResultRows
{
public:
    // Runs `sql` on `mysql` and returns its rows, streamed (nothing is held
    // beyond the current row). Throws Failure when the statement is refused
    // or returns no rows; `source` names it in that message.
    //
    // A query whose columns are all of the kinds listed in ResultRows.cpp
    // goes through a prepared statement: the server then sends numbers and
    // times as stored instead of formatting each as text, which is a good
    // part of its work per row, and the client library formats them as the
    // server would have. Anything else, or a server that will not prepare the
    // statement, goes through the text protocol.
    //
    // With Protocol::Binary the caller knows the columns suit (columnSuits):
    // the statement is prepared and executed in one round trip instead of
    // two. Should they not suit after all (the table changed meanwhile), the
    // connection is shut (mariadb_cancel), so its rows need not be read, and
    // null is returned: open it again and run the statement anew.
    // Protocol::Text goes through the text protocol at once.
    enum class Protocol { Choose, Binary, Text };
    static std::unique_ptr<ResultRows> run(
        Connection &connection, const QByteArray &sql, const QString &source, Protocol protocol = Protocol::Choose);
    // Whether a column of this DATA_TYPE and COLUMN_TYPE (as
    // information_schema.COLUMNS gives them) comes through a prepared
    // statement exactly as its text; false for kinds not known here.
    static bool columnSuits(const QByteArray &dataType, const QByteArray &columnType);
    // columnSuits() as an SQL condition on information_schema.COLUMNS's
    // DATA_TYPE and COLUMN_TYPE, for a server to decide by.
    static QByteArray columnSuitsCondition();
    // The rows of `stmt`, a statement of `mysql` executed and standing at a
    // result with fields, read as run() reads a prepared statement's; takes
    // `stmt` over. Null when the fields do not suit after all: the
    // connection is shut then (mariadb_cancel), as with Protocol::Binary.
    static std::unique_ptr<ResultRows> ofStatement(MYSQL *mysql, MYSQL_STMT *stmt);

    virtual ~ResultRows() = default;

    // The result's fields, as mysql_fetch_fields would give them.
    virtual MYSQL_RES *metadata() const = 0;
    int columnCount() const { return m_columns; }
    // Moves to the next row: its cells (null for NULL) and their lengths,
    // valid until the next call. False at the end, or when reading failed.
    virtual bool next(const char *const *&cells, const unsigned long *&lengths) = 0;
    // Why reading stopped early, after next() returned false.
    virtual std::optional<Failure> failure() const = 0;
    // Whether the rows come through a prepared statement.
    virtual bool isBinary() const = 0;

    // While on, every query goes through the text protocol (tests compare
    // the two).
    static void setTextOnlyForTesting(bool textOnly);

protected:
    int m_columns = 0;
};
