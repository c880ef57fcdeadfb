#pragma once

#include "db/RowWriter.h"

#include <QString>

#include <memory>

class Connection;
class RowSet;

// How the grid writes a row: through one RowWriter for the table shown, and,
// after a write lost the connection, by opening it again before the next
// write, so the user can retry once the server is back. Collects what the
// last write has to tell the user beyond its outcome (notice()).
class GridWrites
{
public:
    GridWrites();
    ~GridWrites();

    // The table's rows and the connection to write over (neither owned; a
    // null connection writes nothing). Forgets any lost connection.
    void reset(RowSet *rows, Connection *connection);

    // As RowWriter's; throw Failure when refused.
    WriteResult update(const RowValues &original, const CellChanges &changes);
    WriteResult insert(const CellChanges &changes);
    WriteResult remove(const RowValues &original);

    const QString &notice() const { return m_notice; }
    void addNotice(const QString &text);

private:
    template <class F> WriteResult run(F &&f);
    RowWriter &writer();

    RowSet *m_rows = nullptr;
    Connection *m_connection = nullptr;
    std::unique_ptr<RowWriter> m_writer;
    bool m_connectionLost = false;
    QString m_notice;
};
