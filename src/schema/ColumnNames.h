#pragma once

#include <QString>
#include <QStringList>

class Connection;

// The names of the fields that `query` would return, in their order, read on
// `connection` without fetching a single row: the query is prepared on the
// server (which resolves its fields) and never executed, so a table of any
// size costs the same. The server's log shows the text exactly as given.
// Throws Failure with the server's message when the query is refused or the
// connection is not open.
QStringList ColumnNames(Connection &connection, const QString &query);
