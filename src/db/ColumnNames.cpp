#include "db/ColumnNames.h"

#include "core/Failure.h"
#include "db/Connection.h"

#include <QScopeGuard>

#include <mysql.h>

QStringList ColumnNames(Connection &connection, const QString &query)
{
    if (!connection.isOpen())
        connection.failNotOpen();
    connection.exec("SET SESSION sql_select_limit = 0");
    const auto restore = qScopeGuard([&connection] {
        // The connection may be gone by now; the limit goes with it then.
        if (connection.isOpen())
            mysql_query(connection.handle(), "SET SESSION sql_select_limit = DEFAULT");
    });
    connection.query(query.toUtf8());
    MYSQL *m = connection.handle();
    MYSQL_RES *res = mysql_use_result(m);
    if (!res) {
        if (mysql_errno(m) != 0)
            connection.fail();
        return {}; // a statement without a result has no fields
    }
    QStringList names;
    const unsigned count = mysql_num_fields(res);
    const MYSQL_FIELD *fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < count; ++i)
        names << QString::fromUtf8(fields[i].name, qsizetype(fields[i].name_length));
    // Reads past whatever rows still came (none under the limit).
    mysql_free_result(res);
    return names;
}
