#include "db/TableLoader.h"

#include "core/Wait.h"
#include "db/Identifier.h"
#include "db/ResultRows.h"
#include "db/Workers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <set>

#include <variant>

#include <sys/resource.h>
#include <unistd.h>

#include <mysql.h>

namespace {

// The end of a load: every row was read (no failure), or reading failed.
struct End
{
    std::optional<Failure> failure;
};

} // namespace

namespace {

// The rows before the first row shown, all in one.
struct Front
{
    RowStore rows;
};

} // namespace

// One hand-over from the worker: the fields, a chunk of rows, the rows in
// front, or the end.
using Handed = std::variant<std::vector<FieldInfo>, RowStore, Front, End>;

struct TableLoader::Job
{
    ConnectParams params;
    QByteArray sql;
    QString table;
    bool compound = false;
    // startAt(): the row to show first, and once planned by the worker the
    // statement of the rows before it (empty: a plain load).
    RowKey first;
    QByteArray frontSql;
    bool planned = false;
    std::atomic<bool> frontComing{false}; // the rows before the row come later
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
    std::atomic<qint64> rowsRead{0};
    qint64 expectedRows = -1; // the server's estimate; the worker's own

    std::mutex lock;
    TableLoader *owner = nullptr; // null once the owner let go of the job
    MYSQL *mysql = nullptr;       // the worker's connection while it is open
    unsigned long threadId = 0;   // its id on the server
    // What the worker handed over, in order, waiting for the owner. It passes
    // under `lock`, and the call that has the owner take it is posted by the
    // slot's name, so the posted event carries nothing the worker wrote (a
    // race detector cannot see Qt's own ordering of posted events).
    std::deque<Handed> handed;

    // Queues `item` for the owner, unless the owner let go.
    void hand(Handed item)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!owner)
            return;
        handed.push_back(std::move(item));
        if (handed.size() == 1) // else the call taking them is on its way
            QMetaObject::invokeMethod(owner, "takeHanded", Qt::QueuedConnection);
    }
    void postFailure(const Failure &failure) { hand(End{failure}); }
};

#include <map>

