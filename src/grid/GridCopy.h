#pragma once

#include "db/RowStore.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Puts a block of the grid's cells on the clipboard as tab-separated text
// and as an HTML table. The text is built in a worker thread from a
// snapshot of the rows, so a copy of many rows leaves the window alive; a
// new copy cancels one still running.
class GridCopy : public QObject
{
    Q_OBJECT
public:
    // One row to copy: a row of the snapshot, or cells given whole as the
    // grid shows them (a row with edits not yet written; nullopt is NULL).
    struct Row
    {
        qint64 stored = -1;
        std::vector<std::optional<QByteArray>> cells;
    };
    struct Request
    {
        std::shared_ptr<const RowStore::Snapshot> store;
        std::vector<Row> rows;
        std::vector<int> columns;
        QStringList names;            // a first line of column names when not empty
        std::vector<bool> hexColumns; // by column: a column of bytes, copied as hex in every row
    };

    explicit GridCopy(QObject *parent = nullptr);
    ~GridCopy() override;

    // Our own clipboard format beside the text: '1' for each NULL field and
    // '0' for any other, a line for each line of the text, so a paste into
    // this program tells NULL from the empty string.
    static QString nullsFormat() { return QStringLiteral("application/x-corvane-nulls"); }

    void start(Request request);
    bool isBusy() const { return m_busy; }
    // Blocks until a running copy is on the clipboard (for tests and the
    // benchmark).
    void waitUntilDone();

signals:
    void finished();

private:
    // Decoded in the worker too: turning tens of megabytes of UTF-8 into
    // QString on the window thread stalled it for tens of milliseconds.
    struct Result
    {
        QString text;
        QString html;
        QByteArray nulls;
    };
    static Result build(const Request &request, const std::atomic<bool> &cancel);
    void stop();

private slots:
    // Puts the current copy's result on the clipboard once the worker handed
    // it over (posted by name, so the posted event carries nothing the worker
    // wrote: a race detector cannot see Qt's own ordering of posted events).
    void deliver();

private:
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    quint64 m_generation = 0;
    bool m_busy = false;
    std::mutex m_lock;                 // guards m_pending and m_handed
    std::unique_ptr<Result> m_pending; // the worker's, once done
    quint64 m_handed = 0;              // the generation m_pending is of (0: none yet)
};
