#pragma once

#include <QString>

#include <functional>

// True when a connection opens with `connectionString`; shows nothing and
// keeps nothing open. With `waiting`, the connect runs while the caller's
// event loop does (Connection::openWaiting) and giving up answers false.
bool CanConnect(const QString &connectionString, const std::function<bool(qint64 ms)> &waiting = {});