namespace {

// After the first screen, a chunk is handed over when it has this many rows
// or has been filling for this long: few hand-overs, yet the count grows.
constexpr qint64 MaxChunkRows = 65536;
constexpr qint64 MaxHoldMs = 50;
// How often rows in front that must wait (a nested event loop runs) look
// again whether they may come in.
constexpr int FrontRetryMs = 50;
// A table is refused before reading when the server says it takes more than
// this many times the memory free: the store is more compact than the
// server's pages, so only a clear excess counts.
constexpr qint64 ClearExcess = 2;

std::atomic<qint64> memoryForTesting{-1};

qint64 fieldAsNumber(const MYSQL_ROW row, int i)
{
    return row[i] ? QByteArray(row[i]).toLongLong() : -1;
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

// What the loader reads of a table before its rows: the server's estimate of
// its rows and bytes (-1: unknown), each column's collation by column name
// (sorting goes by the result's character set without it), the rights the
// server grants the session's user on each column ("select,insert,update,
// references": what it would allow, roles and grants of every level counted)
// and how its rows may come (ResultRows).
struct TableFacts
{
    qint64 rows = -1;
    qint64 bytes = -1;
    std::map<QByteArray, QByteArray> collations;
    std::map<QByteArray, QByteArray> rights;
    ResultRows::Protocol protocol = ResultRows::Protocol::Choose;
};

// information_schema's rows of `table` in the session's database.
QByteArray tableWhere(Connection &connection, const QString &table)
{
    return " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + connection.quote(table.toUtf8());
}

// One statement, one round trip. Facts that cannot be read stop nothing.
TableFacts readTableFacts(Connection &connection, MYSQL *m, const QString &table)
{
    TableFacts facts;
    const QByteArray where = tableWhere(connection, table);
    const QByteArray sql = "SELECT 0, TABLE_ROWS, DATA_LENGTH, NULL, NULL, NULL FROM information_schema.TABLES" + where
        + " UNION ALL SELECT 1, COLUMN_NAME, COLLATION_NAME, DATA_TYPE, COLUMN_TYPE, PRIVILEGES FROM "
          "information_schema.COLUMNS"
        + where;
    if (mysql_real_query(m, sql.constData(), sql.size()) != 0)
        return facts;
    MYSQL_RES *res = mysql_store_result(m);
    if (!res)
        return facts;
    bool suit = true;
    bool columns = false;
    while (const MYSQL_ROW row = mysql_fetch_row(res)) {
        if (row[0] && row[0][0] == '0') {
            facts.rows = fieldAsNumber(row, 1);
            facts.bytes = fieldAsNumber(row, 2);
            continue;
        }
        columns = true;
        if (row[1] && row[2])
            facts.collations[QByteArray(row[1])] = QByteArray(row[2]);
        if (row[1] && row[5])
            facts.rights[QByteArray(row[1])] = QByteArray(row[5]);
        suit = suit && row[3] && row[4] && ResultRows::columnSuits(row[3], row[4]);
    }
    mysql_free_result(res);
    if (columns)
        facts.protocol = suit ? ResultRows::Protocol::Binary : ResultRows::Protocol::Text;
    return facts;
}

// The facts' first result read from `stmt` (bound as text): 0, rows, bytes
// of the table; then 1, name, collation, rights of each column.
bool readFacts(MYSQL_STMT *stmt, TableFacts &facts)
{
    constexpr int Fields = 4;
    if (mysql_stmt_field_count(stmt) != Fields)
        return false;
    char buffer[Fields][1024];
    unsigned long length[Fields] = {};
    my_bool isNull[Fields] = {};
    MYSQL_BIND bind[Fields] = {};
    for (int i = 0; i < Fields; ++i) {
        bind[i].buffer_type = MYSQL_TYPE_STRING;
        bind[i].buffer = buffer[i];
        bind[i].buffer_length = sizeof buffer[i];
        bind[i].length = &length[i];
        bind[i].is_null = &isNull[i];
    }
    if (mysql_stmt_bind_result(stmt, bind) != 0)
        return false;
    int rc = 0;
    while ((rc = mysql_stmt_fetch(stmt)) == 0 || rc == MYSQL_DATA_TRUNCATED) {
        const auto text = [&](int i) {
            return isNull[i] ? QByteArray() : QByteArray(buffer[i], qsizetype(qMin<unsigned long>(length[i], 1024)));
        };
        if (text(0) == "0") {
            facts.rows = isNull[1] ? -1 : text(1).toLongLong();
            facts.bytes = isNull[2] ? -1 : text(2).toLongLong();
        } else if (!isNull[1] && length[1] <= sizeof buffer[1]) {
            if (!isNull[2])
                facts.collations[text(1)] = text(2);
            if (!isNull[3])
                facts.rights[text(1)] = text(3);
        }
    }
    return rc == MYSQL_NO_DATA;
}

Failure failureOf(MYSQL_STMT *stmt, MYSQL *m)
{
    if (mysql_stmt_errno(stmt))
        return Failure(QString::fromUtf8(mysql_stmt_error(stmt)), long(mysql_stmt_errno(stmt)));
    return Failure(QString::fromUtf8(mysql_error(m)), long(mysql_errno(m)));
}

// Throws Failure when the table clearly does not fit in the memory free.
void checkSize(const TableFacts &facts, const QString &table)
{
    const qint64 free = TableLoader::memoryAvailable();
    if (facts.bytes > 0 && free >= 0 && facts.bytes / ClearExcess > free)
        throw Failure(QStringLiteral("The table %1 holds about %2 rows in about %3 MB, but only %4 MB of memory are "
                                     "free. It was not read.")
                          .arg(table)
                          .arg(facts.rows)
                          .arg(megabytes(facts.bytes), megabytes(free)),
            Failure::OutOfMemory);
}

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Reads the table's facts and runs the statement in one prepared compound
// statement, one round trip: the server yields the facts, then the rows when
// every column comes through a prepared statement exactly as text
// (ResultRows::columnSuits); else the text protocol runs the statement next.
// False when the server will not run it: nothing was read then. Null `rows`
// when the fields did not suit after all (the connection is shut).
bool readWithFacts(Connection &connection, MYSQL *m, const QString &table, const QByteArray &statement,
    TableFacts &facts, std::unique_ptr<ResultRows> &rows)
{
    QByteArray select = statement.trimmed();
    while (select.endsWith(';'))
        select = select.chopped(1).trimmed();
    const QByteArray where = tableWhere(connection, table);
    const QByteArray sql = "BEGIN NOT ATOMIC SELECT 0, TABLE_ROWS, DATA_LENGTH, NULL FROM information_schema.TABLES"
        + where + " UNION ALL SELECT 1, COLUMN_NAME, COLLATION_NAME, PRIVILEGES FROM information_schema.COLUMNS" + where
        + "; IF NOT EXISTS (SELECT 1 FROM information_schema.COLUMNS" + where + " AND NOT "
        + ResultRows::columnSuitsCondition() + ") THEN " + select + "; END IF; END";
    MYSQL_STMT *stmt = mysql_stmt_init(m);
    if (!stmt)
        return false;
    if (mariadb_stmt_execute_direct(stmt, sql.constData(), size_t(sql.size())) != 0) {
        const Failure f = failureOf(stmt, m);
        mysql_stmt_close(stmt);
        if (f.number() >= Failure::FirstClientError)
            throw f;
        return false;
    }
    if (!readFacts(stmt, facts)) {
        const Failure f = failureOf(stmt, m);
        mariadb_cancel(m); // the rest of the statement is not read
        mysql_stmt_close(stmt);
        throw f.number() ? f : Failure(QStringLiteral("The server did not tell the size of the table %1.").arg(table));
    }
    int next = 0;
    try {
        checkSize(facts, table);
        do
            next = mysql_stmt_next_result(stmt);
        while (next == 0 && mysql_stmt_field_count(stmt) == 0);
        if (next > 0)
            throw failureOf(stmt, m);
    } catch (const Failure &) {
        mariadb_cancel(m); // closing the statement would read its rows
        mysql_stmt_close(stmt);
        throw;
    }
    if (next == 0) {
        rows = ResultRows::ofStatement(m, stmt);
        return true;
    }
    mysql_stmt_close(stmt);
    rows = ResultRows::run(connection, statement, QString::fromUtf8(statement), ResultRows::Protocol::Text);
    return true;
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0; // column names are
}

// Types whose text form, put back as a literal, compares as the stored value
// and in the primary key's order (no ENUM, SET, floating point, TIMESTAMP
// in a session's time zone, BIT).
bool isPlainKeyType(const QByteArray &type)
{
    static const QByteArrayList plain{"tinyint", "smallint", "mediumint", "int", "bigint", "decimal", "char", "varchar",
        "binary", "varbinary", "date", "datetime", "time", "year"};
    return plain.contains(type.toLower());
}

// The two statements that read the rows of `table` from the row `first`
// names on and the rows before it, each in primary-key order; false when a
// plain `SELECT *` is not certain to return the rows in that order, or no
// row has that key. Two small queries at most: the table's engine, indexes
// and columns; the row's primary key when `first` is another key.
bool planAround(Connection &connection, MYSQL *m, const QString &table, const TableLoader::RowKey &first,
    QByteArray &after, QByteArray &front)
{
    const QByteArray where = tableWhere(connection, table);
    const QByteArray sql = "SELECT 0, ENGINE, CREATE_OPTIONS, NULL, NULL, NULL FROM information_schema.TABLES" + where
        + " UNION ALL SELECT 1, INDEX_NAME, COLUMN_NAME, SEQ_IN_INDEX, SUB_PART, COLLATION"
          " FROM information_schema.STATISTICS"
        + where + " UNION ALL SELECT 2, COLUMN_NAME, DATA_TYPE, NULL, NULL, NULL FROM information_schema.COLUMNS"
        + where;
    if (mysql_real_query(m, sql.constData(), sql.size()) != 0)
        return false;
    MYSQL_RES *res = mysql_store_result(m);
    if (!res)
        return false;
    bool innodb = false;
    std::map<QByteArray, std::map<int, QByteArray>> indexes; // name: place in it, column
    bool prefixOrDescending = false;
    std::set<QByteArray> partial;                           // indexes with a column prefix: they hold no whole column
    std::vector<std::pair<QByteArray, QByteArray>> columns; // name, type
    while (const MYSQL_ROW row = mysql_fetch_row(res)) {
        const auto text = [&](int i) { return row[i] ? QByteArray(row[i]) : QByteArray(); };
        if (!row[0])
            continue;
        if (row[0][0] == '0') {
            innodb = sameName(text(1), "InnoDB") && !text(2).toLower().contains("partitioned");
        } else if (row[0][0] == '1') {
            const bool whole = !row[4] && text(5) == "A";
            if (text(1) == "PRIMARY")
                prefixOrDescending = prefixOrDescending || !whole;
            else if (!whole)
                partial.insert(text(1));
            indexes[text(1)][text(3).toInt()] = text(2);
        } else {
            columns.emplace_back(text(1), text(2));
        }
    }
    mysql_free_result(res);
    const auto primary = indexes.find("PRIMARY");
    if (!innodb || prefixOrDescending || primary == indexes.end() || columns.empty())
        return false;
    std::vector<QByteArray> key;
    for (const auto &part : primary->second) {
        const QByteArray &name = part.second;
        const auto column
            = std::find_if(columns.begin(), columns.end(), [&](const auto &c) { return c.first == name; });
        if (column == columns.end() || !isPlainKeyType(column->second))
            return false;
        key.push_back(name);
    }
    // InnoDB reads a whole table from the smallest index that holds every
    // column it returns: with such an index the server's order is its own.
    for (const auto &[name, parts] : indexes) {
        if (name == "PRIMARY" || partial.count(name))
            continue;
        std::set<QByteArray> held(key.begin(), key.end());
        for (const auto &[place, column] : parts)
            held.insert(column);
        if (std::all_of(columns.begin(), columns.end(), [&](const auto &c) { return held.count(c.first) > 0; }))
            return false;
    }
    const auto isBytes = [&](const QByteArray &name) {
        const auto column
            = std::find_if(columns.begin(), columns.end(), [&](const auto &c) { return c.first == name; });
        const QByteArray type = column->second.toLower();
        return type == "binary" || type == "varbinary";
    };
    const auto literal = [&](const QByteArray &name, const QByteArray &value) {
        return isBytes(name) ? "X'" + value.toHex() + "'" : connection.quote(value);
    };
    // The key's values: given, or read from the row the other key names.
    std::vector<QByteArray> values;
    const bool given = first.size() == key.size() && std::all_of(key.begin(), key.end(), [&](const QByteArray &k) {
        return std::any_of(first.begin(), first.end(), [&](const auto &f) { return sameName(f.first, k); });
    });
    if (given) {
        for (const QByteArray &k : key)
            values.push_back(
                std::find_if(first.begin(), first.end(), [&](const auto &f) { return sameName(f.first, k); })->second);
    } else {
        QByteArray find = "SELECT ";
        for (size_t i = 0; i < key.size(); ++i)
            find += (i ? ", " : "") + quoteIdentifier(key[i]);
        find += " FROM " + quoteIdentifier(table.toUtf8()) + " WHERE ";
        for (size_t i = 0; i < first.size(); ++i) {
            const bool known = std::any_of(columns.begin(), columns.end(),
                [&](const auto &c) { return c.first == first[i].first && isPlainKeyType(c.second); });
            if (!known)
                return false;
            find += (i ? " AND " : "") + quoteIdentifier(first[i].first) + " = "
                + literal(first[i].first, first[i].second);
        }
        find += " LIMIT 1";
        if (first.empty() || mysql_real_query(m, find.constData(), find.size()) != 0)
            return false;
        MYSQL_RES *found = mysql_store_result(m);
        if (!found)
            return false;
        const MYSQL_ROW row = mysql_fetch_row(found);
        const unsigned long *lengths = row ? mysql_fetch_lengths(found) : nullptr;
        for (size_t i = 0; row && i < key.size(); ++i)
            if (row[i])
                values.emplace_back(row[i], qsizetype(lengths[i]));
        mysql_free_result(found);
        if (values.size() != key.size())
            return false; // no such row: the plain load tells it is missing
    }
    // (k1, k2, ...) >= (v1, v2, ...), written out so the server reads the
    // key's range: k1 > v1 OR (k1 = v1 AND k2 > v2) OR ... with the last >=.
    const auto compare = [&](const char *strict, const char *last) {
        QByteArray out;
        for (size_t i = 0; i < key.size(); ++i) {
            out += i ? " OR (" : "(";
            for (size_t j = 0; j < i; ++j)
                out += quoteIdentifier(key[j]) + " = " + literal(key[j], values[j]) + " AND ";
            out += quoteIdentifier(key[i]) + (i + 1 == key.size() ? last : strict) + literal(key[i], values[i]) + ")";
        }
        return out;
    };
    QByteArray order = " ORDER BY ";
    for (size_t i = 0; i < key.size(); ++i)
        order += (i ? ", " : "") + quoteIdentifier(key[i]);
    const QByteArray select = "SELECT * FROM " + quoteIdentifier(table.toUtf8()) + " WHERE ";
    after = select + compare(" > ", " >= ") + order;
    front = select + compare(" < ", " < ") + order;
    return true;
}

// Ends the statement of a cancelled load on the server, from a connection of
// its own: the worker's socket is shut, but the server would run on.
void killQuery(const ConnectParams &params, unsigned long threadId)
{
    if (!threadId)
        return;
    try {
        Connection side;
        side.open(params);
        side.exec("KILL QUERY " + QByteArray::number(qulonglong(threadId)));
    } catch (const Failure &) {
        // The server may be gone; then so is the statement.
    }
}

} // namespace

TableLoader::TableLoader(RowStore &target, QObject *parent) : QObject(parent), m_target(target) {}

TableLoader::~TableLoader()
{
    cancel();
}

void TableLoader::startAt(const ConnectParams &params, const QByteArray &sql, const QString &table, const RowKey &first)
{
    launch(params, sql, table, false, first);
    m_frontLevel = QThread::currentThread()->loopLevel();
}

void TableLoader::letFrontIn(bool open)
{
    m_frontLetIn += open ? 1 : -1;
    if (open && m_retrying)
        QMetaObject::invokeMethod(this, "takeHanded", Qt::QueuedConnection);
}

bool TableLoader::frontMayComeIn() const
{
    return m_frontLetIn > 0 || QThread::currentThread()->loopLevel() <= m_frontLevel;
}

void TableLoader::start(const ConnectParams &params, const QByteArray &sql, const QString &table, bool compound)
{
    launch(params, sql, table, compound, {});
}

void TableLoader::launch(
    const ConnectParams &params, const QByteArray &sql, const QString &table, bool compound, const RowKey &first)
{
    cancel();
    m_frontPending = false;
    m_retrying = false;
    Workers::reap();
    m_failed = false;
    m_hasFields = false;
    m_fields.clear();
    m_job = std::make_shared<Job>();
    m_job->params = params;
    m_job->params.readTimeoutSeconds = 0; // Cancel, not a timeout, ends a long wait
    m_job->sql = sql;
    m_job->table = table;
    m_job->compound = compound;
    m_job->first = first;
    ++m_generation;
    m_job->owner = this;
    m_worker = std::thread(&TableLoader::run, m_job);
    m_loading = true;
}

bool TableLoader::waitForFields(const std::function<bool(qint64 ms)> &waiting)
{
    if (!m_hasFields && m_loading) {
        Wait wait;
        wait.endOn(this, &TableLoader::fieldsReady).endOn(this, &TableLoader::finished).every(100, waiting);
        if (wait.run() == Wait::Result::GaveUp)
            cancel();
    }
    if (m_hasFields)
        return true;
    if (m_failed)
        throw m_failure;
    return false;
}

void TableLoader::cancel()
{
    m_front.reset();
    if (m_job) {
        std::lock_guard<std::mutex> hold(m_job->lock);
        m_job->cancelled = true;
        m_job->owner = nullptr;
        if (m_job->mysql)
            mariadb_cancel(m_job->mysql); // shuts the socket: a blocked read returns
    }
    letGo();
    ++m_generation; // a takeHanded() under way stops
}

// The worker ends on its own from here and is joined later.
void TableLoader::letGo()
{
    if (m_job) {
        std::lock_guard<std::mutex> hold(m_job->lock);
        m_job->owner = nullptr;
    }
    if (m_worker.joinable())
        Workers::adopt(std::move(m_worker), [job = m_job] { return job->done.load(); });
    m_job.reset();
    m_loading = false;
}

qint64 TableLoader::rowsRead() const
{
    return m_job ? m_job->rowsRead.load() : m_target.rowCount();
}

void TableLoader::setMemoryAvailableForTesting(qint64 bytes)
{
    memoryForTesting = bytes;
}

qint64 TableLoader::memoryAvailable()
{
    if (memoryForTesting >= 0)
        return memoryForTesting;
    qint64 free = -1;
    QFile info(QStringLiteral("/proc/meminfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:"))
                free = line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        QFile statm(QStringLiteral("/proc/self/statm"));
        qint64 used = 0;
        if (statm.open(QIODevice::ReadOnly))
            used = statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
        const qint64 left = qMax<qint64>(0, qint64(limit.rlim_cur) - used);
        free = free < 0 ? left : qMin(free, left);
    }
    return free;
}

