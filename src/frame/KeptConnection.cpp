#include "frame/KeptConnection.h"

#include "db/Connection.h"

std::shared_ptr<Connection> KeptConnection::share(
    const ConnectParams &params, const std::function<bool(Connection &)> &open)
{
    if (m_connection && m_connection->params() == params && m_connection->looksAlive())
        return m_connection;
    // A new object: a page may still hold the old one and find it lost.
    m_connection.reset();
    auto opened = std::make_shared<Connection>();
    if (!open(*opened))
        return nullptr;
    m_connection = opened;
    return opened;
}
