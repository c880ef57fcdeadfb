#pragma once

#include <QIcon>

class Connection;
class QLabel;

// The lock that tells whether a connection is encrypted: a closed lock with
// the TLS version and cipher in its tooltip, or an open one.
namespace SecurityBadge {

QIcon lockIcon(bool closed);
// Shows `connection`'s state on `label` (picture, tooltip, accessible name).
void show(QLabel *label, const Connection &connection);

} // namespace SecurityBadge
