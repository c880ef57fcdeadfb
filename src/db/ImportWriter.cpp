#include "db/ImportWriter.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/Identifier.h"
#include "db/LocalInfile.h"
#include "db/RowSet.h"

#include <errmsg.h>
#include <mysql.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

namespace {

// The server undid the whole transaction, not just the statement.
bool endsTransaction(unsigned code)
{
    return code == 1213 /* ER_LOCK_DEADLOCK */ || code == 1205 /* ER_LOCK_WAIT_TIMEOUT */;
}

bool isLost(unsigned code)
{
    return code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == CR_SERVER_LOST_EXTENDED
        || code == 1927 /* ER_CONNECTION_KILLED */;
}

// A plain number a column of `dataType` takes as it stands: digits, a minus,
// and a point for DECIMAL. It goes without quotes, which spares the server
// converting a string.
bool isPlainNumber(QByteArrayView text, bool decimal)
{
    qsizetype i = text.startsWith('-') ? 1 : 0;
    const qsizetype start = i;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && decimal && !point && i > start && i + 1 < text.size())
            point = true;
        else if (c < '0' || c > '9')
            return false;
    }
    return i > start && i <= 40;
}

bool isHexDigits(QByteArrayView digits)
{
    if (digits.size() % 2 != 0)
        return false;
    for (const char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// One value in LOAD DATA's text format with ESCAPED BY '\\': the escape
// character, the separators and NUL escaped, nothing else changed.
void appendLoadText(QByteArray &out, QByteArrayView text)
{
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char escaped = c == '\\' ? '\\'
            : c == '\t'                ? 't'
            : c == '\n'                ? 'n'
            : c == '\r'                ? 'r'
            : c == '\0'                ? '0'
                                       : 0;
        if (!escaped)
            continue;
        out.append(text.sliced(plain, i - plain));
        out += '\\';
        out += escaped;
        plain = i + 1;
    }
    out.append(text.sliced(plain));
}

// The inverse of appendLoadText.
void readLoadText(QByteArrayView text, QByteArray &out)
{
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            c = text[++i];
            c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
        }
        out += c;
    }
}

void appendHex(QByteArray &out, QByteArrayView bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        out += digits[(uchar(c) >> 4) & 15];
        out += digits[uchar(c) & 15];
    }
}

// "Records: 3  Deleted: 0  Skipped: 0  Warnings: 0": the numbers, in order.
bool readLoadInfo(const char *info, unsigned long long (&numbers)[4])
{
    if (!info)
        return false;
    int found = 0;
    for (const char *p = info; *p && found < 4; ++p) {
        if (*p < '0' || *p > '9')
            continue;
        char *end = nullptr;
        numbers[found++] = std::strtoull(p, &end, 10);
        p = end - 1;
    }
    return found == 4;
}

QString tooLarge(qsizetype maxPacket)
{
    return QStringLiteral("The row is larger than the server takes in one statement (max_allowed_packet, %L1 bytes).")
        .arg(maxPacket + 1024);
}

} // namespace

// The rows of one LOAD DATA statement, kept until the server took them
// all: a statement that failed is written again from them.
struct ImportWriter::Stream
{
    QByteArray data;
    qsizetype fed = 0; // bytes handed to the server
    std::vector<qint64> lines;
    std::vector<qsizetype> ends; // where each row's line ends in data
    bool ended = false;          // the rows' source gave its last
    std::exception_ptr failure;  // thrown by the source while feeding
    std::vector<QByteArray> decoded;
    std::vector<ImportValue> values;
};

struct ImportWriter::Batch
{
    QByteArray sql;
    std::vector<qint64> lines;
    std::vector<std::pair<qsizetype, qsizetype>> tuples; // start, length in sql
};

