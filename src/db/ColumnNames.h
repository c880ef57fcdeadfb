#pragma once

#include <QString>
#include <QStringList>

class Connection;

// The names of the fields of `query`'s result, in their order. The query is
// sent exactly as given (so the server's log shows that text) but with the
// session's select limit at 0 for its length, so the server sends the field
// descriptions and no rows, however large the table. Throws Failure with the
// server's message when the query is refused or the connection is not open.
QStringList ColumnNames(Connection &connection, const QString &query);
