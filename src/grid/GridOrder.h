#pragma once

#include "grid/RowMatcher.h"

#include <QAbstractProxyModel>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class GridModel;

// The grid's rows as the user asked to see them: sorted by a column and
// filtered by a FindQuery, over a GridModel that keeps the server's order.
// A sorted or filtered view holds only a list of the source's row numbers;
// without either, rows map one to one. The new-row line stays last.
//
// Sorting and filtering run in a worker thread on a snapshot of the rows
// and the result replaces the list when done; a new request cancels the
// work in hand. Rows that arrive from the background load meanwhile join at
// the next pass, run as soon as the one in hand ends. A row added by the
// user shows at the end until the order is asked for again, and an edited
// row stays shown until the filter changes.
class GridOrder : public QAbstractProxyModel
{
    Q_OBJECT
public:
    explicit GridOrder(QObject *parent = nullptr);
    ~GridOrder() override;

    void setGridModel(GridModel *model);
    GridModel *gridModel() const { return m_model; }

    // Column -1: the server's order.
    void sortBy(int column, Qt::SortOrder order = Qt::AscendingOrder);
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // An empty FindQuery shows every row.
    void setFilter(const FindQuery &query);
    const FindQuery &filter() const { return m_filter; }

    // Rows are sorted or filtered (else the source's rows show one to one).
    bool isOrdered() const { return m_ordered; }
    // Work asked for is not shown yet.
    bool isBusy() const { return m_worker.joinable() || m_again; }
    // Runs the event loop until the work asked for shows.
    void waitUntilSettled();

    // Stored rows shown (without the new-row line), and the source row of one.
    qint64 shownRowCount() const;
    qint64 sourceRow(qint64 shownRow) const { return m_ordered ? m_rows[size_t(shownRow)] : shownRow; }
    // Bytes the view holds beyond the source, for the benchmark.
    qint64 extraBytes() const { return qint64(m_rows.capacity() * sizeof(int32_t)); }

    // Looks for `query` in the rows as shown, in a worker; found() tells the
    // positions (shown rows) once known. An empty FindQuery stops looking.
    void find(const FindQuery &query);
    const std::vector<int32_t> &found() const { return m_found; }
    bool isFinding() const { return m_finder.joinable(); }

    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;

signals:
    // The rows shown were reordered or filtered.
    void orderChanged();
    // found() changed.
    void foundChanged();

private slots:
    // Take what a worker handed over (posted by name).
    void finishJob();
    void finishFind();

private:
    // Back to the server's order, with no filter and nothing found.
    void forgetOrder();
    struct Job;
    void connectSource();
    void restart();
    void startJob();
    void show(std::vector<int32_t> rows, bool ordered);
    void startFind();
    void stopWorker(std::thread &worker, std::atomic<bool> &cancel);
    // Stops both workers and forgets what they handed over.
    void dropWork();
    int shownRowOf(int sourceRow) const;
    void sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);
    void sourceHeaderChanged(Qt::Orientation orientation, int first, int last);
    void sourceRowsAboutToBeInserted(int first, int last);
    void sourceRowsInserted(int first, int last);
    void sourceRowsAboutToBeRemoved(int first, int last);
    void sourceRowsRemoved(int first, int last);

    GridModel *m_model = nullptr;
    QList<QMetaObject::Connection> m_links;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    FindQuery m_filter;
    bool m_ordered = false;
    std::vector<int32_t> m_rows; // source rows shown, when ordered
    bool m_appending = false;    // source rows being added are shown at once
    bool m_inFront = false;      // source rows being added go before rows there
    int m_removing = -1;         // the shown row being removed

    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    quint64 m_generation = 0;
    bool m_again = false; // run once more when the pass in hand ends

    FindQuery m_findQuery;
    std::vector<int32_t> m_found;
    std::thread m_finder;
    std::atomic<bool> m_findCancel{false};
    quint64 m_findGeneration = 0;

    // A worker's result, with the generation it was asked for. It passes
    // under m_handLock and the worker posts only a call by the slot's name,
    // so the posted event carries nothing the worker wrote (a race detector
    // cannot see Qt's own ordering of posted events).
    struct Handed
    {
        quint64 generation = 0;
        std::vector<int32_t> rows;
        bool failed = false; // out of memory: nothing to show
    };
    std::mutex m_handLock;
    std::optional<Handed> m_handedOrder;
    std::optional<Handed> m_handedFound;
};
