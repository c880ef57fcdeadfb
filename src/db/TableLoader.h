#pragma once

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"

#include <QObject>

class ResultRows;

#include <functional>
#include <optional>
#include <memory>
#include <thread>

// Reads the rows of one query in a worker thread, on a connection of its own
// (streamed, see ResultRows, so the client never holds the whole result
// twice), and appends them to a RowStore in the owner's thread.
// The field list, chunks of rows and the end pass in order through a queue
// of the load's own, under its lock; the worker posts only a call of
// takeHanded() by name. What an old load handed over goes with it on a
// cancel or a new start.
//
// The owner's thread never waits on the server: start() returns at once,
// cancel() ends the statement by shutting the worker's socket and leaves the
// worker to finish on its own (it is joined later, see Workers).
// The worker's connection has no read timeout, so a query may take as long
// as the user is willing to wait.
//
// Thread: the loader and the target store belong to the thread that created
// the loader.
class TableLoader : public QObject
{
    Q_OBJECT
public:
    // Rows are appended to `target`, which must outlive the loader.
    explicit TableLoader(RowStore &target, QObject *parent = nullptr);
    ~TableLoader() override;

    // Opens a connection with `params` and runs `sql` on it, in the worker;
    // returns at once. With `table` (a name in the connection's database),
    // the server's size estimate is first compared with the memory free, and
    // a table that clearly does not fit fails before any row is read. Cancels
    // a load still running. The target is emptied when the fields arrive.
    // With `compound` (the server runs compound statements, as
    // Connection::canRunCompound tells), `sql` (one statement) goes in the
    // same round trip as the reading of the table's size and columns.
    void start(
        const ConnectParams &params, const QByteArray &sql, const QString &table = QString(), bool compound = false);

    // A row of `table` to show first: its values (the server's text form,
    // none NULL) in columns named so, a unique key (its primary key, or
    // another key whose row's primary key is then read first).
    using RowKey = std::vector<std::pair<QByteArray, QByteArray>>;
    // Like start() with `sql` the table's whole `SELECT *`, but when the
    // server returns that in primary-key order for certain (an InnoDB table,
    // not partitioned, no other index holding every column, a key of plain
    // types), the rows from `first` on come first, then, put in front in
    // parts of FrontPartRows, the last part first, each in an event of its
    // own (rowsAboutToBePrepended), the rows before it: the same rows in the
    // same order as a plain load. Else, or when no row has that key, it is
    // the plain load. The rows in front come in only while the event loop
    // is no deeper than where start() was called, or while a wait lets them
    // in (letFrontIn), so no caller further down the stack holds a row
    // number they would make wrong.
    void startAt(const ConnectParams &params, const QByteArray &sql, const QString &table, const RowKey &first);
    // Whether the rows before the first row shown are still to come (known
    // with the fields).
    bool isFrontPending() const { return m_loading && m_frontPending; }
    // Lets the rows in front in while `open` (a wait for the end of the load).
    void letFrontIn(bool open);
    // Rows in front let in at a time: a step the window takes in a few
    // milliseconds.
    static constexpr qint64 FrontPartRows = 65536;

    // Runs the event loop until the fields are known. `waiting` is called
    // every 100 ms with the time waited so far and returns false to cancel.
    // Returns false when cancelled; throws Failure when the statement failed.
    bool waitForFields(const std::function<bool(qint64 ms)> &waiting = {});

    // Stops reading and returns at once; rows that arrived stay.
    // finished() is not emitted for a cancelled load.
    void cancel();

    bool isLoading() const { return m_loading; }
    bool hasFields() const { return m_hasFields; }
    const std::vector<FieldInfo> &fields() const { return m_fields; }
    // Whether the last load ended in a failure, and which one.
    bool hasFailed() const { return m_failed; }
    const Failure &failure() const { return m_failure; }
    // Rows the worker has read so far, delivered or not.
    qint64 rowsRead() const;

    // Rows a chunk gathers before the first hand-over: about a screen, so the
    // first rows show at once.
    static constexpr qint64 FirstChunkRows = 200;

    // Bytes of memory a load may still use: MemAvailable, lowered to what the
    // address-space limit leaves. Tests may pretend (a negative value: real).
    static qint64 memoryAvailable();
    static void setMemoryAvailableForTesting(qint64 bytes);

signals:
    // The fields are known (fields()); rows follow.
    void fieldsReady();
    // Around each append to the target; rows [first, last] are new.
    void rowsAboutToBeAppended(qint64 first, qint64 last);
    void rowsAppended();
    // Around each step that puts `count` rows before the first: the rows
    // in front come in parts, the last part first.
    void rowsAboutToBePrepended(qint64 count);
    void rowsPrepended(qint64 count);
    // The load ended: every row arrived (ok), or reading failed (failure()).
    void finished(bool ok);

private slots:
    // Takes what the worker handed over so far (posted by name).
    void takeHanded();

private:
    struct Job;
    void launch(
        const ConnectParams &params, const QByteArray &sql, const QString &table, bool compound, const RowKey &first);
    static void run(const std::shared_ptr<Job> &job);
    static bool readRows(Job &job, Connection &connection, bool firstRun);
    static void readUntilEnd(Job &job, ResultRows &rows, std::optional<Failure> &failure);
    void takeFields(std::vector<FieldInfo> &fields);
    void append(RowStore &chunk);
    void prepend(RowStore &rows);
    void letFrontPartIn();
    void failFront(); // out of memory for the rows in front
    bool frontMayComeIn() const;
    static void readFront(Job &job, Connection &connection, std::optional<Failure> &failure);
    void finish(const std::optional<Failure> &failure);
    void fail(const Failure &failure);
    void letGo();

    RowStore &m_target;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
    quint64 m_generation = 0;
    bool m_loading = false;
    bool m_hasFields = false;
    std::vector<FieldInfo> m_fields;
    bool m_failed = false;
    Failure m_failure{QString()};
    bool m_frontPending = false;
    std::optional<RowStore::Incoming> m_front; // rows in front still to come in
    int m_frontLevel = 0;    // the event loop's depth at startAt()
    int m_frontLetIn = 0;    // waits that let the rows in front in
    bool m_retrying = false; // a takeHanded() is due after the rows in front waited
};
