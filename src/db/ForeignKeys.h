#pragma once

#include "db/RowStatements.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

class Connection;
class RowSet;

// One foreign key: a row of `table` whose `columns` all hold values refers to
// the row of `refTable` whose `refColumns` hold the same, column by column.
// Names are the server's, as bytes (UTF-8).
struct ForeignKey
{
    QByteArray name;
    QByteArray schema;
    QByteArray table;
    std::vector<QByteArray> columns;
    QByteArray refSchema;
    QByteArray refTable;
    std::vector<QByteArray> refColumns;
    bool isOwn = false; // a key of the table asked about, not one that refers to it
};

// A row's values by column name (the table's own names); a column that is
// missing is not known.
using NamedValues = std::map<QByteArray, CellValue>;

namespace ForeignKeys {

// The foreign keys of `table` in the session's database, and those of any
// table that refer to it, in one statement. Throws Failure.
std::vector<ForeignKey> around(Connection &connection, const QByteArray &table);

// Why the server refused a write to `table` for a foreign key, in words the
// user can act on: which constraint, which other table, which values. A row
// of `table` as it was (`before`; empty for an insert) was to hold `after`
// (empty for a delete). Empty when the number is not one of those refusals or
// the cause cannot be found (the rows changed since); asks the server, and
// gives up quietly when it cannot.
QString explainRefusal(
    Connection &connection, const QByteArray &table, long number, const NamedValues &before, const NamedValues &after);

// "The value(s) ... of ... refer(s) to no row of `table` (constraint ...).";
// `home` is the database whose tables need no database name.
QString noRowText(const ForeignKey &key, const std::vector<CellValue> &values, const QByteArray &home);

// One cell of `rows` as the server sent it (empty for NULL).
QByteArray cellBytes(const RowSet &rows, qint64 row, int column);

// The refusals explainRefusal() speaks of: a row still referred to (1451,
// 1217) or a value that refers to no row (1452, 1216).
bool isRefusal(long number);

} // namespace ForeignKeys
