#include "db/RowWriter.h"

#include "db/Connection.h"
#include "frame/Failure.h"

#include <mysql.h>

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
        if (c.value.isNull)
            out += name + " IS NULL";
        else if (c.exact)
            out += "CAST(" + name + " AS BINARY) = " + quote(c.value.text);
        else
            out += name + " = " + quote(c.value.text);
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

QByteArray updateStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const CellChanges &changes, const Quote &quote)
{
    QByteArray set;
    std::vector<Condition> where = identityConditions(identity, original);
    for (const auto &[column, value] : changes) {
        if (!set.isEmpty())
            set += ", ";
        set += columnName(fields, column) + " = " + (value.isNull ? QByteArray("NULL") : quote(value.text));
        // The value the user changed must still be the one they saw.
        if (identity.kind != RowIdentity::Kind::AllColumns)
            where.push_back({column, original.at(size_t(column)), true});
    }
    return "UPDATE " + quoteIdentifier(table) + " SET " + set + " WHERE " + whereClause(fields, where, quote)
        + " LIMIT 1";
}

QByteArray deleteStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const Quote &quote)
{
    // The whole row must be as it was read: a row someone else changed
    // meanwhile is not deleted unseen.
    std::vector<Condition> where = identityConditions(identity, original);
    if (identity.kind != RowIdentity::Kind::AllColumns)
        for (size_t c = 0; c < original.size(); ++c)
            where.push_back({int(c), original[c], true});
    return "DELETE FROM " + quoteIdentifier(table) + " WHERE " + whereClause(fields, where, quote) + " LIMIT 1";
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

RowWriter::RowWriter(Connection &connection, QByteArray table, std::vector<FieldInfo> fields)
    : m_connection(connection), m_table(std::move(table)), m_fields(std::move(fields))
{
    RowSet keys;
    keys.open(QStringLiteral("SHOW KEYS FROM ") + QString::fromUtf8(quoteIdentifier(m_table)), m_connection);
    const auto column = [&](const char *name) {
        for (int i = 0; i < keys.fieldCount(); ++i)
            if (keys.field(i).name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return i;
        throw Failure(QStringLiteral("SHOW KEYS gave no column %1.").arg(QLatin1String(name)));
    };
    const int nonUnique = column("Non_unique"), keyName = column("Key_name"), seq = column("Seq_in_index"),
              columnName = column("Column_name"), nullable = column("Null");
    std::vector<KeyPart> parts;
    for (qint64 r = 0; r < keys.recordCount(); ++r) {
        const auto text = [&](int c) {
            const RowStore::Cell cell = keys.rows().cell(r, c);
            return QByteArray(cell.text().data(), qsizetype(cell.text().size()));
        };
        parts.push_back({text(keyName), text(seq).toInt(), text(columnName), text(nonUnique) == "0",
                         text(nullable) == "YES"});
    }
    m_identity = chooseIdentity(m_fields, parts);
}

Quote RowWriter::quoter() const
{
    return [this](const QByteArray &value) { return m_connection.quote(value); };
}

std::optional<RowValues> RowWriter::readRow(const std::vector<Condition> &conditions)
{
    RowSet rows;
    rows.open(QString::fromUtf8(selectRowStatement(m_table, m_fields, conditions, quoter())), m_connection);
    if (rows.recordCount() == 0 || rows.fieldCount() != int(m_fields.size()))
        return std::nullopt;
    RowValues out;
    for (const RowStore::Cell &c : rows.rows().row(0))
        out.push_back(c.isNull() ? CellValue::null() : CellValue::of(QByteArray(c.text().data(), qsizetype(c.text().size()))));
    return out;
}

bool RowWriter::update(const RowValues &original, const CellChanges &changes, std::optional<RowValues> &stored)
{
    stored.reset();
    if (changes.empty())
        return true;
    if (m_connection.exec(updateStatement(m_table, m_fields, m_identity, original, changes, quoter())) != 1)
        return false;
    RowValues now = original;
    for (const auto &[column, value] : changes)
        now[size_t(column)] = value;
    std::vector<Condition> find;
    if (m_identity.kind == RowIdentity::Kind::AllColumns) {
        // Unchanged cells are the server's own text; typed ones go through
        // its conversion, as they did when written.
        for (size_t c = 0; c < now.size(); ++c)
            find.push_back({int(c), now[c], !changes.count(int(c))});
    } else {
        find = identityConditions(m_identity, now);
    }
    stored = readRow(find);
    return true;
}

bool RowWriter::remove(const RowValues &original)
{
    return m_connection.exec(deleteStatement(m_table, m_fields, m_identity, original, quoter())) == 1;
}

void RowWriter::insert(const CellChanges &values, std::optional<RowValues> &stored)
{
    stored.reset();
    m_connection.exec(insertStatement(m_table, m_fields, values, quoter()));
    const quint64 id = m_connection.insertId();
    std::vector<Condition> find;
    bool keyKnown = m_identity.kind != RowIdentity::Kind::AllColumns;
    for (int c : m_identity.columns) {
        const bool autoIncrement = m_fields[size_t(c)].flags & AUTO_INCREMENT_FLAG;
        if (autoIncrement && id != 0)
            find.push_back({c, CellValue::of(QByteArray::number(id)), false});
        else if (values.count(c) && !values.at(c).isNull)
            find.push_back({c, values.at(c), false});
        else
            keyKnown = false;
    }
    if (!keyKnown) {
        find.clear();
        for (const auto &[column, value] : values)
            find.push_back({column, value, false});
    }
    stored = readRow(find);
}