ImportWriter::ImportWriter(
    Connection &connection, const ImportTarget &target, std::vector<int> columns, Mode mode, bool skipFailing)
    : m_connection(connection), m_target(target), m_columns(std::move(columns)), m_mode(mode), m_skip(skipFailing),
      m_building(std::make_unique<Batch>()), m_sent(std::make_unique<Batch>())
{
    QByteArray names;
    for (const int c : m_columns) {
        if (!names.isEmpty())
            names += ", ";
        names += quoteIdentifier(m_target.columns[size_t(c)].name);
    }
    m_head = "INSERT INTO " + quoteIdentifier(m_target.table) + " (" + names + ") VALUES ";
    if (m_mode == Mode::Upsert) {
        QByteArray sets;
        for (const int c : m_columns) {
            if (std::find(m_target.key.begin(), m_target.key.end(), c) != m_target.key.end())
                continue;
            const QByteArray name = quoteIdentifier(m_target.columns[size_t(c)].name);
            sets += (sets.isEmpty() ? "" : ", ") + name + " = VALUES(" + name + ')';
        }
        if (sets.isEmpty() && !m_target.key.empty()) {
            const QByteArray name = quoteIdentifier(m_target.columns[size_t(m_target.key.front())].name);
            sets = name + " = " + name;
        }
        m_tail = " ON DUPLICATE KEY UPDATE " + sets;
    }
    if (m_mode != Mode::Insert) {
        for (const int k : m_target.key) {
            if (std::find(m_columns.begin(), m_columns.end(), k) == m_columns.end())
                throw Failure(QStringLiteral("The key column %1 takes no column of the file.")
                                  .arg(QString::fromUtf8(m_target.columns[size_t(k)].name)));
        }
        if (m_target.key.empty())
            throw Failure(QStringLiteral("The table has no key to match rows by; it can only take new rows."));
    }
    static const QList<QByteArray> integers = {"tinyint", "smallint", "mediumint", "int", "bigint"};
    for (const int c : m_columns) {
        const QByteArray &type = m_target.columns[size_t(c)].dataType;
        m_numbers.push_back(integers.contains(type)      ? Number::Integer
                : type == "decimal" || type == "numeric" ? Number::Decimal
                                                         : Number::No);
    }
    // Without transactions a failed multi-row statement may have written
    // some of its rows: when failing rows are to be skipped, each row goes
    // alone, so that which ones failed is known.
    m_oneRowAtATime = m_skip && !m_target.transactional;
    for (const int c : m_columns)
        m_bytes.push_back(m_target.columns[size_t(c)].isBytes());
    // A statement that failed can be undone only with transactions.
    // A Galera node may split LOAD DATA into several commits
    // (wsrep_load_data_splitting): not all or nothing there.
    m_bulk = m_mode == Mode::Insert && m_target.transactional && m_connection.params().localInfile
        && m_connection.clusterId().isEmpty();
    if (m_bulk) {
        m_load = loadStatement();
        m_stream = std::make_unique<Stream>();
        m_stream->decoded.resize(m_columns.size());
        m_stream->values.resize(m_columns.size());
    }
}

QByteArray ImportWriter::loadStatement() const
{
    // Explicit clauses, as hex where they are characters, so that neither
    // the server's defaults nor NO_BACKSLASH_ESCAPES change the format. The
    // text is read in the session's character set, which the connection
    // checked is utf8mb4 (LOAD DATA's default would be the database's).
    // Bytes go as hex through a variable: no character set conversion
    // touches them.
    QByteArray fields;
    QByteArray sets;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const QByteArray name = quoteIdentifier(m_target.columns[size_t(m_columns[i])].name);
        fields += (i ? ", " : "");
        if (m_bytes[i]) {
            const QByteArray variable = "@corvane_hex" + QByteArray::number(qulonglong(i));
            fields += variable;
            sets += (sets.isEmpty() ? " SET " : ", ") + name + " = UNHEX(" + variable + ')';
        } else {
            fields += name;
        }
    }
    return "LOAD DATA LOCAL INFILE 'import-rows' INTO TABLE " + quoteIdentifier(m_target.table)
        + " CHARACTER SET utf8mb4 FIELDS TERMINATED BY X'09' ENCLOSED BY '' ESCAPED BY X'5C'"
          " LINES STARTING BY '' TERMINATED BY X'0A' ("
        + fields + ')' + sets;
}

ImportWriter::~ImportWriter()
{
    if (m_inFlight)
        rollback();
}

void ImportWriter::fatal() const
{
    m_connection.fail();
}

void ImportWriter::begin()
{
    // Strict: a value the column cannot hold fails its row instead of
    // being cut or changed with a warning.
    m_connection.exec("SET SESSION sql_mode = IF(@@sql_mode = '', 'STRICT_ALL_TABLES', "
                      "CONCAT(@@sql_mode, ',STRICT_ALL_TABLES'))");
    const std::unique_ptr<RowSet> packet = m_connection.select("SELECT @@max_allowed_packet");
    m_maxPacket = std::max<qsizetype>(packet->value(0).toLongLong(), 16 * 1024) - 1024;
    m_batchBytes = std::min<qsizetype>(m_maxPacket, 2 << 20);
    if (m_target.transactional)
        m_connection.exec("START TRANSACTION");
    m_building->sql = m_head;
    m_building->sql.reserve(m_batchBytes + m_tail.size() + 1024);
}

