#pragma once

#include "db/Identifier.h"
#include "db/RowSet.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class Connection;

// One cell as read from or sent to the server: its text form, or NULL.
struct CellValue
{
    QByteArray text;
    bool isNull = true;

    static CellValue null() { return {}; }
    static CellValue of(QByteArray text) { return {std::move(text), false}; }
    bool operator==(const CellValue &other) const
    {
        return isNull == other.isNull && (isNull || text == other.text);
    }
};
using RowValues = std::vector<CellValue>;
// New values by column index.
using CellChanges = std::map<int, CellValue>;

// One column of an index, as SHOW KEYS lists it.
struct KeyPart
{
    QByteArray keyName;
    int seq = 0;
    QByteArray column;
    bool unique = false;
    bool nullable = false;
};

// How one row of a table is told apart from the others: by its primary key,
// else by a unique key whose columns are all NOT NULL, else by every column.
struct RowIdentity
{
    enum class Kind { PrimaryKey, UniqueKey, AllColumns };
    Kind kind = Kind::AllColumns;
    std::vector<int> columns; // field indexes of the key; empty for AllColumns
};

// A test on one column in a WHERE clause. `exact` compares the server's text
// form byte for byte (so FLOAT, DOUBLE and case-insensitive collations cannot
// make a row match that differs, nor fail to match one that does not);
// otherwise the server's own comparison is used, which an index serves.
struct Condition
{
    int column = 0;
    CellValue value;
    bool exact = false;
};

// Puts a value into an SQL text: the connection's escaping, in quotes.
using Quote = std::function<QByteArray(const QByteArray &)>;

// The statement builders: plain functions of their inputs. Every statement
// touches at most one row (LIMIT 1).
RowIdentity chooseIdentity(const std::vector<FieldInfo> &fields, const std::vector<KeyPart> &keys);
QByteArray whereClause(const std::vector<FieldInfo> &fields, const std::vector<Condition> &conditions, const Quote &quote);
std::vector<Condition> identityConditions(const RowIdentity &identity, const RowValues &values);
QByteArray updateStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const CellChanges &changes, const Quote &quote);
QByteArray deleteStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const Quote &quote);
QByteArray insertStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const CellChanges &values,
                           const Quote &quote);
QByteArray selectRowStatement(const QByteArray &table, const std::vector<FieldInfo> &fields,
                              const std::vector<Condition> &conditions, const Quote &quote);

// Writes single rows of one table back to the server on the grid's
// connection, and reads back what the server stored. Throws Failure with the
// server's message when a statement is refused.
class RowWriter
{
public:
    // Reads the table's keys (SHOW KEYS) to choose how rows are identified.
    RowWriter(Connection &connection, QByteArray table, std::vector<FieldInfo> fields);

    const RowIdentity &identity() const { return m_identity; }
    const QByteArray &table() const { return m_table; }

    // False when no row matches `original` any more (changed or deleted
    // since it was read); nothing was written then. On success `stored`
    // gets the row as the server now holds it, when it can be found.
    bool update(const RowValues &original, const CellChanges &changes, std::optional<RowValues> &stored);
    bool remove(const RowValues &original);
    void insert(const CellChanges &values, std::optional<RowValues> &stored);

private:
    std::optional<RowValues> readRow(const std::vector<Condition> &conditions);
    Quote quoter() const;

    Connection &m_connection;
    QByteArray m_table;
    std::vector<FieldInfo> m_fields;
    RowIdentity m_identity;
};
