#pragma once

#include <QByteArray>
#include <QString>

// What ssh's error output `said` means for a tunnel through `sshHost` to the
// database at `dbHost`:`dbPort` (empty when unknown), in plain words: a host
// key that changed (naming the known_hosts line), an unknown host, one that
// cannot be reached, a sign-in refused, a forward refused. Ends with ssh's
// last lines.
QString describeSshFailure(const QString &said, const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort);