void TableLoader::run(const std::shared_ptr<Job> &job)
{
    // On a busy machine the window thread comes first: it must keep
    // answering while this one parses rows as fast as the server sends them.
    // (Linux keeps a nice value per thread; a failure leaves it as it was.)
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
    mysql_thread_init();
    bool started = false;
    {
        Connection connection;
        try {
            // A statement in plain ASCII goes out before the session is read
            // (a round trip less); its result's fields tell whether the rows
            // came in utf8mb4, else it runs again on a checked session.
            // A load from a row quotes its key for the session: a checked one.
            bool firstRun = isAscii(job->sql) && isAscii(job->table.toUtf8()) && job->first.empty();
            for (bool done = false; !done && !job->cancelled; firstRun = false) {
                {
                    std::lock_guard<std::mutex> hold(job->lock);
                    job->mysql = nullptr;
                }
                firstRun ? connection.openUnchecked(job->params) : connection.open(job->params);
                {
                    std::lock_guard<std::mutex> hold(job->lock);
                    job->mysql = connection.handle();
                    job->threadId = mysql_thread_id(connection.handle());
                }
                if (!job->cancelled) {
                    started = true;
                    done = readRows(*job, connection, firstRun) || !firstRun;
                }
            }
        } catch (const Failure &f) {
            job->postFailure(f);
        } catch (const std::bad_alloc &) {
            job->postFailure(
                Failure(QStringLiteral("Out of memory before the first row was read."), Failure::OutOfMemory));
        }
        std::unique_lock<std::mutex> hold(job->lock);
        job->mysql = nullptr;
        hold.unlock();
        connection.close();
    }
    if (job->cancelled && started)
        killQuery(job->params, job->threadId);
    job->done = true;
    mysql_thread_end();
}