void ImportWriter::appendValue(QByteArray &out, const ImportValue &value, int column) const
{
    if (value.isNull) {
        out += "NULL";
        return;
    }
    if (column >= 0 && m_numbers[size_t(column)] != Number::No
        && isPlainNumber(value.text, m_numbers[size_t(column)] == Number::Decimal)) {
        out += value.text;
        return;
    }
    if (value.hex && value.text.startsWith("0x") && isHexDigits(value.text.sliced(2))) {
        out += "X'";
        out += value.text.sliced(2);
        out += '\'';
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + 2 * value.text.size() + 2);
    out[at] = '\'';
    const unsigned long n = mysql_real_escape_string(
        m_connection.handle(), out.data() + at + 1, value.text.data(), (unsigned long)value.text.size());
    out.resize(at + 1 + qsizetype(n));
    out += '\'';
}

void ImportWriter::add(const ImportValue *values, qint64 line)
{
    if (m_mode == Mode::Update)
        addUpdate(values, line);
    else if (m_loading)
        addLoaded(values, line);
    else
        addInsert(values, line);
}

void ImportWriter::addInsert(const ImportValue *values, qint64 line)
{
    m_tuple.clear();
    m_tuple += '(';
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (i > 0)
            m_tuple += ", ";
        appendValue(m_tuple, values[i], int(i));
    }
    m_tuple += ')';
    if (m_head.size() + m_tuple.size() + m_tail.size() > m_maxPacket) {
        rowFailed({line, tooLarge(m_maxPacket), 0});
        return;
    }
    if (!m_building->lines.empty() && m_building->sql.size() + m_tuple.size() + m_tail.size() > m_batchBytes)
        send();
    Batch &b = *m_building; // send() swapped the batches
    if (!b.lines.empty())
        b.sql += ',';
    b.tuples.emplace_back(b.sql.size(), m_tuple.size());
    b.sql += m_tuple;
    b.lines.push_back(line);
    if (m_oneRowAtATime)
        send();
}

void ImportWriter::send()
{
    completeSent();
    if (m_building->lines.empty())
        return;
    m_building->sql += m_tail;
    std::swap(m_building, m_sent);
    m_building->sql = m_head;
    m_building->sql.reserve(m_batchBytes + m_tail.size() + 1024);
    m_building->lines.clear();
    m_building->tuples.clear();
    ++m_statements;
    if (mysql_send_query(m_connection.handle(), m_sent->sql.constData(), (unsigned long)m_sent->sql.size()) != 0)
        fatal();
    m_inFlight = true;
}

void ImportWriter::completeSent()
{
    if (!m_inFlight)
        return;
    m_inFlight = false;
    MYSQL *m = m_connection.handle();
    if (mysql_read_query_result(m) == 0) {
        m_written += qint64(m_sent->lines.size());
        return;
    }
    const unsigned code = mysql_errno(m);
    if (isLost(code) || endsTransaction(code) || m_sent->lines.size() == 1) {
        if (isLost(code) || endsTransaction(code))
            fatal();
        rowFailed({m_sent->lines.front(), QString::fromUtf8(mysql_error(m)), long(code)});
        return;
    }
    if (!m_target.transactional) {
        m_failedLine = m_sent->lines.front();
        throw Failure(QStringLiteral("Lines %L1 to %L2 were written together and failed: %3\n"
                                     "The table has no transactions: rows of these lines before the failing one "
                                     "may have been written.")
                          .arg(m_sent->lines.front())
                          .arg(m_sent->lines.back())
                          .arg(QString::fromUtf8(mysql_error(m))),
            long(code));
    }
    // The server undid the statement alone; its rows go again one by one.
    retryRows(*m_sent);
}

void ImportWriter::retryRows(const Batch &batch)
{
    for (size_t i = 0; i < batch.lines.size(); ++i) {
        const QByteArray sql = m_head + batch.sql.mid(batch.tuples[i].first, batch.tuples[i].second) + m_tail;
        RowFailure failure;
        ++m_statements;
        if (run(sql, failure))
            ++m_written;
        else {
            failure.line = batch.lines[i];
            rowFailed(failure);
        }
    }
}

