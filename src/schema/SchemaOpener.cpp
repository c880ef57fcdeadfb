#include "schema/SchemaOpener.h"

#include "db/Connection.h"
#include "frame/HeldInput.h"
#include "frame/KeptConnection.h"

void SchemaOpener::open(QWidget *dialog, std::shared_ptr<Connection> &connection) const
{
    const QString text = connectionString();
    if (!kept) {
        openHoldingPage(dialog, *connection, text);
        return;
    }
    connection = kept->share(Connection::paramsFrom(text), [&](Connection &c) {
        openHoldingPage(dialog, c, text);
        return true;
    });
}

void SchemaOpener::release(std::shared_ptr<Connection> &connection) const
{
    if (connection && !kept)
        connection->close();
    connection.reset();
}
