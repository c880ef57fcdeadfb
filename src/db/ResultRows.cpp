#include "db/ResultRows.h"

#include "db/Connection.h"

#include <QByteArrayList>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include <errmsg.h>
#include <mysql.h>

namespace {

std::atomic<bool> textOnly{false};

Failure failureOf(MYSQL *m)
{
    return Failure(QString::fromUtf8(mysql_error(m)), long(mysql_errno(m)));
}

// The statement's error. Connector/C leaves some on the connection only
// (a connection lost while rows are read), so that one is taken when the
// statement has none.
Failure failureOf(MYSQL_STMT *s, MYSQL *m)
{
    if (!mysql_stmt_errno(s) && mysql_errno(m))
        return failureOf(m);
    return Failure(QString::fromUtf8(mysql_stmt_error(s)), long(mysql_stmt_errno(s)));
}

// The server's NOT_FIXED_DEC: a FLOAT or DOUBLE without fixed decimals.
constexpr unsigned NotFixedDecimals = 31;

// Whether the client library writes a column of this kind exactly as a
// MariaDB server's text protocol would: integers (zero-filled ones too),
// FLOAT, DOUBLE without fixed decimals, DECIMAL, dates and times
// with their fractions (zero dates, negative and long TIMEs too), YEAR, BIT,
// and every kind sent as bytes (strings, blobs, ENUM, SET, geometry, INET6,
// UUID). ResultRows is tested on each, with every flag and width, against
// the text protocol; a kind not listed here, new in some server, keeps the
// text protocol. So do two kinds the library gets wrong:
// - FLOAT and DOUBLE with ZEROFILL: for a value wider than the display width
//   the library writes nothing at all (the server writes it unpadded);
// - DOUBLE with fixed decimals: the library writes it into a 300-byte buffer
//   of its own, which a value such as TRUNCATE(1e300, 20) overruns. Neither
//   the field's length nor its table bounds the value (a derived table
//   names a table, yet passes such a value on).
// A FLOAT with fixed decimals needs at most 71 bytes.
bool formatsAsServer(const MYSQL_FIELD &f)
{
    switch (f.type) {
    case MYSQL_TYPE_FLOAT:
        return !(f.flags & ZEROFILL_FLAG);
    case MYSQL_TYPE_DOUBLE:
        return !(f.flags & ZEROFILL_FLAG) && f.decimals >= NotFixedDecimals;
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
    case MYSQL_TYPE_GEOMETRY:
        return true;
    default:
        return false;
    }
}

class TextRows final : public ResultRows
{
public:
    TextRows(MYSQL *m, MYSQL_RES *res) : m_mysql(m), m_res(res) { m_columns = int(mysql_num_fields(res)); }
    ~TextRows() override { mysql_free_result(m_res); }

    MYSQL_RES *metadata() const override { return m_res; }
    bool next(const char *const *&cells, const unsigned long *&lengths) override
    {
        const MYSQL_ROW row = mysql_fetch_row(m_res);
        if (!row)
            return false;
        cells = row;
        lengths = mysql_fetch_lengths(m_res);
        return true;
    }
    std::optional<Failure> failure() const override
    {
        if (mysql_errno(m_mysql))
            return failureOf(m_mysql);
        return std::nullopt;
    }
    bool isBinary() const override { return false; }

private:
    MYSQL *m_mysql;
    MYSQL_RES *m_res;
};

// Writes `v` in decimal (a minus before it when `negative`) so that it ends
// just before `end`; returns where it starts. Needs 21 bytes.
char *decimal(unsigned long long v, bool negative, char *end)
{
    char *p = end;
    do {
        *--p = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative)
        *--p = '-';
    return p;
}

// Writes the last `width` decimal digits of `v` at `p`, zeros in front;
// returns the end.
char *digits(char *p, unsigned v, int width)
{
    for (int i = width - 1; i >= 0; --i, v /= 10)
        p[i] = char('0' + v % 10);
    return p + width;
}

// Integers without ZEROFILL, DATE, DATETIME and TIMESTAMP come in their
// binary form and are written here as the server writes them; the client
// library would go through printf, which costs the reader more than the
// server saved. Every other column is bound as text, into a buffer of its
// own that grows to the longest cell seen so far.
class StatementRows final : public ResultRows
{
    enum class Kind { Text, Signed, Unsigned, Date, DateTime };

