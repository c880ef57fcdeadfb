#include "db/RowStatements.h"

#include <QCryptographicHash>

namespace {

int fieldIndex(const std::vector<FieldInfo> &fields, const QByteArray &column)
{
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].orgName.compare(column, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

// The columns of key `name`, or empty when one of them cannot serve.
std::vector<int> keyColumns(const std::vector<FieldInfo> &fields, const std::vector<KeyPart> &keys,
                            const QByteArray &name)
{
    std::map<int, int> bySeq;
    for (const KeyPart &k : keys) {
        if (k.keyName != name)
            continue;
        const int f = fieldIndex(fields, k.column);
        // A float's text form is not a safe handle on a row.
        if (f < 0 || !k.unique || k.nullable || fields[size_t(f)].isFloating())
            return {};
        bySeq[k.seq] = f;
    }
    std::vector<int> out;
    for (const auto &[seq, f] : bySeq)
        out.push_back(f);
    return out;
}

QByteArray columnName(const std::vector<FieldInfo> &fields, int column)
{
    return quoteIdentifier(fields.at(size_t(column)).orgName);
}

// The bytes the client receives for a column: text in the session's
// character set (utf8mb4), anything else (numbers, dates, binary strings)
// as the server's own text form.
QByteArray receivedBytes(const std::vector<FieldInfo> &fields, int column)
{
    const FieldInfo &f = fields.at(size_t(column));
    if (f.isBinary())
        return "CAST(" + columnName(fields, column) + " AS BINARY)";
    return "CAST(CONVERT(" + columnName(fields, column) + " USING utf8mb4) AS BINARY)";
}

} // namespace

RowIdentity chooseIdentity(const std::vector<FieldInfo> &fields, const std::vector<KeyPart> &keys)
{
    RowIdentity best;
    for (const KeyPart &k : keys) {
        const bool primary = k.keyName == "PRIMARY";
        if (best.kind == RowIdentity::Kind::PrimaryKey)
            break;
        std::vector<int> columns = keyColumns(fields, keys, k.keyName);
        if (columns.empty())
            continue;
        if (primary) {
            best = {RowIdentity::Kind::PrimaryKey, std::move(columns)};
        } else if (best.kind == RowIdentity::Kind::AllColumns || columns.size() < best.columns.size()) {
            best = {RowIdentity::Kind::UniqueKey, std::move(columns)};
        }
    }
    return best;
}

QByteArray whereClause(const std::vector<FieldInfo> &fields, const std::vector<Condition> &conditions,
                       const Quote &quote)
{
    QByteArray out;
    for (const Condition &c : conditions) {
        if (!out.isEmpty())
            out += " AND ";
        const QByteArray name = columnName(fields, c.column);
        if (c.value.isNull) {
            out += name + " IS NULL";
        } else if (c.exact && c.value.text.size() > HashAbove) {
            const QByteArray hash = QCryptographicHash::hash(c.value.text, QCryptographicHash::Sha256).toHex();
            out += "SHA2(" + receivedBytes(fields, c.column) + ", 256) = '" + hash + "'";
        } else if (c.exact) {
            out += receivedBytes(fields, c.column) + " = " + quote(c.value.text);
        } else {
            out += name + " = " + quote(c.value.text);
        }
    }
    return out.isEmpty() ? QByteArrayLiteral("1") : out;
}

std::vector<Condition> identityConditions(const RowIdentity &identity, const RowValues &values)
{
    std::vector<Condition> out;
    if (identity.kind == RowIdentity::Kind::AllColumns) {
        for (size_t c = 0; c < values.size(); ++c)
            out.push_back({int(c), values[c], true});
    } else {
        for (int c : identity.columns)
            out.push_back({c, values.at(size_t(c)), false});
    }
    return out;
}

std::vector<Condition> updateConditions(const RowIdentity &identity, const RowValues &original, const CellChanges &changes)
{
    std::vector<Condition> where = identityConditions(identity, original);
    if (identity.kind != RowIdentity::Kind::AllColumns)
        for (const auto &[column, value] : changes)
            where.push_back({column, original.at(size_t(column)), true});
    return where;
}

std::vector<Condition> deleteConditions(const RowIdentity &identity, const RowValues &original)
{
    // A row someone else changed meanwhile is not deleted unseen.
    std::vector<Condition> where = identityConditions(identity, original);
    if (identity.kind != RowIdentity::Kind::AllColumns)
        for (size_t c = 0; c < original.size(); ++c)
            where.push_back({int(c), original[c], true});
    return where;
}

QByteArray updateStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const CellChanges &changes, const Quote &quote, int limit)
{
    QByteArray set;
    for (const auto &[column, value] : changes) {
        if (!set.isEmpty())
            set += ", ";
        set += columnName(fields, column) + " = " + (value.isNull ? QByteArray("NULL") : quote(value.text));
    }
    return "UPDATE " + quoteIdentifier(table) + " SET " + set + " WHERE "
        + whereClause(fields, updateConditions(identity, original, changes), quote) + " LIMIT "
        + QByteArray::number(limit);
}

