#include "db/ForeignKeys.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/Identifier.h"
#include "db/RowSet.h"

#include <QStringList>

namespace {

// `schema`.`table` where the schema is not the session's, else `table`: as
// the user reads it, not as SQL.
QString tableName(const QByteArray &schema, const QByteArray &table, const QByteArray &home)
{
    const QString name = QLatin1Char('`') + QString::fromUtf8(table) + QLatin1Char('`');
    return schema == home ? name : QLatin1Char('`') + QString::fromUtf8(schema) + QStringLiteral("`.") + name;
}

QString shown(const CellValue &v)
{
    QString text = QString::fromUtf8(v.text);
    if (text.size() > 40)
        text = text.left(40) + QChar(0x2026);
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The values of `columns` in `row`, or nothing when one is unknown or NULL
// (a NULL in a foreign key refers to nothing, and is never refused).
std::optional<std::vector<CellValue>> valuesOf(const std::vector<QByteArray> &columns, const NamedValues &row)
{
    std::vector<CellValue> out;
    for (const QByteArray &c : columns) {
        const auto it = row.find(c);
        if (it == row.end() || it->second.isNull)
            return std::nullopt;
        out.push_back(it->second);
    }
    return out;
}

// "SELECT COUNT(*) FROM t WHERE a = 'x' AND ..." for one key's values.
QByteArray countOf(Connection &connection, const QByteArray &schema, const QByteArray &table,
    const std::vector<QByteArray> &columns, const std::vector<CellValue> &values)
{
    QByteArray sql = "SELECT COUNT(*) FROM " + quoteIdentifier(schema) + '.' + quoteIdentifier(table) + " WHERE ";
    for (size_t i = 0; i < columns.size(); ++i)
        sql += (i ? " AND " : "") + quoteIdentifier(columns[i]) + " = " + connection.quote(values[i].text);
    return sql;
}

// The counts of several such statements in one round trip, in order.
std::vector<qint64> counts(Connection &connection, const std::vector<QByteArray> &statements)
{
    QByteArray sql;
    for (size_t i = 0; i < statements.size(); ++i)
        sql += (i ? " UNION ALL " : "") + ("SELECT " + QByteArray::number(qulonglong(i)) + ", (" + statements[i] + ")");
    const std::unique_ptr<RowSet> rows = connection.select(sql);
    std::vector<qint64> out(statements.size(), -1);
    for (qint64 r = 0; r < rows->recordCount(); ++r) {
        const size_t i = size_t(ForeignKeys::cellBytes(*rows, r, 0).toULongLong());
        if (i < out.size())
            out[i] = ForeignKeys::cellBytes(*rows, r, 1).toLongLong();
    }
    return out;
}

QString referredTo(Connection &connection, const std::vector<ForeignKey> &keys, const QByteArray &table,
    const QByteArray &home, const NamedValues &before, bool deleting)
{
    std::vector<const ForeignKey *> asked;
    std::vector<QByteArray> statements;
    for (const ForeignKey &k : keys) {
        if (k.refTable != table || k.refSchema != home)
            continue;
        if (const auto values = valuesOf(k.refColumns, before)) {
            asked.push_back(&k);
            statements.push_back(countOf(connection, k.schema, k.table, k.columns, *values));
        }
    }
    if (statements.empty())
        return {};
    const std::vector<qint64> found = counts(connection, statements);
    QStringList why;
    for (size_t i = 0; i < asked.size(); ++i) {
        if (found[i] <= 0)
            continue;
        why << (found[i] == 1 ? QStringLiteral("1 row of %2 refers to it (constraint %3)")
                              : QStringLiteral("%L1 rows of %2 refer to it (constraint %3)"))
                   .arg(found[i])
                   .arg(tableName(asked[i]->schema, asked[i]->table, home), QString::fromUtf8(asked[i]->name));
    }
    if (why.isEmpty())
        return {};
    const QString what = deleting ? QStringLiteral("This row of %1 cannot be deleted: ")
                                  : QStringLiteral("The key of this row of %1 cannot be changed: ");
    return what.arg(tableName(home, table, home)) + why.join(QStringLiteral("; ")) + QLatin1Char('.');
}

QString refersToNothing(Connection &connection, const std::vector<ForeignKey> &keys, const QByteArray &table,
    const QByteArray &home, const NamedValues &row)
{
    std::vector<const ForeignKey *> asked;
    std::vector<std::vector<CellValue>> valuesAsked;
    std::vector<QByteArray> statements;
    for (const ForeignKey &k : keys) {
        if (k.table != table || k.schema != home)
            continue;
        if (auto values = valuesOf(k.columns, row)) {
            asked.push_back(&k);
            statements.push_back(countOf(connection, k.refSchema, k.refTable, k.refColumns, *values));
            valuesAsked.push_back(std::move(*values));
        }
    }
    if (statements.empty())
        return {};
    const std::vector<qint64> found = counts(connection, statements);
    QStringList why;
    for (size_t i = 0; i < asked.size(); ++i) {
        if (found[i] != 0)
            continue;
        why << ForeignKeys::noRowText(*asked[i], valuesAsked[i], home);
    }
    return why.join(QLatin1Char('\n'));
}

} // namespace

namespace ForeignKeys {

QString noRowText(const ForeignKey &key, const std::vector<CellValue> &values, const QByteArray &home)
{
    QStringList shownValues;
    QStringList columns;
    for (size_t c = 0; c < values.size() && c < key.columns.size(); ++c) {
        shownValues << shown(values[c]);
        columns << QString::fromUtf8(key.columns[c]);
    }
    const QString text = shownValues.size() == 1
        ? QStringLiteral("The value %1 of %2 refers to no row of %3 (constraint %4).")
        : QStringLiteral("The values %1 of %2 refer to no row of %3 (constraint %4).");
    return text.arg(shownValues.join(QStringLiteral(", ")), columns.join(QStringLiteral(", ")),
        tableName(key.refSchema, key.refTable, home), QString::fromUtf8(key.name));
}

QByteArray cellBytes(const RowSet &rows, qint64 row, int column)
{
    const RowStore::Cell cell = rows.rows().cell(row, column);
    return QByteArray(cell.text().data(), qsizetype(cell.text().size()));
}

bool isRefusal(long number)
{
    return number == Failure::RowIsReferenced || number == Failure::NoReferencedRow
        || number == Failure::RowIsReferenced2 || number == Failure::NoReferencedRow2;
}

std::vector<ForeignKey> around(Connection &connection, const QByteArray &table)
{
    const QByteArray name = connection.quote(table);
    // information_schema compares names without regard to case; a table's
    // name is exact.
    const QByteArray sql = "SELECT TABLE_SCHEMA = DATABASE() AND BINARY TABLE_NAME = BINARY " + name
        + ", CONSTRAINT_NAME, TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, REFERENCED_TABLE_SCHEMA, "
          "REFERENCED_TABLE_NAME, REFERENCED_COLUMN_NAME FROM information_schema.KEY_COLUMN_USAGE "
          "WHERE REFERENCED_TABLE_NAME IS NOT NULL AND ((TABLE_SCHEMA = DATABASE() AND TABLE_NAME = "
        + name + " AND BINARY TABLE_NAME = BINARY " + name
        + ") OR (REFERENCED_TABLE_SCHEMA = DATABASE() AND REFERENCED_TABLE_NAME = " + name
        + " AND BINARY REFERENCED_TABLE_NAME = BINARY " + name
        + ")) ORDER BY TABLE_SCHEMA, TABLE_NAME, CONSTRAINT_NAME, ORDINAL_POSITION";
    const std::unique_ptr<RowSet> rows = connection.select(sql);
    std::vector<ForeignKey> keys;
    for (qint64 r = 0; r < rows->recordCount(); ++r) {
        const QByteArray constraint = ForeignKeys::cellBytes(*rows, r, 1);
        const QByteArray schema = ForeignKeys::cellBytes(*rows, r, 2);
        const QByteArray owner = ForeignKeys::cellBytes(*rows, r, 3);
        if (keys.empty() || keys.back().name != constraint || keys.back().schema != schema
            || keys.back().table != owner)
            keys.push_back({constraint, schema, owner, {}, ForeignKeys::cellBytes(*rows, r, 5),
                ForeignKeys::cellBytes(*rows, r, 6), {}, ForeignKeys::cellBytes(*rows, r, 0) == "1"});
        keys.back().columns.push_back(ForeignKeys::cellBytes(*rows, r, 4));
        keys.back().refColumns.push_back(ForeignKeys::cellBytes(*rows, r, 7));
    }
    return keys;
}

QString explainRefusal(
    Connection &connection, const QByteArray &table, long number, const NamedValues &before, const NamedValues &after)
{
    if (!isRefusal(number) || !connection.isOpen())
        return {};
    try {
        const std::vector<ForeignKey> keys = around(connection, table);
        const std::unique_ptr<RowSet> db = connection.select("SELECT DATABASE()");
        const QByteArray home = db->recordCount() ? ForeignKeys::cellBytes(*db, 0, 0) : QByteArray();
        if (number == Failure::RowIsReferenced || number == Failure::RowIsReferenced2)
            return referredTo(connection, keys, table, home, before, after.empty());
        // The row as it was to be: its old values where none was typed.
        NamedValues row = after;
        row.insert(before.begin(), before.end());
        return refersToNothing(connection, keys, table, home, row);
    } catch (const Failure &) {
        // The server's own words stand alone.
        return {};
    }
}

} // namespace ForeignKeys
