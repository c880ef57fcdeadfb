#include "db/ForeignSearch.h"

#include "db/Connection.h"
#include "db/ForeignKeys.h"
#include "db/Identifier.h"
#include "db/RowSet.h"

#include <limits>

namespace {

// A LIKE pattern that matches `text` itself: '!' escapes the pattern's own
// characters, so no sql_mode changes what it means.
QByteArray likeOf(const Connection &connection, const QString &text, bool contains)
{
    QByteArray pattern;
    for (const char c : text.toUtf8()) {
        if (c == '!' || c == '%' || c == '_')
            pattern += '!';
        pattern += c;
    }
    return " LIKE " + connection.quote((contains ? "%" : "") + pattern + '%') + " ESCAPE '!'";
}

// Integers whose decimal form begins with `text`: the number itself, then
// each longer range (12: 120-129, 1200-1299, ...), so an index finds them in
// order. Empty when no integer begins so.
QByteArray integerPrefix(const QByteArray &column, const QString &text)
{
    bool ok = false;
    const qulonglong first = text.toULongLong(&ok);
    if (!ok || text.startsWith(QLatin1Char('+')) || (text.size() > 1 && text.startsWith(QLatin1Char('0'))))
        return {};
    QByteArray out = column + " = " + QByteArray::number(first);
    constexpr qulonglong top = std::numeric_limits<qulonglong>::max();
    for (qulonglong low = first, high = first; first != 0 && low <= top / 10;) {
        low *= 10;
        high = high > (top - 9) / 10 ? top : high * 10 + 9;
        out += " OR " + column + " BETWEEN " + QByteArray::number(low) + " AND " + QByteArray::number(high);
    }
    return '(' + out + ')';
}

QByteArray keyCondition(const Connection &connection, const ForeignLabels::Key &key, const QString &text)
{
    const size_t last = key.key.refColumns.size() - 1;
    const QByteArray column = quoteIdentifier(key.key.refColumns[last]);
    switch (key.refKinds[last]) {
    case ForeignLabels::KeyKind::Integer:
        return integerPrefix(column, text);
    case ForeignLabels::KeyKind::Text:
        return column + likeOf(connection, text, false);
    case ForeignLabels::KeyKind::Other:
        break;
    }
    return column + " = " + connection.quote(text.toUtf8());
}

QByteArray selectList(const ForeignLabels::Key &key, int part)
{
    QByteArray out = "SELECT " + QByteArray::number(part);
    for (const QByteArray &c : key.key.refColumns)
        out += ", " + quoteIdentifier(c);
    out += ", " + quoteIdentifier(key.labelColumn);
    out += ", " + (key.extraColumn.isEmpty() ? QByteArray("NULL") : quoteIdentifier(key.extraColumn));
    return out + " FROM " + quoteIdentifier(key.key.refSchema) + '.' + quoteIdentifier(key.key.refTable);
}

} // namespace

