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
    // The numbers this program tests for or throws itself. The server's
    // (ER_*) and the client library's (CR_*) are checked against MariaDB's
    // headers in db (db/FailureCodes.cpp); the others are the numbers the
    // older program's users and reports know for the same failures.
    enum Code : long {
        // The server's
        // What a Galera node outside its cluster's majority (or still
        // joining it) answers to every statement: it did nothing.
        NodeNotReady = 1047,          // ER_UNKNOWN_COM_ERROR, "WSREP has not yet prepared node..."
        ParseError = 1064,            // ER_PARSE_ERROR
        NoSuchThread = 1094,          // ER_NO_SUCH_THREAD: KILL of a session that is gone
        NoSuchTable = 1146,           // ER_NO_SUCH_TABLE
        UnknownSystemVariable = 1193, // ER_UNKNOWN_SYSTEM_VARIABLE
        StatementTimeout = 1969,      // ER_STATEMENT_TIMEOUT: max_statement_time ended it
        // Another change to the same rows won: a lock wait that timed out,
        // a deadlock, a Galera certification conflict. Nothing was written.
        LockWaitTimeout = 1205, // ER_LOCK_WAIT_TIMEOUT
        Deadlock = 1213,        // ER_LOCK_DEADLOCK
        // A foreign key refused a write: a row still referred to, a value
        // that refers to no row (the older numbers, then those that name the
        // constraint).
        RowIsReferenced = 1217,  // ER_ROW_IS_REFERENCED
        NoReferencedRow = 1216,  // ER_NO_REFERENCED_ROW
        RowIsReferenced2 = 1451, // ER_ROW_IS_REFERENCED_2
        NoReferencedRow2 = 1452, // ER_NO_REFERENCED_ROW_2

        // The client library's
        FirstClientError = 2000,   // CR_MIN_ERROR: the library's own numbers start here
        UnknownHost = 2005,        // CR_UNKNOWN_HOST
        ServerGoneAway = 2006,     // CR_SERVER_GONE_ERROR: between statements
        OutOfMemory = 2008,        // CR_OUT_OF_MEMORY
        ServerLost = 2013,         // CR_SERVER_LOST: during a statement
        TlsConnectionError = 2026, // CR_SSL_CONNECTION_ERROR
        ServerLostExtended = 2055, // CR_SERVER_LOST_EXTENDED

        // A row set's (as ADO numbered them)
        NoCurrentRecord = 3021, // "Either BOF or EOF is True, or the current record has been deleted."
        ItemNotFound = 3265,    // no field of that name or ordinal
        ObjectClosed = 3704,    // "Operation is not allowed when the object is closed."

        // The pages' and files' (as Visual Basic numbered them)
        FileNotFound = 53,
        ObjectVariableNotSet = 91, // "Object variable or With block variable not set"
        ObjectRequired = 424,
        InvalidPicture = 481,
        IndexOutOfBounds = 35600,

        // The SSH tunnel's: ssh failed, or the tunnel is not safe to use.
        SshTunnel = 9100,
    };

    explicit Failure(QString description, long number = 0)
        : m_description(std::move(description)), m_number(number), m_what(m_description.toUtf8())
    { }

    const QString &description() const { return m_description; }
    long number() const { return m_number; }
    // What this program found out about the failure, in the user's words, to
    // tell before the description; empty when nothing.
    const QString &explanation() const { return m_explanation; }
    void setExplanation(QString text) { m_explanation = std::move(text); }
    const char *what() const noexcept override { return m_what.constData(); }

    // The server went away or a reply was lost: whatever was sent may or may
    // not have been done.
    bool isConnectionLost() const;
    // The write lost against another change to the same rows and was
    // rolled back (a deadlock, a lock wait timeout, a Galera conflict).
    bool isConflict() const { return m_number == Deadlock || m_number == LockWaitTimeout; }
    // The server is a cluster node that takes no statement just now.
    bool isNodeNotReady() const { return m_number == NodeNotReady; }
    // The client could not set up TLS with the server.
    bool isTlsFailure() const;
    // The SSH tunnel to the database failed; the text says why.
    bool isTunnelFailure() const { return m_number == SshTunnel; }

    // Thrown by anything used before it was opened or after it was closed.
    [[noreturn]] static void throwNotOpen();

private:
    QString m_description;
    long m_number;
    QByteArray m_what;
    QString m_explanation;
};
