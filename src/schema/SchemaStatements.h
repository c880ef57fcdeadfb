#pragma once

#include "schema/ColumnDefinition.h"

#include <QString>

#include <vector>

// Where ALTER TABLE ... ADD puts the new column; the values are the entries'
// indexes in the Add Column dialog's position list.
enum class ColumnPosition { Last = 0, First = 1, After = 2 };

inline constexpr std::array<const char *, 3> PositionKeywords = {"LAST", "FIRST", "AFTER"};

// "ALTER TABLE `table` ADD " + ColumnClause, then nothing for LAST (the
// server's default), " FIRST", or " AFTER `afterColumn`". Names are quoted
// with quoteIdentifier(); an empty afterColumn gives "``", which the server
// refuses.
QString AddColumnStatement(const QString &table, const ColumnDefinition &column, ColumnPosition position,
                           const QString &afterColumn);

// "ALTER TABLE `table` ALTER `name` SET DEFAULT " + value (names quoted), the
// value as typed (a text default carries its own quotes).
QString SetDefaultStatement(const QString &table, const QString &name, const QString &value);

// "SELECT * FROM `table`;" (name quoted): every row of the table, whose
// fields also name its columns in their order.
QString SelectAllRowsQuery(const QString &table);

// "CREATE TABLE `name`(" (quoted) + the FieldText of every row in order, without
// the last row's comma, + ")". No terminating semicolon, no table options.
QString CreateTableStatement(const QString &name, const std::vector<FieldRow> &rows);