namespace ForeignSearch {

QByteArray keySearchSql(const Connection &connection, const ForeignLabels::Key &key, const QString &text, int limit)
{
    const QByteArray where = keyCondition(connection, key, text);
    if (where.isEmpty())
        return {};
    return '(' + selectList(key, 1) + " WHERE " + where + " ORDER BY " + quoteIdentifier(key.key.refColumns.back())
        + " LIMIT " + QByteArray::number(limit) + ')';
}

QByteArray searchSql(const Connection &connection, const ForeignLabels::Key &key, const QString &text, bool contains,
    int limit, int seconds)
{
    const QByteArray label = quoteIdentifier(key.labelColumn);
    QByteArray sql;
    if (contains) {
        sql = '(' + selectList(key, 3) + " WHERE " + label + likeOf(connection, text, true) + " LIMIT "
            + QByteArray::number(limit) + ')';
    } else {
        sql = keySearchSql(connection, key, text, limit);
        sql += (sql.isEmpty() ? "(" : " UNION ALL (") + selectList(key, 2) + " WHERE " + label
            + likeOf(connection, text, false) + " ORDER BY " + label + " LIMIT " + QByteArray::number(limit) + ')';
    }
    // An executable comment: MariaDB bounds the statement, MySQL reads it as
    // the plain SELECT.
    return "/*M!100108 SET STATEMENT max_statement_time=" + QByteArray::number(seconds) + " FOR */ " + sql;
}

std::vector<ForeignLabels::Match> readMatches(const RowSet &rows, size_t keyColumns)
{
    std::vector<ForeignLabels::Match> out;
    for (qint64 r = 0; r < rows.recordCount(); ++r) {
        ForeignLabels::Match m;
        for (size_t c = 0; c < keyColumns; ++c)
            m.values.push_back(CellValue::of(ForeignKeys::cellBytes(rows, r, int(c) + 1)));
        // A row found by its key and again by its label shows once.
        if (std::any_of(out.begin(), out.end(), [&m](const ForeignLabels::Match &o) { return o.values == m.values; }))
            continue;
        m.label = QString::fromUtf8(ForeignKeys::cellBytes(rows, r, int(keyColumns) + 1));
        m.extra = QString::fromUtf8(ForeignKeys::cellBytes(rows, r, int(keyColumns) + 2));
        out.push_back(std::move(m));
    }
    return out;
}

QByteArray resolveSql(
    const Connection &connection, const ForeignLabels::Key &key, const std::vector<std::vector<CellValue>> &tuples)
{
    const QByteArray from = " FROM " + quoteIdentifier(key.key.refSchema) + '.' + quoteIdentifier(key.key.refTable);
    QByteArray sql;
    for (size_t i = 0; i < tuples.size(); ++i) {
        const QByteArray n = QByteArray::number(qulonglong(i));
        QByteArray isKey = "(SELECT " + n + ", 1, 1";
        QByteArray byLabel = "(SELECT " + n + ", 2, COUNT(*)";
        QByteArray where;
        for (size_t c = 0; c < key.key.refColumns.size(); ++c) {
            const QByteArray column = quoteIdentifier(key.key.refColumns[c]);
            isKey += ", " + column;
            byLabel += ", MIN(" + column + ')';
            where += (c ? " AND " : " WHERE ") + column + " = " + connection.quote(tuples[i][c].text);
        }
        sql += (i ? " UNION ALL " : "") + isKey + from + where + " LIMIT 1) UNION ALL " + byLabel + from + " WHERE "
            + quoteIdentifier(key.labelColumn) + " = " + connection.quote(tuples[i].back().text) + ')';
    }
    return sql;
}

std::vector<ForeignLabels::Resolved> readResolved(const RowSet &rows, size_t tuples, size_t keyColumns)
{
    std::vector<ForeignLabels::Resolved> out(tuples);
    for (qint64 r = 0; r < rows.recordCount(); ++r) {
        const size_t i = size_t(ForeignKeys::cellBytes(rows, r, 0).toULongLong());
        if (i >= out.size())
            continue;
        ForeignLabels::Resolved &to = out[i];
        if (ForeignKeys::cellBytes(rows, r, 1) == "1") {
            to.isKey = true;
            continue;
        }
        to.count = ForeignKeys::cellBytes(rows, r, 2).toLongLong();
        if (to.count == 1)
            for (size_t c = 0; c < keyColumns; ++c)
                to.values.push_back(CellValue::of(ForeignKeys::cellBytes(rows, r, int(c) + 3)));
    }
    return out;
}

QByteArray referringSql(const Connection &connection, const std::vector<ForeignKey> &keys, const NamedValues &row)
{
    QByteArray sql;
    for (size_t k = 0; k < keys.size(); ++k) {
        QByteArray where;
        for (size_t c = 0; c < keys[k].columns.size() && c < keys[k].refColumns.size(); ++c) {
            const auto value = row.find(keys[k].refColumns[c]);
            if (value == row.end() || value->second.isNull) {
                where = " WHERE FALSE";
                break;
            }
            where += (c ? " AND " : " WHERE ") + quoteIdentifier(keys[k].columns[c]) + " = "
                + connection.quote(value->second.text);
        }
        sql += (k ? " UNION ALL (SELECT " : "(SELECT ") + QByteArray::number(qulonglong(k)) + ", COUNT(*) FROM "
            + quoteIdentifier(keys[k].schema) + '.' + quoteIdentifier(keys[k].table) + where + ')';
    }
    return sql;
}

std::vector<qint64> readCounts(const RowSet &rows, size_t keys)
{
    std::vector<qint64> out(keys, 0);
    for (qint64 r = 0; r < rows.recordCount(); ++r) {
        const size_t k = size_t(ForeignKeys::cellBytes(rows, r, 0).toULongLong());
        if (k < out.size())
            out[k] = ForeignKeys::cellBytes(rows, r, 1).toLongLong();
    }
    return out;
}

} // namespace ForeignSearch