QByteArray deleteStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const Quote &quote, int limit)
{
    return "DELETE FROM " + quoteIdentifier(table) + " WHERE "
        + whereClause(fields, deleteConditions(identity, original), quote) + " LIMIT " + QByteArray::number(limit);
}

QByteArray insertStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const CellChanges &values,
                           const Quote &quote)
{
    QByteArray names, list;
    for (const auto &[column, value] : values) {
        if (!names.isEmpty()) {
            names += ", ";
            list += ", ";
        }
        names += columnName(fields, column);
        list += value.isNull ? QByteArray("NULL") : quote(value.text);
    }
    return "INSERT INTO " + quoteIdentifier(table) + " (" + names + ") VALUES (" + list + ")";
}

QByteArray selectRowStatement(const QByteArray &table, const std::vector<FieldInfo> &fields,
                              const std::vector<Condition> &conditions, const Quote &quote)
{
    return "SELECT * FROM " + quoteIdentifier(table) + " WHERE " + whereClause(fields, conditions, quote) + " LIMIT 1";
}

QByteArray countStatement(const QByteArray &table, const std::vector<FieldInfo> &fields,
                          const std::vector<Condition> &conditions, const Quote &quote)
{
    return "SELECT COUNT(*) FROM " + quoteIdentifier(table) + " WHERE " + whereClause(fields, conditions, quote);
}

QByteArray checkedWritesStatement(
    const std::vector<QByteArray> &writes, const std::vector<QByteArray> &readBacks, bool transactional)
{
    QByteArray sql = "BEGIN NOT ATOMIC DECLARE w INT; ";
    if (transactional)
        sql += "DECLARE EXIT HANDLER FOR SQLEXCEPTION BEGIN ROLLBACK; RESIGNAL; END; ";
    sql += "batch: BEGIN ";
    for (size_t i = 0; i < writes.size(); ++i) {
        if (transactional)
            sql += "START TRANSACTION; ";
        sql += writes[i]
            + "; GET DIAGNOSTICS @corvane_rows = ROW_COUNT, w = NUMBER; IF w > 0 THEN LEAVE batch; END IF; ";
        if (transactional)
            sql += "IF @corvane_rows = 1 THEN COMMIT; ELSE ROLLBACK; END IF; ";
        sql += "SELECT " + QByteArray::number(qulonglong(i))
            + ", @corvane_rows; IF @corvane_rows <> 1 THEN LEAVE batch; END IF; ";
        if (!readBacks[i].isEmpty())
            sql += readBacks[i] + "; ";
    }
    return sql + "END batch; END";
}

QByteArray openInsertStatement(const QByteArray &insert, const QByteArray &count)
{
    QByteArray sql = "BEGIN NOT ATOMIC DECLARE w INT; DECLARE EXIT HANDLER FOR SQLEXCEPTION BEGIN ROLLBACK; RESIGNAL; "
                     "END; START TRANSACTION; ";
    if (!count.isEmpty())
        sql += count + "; ";
    sql += insert + " RETURNING *; GET DIAGNOSTICS w = NUMBER; IF w = 0 THEN ";
    return sql + (count.isEmpty() ? QByteArray("SELECT 0") : count) + "; END IF; END";
}

RowValues storedValues(const RowStore &store, qint64 row)
{
    RowValues out;
    for (const RowStore::Cell &c : store.row(row)) {
        const std::string_view text = c.text();
        out.push_back(c.isNull() ? CellValue::null() : CellValue::of(QByteArray(text.data(), qsizetype(text.size()))));
    }
    return out;
}

RowStore::Cell storeCell(const CellValue &value)
{
    return value.isNull ? RowStore::Cell()
                        : RowStore::Cell(std::string_view(value.text.constData(), size_t(value.text.size())));
}

std::vector<RowStore::Cell> storeCells(const RowValues &values)
{
    std::vector<RowStore::Cell> out;
    out.reserve(values.size());
    for (const CellValue &v : values)
        out.push_back(storeCell(v));
    return out;
}
