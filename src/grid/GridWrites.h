#pragma once

#include "db/ForeignKeys.h"
#include "db/RowWriter.h"

#include <QString>

#include <functional>
#include <memory>

class Connection;
class RowSet;

// How the grid writes a row: through one RowWriter for the table shown, and,
// after a write lost the connection, by opening it again before the next
// write, so the user can retry once the server is back. Collects what the
// last write has to tell the user beyond its outcome (notice()).
//
// Each write, with any reconnect before it, runs through the runner when one
// is set (on another thread, while the window waits; see runHoldingInput);
// it touches nothing of the grid's rows there.
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
    BatchResult updateAll(const std::vector<std::pair<RowValues, CellChanges>> &rows);
    BatchResult removeAll(const std::vector<RowValues> &rows);

    using Runner = std::function<void(const std::function<void()> &work)>;
    void setRunner(Runner runner) { m_runner = std::move(runner); }

    const QString &notice() const { return m_notice; }
    void addNotice(const QString &text);

private:
    template <class F> auto run(F &&f) -> decltype(f(std::declval<RowWriter &>()));
    std::optional<Failure> refusal(const CellChanges &changes, bool insert) const;
    void noteLoss(const WriteResult &result);
    void noteWarnings(const WriteResult &result, const CellChanges &typed, bool added);
    NamedValues named(const RowValues &row) const;
    NamedValues named(const CellChanges &changes) const;
    void explain(Failure &failure, const NamedValues &before, const NamedValues &after);

    RowSet *m_rows = nullptr;
    Connection *m_connection = nullptr;
    std::unique_ptr<RowWriter> m_writer;
    std::vector<QByteArray> m_names; // the table's column names, by column
    bool m_connectionLost = false;
    bool m_running = false;
    QString m_notice;
    Runner m_runner;
};