// Runs the statement and hands over its fields, its rows in chunks and its
// end. Throws Failure when the statement is refused. False, having read no
// row, when the statement must run again on a connection opened anew with
// its session checked (and `firstRun` is true).
bool TableLoader::readRows(Job &job, Connection &connection, bool firstRun)
{
    TableFacts facts;
    MYSQL *m = connection.handle();
    if (!job.first.empty() && !job.planned && !job.table.isEmpty()) {
        job.planned = true;
        QByteArray after;
        if (planAround(connection, m, job.table, job.first, after, job.frontSql)) {
            job.sql = after;
            job.frontComing = true;
        }
    }
    std::unique_ptr<ResultRows> rows;
    const bool combined = firstRun && job.compound && !job.table.isEmpty()
        && readWithFacts(connection, m, job.table, job.sql, facts, rows);
    job.expectedRows = facts.rows;
    if (!combined) {
        if (!job.table.isEmpty()) {
            facts = readTableFacts(connection, m, job.table);
            job.expectedRows = facts.rows;
            checkSize(facts, job.table);
        }
        rows = ResultRows::run(
            connection, job.sql, QString::fromUtf8(job.sql), firstRun ? facts.protocol : ResultRows::Protocol::Choose);
    }
    if (!rows)
        return false;
    std::vector<FieldInfo> fields = fieldInfos(rows->metadata());
    if (!connection.isSessionChecked() && !resultSpeaksUtf8mb4(fields)) {
        mariadb_cancel(m); // so letting go of the rows does not read them
        return false;
    }
    for (FieldInfo &f : fields) {
        if (f.orgTable.isEmpty())
            continue;
        if (const auto it = facts.collations.find(f.orgName); it != facts.collations.end())
            f.collation = it->second;
        if (const auto it = facts.rights.find(f.orgName); it != facts.rights.end()) {
            const QList<QByteArray> rights = it->second.split(',');
            f.mayInsert = rights.contains("insert");
            f.mayUpdate = rights.contains("update");
        }
    }
    job.hand(std::move(fields));
    std::optional<Failure> failure;
    readUntilEnd(job, *rows, failure);
    if (job.cancelled || failure)
        mariadb_cancel(m); // so letting go of the rows does not read the rest
    else
        failure = rows->failure();
    rows.reset();
    if (!job.cancelled && !failure && !job.frontSql.isEmpty())
        readFront(job, connection, failure);
    if (!job.cancelled)
        job.hand(End{std::move(failure)});
    return true;
}

