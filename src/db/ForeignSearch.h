#pragma once

#include "db/ForeignLabels.h"

#include <QByteArray>
#include <QString>

#include <vector>

class Connection;
class RowSet;

// The statements that look up the rows a foreign key refers to by what the
// user typed: the picker's search, and a label typed for a key.
namespace ForeignSearch {

// One statement: rows whose key (its last column) begins with `text`, then
// rows whose label begins with it, `limit` of each; with `contains`, rows
// whose label holds it anywhere instead. Each row: a part number, the key's
// columns, the label, the extra column. MariaDB ends it after `seconds`.
QByteArray searchSql(const Connection &connection, const ForeignLabels::Key &key, const QString &text, bool contains,
    int limit, int seconds);
// The same, key part only.
QByteArray keySearchSql(const Connection &connection, const ForeignLabels::Key &key, const QString &text, int limit);
std::vector<ForeignLabels::Match> readMatches(const RowSet &rows, size_t keyColumns);

// One statement for these key values (the last one the text typed): for each,
// whether a row has them as its key, and how many rows have the last as
// their label, with that row's key when one does.
QByteArray resolveSql(
    const Connection &connection, const ForeignLabels::Key &key, const std::vector<std::vector<CellValue>> &tuples);
std::vector<ForeignLabels::Resolved> readResolved(const RowSet &rows, size_t tuples, size_t keyColumns);

// One statement: for each key of `keys`, how many of its table's rows refer
// to the row of these values (its referenced columns by name); a key whose
// values are not all there (or NULL) counts none.
QByteArray referringSql(const Connection &connection, const std::vector<ForeignKey> &keys, const NamedValues &row);
std::vector<qint64> readCounts(const RowSet &rows, size_t keys);

} // namespace ForeignSearch
