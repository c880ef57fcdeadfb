#pragma once

#include <QString>

#include <functional>
#include <memory>

class Connection;
class RowSet;

// True when a connection opens with `connectionString`; shows nothing and
// keeps nothing open. With `waiting`, the connect runs while the caller's
// event loop does (Connection::openWaiting) and giving up answers false.
bool CanConnect(const QString &connectionString, const std::function<bool(qint64 ms)> &waiting = {});

// The tables of the connection's database, as the server lists them (SHOW
// TABLES): one row per table, its name in the first field. Throws Failure.
std::unique_ptr<RowSet> listTables(Connection &connection);