// The rows before the first row shown, gathered whole and handed over in
// one, so the grid takes them in one step.
void TableLoader::readFront(Job &job, Connection &connection, std::optional<Failure> &failure)
{
    const qint64 before = job.rowsRead;
    try {
        std::unique_ptr<ResultRows> rows
            = ResultRows::run(connection, job.frontSql, QString::fromUtf8(job.frontSql), ResultRows::Protocol::Choose);
        if (!rows)
            throw Failure(QStringLiteral("The server did not return the rows before the row shown."));
        RowStore front(rows->columnCount());
        const char *const *cells = nullptr;
        const unsigned long *lengths = nullptr;
        try {
            while (!job.cancelled && rows->next(cells, lengths)) {
                front.append(cells, lengths);
                if ((front.rowCount() & 63) == 0)
                    job.rowsRead.store(before + front.rowCount(), std::memory_order_relaxed);
            }
        } catch (const std::bad_alloc &) {
            front = RowStore();
            mariadb_cancel(connection.handle());
            failure.emplace(
                QStringLiteral("Out of memory: the rows before the row shown were not read."), Failure::OutOfMemory);
            return;
        }
        if (job.cancelled) {
            mariadb_cancel(connection.handle());
            return;
        }
        failure = rows->failure();
        if (failure)
            return;
        job.rowsRead = before + front.rowCount();
        job.hand(Front{std::move(front)});
    } catch (const Failure &f) {
        failure = f;
    }
}

