#pragma once

#include <QMap>
#include <QString>

// The five sign-in values as the sign-in page holds them.
struct ConnectionFields
{
    QString server;
    QString user;
    QString password;
    QString database;
    QString port;
    // Connection security: a TlsOptions mode name (empty: preferred) and
    // the CA file the verifying modes check the server's certificate with.
    QString tlsMode;
    QString caFile;
    // The SSH host the connection goes through; empty: a direct one.
    QString sshHost;
};

// The ODBC connection text: "DRIVER={MySQL ODBC 5.1 Driver};SERVER=...;USER=...;
// PASSWORD=...;DATABASE=...;PORT=...;". Values are inserted exactly as typed,
// blanks included; a value holding ";" or starting with "{" is written in
// braces with "}" doubled, so it cannot cut the text. A connection security
// other than the default adds "SSLMODE=...;" and, for the verifying modes,
// "SSLCA=...;". A connection through an SSH host adds "SSHHOST=...;".
QString ConnectionString(const ConnectionFields &fields);

// One value as ConnectionString writes it.
QString odbcValue(const QString &value);

// Reads an ODBC connection text into its attributes, keys upper-cased and
// trimmed, values unbraced ("}}" in braces gives "}") and otherwise as written.
// Throws Failure when a braced value is not closed.
QMap<QString, QString> parseConnectionString(const QString &text);