    struct Column
    {
        Kind kind = Kind::Text;
        int width = 0;      // an integer's bytes
        int fraction = 0;   // a time's digits after the point
        std::vector<char> buffer;
        union {
            long long integer;
            MYSQL_TIME time;
        } value{};
    };

public:
    // `stmt`, a statement of `m`, is executed; its rows are not read yet.
    StatementRows(MYSQL *m, MYSQL_STMT *stmt) : m_mysql(m), m_stmt(stmt), m_res(mysql_stmt_result_metadata(stmt))
    {
        m_columns = int(mysql_stmt_field_count(stmt));
        const MYSQL_FIELD *fields = m_res ? mysql_fetch_fields(m_res) : nullptr;
        const size_t n = size_t(m_columns);
        m_bind.assign(n, MYSQL_BIND{});
        m_column.resize(n);
        m_lengths.assign(n, 0);
        m_fetched.assign(n, 0);
        m_null.assign(n, 0);
        m_error.assign(n, 0);
        m_cells.assign(n, nullptr);
        for (size_t i = 0; i < n; ++i) {
            Column &c = m_column[i];
            if (fields)
                choose(c, fields[i]);
            // Room for any number or time as text, and for short strings.
            const unsigned long declared = fields ? fields[i].length : 0;
            c.buffer.resize(std::clamp<unsigned long>(declared + 1, 64, 4096));
            bindBuffer(i, fields ? fields[i].type : MYSQL_TYPE_STRING);
            if (c.kind == Kind::Text)
                m_textColumns.push_back(i);
        }
        mysql_stmt_bind_result(m_stmt, m_bind.data());
    }
    ~StatementRows() override
    {
        if (m_res)
            mysql_free_result(m_res);
        mysql_stmt_close(m_stmt);
    }

    MYSQL_RES *metadata() const override { return m_res; }
    bool next(const char *const *&cells, const unsigned long *&lengths) override
    {
        for (const size_t i : m_textColumns) {
            m_fetched[i] = NotWritten;
            m_error[i] = 0;
        }
        const int rc = mysql_stmt_fetch(m_stmt);
        if (rc == MYSQL_NO_DATA)
            return false;
        if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) {
            m_failure = failureOf(m_stmt, m_mysql);
            return false;
        }
        bool grown = false;
        for (size_t i = 0; i < size_t(m_columns); ++i) {
            if (m_null[i]) {
                m_cells[i] = nullptr;
                continue;
            }
            switch (m_column[i].kind) {
            case Kind::Text:
                if (!takeText(i, grown))
                    return false;
                break;
            case Kind::Signed:
            case Kind::Unsigned:
                writeInteger(i);
                break;
            case Kind::Date:
            case Kind::DateTime:
                writeTime(i);
                break;
            }
        }
        if (grown)
            mysql_stmt_bind_result(m_stmt, m_bind.data());
        cells = m_cells.data();
        lengths = m_lengths.data();
        return true;
    }
    std::optional<Failure> failure() const override { return m_failure; }
    bool isBinary() const override { return true; }

private:
    static void choose(Column &c, const MYSQL_FIELD &f)
    {
        const bool zerofill = f.flags & ZEROFILL_FLAG;
        switch (f.type) {
        case MYSQL_TYPE_TINY: c.width = 1; break;
        case MYSQL_TYPE_SHORT: c.width = 2; break;
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONG: c.width = 4; break;
        case MYSQL_TYPE_LONGLONG: c.width = 8; break;
        case MYSQL_TYPE_DATE: c.kind = Kind::Date; return;
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
            if (f.decimals <= 6) {
                c.kind = Kind::DateTime;
                c.fraction = int(f.decimals);
            }
            return;
        default: return;
        }
        if (!zerofill)
            c.kind = (f.flags & UNSIGNED_FLAG) ? Kind::Unsigned : Kind::Signed;
    }