void TableLoader::readUntilEnd(Job &job, ResultRows &rows, std::optional<Failure> &failure)
{
    qint64 handedOver = 0;
    const auto post = [&](RowStore &chunk) {
        RowStore made = chunk.handOver();
        handedOver += made.rowCount();
        job.hand(std::move(made));
    };
    RowStore chunk(rows.columnCount());
    try {
        qint64 limit = FirstChunkRows;
        QElapsedTimer held;
        held.start();
        const char *const *cells = nullptr;
        const unsigned long *lengths = nullptr;
        while (!job.cancelled && rows.next(cells, lengths)) {
            chunk.append(cells, lengths);
            const qint64 n = chunk.rowCount();
            if ((n & 63) == 0)
                job.rowsRead.store(handedOver + n, std::memory_order_relaxed);
            if (n >= limit || ((n & 63) == 0 && held.elapsed() >= MaxHoldMs)) {
                post(chunk);
                limit = MaxChunkRows;
                held.restart();
            }
        }
        if (chunk.rowCount())
            post(chunk);
    } catch (const std::bad_alloc &) {
        chunk = RowStore(); // frees the room the message and hand-over need
        const QString of = job.expectedRows > 0 ? QStringLiteral(" of about %1").arg(job.expectedRows) : QString();
        failure.emplace(
            QStringLiteral("Out of memory: %1%2 rows were read.").arg(handedOver).arg(of), Failure::OutOfMemory);
    }
    job.rowsRead = handedOver;
}

