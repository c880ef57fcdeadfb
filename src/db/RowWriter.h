#pragma once

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowStatements.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What became of one write.
struct WriteResult
{
    enum class Status {
        Done,       // applied exactly once
        RowChanged, // no row matched (changed or deleted since it was read); nothing written
        Unknown,    // the connection was lost and whether it was applied could not be told
    };
    Status status = Status::Done;
    // The row as the server now holds it, when it was found for certain.
    std::optional<RowValues> stored;
    // The connection was lost during the write; what happened was checked on
    // a new connection (status tells the result).
    bool checkedAfterLoss = false;
    // The server's warnings on the write (a typed value cut or converted),
    // and the row as found after it, to tell what became of the typed
    // values: `stored`, or a row told apart by its other values only.
    std::vector<ServerWarning> warnings;
    std::optional<RowValues> warnedRow;
};

// What became of the rows of RowWriter::updateAll(), in order: `results`
// holds one per row written or found changed (the last may be RowChanged or
// Unknown); `failure`, when set, is why the row after them was not written
// (the server refused it, more than one row matched, or a lost write was
// found not done). The rows after those were not sent.
struct BatchResult
{
    std::vector<WriteResult> results;
    std::optional<Failure> failure;
};

// Writes single rows of one table back to the server on the grid's
// connection, and reads back what the server stored. Statements and values
// are bytes throughout.
//
// On a transactional table every write runs in a transaction that is
// committed only when exactly one row was found. When the connection is lost
// during a write, it is opened again, the old session is killed (so a
// statement still on its way cannot land after the check) and the server is
// asked what happened; a write is never sent twice.
//
// Throws Failure with the server's message when a statement is refused, when
// more than one row matched, when the session's character set is not the one
// values are escaped for, and when a lost write was checked and found not
// applied.
class RowWriter
{
public:
    // Reads the table's keys (SHOW KEYS) to choose how rows are identified,
    // and whether its engine has transactions.
    RowWriter(Connection &connection, QByteArray table, std::vector<FieldInfo> fields);

    const RowIdentity &identity() const { return m_identity; }
    const QByteArray &table() const { return m_table; }
    bool isTransactional() const { return m_transactional; }

    WriteResult update(const RowValues &original, const CellChanges &changes);
    // Writes each row as update() does, each with its own transaction and
    // outcome, in as few round trips as the server allows (up to BatchRows
    // rows in one statement on a keyed table). Stops at the first row whose
    // outcome is not Done or that is refused; see BatchResult.
    static constexpr size_t BatchRows = 100;
    BatchResult updateAll(const std::vector<std::pair<RowValues, CellChanges>> &rows);
    // Deletes each row as remove() does, batched as updateAll().
    BatchResult removeAll(const std::vector<RowValues> &rows);
    WriteResult remove(const RowValues &original);
    // `stored` is set only when the new row is certainly the one inserted:
    // INSERT ... RETURNING, the AUTO_INCREMENT id, or a key typed in full.
    WriteResult insert(const CellChanges &values);

private:
    struct Lost {};
    enum class Phase { Before, Sent, Committing };

    quint64 send(const QByteArray &sql);
    std::unique_ptr<RowSet> query(const QByteArray &sql);
    void results(const QByteArray &sql, std::vector<std::unique_ptr<RowSet>> &out);
    // What became of one write of runChecked().
    struct Checked
    {
        qint64 found = -1; // rows found; -1 when not told
        std::optional<RowValues> stored;
        std::vector<ServerWarning> warnings;
    };
    void runChecked(const std::vector<QByteArray> &writes, const std::vector<QByteArray> &readBacks, Phase &phase,
        std::vector<Checked> &done);
    // One row's UPDATE, and the conditions that find the row before and after it.
    struct Edit
    {
        CellChanges changes;
        std::vector<Condition> before; // the row as it was read
        std::vector<Condition> key;    // the row by its key, as written (keyed tables)
        std::vector<Condition> after;  // the row with the typed bytes
        QByteArray statement;          // empty: nothing to write
        QByteArray readBack;
        bool isDelete = false;
    };
    Edit editOf(const RowValues &original, const CellChanges &changes) const;
    BatchResult writeAll(const std::vector<Edit> &edits, const std::function<WriteResult(size_t)> &single);
    WriteResult checkDelete(const std::vector<Condition> &row, qint64 matching = -1);
    bool takeChecked(std::vector<Checked> &done, const std::vector<Edit> &edits, BatchResult &out);
    void checkLostBatch(const std::vector<Edit> &edits, size_t from, Phase phase, BatchResult &out);
    static Failure moreThanOneRow();
    static WriteResult changedOrMany(qint64 found, WriteResult r);
    void begin();
    void finish(bool commit, Phase &phase);
    bool reconnect(bool killOld);
    bool settleOnCluster(const QByteArray &oldServer, unsigned oldPort, const QByteArray &server, unsigned long old,
        qint64 openedAt, bool killOld);
    std::optional<RowValues> readRow(const std::vector<Condition> &conditions);
    std::optional<RowValues> readBack(const std::vector<Condition> &conditions);
    std::vector<ServerWarning> readWarnings(bool always = false);
    std::optional<RowValues> findWarned(std::vector<Condition> conditions, const CellChanges &changes);
    qint64 count(const std::vector<Condition> &conditions);
    void rollbackQuietly();
    std::optional<std::vector<Condition>> insertedKey(const CellChanges &values, const std::optional<RowValues> &returned,
                                                      quint64 id) const;
    WriteResult checkUpdate(const std::vector<Condition> &before, const std::vector<Condition> &after, qint64 matching,
        const CellChanges &changes);
    WriteResult insertInCompound(const CellChanges &values, const std::vector<Condition> &typed, const QByteArray &sql);
    WriteResult checkInsert(const std::vector<Condition> &witness, qint64 expected,
        const std::optional<std::vector<Condition>> &key, std::optional<qint64> counter, const CellChanges &values);
    bool storedUnchanged(const CellChanges &values);
    int autoIncrementColumn(const CellChanges &values) const;
    std::optional<qint64> autoIncrementCounter();
    [[noreturn]] void notSaved(bool asked) const;
    Quote quoter() const;

    Connection &m_connection;
    QByteArray m_table;
    std::vector<FieldInfo> m_fields;
    RowIdentity m_identity;
    bool m_transactional = false;
};