    // Takes the text the library wrote for cell `i`, again into a larger
    // buffer when it did not fit. A cell the library left unwritten or
    // flagged as wrong fails the read: its buffer holds an earlier row's
    // bytes, or a text that is not the server's.
    bool takeText(size_t i, bool &grown)
    {
        Column &c = m_column[i];
        if (m_fetched[i] != NotWritten && m_fetched[i] > m_bind[i].buffer_length) {
            c.buffer.resize(std::max<size_t>(m_fetched[i] + 1, c.buffer.size() * 2));
            bindBuffer(i, MYSQL_TYPE_STRING);
            m_fetched[i] = NotWritten;
            m_error[i] = 0;
            if (mysql_stmt_fetch_column(m_stmt, &m_bind[i], unsigned(i), 0) != 0) {
                m_failure = failureOf(m_stmt, m_mysql);
                return false;
            }
            grown = true;
        }
        if (m_fetched[i] == NotWritten || m_error[i]) {
            const MYSQL_FIELD *fields = m_res ? mysql_fetch_fields(m_res) : nullptr;
            const QString name
                = fields ? QString::fromUtf8(fields[i].name, int(fields[i].name_length)) : QString::number(i + 1);
            m_failure = Failure(
                QStringLiteral("A value of the column %1 could not be read exactly.").arg(name), CR_UNKNOWN_ERROR);
            return false;
        }
        m_cells[i] = c.buffer.data();
        m_lengths[i] = m_fetched[i];
        return true;
    }

    void bindBuffer(size_t i, int type)
    {
        Column &c = m_column[i];
        MYSQL_BIND &b = m_bind[i];
        b.length = &m_fetched[i];
        b.is_null = &m_null[i];
        b.error = &m_error[i];
        switch (c.kind) {
        case Kind::Text:
            b.buffer_type = MYSQL_TYPE_STRING;
            b.buffer = c.buffer.data();
            b.buffer_length = c.buffer.size();
            return;
        case Kind::Signed:
        case Kind::Unsigned:
            b.buffer_type = enum_field_types(type == MYSQL_TYPE_INT24 ? MYSQL_TYPE_LONG : type);
            b.is_unsigned = c.kind == Kind::Unsigned;
            b.buffer = &c.value.integer;
            b.buffer_length = sizeof c.value.integer;
            return;
        case Kind::Date:
        case Kind::DateTime:
            b.buffer_type = enum_field_types(type);
            b.buffer = &c.value.time;
            b.buffer_length = sizeof c.value.time;
            return;
        }
    }

    void writeInteger(size_t i)
    {
        Column &c = m_column[i];
        const bool isSigned = c.kind == Kind::Signed;
        const auto as = [&c](auto v) {
            std::memcpy(&v, &c.value.integer, sizeof v);
            return v;
        };
        long long s = 0;
        unsigned long long u = 0;
        switch (c.width) {
        case 1: s = as(int8_t()); u = as(uint8_t()); break;
        case 2: s = as(int16_t()); u = as(uint16_t()); break;
        case 4: s = as(int32_t()); u = as(uint32_t()); break;
        default: s = as(int64_t()); u = as(uint64_t()); break;
        }
        const bool negative = isSigned && s < 0;
        const unsigned long long magnitude = !isSigned ? u : negative ? 0ULL - static_cast<unsigned long long>(s) : static_cast<unsigned long long>(s);
        char *end = c.buffer.data() + 24;
        char *p = decimal(magnitude, negative, end);
        m_cells[i] = p;
        m_lengths[i] = static_cast<unsigned long>(end - p);
    }