void TableLoader::takeHanded()
{
    if (!m_job)
        return; // a call of a load let go: what it handed over went with it
    // Rows in front still coming in go before anything handed over after
    // them, a part a call.
    if (m_front) {
        m_retrying = !frontMayComeIn();
        if (m_retrying) {
            QTimer::singleShot(FrontRetryMs, this, [this, generation = m_generation] {
                if (generation == m_generation && m_retrying)
                    takeHanded();
            });
            return;
        }
        const quint64 generation = m_generation;
        letFrontPartIn();
        if (generation == m_generation && m_job)
            QMetaObject::invokeMethod(this, "takeHanded", Qt::QueuedConnection);
        return;
    }
    // One kind per call (the fields, the chunks that came, the end), so a
    // receiver of one signal is back in its event loop before the next kind.
    std::vector<Handed> taken;
    {
        std::lock_guard<std::mutex> hold(m_job->lock);
        std::deque<Handed> &queue = m_job->handed;
        m_retrying = false;
        while (!queue.empty() && (taken.empty() || queue.front().index() == taken.front().index())) {
            if (std::holds_alternative<Front>(queue.front()) && !frontMayComeIn()) {
                // Looked at again shortly, and when a wait lets it in.
                m_retrying = true;
                break;
            }
            taken.push_back(std::move(queue.front()));
            queue.pop_front();
        }
        if (m_retrying && taken.empty())
            QTimer::singleShot(FrontRetryMs, this, [this, generation = m_generation] {
                if (generation == m_generation && m_retrying)
                    takeHanded();
            });
        else if (!queue.empty())
            QMetaObject::invokeMethod(this, "takeHanded", Qt::QueuedConnection);
    }
    const quint64 generation = m_generation;
    for (Handed &item : taken) {
        if (generation != m_generation || !m_job)
            return; // cancelled, ended or started again by a receiver of the signals
        if (auto *fields = std::get_if<std::vector<FieldInfo>>(&item))
            takeFields(*fields);
        else if (auto *chunk = std::get_if<RowStore>(&item))
            append(*chunk);
        else if (auto *front = std::get_if<Front>(&item))
            prepend(front->rows);
        else
            finish(std::get<End>(item).failure);
    }
}

