#pragma once

#include <QString>

// True when a connection opens with `connectionString`; shows nothing and
// keeps nothing open.
bool CanConnect(const QString &connectionString);