    void writeTime(size_t i)
    {
        Column &c = m_column[i];
        const MYSQL_TIME &t = c.value.time;
        char *p = c.buffer.data();
        char *const start = p;
        p = digits(p, t.year, 4);
        *p++ = '-';
        p = digits(p, t.month, 2);
        *p++ = '-';
        p = digits(p, t.day, 2);
        if (c.kind == Kind::DateTime) {
            *p++ = ' ';
            p = digits(p, t.hour, 2);
            *p++ = ':';
            p = digits(p, t.minute, 2);
            *p++ = ':';
            p = digits(p, t.second, 2);
            if (c.fraction > 0) {
                unsigned part = unsigned(t.second_part);
                for (int k = c.fraction; k < 6; ++k)
                    part /= 10;
                *p++ = '.';
                p = digits(p, part, c.fraction);
            }
        }
        m_cells[i] = start;
        m_lengths[i] = static_cast<unsigned long>(p - start);
    }

    // What the library's length of a cell keeps when it wrote nothing.
    static constexpr unsigned long NotWritten = ~0UL;

    MYSQL *m_mysql;
    MYSQL_STMT *m_stmt;
    MYSQL_RES *m_res;
    std::vector<MYSQL_BIND> m_bind;
    std::vector<Column> m_column;
    std::vector<unsigned long> m_lengths; // of the cells as text
    std::vector<unsigned long> m_fetched; // as the library fetched them
    std::vector<my_bool> m_null;
    std::vector<my_bool> m_error;      // the library's flag of a wrong text
    std::vector<size_t> m_textColumns; // of Kind::Text
    std::vector<const char *> m_cells;
    std::optional<Failure> m_failure;
};

bool fieldsSuit(MYSQL_STMT *stmt)
{
    bool suitable = mysql_stmt_param_count(stmt) == 0 && mysql_stmt_field_count(stmt) > 0;
    MYSQL_RES *meta = suitable ? mysql_stmt_result_metadata(stmt) : nullptr;
    if (!meta)
        return false;
    const MYSQL_FIELD *f = mysql_fetch_fields(meta);
    for (unsigned i = 0, n = mysql_num_fields(meta); i < n; ++i)
        suitable = suitable && formatsAsServer(f[i]);
    mysql_free_result(meta);
    return suitable;
}

// The statement prepared and executed in one round trip into `out`; `out`
// stays null when the server will not prepare it (the text protocol runs it
// then, or says why it cannot). False when its fields do not suit: the
// connection is shut then. Throws Failure when the connection failed.
bool executeDirect(MYSQL *m, const QByteArray &sql, MYSQL_STMT *&out)
{
    MYSQL_STMT *stmt = mysql_stmt_init(m);
    if (!stmt)
        return true;
    if (mariadb_stmt_execute_direct(stmt, sql.constData(), size_t(sql.size())) != 0) {
        const Failure f = failureOf(stmt, m);
        mysql_stmt_close(stmt);
        if (f.number() >= Failure::FirstClientError)
            throw f;
        return true;
    }
    if (!fieldsSuit(stmt)) {
        mariadb_cancel(m); // closing the statement would read all its rows
        mysql_stmt_close(stmt);
        return false;
    }
    out = stmt;
    return true;
}

bool isMariaDB(MYSQL *m)
{
    const char *info = mysql_get_server_info(m);
    return info && std::strstr(info, "MariaDB");
}

