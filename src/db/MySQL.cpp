#include "db/MySQL.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"

bool CanConnect(const QString &connectionString, const std::function<bool(qint64 ms)> &waiting)
{
    Connection connection;
    try {
        if (waiting)
            return connection.openWaiting(Connection::paramsFrom(connectionString), waiting);
        connection.open(connectionString);
        return true;
    } catch (const Failure &) {
        return false;
    }
}

std::unique_ptr<RowSet> listTables(Connection &connection)
{
    return connection.select("SHOW TABLES;");
}
