#pragma once

#include "db/Connection.h"
#include "db/ImportTarget.h"
#include "db/ImportWriter.h"
#include "import/ImportSettings.h"

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// One import, run in a worker thread on a connection of its own (opened
// with `params`), so the window never waits on the server. The owner polls
// isFinished() and the progress, may cancel(), and reads outcome() once it
// is finished. The destructor cancels and waits.
class ImportJob
{
public:
    struct Outcome
    {
        enum class Result {
            Done,
            Failed,        // nothing written on a table with transactions
            Cancelled,     // likewise
            CommitUnknown, // the connection was lost while the server committed
        };
        Result result = Result::Failed;
        qint64 rows = 0;       // rows written (Done), or before the stop
        qint64 failedLine = 0; // the line of the row that failed, else 0
        QString reason;
        bool lost = false;          // the connection was lost
        bool transactional = false; // on Failed or Cancelled: whether rows written stay
        std::vector<ImportWriter::RowFailure> skipped;
        QString failedRowsFile; // where the skipped rows went
    };

    ImportJob(ConnectParams params, ImportTarget target, ImportSettings settings);
    ~ImportJob();
    ImportJob(const ImportJob &) = delete;
    ImportJob &operator=(const ImportJob &) = delete;

    void start();
    // Runs the import in the calling thread (tests, benchmarks).
    Outcome run();

    bool isFinished() const { return m_finished.load(std::memory_order_acquire); }
    // Stops at the next row and rolls back. Once the commit has been sent
    // it is too late, and the import ends as it ends.
    void cancel() { m_cancel.store(true, std::memory_order_relaxed); }
    // Bytes (or sheet bytes) read of the file's total, and rows written.
    qint64 done() const { return m_done.load(std::memory_order_relaxed); }
    qint64 total() const { return m_total.load(std::memory_order_relaxed); }
    qint64 rows() const { return m_rows.load(std::memory_order_relaxed); }
    // Valid once isFinished().
    const Outcome &outcome() const { return m_outcome; }

private:
    void write(ImportWriter &writer, ImportReader &reader, Outcome &outcome);
    void writeFailedRows(Outcome &outcome) const;
    // After a COMMIT whose answer was lost: asks the server whether the last
    // row written is there, when its key tells (new rows, the key's fields
    // mapped), and settles the outcome.
    void checkCommit(const Connection &lost, Outcome &outcome) const;

    ConnectParams m_params;
    ImportTarget m_target;
    ImportSettings m_settings;
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    std::atomic<qint64> m_rows{0};
    Outcome m_outcome;
    // The key fields of the last row added, and its line (0: none).
    std::vector<QByteArray> m_lastKey;
    qint64 m_lastLine = 0;
};