bool ImportWriter::run(const QByteArray &sql, RowFailure &failure, quint64 *found)
{
    MYSQL *m = m_connection.handle();
    if (mysql_real_query(m, sql.constData(), (unsigned long)sql.size()) == 0) {
        if (found)
            *found = quint64(mysql_affected_rows(m));
        return true;
    }
    const unsigned code = mysql_errno(m);
    if (isLost(code) || endsTransaction(code))
        fatal();
    failure.reason = QString::fromUtf8(mysql_error(m));
    failure.code = long(code);
    return false;
}

void ImportWriter::addUpdate(const ImportValue *values, qint64 line)
{
    QByteArray sets;
    QByteArray where;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const int c = m_columns[i];
        const QByteArray name = quoteIdentifier(m_target.columns[size_t(c)].name);
        const bool isKey = std::find(m_target.key.begin(), m_target.key.end(), c) != m_target.key.end();
        if (isKey && values[i].isNull) {
            rowFailed({line, QStringLiteral("The key column %1 is empty.").arg(QString::fromUtf8(name)), 0});
            return;
        }
        QByteArray &part = isKey ? where : sets;
        part += part.isEmpty() ? "" : isKey ? " AND " : ", ";
        part += name + " = ";
        appendValue(part, values[i], int(i));
    }
    if (sets.isEmpty())
        return; // nothing but the key: nothing to change
    const QByteArray sql = "UPDATE " + quoteIdentifier(m_target.table) + " SET " + sets + " WHERE " + where;
    RowFailure failure{line, {}, 0};
    quint64 found = 0;
    ++m_statements;
    if (!run(sql, failure, &found)) {
        rowFailed(failure);
    } else if (found == 0) {
        rowFailed({line, QStringLiteral("No row of the table has this key."), 0});
    } else {
        m_written += qint64(found);
    }
}

void ImportWriter::rowFailed(RowFailure failure)
{
    if (m_skip) {
        m_failures.push_back(std::move(failure));
        return;
    }
    m_failedLine = failure.line;
    throw Failure(failure.reason, failure.code);
}

void ImportWriter::finish()
{
    send();
    completeSent();
    if (!m_target.transactional) {
        m_phase = Phase::Done;
        return;
    }
    m_phase = Phase::Committing;
    m_connection.exec("COMMIT");
    m_phase = Phase::Done;
}

void ImportWriter::rollback() noexcept
{
    MYSQL *m = m_connection.handle();
    if (!m)
        return;
    if (m_inFlight) {
        m_inFlight = false;
        mysql_read_query_result(m);
    }
    if (m_target.transactional && m_phase == Phase::Writing)
        mysql_real_query(m, "ROLLBACK", 8);
}

bool ImportWriter::keyIsThere(
    Connection &fresh, unsigned long session, const ImportTarget &target, const std::vector<QByteArray> &key)
{
    try {
        fresh.exec("KILL " + QByteArray::number(qulonglong(session)));
    } catch (const Failure &e) {
        if (e.number() != Failure::NoSuchThread) // already gone
            throw;
    }
    // A killed session ends its transaction, committed or not, before it goes.
    const QByteArray gone
        = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + QByteArray::number(qulonglong(session));
    for (int i = 0; fresh.select(gone)->value(0).toInt() != 0; ++i) {
        if (i == 200)
            throw Failure(QStringLiteral("The lost session did not end."));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    QByteArray where;
    for (size_t i = 0; i < target.key.size() && i < key.size(); ++i) {
        where += (i ? " AND " : "") + quoteIdentifier(target.columns[size_t(target.key[i])].name) + " = "
            + fresh.quote(key[i]);
    }
    return fresh.select("SELECT COUNT(*) FROM " + quoteIdentifier(target.table) + " WHERE " + where)->value(0).toInt()
        == 1;
}

qint64 ImportWriter::rowsSent() const
{
    return m_written + (m_loading ? qint64(m_stream->lines.size()) : 0)
        + (m_inFlight ? qint64(m_sent->lines.size()) : 0);
}

void ImportWriter::addLoaded(const ImportValue *values, qint64 line)
{
    Stream &s = *m_stream;
    const qsizetype start = s.data.size();
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (i > 0)
            s.data += '\t';
        const ImportValue &v = values[i];
        if (v.isNull)
            s.data += "\\N";
        else if (!m_bytes[i])
            appendLoadText(s.data, v.text);
        else if (v.hex && v.text.startsWith("0x") && isHexDigits(v.text.sliced(2)))
            s.data.append(v.text.sliced(2));
        else
            appendHex(s.data, v.text); // text in a column of bytes: its bytes, as an INSERT stores them
    }
    s.data += '\n';
    // The same limit as for INSERT: the row must go alone when it is written again.
    if (s.data.size() - start + m_head.size() > m_maxPacket) {
        s.data.truncate(start);
        rowFailed({line, tooLarge(m_maxPacket), 0});
        return;
    }
    s.lines.push_back(line);
    s.ends.push_back(s.data.size());
}

