#pragma once

#include <QString>
#include <exception>

// A failure of a step: the database layer, the file writers and the services
// throw it; a handler's Trap catches it and reports it. Carries the text the
// user reads and a number (the server's error code for database failures).
class Failure : public std::exception
{
public:
    explicit Failure(QString description, long number = 0)
        : m_description(std::move(description)), m_number(number),
          m_what(m_description.toUtf8()) {}

    const QString &description() const { return m_description; }
    long number() const { return m_number; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    long m_number;
    QByteArray m_what;
};
