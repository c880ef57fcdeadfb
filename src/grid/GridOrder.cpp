#include "grid/GridOrder.h"

#include "core/Wait.h"
#include "db/ColumnKind.h"
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/RowJobs.h"

#include <algorithm>
#include <unordered_map>

namespace {

// Bigger changes are told as one change of every row shown.
constexpr int MappedChangeRows = 64;

} // namespace

GridOrder::GridOrder(QObject *parent) : QAbstractProxyModel(parent) { }

GridOrder::~GridOrder()
{
    stopWorker(m_worker, m_cancel);
    stopWorker(m_finder, m_findCancel);
}

void GridOrder::stopWorker(std::thread &worker, std::atomic<bool> &cancel)
{
    if (!worker.joinable())
        return;
    // The work checks the flag every few thousand rows, so this is short.
    cancel = true;
    worker.join();
    cancel = false;
}

void GridOrder::dropWork()
{
    stopWorker(m_worker, m_cancel);
    stopWorker(m_finder, m_findCancel);
    // A result handed over before the stop, its call still queued, is of
    // rows that are going: the generations it would match move on.
    ++m_generation;
    ++m_findGeneration;
    std::lock_guard<std::mutex> hold(m_handLock);
    m_handedOrder.reset();
    m_handedFound.reset();
}

void GridOrder::setGridModel(GridModel *model)
{
    beginResetModel();
    for (const QMetaObject::Connection &c : std::as_const(m_links))
        disconnect(c);
    m_links.clear();
    dropWork();
    m_model = model;
    QAbstractProxyModel::setSourceModel(model);
    forgetOrder();
    connectSource();
    endResetModel();
}

void GridOrder::forgetOrder()
{
    m_ordered = false;
    m_rows = {};
    m_sortColumn = -1;
    m_filter = {};
    m_found.clear();
    m_findQuery = {};
    m_again = false;
}

void GridOrder::connectSource()
{
    if (!m_model)
        return;
    m_links << connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        beginResetModel();
        dropWork();
    });
    m_links << connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        // Another table, or the same read again: the server's order.
        forgetOrder();
        endResetModel();
        emit orderChanged();
        emit foundChanged();
    });
    m_links << connect(m_model, &QAbstractItemModel::dataChanged, this, &GridOrder::sourceDataChanged);
    m_links << connect(m_model, &QAbstractItemModel::headerDataChanged, this, &GridOrder::sourceHeaderChanged);
    m_links << connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this,
        [this](const QModelIndex &, int first, int last) { sourceRowsAboutToBeInserted(first, last); });
    m_links << connect(m_model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { sourceRowsInserted(first, last); });
    m_links << connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) { sourceRowsAboutToBeRemoved(first, last); });
    m_links << connect(m_model, &QAbstractItemModel::rowsRemoved, this,
        [this](const QModelIndex &, int first, int last) { sourceRowsRemoved(first, last); });
}

void GridOrder::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = m_model && column < m_model->columnCount(QModelIndex()) ? column : -1;
    m_sortOrder = order;
    restart();
}

void GridOrder::setFilter(const FindQuery &query)
{
    m_filter = query;
    restart();
}

void GridOrder::restart()
{
    m_again = false;
    if (m_sortColumn < 0 && m_filter.isEmpty()) {
        // Back to the server's order: nothing to work out.
        stopWorker(m_worker, m_cancel);
        ++m_generation;
        if (m_ordered)
            show({}, false);
        return;
    }
    startJob();
}

struct GridOrder::Job
{
    std::shared_ptr<const RowStore::Snapshot> store;
    int column = -1;
    ColumnKind kind;
    bool descending = false;
    FindQuery filter;
};

void GridOrder::startJob()
{
    stopWorker(m_worker, m_cancel);
    if (!m_model || !m_model->rowSet())
        return;
    Job job;
    job.store = std::make_shared<const RowStore::Snapshot>(m_model->rowSet()->rows().snapshot());
    job.column = m_sortColumn;
    if (job.column >= 0)
        job.kind = columnKind(m_model->rowSet()->field(job.column));
    job.descending = m_sortOrder == Qt::DescendingOrder;
    job.filter = m_filter;
    const quint64 generation = ++m_generation;
    m_worker = std::thread([this, job = std::move(job), generation] {
        try {
            std::vector<int32_t> rows = RowJobs::serverOrder(job.store->rowCount());
            rows = RowJobs::filter(*job.store, std::move(rows), job.filter, m_cancel);
            if (job.column >= 0)
                RowJobs::sort(*job.store, job.column, job.kind, job.descending, rows, m_cancel);
            std::lock_guard<std::mutex> hold(m_handLock);
            m_handedOrder = Handed{generation, std::move(rows)};
            QMetaObject::invokeMethod(this, "finishJob", Qt::QueuedConnection);
        } catch (const RowJobs::Cancelled &) {
        } catch (const std::bad_alloc &) {
            // Too little memory to order the rows: they stay as they are,
            // and the worker is joined all the same.
            std::lock_guard<std::mutex> hold(m_handLock);
            m_handedOrder = Handed{generation, {}, true};
            QMetaObject::invokeMethod(this, "finishJob", Qt::QueuedConnection);
        }
    });
}