void ImportWriter::addAll(const std::function<bool()> &next)
{
    bool more = true;
    while (more && m_bulk)
        more = load(next);
    while (more && next()) { }
}

bool ImportWriter::load(const std::function<bool()> &next)
{
    Stream &s = *m_stream;
    s.data.clear();
    s.data.reserve(m_loadBytes + (1 << 20));
    s.fed = 0;
    s.lines.clear();
    s.ends.clear();
    s.ended = false;
    s.failure = nullptr;
    // Undoes a statement that the server took with warnings.
    ++m_statements;
    m_connection.exec("SAVEPOINT corvane_import");
    MYSQL *m = m_connection.handle();
    int failed = 0;
    bool asked = false;
    {
        LocalInfile::Serving serving(m, [&](char *buffer, unsigned size) { return feed(next, buffer, size); });
        m_loading = true;
        ++m_statements;
        failed = mysql_real_query(m, m_load.constData(), (unsigned long)m_load.size());
        m_loading = false;
        asked = serving.wasAsked();
    }
    // The server has ended the statement; the caller rolls back.
    if (s.failure)
        std::rethrow_exception(s.failure);
    const unsigned code = failed ? mysql_errno(m) : 0;
    if (failed && (isLost(code) || endsTransaction(code)))
        fatal();
    if (failed && !asked) {
        // LOAD DATA LOCAL refused (the server's local_infile is off, or
        // the statement itself): no row was read yet; INSERTs from now on.
        m_bulk = false;
        return true;
    }
    if (!failed && tookAll())
        m_written += qint64(s.lines.size());
    else
        reinsertStream();
    return !s.ended;
}

long ImportWriter::feed(const std::function<bool()> &next, char *buffer, unsigned size) noexcept
{
    Stream &s = *m_stream;
    // Small pieces, so that the server works on one while the next is read.
    size = std::min(size, 128u << 10);
    try {
        while (!s.ended && s.data.size() - s.fed < qsizetype(size) && s.data.size() < m_loadBytes) {
            if (!next())
                s.ended = true;
        }
    } catch (...) {
        s.failure = std::current_exception();
        return -1;
    }
    const qsizetype n = std::min<qsizetype>(size, s.data.size() - s.fed);
    std::memcpy(buffer, s.data.constData() + s.fed, size_t(n));
    s.fed += n;
    return long(n);
}

bool ImportWriter::tookAll() const
{
    MYSQL *m = m_connection.handle();
    unsigned long long info[4] = {}; // records, deleted, skipped, warnings
    const unsigned long long rows = m_stream->lines.size();
    if (rows == 0)
        return mysql_warning_count(m) == 0;
    return readLoadInfo(mysql_info(m), info) && info[0] == rows && info[1] == 0 && info[2] == 0 && info[3] == 0
        && mysql_warning_count(m) == 0 && mysql_affected_rows(m) == rows;
}

void ImportWriter::reinsertStream()
{
    ++m_statements;
    m_connection.exec("ROLLBACK TO SAVEPOINT corvane_import");
    Stream &s = *m_stream;
    const size_t columns = m_columns.size();
    qsizetype start = 0;
    for (size_t r = 0; r < s.lines.size(); ++r) {
        const QByteArrayView row(s.data.constData() + start, s.ends[r] - 1 - start);
        start = s.ends[r];
        qsizetype at = 0;
        for (size_t i = 0; i < columns; ++i) {
            qsizetype tab = row.indexOf('\t', at);
            if (tab < 0)
                tab = row.size();
            const QByteArrayView field = row.sliced(at, tab - at);
            at = tab + 1;
            ImportValue &v = s.values[i];
            v.isNull = field == QByteArrayView("\\N");
            v.hex = m_bytes[i];
            if (m_bytes[i])
                s.decoded[i] = "0x" + field.toByteArray();
            else
                readLoadText(field, s.decoded[i]);
            v.text = s.decoded[i];
        }
        addInsert(s.values.data(), s.lines[r]);
    }
    send();
    completeSent();
    // Rows skipped while the stream was fed may come after those found now.
    std::stable_sort(
        m_failures.begin(), m_failures.end(), [](const RowFailure &a, const RowFailure &b) { return a.line < b.line; });
}
