#pragma once

#include <QIcon>

class Connection;
class QLabel;

// The lock that tells whether a connection is encrypted: a closed lock with
// the TLS version and cipher in its tooltip; over the network without TLS,
// the words "Not encrypted" in a warning colour; on the local socket, which
// never leaves the computer, an open lock.
namespace SecurityBadge {

QIcon lockIcon(bool closed);
// Shows `connection`'s state on `label` (picture or text, tooltip,
// accessible name).
void show(QLabel *label, const Connection &connection);
// The sentence that says a connection over the network is not encrypted.
QString notEncryptedText();

} // namespace SecurityBadge