void GridOrder::finishJob()
{
    std::optional<Handed> done;
    {
        std::lock_guard<std::mutex> hold(m_handLock);
        done.swap(m_handedOrder);
    }
    if (!done || done->generation != m_generation)
        return;
    if (m_worker.joinable())
        m_worker.join();
    if (done->failed) {
        m_again = false;
        return;
    }
    show(std::move(done->rows), true);
    if (m_again) {
        m_again = false;
        startJob();
    }
}

void GridOrder::show(std::vector<int32_t> rows, bool ordered)
{
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    const int oldNewRowLine = m_model ? int(shownRowCount()) : -1;
    std::vector<int> sources;
    sources.reserve(size_t(before.size()));
    for (const QModelIndex &i : before)
        sources.push_back(i.row() == oldNewRowLine && m_model->isEditable() ? -2 : int(sourceRow(i.row())));
    m_rows = std::move(rows);
    m_ordered = ordered;
    // Where each of those source rows is now, in one pass over the rows.
    std::unordered_map<int, int> at;
    for (const int s : sources)
        at.emplace(s, -1);
    if (m_ordered) {
        for (size_t r = 0; r < m_rows.size(); ++r)
            if (const auto it = at.find(m_rows[r]); it != at.end())
                it->second = int(r);
    } else {
        for (auto &[s, r] : at)
            r = s;
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int s = sources[size_t(i)];
        const int r = s == -2 ? int(shownRowCount()) : at[s];
        after << (r < 0 ? QModelIndex() : index(r, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
    emit orderChanged();
    if (!m_findQuery.isEmpty())
        startFind();
}

void GridOrder::waitUntilSettled()
{
    Wait().until([this] { return !isBusy(); }).every(10).run();
}

qint64 GridOrder::shownRowCount() const
{
    if (m_ordered)
        return qint64(m_rows.size());
    return m_model ? m_model->exportSource().rowCount() : 0;
}

void GridOrder::find(const FindQuery &query)
{
    m_findQuery = query;
    startFind();
}

void GridOrder::startFind()
{
    stopWorker(m_finder, m_findCancel);
    const quint64 generation = ++m_findGeneration;
    if (m_findQuery.isEmpty() || !m_model || !m_model->rowSet()) {
        m_found.clear();
        emit foundChanged();
        return;
    }
    auto store = std::make_shared<const RowStore::Snapshot>(m_model->rowSet()->rows().snapshot());
    auto rows = std::make_shared<std::vector<int32_t>>(m_ordered ? m_rows : std::vector<int32_t>());
    const bool ordered = m_ordered;
    m_finder = std::thread([this, store, rows, ordered, query = m_findQuery, generation] {
        try {
            if (!ordered)
                *rows = RowJobs::serverOrder(store->rowCount());
            std::vector<int32_t> found = RowJobs::find(*store, *rows, query, m_findCancel);
            std::lock_guard<std::mutex> hold(m_handLock);
            m_handedFound = Handed{generation, std::move(found)};
            QMetaObject::invokeMethod(this, "finishFind", Qt::QueuedConnection);
        } catch (const RowJobs::Cancelled &) {
        } catch (const std::bad_alloc &) {
            // Nothing found, for want of memory; joined all the same.
            std::lock_guard<std::mutex> hold(m_handLock);
            m_handedFound = Handed{generation, {}, true};
            QMetaObject::invokeMethod(this, "finishFind", Qt::QueuedConnection);
        }
    });
}

void GridOrder::finishFind()
{
    std::optional<Handed> done;
    {
        std::lock_guard<std::mutex> hold(m_handLock);
        done.swap(m_handedFound);
    }
    if (!done || done->generation != m_findGeneration)
        return;
    if (m_finder.joinable())
        m_finder.join();
    m_found = std::move(done->rows);
    emit foundChanged();
}

int GridOrder::shownRowOf(int source) const
{
    if (!m_ordered)
        return source;
    const auto it = std::find(m_rows.begin(), m_rows.end(), int32_t(source));
    return it == m_rows.end() ? -1 : int(it - m_rows.begin());
}

QModelIndex GridOrder::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!m_model || !proxyIndex.isValid())
        return {};
    const int row = proxyIndex.row();
    if (!m_ordered)
        return m_model->index(row, proxyIndex.column());
    const int source = row < int(m_rows.size()) ? m_rows[size_t(row)] : m_model->newRowLine();
    return m_model->index(source, proxyIndex.column());
}

QModelIndex GridOrder::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!m_model || !sourceIndex.isValid())
        return {};
    const int source = sourceIndex.row();
    const int row = source == m_model->newRowLine() ? int(shownRowCount()) : shownRowOf(source);
    return row < 0 ? QModelIndex() : index(row, sourceIndex.column());
}

