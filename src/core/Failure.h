#pragma once

#include <QString>
#include <exception>

// A failure of a step: the database layer, the file writers and the services
// throw it; a handler's Trap catches it and reports it. Carries the text the
// user reads and a number (the server's error code for database failures).
// It lives in core, below every layer that throws it (the print program
// too); what a number means is asked here, so no layer needs MariaDB's
// headers to tell.
class Failure : public std::exception
{
public:
    // The numbers this program tests for or throws itself. The client
    // library's own (CR_*) are checked against its headers in db.
    enum Code : long {
        ServerGoneAway = 2006,     // CR_SERVER_GONE_ERROR: between statements
        ServerLost = 2013,         // CR_SERVER_LOST: during a statement
        TlsConnectionError = 2026, // CR_SSL_CONNECTION_ERROR
        ServerLostExtended = 2055, // CR_SERVER_LOST_EXTENDED
        ObjectClosed = 3704,
    };

    explicit Failure(QString description, long number = 0)
        : m_description(std::move(description)), m_number(number), m_what(m_description.toUtf8())
    { }

    const QString &description() const { return m_description; }
    long number() const { return m_number; }
    const char *what() const noexcept override { return m_what.constData(); }

    // The server went away or a reply was lost: whatever was sent may or may
    // not have been done.
    bool isConnectionLost() const;
    // The client could not set up TLS with the server.
    bool isTlsFailure() const;

    // Thrown by anything used before it was opened or after it was closed.
    [[noreturn]] static void throwNotOpen();

private:
    QString m_description;
    long m_number;
    QByteArray m_what;
};
