#pragma once

#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/Failure.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

// Reads the rows of one query in a worker thread, on a connection of its own
// (mysql_use_result, so the server streams and the client never holds the
// whole result twice), and appends them to a RowStore in the owner's thread.
// Chunks are handed over by queued call; each carries the generation of the
// load it belongs to, so a chunk posted before a cancel is dropped.
//
// Thread: the loader and the target store belong to the thread that created
// the loader. The destructor cancels and waits for the worker.
class TableLoader : public QObject
{
    Q_OBJECT
public:
    // Rows are appended to `target`, which must outlive the loader.
    explicit TableLoader(RowStore &target, QObject *parent = nullptr);
    ~TableLoader() override;

    // Opens a connection with `params` and runs `sql` on it. Returns the
    // result's fields once the server has accepted the statement; the rows
    // then arrive while the event loop runs. Throws Failure when the
    // connection or the statement fails. Cancels a load still running.
    std::vector<FieldInfo> start(const ConnectParams &params, const QByteArray &sql);

    // Stops reading and waits for the worker; rows that arrived stay.
    // finished() is not emitted for a cancelled load.
    void cancel();

    bool isLoading() const { return m_loading; }
    // Whether the last load ended in a failure, and which one.
    bool hasFailed() const { return m_failed; }
    const Failure &failure() const { return m_failure; }

    // Rows a chunk gathers before the first hand-over: about a screen, so the
    // first rows show at once.
    static constexpr qint64 FirstChunkRows = 200;

signals:
    // Around each append to the target; rows [first, last] are new.
    void rowsAboutToBeAppended(qint64 first, qint64 last);
    void rowsAppended();
    // The load ended: every row arrived (ok), or reading failed (failure()).
    void finished(bool ok);

private:
    struct Job;
    static void run(const std::shared_ptr<Job> &job, TableLoader *loader);
    void deliver(quint64 generation, const std::shared_ptr<RowStore> &chunk);
    void finish(quint64 generation, const Failure *failure);
    void join();

    RowStore &m_target;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
    quint64 m_generation = 0;
    bool m_loading = false;
    bool m_failed = false;
    Failure m_failure{QString()};
};