void TableLoader::takeFields(std::vector<FieldInfo> &fields)
{
    m_fields = std::move(fields);
    m_hasFields = true;
    m_frontPending = m_job && m_job->frontComing;
    m_target = RowStore(int(m_fields.size()));
    emit fieldsReady();
}

void TableLoader::append(RowStore &chunk)
{
    if (chunk.rowCount() == 0)
        return;
    const qint64 first = m_target.rowCount();
    emit rowsAboutToBeAppended(first, first + chunk.rowCount() - 1);
    try {
        m_target.take(std::move(chunk));
    } catch (const std::bad_alloc &) {
        emit rowsAppended();
        const qint64 read = m_target.rowCount();
        cancel();
        fail(Failure(QStringLiteral("Out of memory: %1 rows were read.").arg(read), Failure::OutOfMemory));
        return;
    }
    emit rowsAppended();
}

void TableLoader::prepend(RowStore &rows)
{
    if (rows.rowCount() == 0) {
        m_frontPending = false;
        return;
    }
    // Its blocks join the target now, its rows a part at a time: on
    // millions of rows one step held the window for a quarter of a second.
    try {
        m_front = m_target.adopt(std::move(rows));
    } catch (const std::bad_alloc &) {
        failFront();
        return;
    }
    const quint64 generation = m_generation;
    letFrontPartIn();
    if (generation == m_generation && m_front)
        QMetaObject::invokeMethod(this, "takeHanded", Qt::QueuedConnection);
}

// The last rows in front still out go before the first row: the rows next
// to the row shown come first, and each part goes in at the front of the
// store, where making room moves nothing.
void TableLoader::letFrontPartIn()
{
    const qint64 count = std::min(FrontPartRows, m_front->remaining());
    const bool last = count == m_front->remaining();
    if (last)
        m_frontPending = false;
    emit rowsAboutToBePrepended(count);
    try {
        m_target.prependIncoming(*m_front, count);
    } catch (const std::bad_alloc &) {
        emit rowsPrepended(0);
        failFront();
        return;
    }
    if (last)
        m_front.reset();
    emit rowsPrepended(count);
}

void TableLoader::failFront()
{
    m_frontPending = false;
    cancel();
    fail(Failure(QStringLiteral("Out of memory: the rows before the row shown were not read."), Failure::OutOfMemory));
}

void TableLoader::finish(const std::optional<Failure> &failure)
{
    letGo();
    if (failure)
        fail(*failure);
    else
        emit finished(true);
}

void TableLoader::fail(const Failure &failure)
{
    m_failed = true;
    m_failure = failure;
    emit finished(false);
}
