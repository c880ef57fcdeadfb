#pragma once

#include <QString>
#include <exception>

// A failure of a step: the database layer, the file writers and the services
// throw it; a handler's Trap catches it and reports it. Carries the text the
// user reads and a number (the server's error code for database failures).
// It lives in db, the lowest layer that throws it; what a number means is
// asked here, so no layer above needs MariaDB's headers.
class Failure : public std::exception
{
public:
    explicit Failure(QString description, long number = 0)
        : m_description(std::move(description)), m_number(number),
          m_what(m_description.toUtf8()) {}

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
