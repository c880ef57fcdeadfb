#include "db/MySQL.h"

#include "db/Connection.h"
#include "db/Failure.h"

bool CanConnect(const QString &connectionString)
{
    Connection connection;
    try {
        connection.open(connectionString);
        return true;
    } catch (const Failure &) {
        return false;
    }
}