QModelIndex GridOrder::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex GridOrder::parent(const QModelIndex &) const
{
    return {};
}

int GridOrder::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_model)
        return 0;
    if (!m_ordered)
        return m_model->rowCount(QModelIndex());
    return int(m_rows.size()) + (m_model->isEditable() ? 1 : 0);
}

int GridOrder::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_model ? 0 : m_model->columnCount(QModelIndex());
}

void GridOrder::sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (!m_ordered) {
        emit dataChanged(index(topLeft.row(), topLeft.column()), index(bottomRight.row(), bottomRight.column()), roles);
        return;
    }
    if (bottomRight.row() - topLeft.row() >= MappedChangeRows) {
        emit dataChanged(index(0, topLeft.column()), index(rowCount() - 1, bottomRight.column()), roles);
        return;
    }
    for (int s = topLeft.row(); s <= bottomRight.row(); ++s) {
        const QModelIndex at = mapFromSource(m_model->index(s, 0));
        if (at.isValid())
            emit dataChanged(index(at.row(), topLeft.column()), index(at.row(), bottomRight.column()), roles);
    }
}

void GridOrder::sourceHeaderChanged(Qt::Orientation orientation, int first, int last)
{
    if (orientation == Qt::Horizontal || !m_ordered) {
        emit headerDataChanged(orientation, first, last);
        return;
    }
    if (last - first >= MappedChangeRows) {
        emit headerDataChanged(orientation, 0, rowCount() - 1);
        return;
    }
    for (int s = first; s <= last; ++s) {
        const QModelIndex at = mapFromSource(m_model->index(s, 0));
        if (at.isValid())
            emit headerDataChanged(orientation, at.row(), at.row());
    }
}

void GridOrder::sourceRowsAboutToBeInserted(int first, int last)
{
    // Rows the load puts before those there: every source row number kept
    // from here on moves down.
    m_inFront = m_model->rowSet() && first < m_model->rowSet()->recordCount();
    if (!m_ordered) {
        // Rows put in front are told to the view as added at the end, and
        // every row it held then moves down by their count
        // (sourceRowsInserted). Told at the front, the view's row header
        // (one item per row) copied all its items into a new array: on ten
        // million rows a stall of over 100 ms.
        if (m_inFront)
            beginInsertRows({}, rowCount(), rowCount() + last - first);
        else
            beginInsertRows({}, first, last);
        return;
    }
    // Rows the user adds show at the end at once; loaded rows wait for
    // their place in the order.
    m_appending = !m_model->isLoading();
    if (m_appending)
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size()) + last - first);
}

void GridOrder::sourceRowsInserted(int first, int last)
{
    if (m_inFront) {
        m_inFront = false;
        const int count = last - first + 1;
        if (m_ordered) {
            for (int32_t &r : m_rows)
                if (r >= first)
                    r += count;
        } else {
            endInsertRows();
            const QModelIndexList kept = persistentIndexList();
            QModelIndexList moved;
            moved.reserve(kept.size());
            for (const QModelIndex &at : kept)
                moved << index(at.row() >= first ? at.row() + count : at.row(), at.column());
            changePersistentIndexList(kept, moved);
            if (rowCount() > 0 && columnCount() > 0)
                emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            for (int32_t &r : m_found)
                if (r >= first)
                    r += count;
        }
        // Work in hand counted the rows as they were.
        if (m_ordered)
            startJob();
        if (!m_findQuery.isEmpty())
            startFind();
        return;
    }
    if (!m_ordered) {
        endInsertRows();
    } else if (m_appending) {
        for (int s = first; s <= last; ++s)
            m_rows.push_back(s);
        m_appending = false;
        endInsertRows();
        return;
    }
    if (m_sortColumn >= 0 || !m_filter.isEmpty()) {
        if (m_worker.joinable())
            m_again = true;
        else if (m_ordered)
            startJob();
    }
}

void GridOrder::sourceRowsAboutToBeRemoved(int first, int last)
{
    if (!m_ordered) {
        beginRemoveRows({}, first, last);
        return;
    }
    m_removing = first == last ? shownRowOf(first) : -1;
    if (first != last)
        beginResetModel();
    else if (m_removing >= 0)
        beginRemoveRows({}, m_removing, m_removing);
}

void GridOrder::sourceRowsRemoved(int first, int last)
{
    if (!m_ordered) {
        endRemoveRows();
        return;
    }
    const int count = last - first + 1;
    std::vector<int32_t> kept;
    m_rows.erase(
        std::remove_if(m_rows.begin(), m_rows.end(), [&](int32_t r) { return r >= first && r <= last; }), m_rows.end());
    for (int32_t &r : m_rows)
        if (r > last)
            r -= count;
    if (first != last)
        endResetModel();
    else if (m_removing >= 0)
        endRemoveRows();
    m_removing = -1;
    // Work in hand counted the rows as they were.
    if (m_worker.joinable())
        startJob();
    if (!m_findQuery.isEmpty())
        startFind();
}