// The statement prepared and executed, when its rows can come through the
// binary protocol; null when they should come as text. Throws Failure when
// the connection failed.
MYSQL_STMT *executeBinary(MYSQL *m, const QByteArray &sql)
{
    if (textOnly || !isMariaDB(m))
        return nullptr;
    MYSQL_STMT *stmt = mysql_stmt_init(m);
    if (!stmt)
        return nullptr;
    const auto giveUp = [&]() -> MYSQL_STMT * {
        const Failure f = failureOf(stmt, m);
        if (f.number() >= Failure::FirstClientError) { // the client's own: the connection, not the statement
            mysql_stmt_close(stmt);
            throw f;
        }
        mysql_stmt_close(stmt);
        return nullptr; // the text protocol runs it, or says why it cannot
    };
    if (mysql_stmt_prepare(stmt, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        return giveUp();
    if (!fieldsSuit(stmt)) {
        mysql_stmt_close(stmt);
        return nullptr;
    }
    if (mysql_stmt_execute(stmt) != 0) {
        const Failure f = failureOf(stmt, m);
        mysql_stmt_close(stmt);
        throw f;
    }
    return stmt;
}

} // namespace

std::unique_ptr<ResultRows> ResultRows::run(
    Connection &connection, const QByteArray &sql, const QString &source, Protocol protocol)
{
    MYSQL *mysql = connection.handle();
    if (protocol == Protocol::Binary && !textOnly && isMariaDB(mysql)) {
        MYSQL_STMT *stmt = nullptr;
        if (!executeDirect(mysql, sql, stmt))
            return nullptr;
        if (stmt)
            return std::make_unique<StatementRows>(mysql, stmt);
    } else if (protocol == Protocol::Choose) {
        if (MYSQL_STMT *stmt = executeBinary(mysql, sql))
            return std::make_unique<StatementRows>(mysql, stmt);
    }
    if (mysql_real_query(mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        throw failureOf(mysql);
    MYSQL_RES *res = mysql_use_result(mysql);
    if (!res) {
        if (mysql_errno(mysql))
            throw failureOf(mysql);
        throw Failure(QStringLiteral("The statement returned no rows: %1").arg(source));
    }
    return std::make_unique<TextRows>(mysql, res);
}

void ResultRows::setTextOnlyForTesting(bool on)
{
    textOnly = on;
}

namespace {

// The kinds formatsAsServer() takes, by their names in information_schema.
const QByteArrayList &plainKinds()
{
    static const QByteArrayList plain
        = {"tinyint", "smallint", "mediumint", "int", "bigint", "decimal", "date", "datetime", "timestamp", "time",
            "year", "bit", "char", "varchar", "binary", "varbinary", "tinytext", "text", "mediumtext", "longtext",
            "tinyblob", "blob", "mediumblob", "longblob", "enum", "set", "geometry", "point", "linestring", "polygon",
            "multipoint", "multilinestring", "multipolygon", "geometrycollection", "inet6", "uuid"};
    return plain;
}

} // namespace

bool ResultRows::columnSuits(const QByteArray &dataType, const QByteArray &columnType)
{
    const QByteArray type = dataType.toLower();
    const bool zerofill = columnType.toLower().contains("zerofill");
    if (type == "float")
        return !zerofill;
    if (type == "double") // "double(10,2)": fixed decimals
        return !zerofill && !columnType.contains('(');
    return plainKinds().contains(type);
}

QByteArray ResultRows::columnSuitsCondition()
{
    const QByteArray zerofill = "LOWER(COLUMN_TYPE) LIKE '%zerofill%'";
    return "(LOWER(DATA_TYPE) IN ('" + plainKinds().join("', '") + "') OR (LOWER(DATA_TYPE) = 'float' AND NOT "
        + zerofill + ") OR (LOWER(DATA_TYPE) = 'double' AND NOT " + zerofill + " AND COLUMN_TYPE NOT LIKE '%(%'))";
}

std::unique_ptr<ResultRows> ResultRows::ofStatement(MYSQL *mysql, MYSQL_STMT *stmt)
{
    if (textOnly || !fieldsSuit(stmt)) {
        mariadb_cancel(mysql); // closing the statement would read all its rows
        mysql_stmt_close(stmt);
        return nullptr;
    }
    return std::make_unique<StatementRows>(mysql, stmt);
}
