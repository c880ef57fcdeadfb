#pragma once

#include "db/ConnectionString.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class Connection;

// The private MariaDB server that the ctest fixture started (see
// db-fixture.sh). Each test binary works in a database of its own.
namespace TestDb {

// False (and a skip message) when the fixture's server is not there.
bool available();

QString host();
QString port();
QString user();
QString password();
QString socket();
// The port of a second server started by the fixture (same account and
// password), or an empty string when there is none.
QString secondPort();

// Drops and creates database `name`; returns the sign-in values for it.
ConnectionFields create(const QString &name);
ConnectionFields fields(const QString &database);

// A fresh root connection to the server (no database chosen).
std::unique_ptr<Connection> admin(const QString &database = QString());

// Runs statements one by one as the test account.
void run(const QString &database, const QStringList &statements);

// The value of the first column of the first row, or a null string.
QString scalar(const QString &database, const QString &sql);
// Every row, cells joined by "|" ("NULL" for NULL).
QStringList rows(const QString &database, const QString &sql);

// Stops and starts the fixture's server (for tests of a server that goes away).
void stopServer();
void startServer();

} // namespace TestDb
