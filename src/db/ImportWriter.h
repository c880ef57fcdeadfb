#pragma once

#include "db/ImportTarget.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Connection;

// One value of an imported row as it goes to the server.
struct ImportValue
{
    QByteArrayView text;
    bool isNull = false;
    // `text` is "0x" and hex digits (how the exports write bytes): the
    // bytes go, not the text. Text that is not such is sent as text.
    bool hex = false;
};

// Writes imported rows into a table on a connection of its own, as the
// server's strict mode checks them: rows go in multi-row INSERTs of up to
// a few MiB (never more than max_allowed_packet), each sent while the next
// is built, values escaped for the session's character set; updates go one
// row at a time. On a table with transactions every row goes into one
// transaction that finish() commits; a failed batch is undone by the server
// alone (the statement) and its rows are then written one by one to find
// the failing one.
//
// New rows into a table with transactions, on a connection opened with
// ConnectParams::localInfile, go faster through addAll(): as LOAD DATA
// LOCAL statements of some MiB, fed while the file is read. The server
// takes such a statement with warnings where strict mode would refuse a
// row, so a statement taken other than whole and clean (an error, any
// warning, a skipped row, fewer rows than sent) is undone to a savepoint
// taken before it, and its rows go again as INSERTs, which name the
// failing row. A server that refuses LOAD DATA LOCAL gets INSERTs at once.
// Not thread-safe: one thread (a worker) uses it.
class ImportWriter
{
public:
    enum class Mode {
        Insert,
        Update, // rows matched by the target's key; a key matching none fails
        Upsert, // INSERT ... ON DUPLICATE KEY UPDATE
    };
    struct RowFailure
    {
        qint64 line = 0;
        QString reason;
        long code = 0;
    };
    enum class Phase { Writing, Committing, Done };

    // `columns` are the target's column indexes the values of add() are
    // for, in that order. Update and Upsert need every key column among
    // them. With `skipFailing`, a failing row is noted (failures()) and the
    // rest go on; without, the first one throws.
    ImportWriter(
        Connection &connection, const ImportTarget &target, std::vector<int> columns, Mode mode, bool skipFailing);
    ~ImportWriter();
    ImportWriter(const ImportWriter &) = delete;
    ImportWriter &operator=(const ImportWriter &) = delete;

    // Makes the session strict and starts the transaction. Throws Failure.
    void begin();
    // Adds one row: `values` holds one value per column. Throws Failure
    // when the import cannot go on: a row failed (failedLine() names it),
    // or the connection was lost.
    void add(const ImportValue *values, qint64 line);
    // Adds every row `next` gives: each call adds one row with add() and
    // returns true, or returns false when there are no more (or the import
    // is to stop). The way for new rows (see above). Throws as add() does,
    // and what `next` throws.
    void addAll(const std::function<bool()> &next);
    // Writes what is left and commits. Throws Failure; phase() then tells
    // whether the commit was under way.
    void finish();
    // Gives up: waits for a statement under way and rolls the transaction
    // back. Never throws.
    void rollback() noexcept;

    // After the connection was lost during the COMMIT: ends the old
    // session `session` from `fresh` (a new connection to the same server),
    // waits until it is gone, and tells whether the row whose key columns
    // (the target's key, in its order) hold `key` is there: it was inserted
    // by the lost transaction, so it is there only if that was committed.
    // Throws Failure.
    static bool keyIsThere(
        Connection &fresh, unsigned long session, const ImportTarget &target, const std::vector<QByteArray> &key);

    Phase phase() const { return m_phase; }
    qint64 failedLine() const { return m_failedLine; }
    // Rows the server has taken so far (in the open transaction, if any).
    qint64 rowsWritten() const { return m_written; }
    // Rows written or on their way to the server: progress.
    qint64 rowsSent() const;
    // The size of one LOAD DATA statement's rows (16 MiB); before begin().
    void setLoadBytes(qsizetype bytes) { m_loadBytes = bytes; }
    // Whether new rows go as LOAD DATA LOCAL (until the server refuses it).
    bool isLoading() const { return m_bulk; }
    const std::vector<RowFailure> &failures() const { return m_failures; }
    // Statements sent so far.
    qint64 statements() const { return m_statements; }

private:
    struct Batch;
    struct Stream;
    // Appends `value` for the `column`-th of m_columns as an SQL literal.
    void appendValue(QByteArray &out, const ImportValue &value, int column) const;
    QByteArray loadStatement() const;
    void addUpdate(const ImportValue *values, qint64 line);
    void addInsert(const ImportValue *values, qint64 line);
    // Appends one row to the LOAD DATA stream.
    void addLoaded(const ImportValue *values, qint64 line);
    // Runs one LOAD DATA statement fed from `next`; false once `next` ended.
    bool load(const std::function<bool()> &next);
    long feed(const std::function<bool()> &next, char *buffer, unsigned size) noexcept;
    // Whether the statement just run took every row of the stream, cleanly.
    bool tookAll() const;
    // Undoes the stream's statement and writes its rows as INSERTs.
    void reinsertStream();
    void send();
    void completeSent();
    void retryRows(const Batch &batch);
    // Runs one statement; false with the error in `failure` when the server
    // refused it. Throws when the connection is lost.
    bool run(const QByteArray &sql, RowFailure &failure, quint64 *found = nullptr);
    void rowFailed(RowFailure failure);
    [[noreturn]] void fatal() const;

    Connection &m_connection;
    const ImportTarget &m_target;
    std::vector<int> m_columns;
    enum class Number { No, Integer, Decimal };
    std::vector<Number> m_numbers; // per m_columns: numbers go unquoted
    Mode m_mode;
    bool m_skip;
    QByteArray m_head; // INSERT INTO `t` (`a`, `b`) VALUES
    QByteArray m_tail; // ON DUPLICATE KEY UPDATE ...
    QByteArray m_tuple;
    std::unique_ptr<Batch> m_building;
    std::unique_ptr<Batch> m_sent;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_load;         // LOAD DATA LOCAL INFILE ... INTO TABLE `t` ... (`a`, @b1) SET `b` = UNHEX(@b1)
    std::vector<bool> m_bytes; // per m_columns: bytes, sent as hex
    bool m_bulk = false;
    bool m_loading = false; // a LOAD DATA statement is being fed
    qsizetype m_loadBytes = 16 << 20;
    bool m_inFlight = false;
    qsizetype m_maxPacket = 1 << 20;
    qsizetype m_batchBytes = 1 << 20;
    bool m_oneRowAtATime = false;
    Phase m_phase = Phase::Writing;
    qint64 m_failedLine = 0;
    qint64 m_written = 0;
    qint64 m_statements = 0;
    std::vector<RowFailure> m_failures;
};
