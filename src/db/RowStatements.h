#pragma once

#include "db/Identifier.h"
#include "db/RowSet.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <vector>

// One cell as read from or sent to the server: its bytes, or NULL.
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

// A stored row as values, and values as cells of a row store (the cells
// point into the values' bytes: keep them alive until the store copies them).
RowValues storedValues(const RowStore &store, qint64 row);
std::vector<RowStore::Cell> storeCells(const RowValues &values);
RowStore::Cell storeCell(const CellValue &value);

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

// A test on one column in a WHERE clause. `exact` compares the bytes the
// client received byte for byte (so FLOAT, DOUBLE and case-insensitive
// collations cannot make a row match that differs, nor fail to match one
// that does not); a value longer than HashAbove is compared by its SHA-256,
// which the server computes from the same bytes, so the statement stays
// small. Otherwise the server's own comparison is used, which an index serves.
struct Condition
{
    int column = 0;
    CellValue value;
    bool exact = false;
};
inline constexpr qsizetype HashAbove = 256;

// Puts a value into an SQL text: the connection's escaping, in quotes.
using Quote = std::function<QByteArray(const QByteArray &)>;

// The statement builders: plain functions of their inputs. UPDATE and DELETE
// touch at most `limit` rows.
RowIdentity chooseIdentity(const std::vector<FieldInfo> &fields, const std::vector<KeyPart> &keys);
QByteArray whereClause(const std::vector<FieldInfo> &fields, const std::vector<Condition> &conditions, const Quote &quote);
std::vector<Condition> identityConditions(const RowIdentity &identity, const RowValues &values);
// The conditions an UPDATE's WHERE uses: the row's identity, and the changed
// columns' old values (the user changed what they saw, nothing else).
std::vector<Condition> updateConditions(const RowIdentity &identity, const RowValues &original, const CellChanges &changes);
// The conditions a DELETE's WHERE uses: the whole row as it was read.
std::vector<Condition> deleteConditions(const RowIdentity &identity, const RowValues &original);
QByteArray updateStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const CellChanges &changes, const Quote &quote, int limit = 1);
QByteArray deleteStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const RowIdentity &identity,
                           const RowValues &original, const Quote &quote, int limit = 1);
QByteArray insertStatement(const QByteArray &table, const std::vector<FieldInfo> &fields, const CellChanges &values,
                           const Quote &quote);
QByteArray selectRowStatement(const QByteArray &table, const std::vector<FieldInfo> &fields,
                              const std::vector<Condition> &conditions, const Quote &quote);
QByteArray countStatement(const QByteArray &table, const std::vector<FieldInfo> &fields,
                          const std::vector<Condition> &conditions, const Quote &quote);
// One statement that runs `writes` (UPDATEs or DELETEs built above) in
// order and decides on the server, in the same round trip. For each write i
// in turn: the rows it found go to @corvane_rows; with a warning, it stops
// there and yields nothing more, with that write's transaction (when
// `transactional`) left open, so that the warnings can still be read (SHOW
// WARNINGS). Else the transaction is committed if exactly one row was found
// and rolled back if not, and it yields a row (i, @corvane_rows); when one
// was found, then `readBacks[i]`'s row (if not empty), else it stops. A
// failure rolls back and reaches the client as the server's own error.
QByteArray checkedWritesStatement(
    const std::vector<QByteArray> &writes, const std::vector<QByteArray> &readBacks, bool transactional);
// One statement that starts a transaction, runs `insert` (built above) with
// RETURNING * and leaves the transaction open for the client to end, so the
// new row and its key are known before the commit. With `count` (a
// countStatement, not empty), it yields that count before the insert and
// after it. Without a warning it yields a last row (the count after, else
// 0); with one it stops after the insert, so that the warnings can still
// be read (SHOW WARNINGS). A failure rolls back and reaches the client as
// the server's own error.
QByteArray openInsertStatement(const QByteArray &insert, const QByteArray &count);
