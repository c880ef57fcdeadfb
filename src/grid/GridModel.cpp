#include "grid/GridModel.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/TableLoader.h"

GridModel::GridModel(QObject *parent)
    : QAbstractTableModel(parent), m_labels([this](int row, int column) { return cellAt(row, column); })
{
    connect(&m_labels, &LabelCache::labelsChanged, this, [this](int first, int last) {
        if (rowCount(QModelIndex()) > 0)
            emit dataChanged(index(0, first), index(rowCount(QModelIndex()) - 1, last),
                {LabelRole, Qt::AccessibleTextRole, Qt::TextAlignmentRole});
    });
}

GridModel::~GridModel() = default;

void GridModel::setRowSet(RowSet *rows, Connection *connection)
{
    beginResetModel();
    for (const QMetaObject::Connection &c : std::as_const(m_loaderLinks))
        disconnect(c);
    m_loaderLinks.clear();
    m_rows = rows;
    m_connection = connection;
    m_held.reset();
    m_writes.reset(rows, connection);
    m_unconfirmed.clear();
    m_display.clear();
    m_exportSource.setRowSet(rows);
    m_editable = rows && connection && rows->fieldCount() > 0 && !rows->field(0).orgTable.isEmpty();
    if (m_editable)
        m_labels.reset(&connection->params(), rows->field(0).orgTable, rows->fields());
    else
        m_labels.reset(nullptr, {}, {});
    connectLoader();
    endResetModel();
}

void GridModel::connectLoader()
{
    TableLoader *loader = m_rows ? m_rows->loader() : nullptr;
    if (!loader)
        return;
    m_loaderLinks << connect(loader, &TableLoader::rowsAboutToBeAppended, this,
        [this](qint64 first, qint64 last) { beginInsertRows({}, int(first), int(last)); });
    m_loaderLinks << connect(loader, &TableLoader::rowsAppended, this, [this] { endInsertRows(); });
    m_loaderLinks << connect(loader, &TableLoader::rowsAboutToBePrepended, this, [this](qint64 count) {
        m_rowsComingInFront = int(count);
        beginInsertRows({}, 0, int(count - 1));
    });
    m_loaderLinks << connect(loader, &TableLoader::rowsPrepended, this, [this](qint64 count) {
        if (count == 0) { // out of memory: nothing was put in front after all
            endInsertRows();
            m_rowsComingInFront = 0;
            beginResetModel();
            endResetModel();
            return;
        }
        // The rows kept by number move down with the rows put before them.
        if (m_held && !m_held->isNew)
            m_held->row += int(count);
        std::set<int> unconfirmed;
        for (const int r : m_unconfirmed)
            unconfirmed.insert(r + int(count));
        m_unconfirmed = std::move(unconfirmed);
        endInsertRows();
        m_rowsComingInFront = 0;
        emit rowsPutInFront(int(count));
    });
    m_loaderLinks << connect(loader, &TableLoader::finished, this, [this, loader](bool ok) {
        if (ok)
            emit loadFinished();
        else
            emit loadFailed(loader->failure().description(), loader->failure().number());
    });
}

bool GridModel::isLoading() const
{
    return m_rows && m_rows->isLoading();
}

int GridModel::newRowLine() const
{
    return m_editable ? int(m_rows->recordCount()) : -1;
}

int GridModel::heldRow() const
{
    if (!m_held)
        return -1;
    return m_held->isNew ? newRowLine() : m_held->row;
}

int GridModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    return int(qMin<qint64>(m_rows->recordCount(), INT_MAX - 1)) + (m_editable ? 1 : 0);
}

int GridModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    return m_rows->fieldCount();
}

CellDisplay::Form GridModel::formOf(int column) const
{
    return CellDisplay::formOf(m_rows->field(column));
}

RowStore::Cell GridModel::cellAt(int row, int column) const
{
    if (m_held && heldRow() == row) {
        const auto it = m_held->changes.find(column);
        if (it != m_held->changes.end())
            return storeCell(it->second);
    }
    if (row >= m_rows->recordCount())
        return {}; // the new-row line
    return m_rows->rows().cell(row, column);
}

QVariant GridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_rows)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const RowStore::Cell c = cellAt(index.row(), index.column());
        const CellDisplay::Form form = formOf(index.column());
        if (role == Qt::DisplayRole)
            return m_display.shown(c, form); // a huge cell is cut; the editor gets it whole
        const QByteArray bytes = m_display.bytes(c, form);
        return QString::fromUtf8(bytes.constData(), bytes.size());
    }
    case BytesRole: {
        // Shared, not copied: a held value's own bytes, else the store's.
        if (m_held && heldRow() == index.row()) {
            const auto it = m_held->changes.find(index.column());
            if (it != m_held->changes.end())
                return it->second.isNull ? QByteArray() : it->second.text;
        }
        const RowStore::Cell c = cellAt(index.row(), index.column());
        if (c.isNull())
            return QByteArray();
        const std::string_view text = c.text();
        if (c.isPacked())
            return QByteArray(text.data(), qsizetype(text.size()));
        return QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    }
    case NullRole:
        // The new-row line is blank, not NULL, until something is typed.
        if (index.row() == newRowLine() && !(m_held && m_held->isNew && m_held->changes.count(index.column())))
            return false;
        return cellAt(index.row(), index.column()).isNull();
    case HeldRole:
        return m_held && heldRow() == index.row() && m_held->changes.count(index.column()) > 0;
    case HexRole:
        return formOf(index.column()) == CellDisplay::Form::Hex;
    case LabelRole:
        return m_labels.labelAt(index.row(), index.column());
    case Qt::AccessibleTextRole: {
        // What a screen reader says: the cell, and the label after a key.
        const QString text = data(index, Qt::DisplayRole).toString();
        const QString label = m_labels.labelAt(index.row(), index.column());
        return label.isEmpty() ? text : text + QStringLiteral(", ") + label;
    }
    case Qt::TextAlignmentRole:
        // A key is followed by its label, so it starts at the left.
        if (m_rows->field(index.column()).isNumeric() && !m_labels.showsLabels(index.column()))
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal && m_rows && section >= 0 && section < m_rows->fieldCount())
        return m_rows->field(section).name;
    if (orientation == Qt::Vertical) {
        if (section == newRowLine() && !(m_held && m_held->isNew))
            return QStringLiteral("*");
        if (m_held && section == heldRow())
            return QStringLiteral("\u270e %1").arg(section + 1);
        if (isUnconfirmed(section))
            return QStringLiteral("? %1").arg(section + 1); // not yet confirmed by the server
        return section + 1;
    }
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || !m_rows)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (!m_editable || isUnconfirmed(index.row()))
        return f;
    // A shape is never typed; bytes of a text column that show as hex
    // are never typed over. A column of bytes takes hex.
    const FieldInfo &field = m_rows->field(index.column());
    if (field.isGeometry() || !(index.row() == newRowLine() ? field.mayInsert : field.mayUpdate))
        return f;
    const CellDisplay::Form form = CellDisplay::formOf(field);
    if (form == CellDisplay::Form::Hex || m_display.isText(cellAt(index.row(), index.column()), form))
        f |= Qt::ItemIsEditable;
    return f;
}

bool GridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const int row = index.row();
    const bool isNew = row == newRowLine();
    if (m_held && heldRow() != row)
        return false;
    CellValue v = CellValue::null();
    if (value.typeId() == QMetaType::QByteArray) {
        v = CellValue::of(value.toByteArray());
    } else if (value.isValid() && formOf(index.column()) == CellDisplay::Form::Hex) {
        // What shows is hex, so what is typed is: never the text's own bytes.
        const std::optional<QByteArray> bytes = CellDisplay::fromHex(value.toString());
        if (!bytes)
            return false;
        v = CellValue::of(*bytes);
    } else if (value.isValid()) {
        v = CellValue::of(value.toString().toUtf8());
    }
    if (!m_held)
        m_held = Held{isNew, isNew ? -1 : row, {}};
    const RowStore::Cell was = isNew ? RowStore::Cell() : m_rows->rows().cell(row, index.column());
    const bool same = !isNew && v.isNull == was.isNull() && (v.isNull || storeCell(v).text() == was.text());
    if (same)
        m_held->changes.erase(index.column());
    else
        m_held->changes[index.column()] = v;
    if (m_held->changes.empty() && !isNew)
        m_held.reset();
    emit dataChanged(index, index);
    emit headerDataChanged(Qt::Vertical, row, row);
    return true;
}

void GridModel::showRow(int row)
{
    emit dataChanged(index(row, 0), index(row, columnCount(QModelIndex()) - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
}

GridModel::Outcome GridModel::commitRow()
{
    if (!m_held)
        return Outcome::Done;
    {
        // On copies: what runs while the server is asked may drop the row.
        const int row = m_held->row;
        const RowValues original = m_held->isNew ? RowValues() : storedValues(m_rows->rows(), row);
        CellChanges changes = m_held->changes;
        m_labels.keysForLabels({{m_held->isNew ? nullptr : &original, &changes}});
        if (!m_held || m_held->row != row)
            return Outcome::Done;
        m_held->changes = std::move(changes);
    }
    const Held held = *m_held;
    if (held.isNew)
        return commitNewRow(held);
    const RowValues original = storedValues(m_rows->rows(), held.row);
    const WriteResult result = m_writes.update(original, held.changes);
    if (result.status == WriteResult::Status::RowChanged)
        return Outcome::RowChanged;
    m_held.reset();
    if (result.status == WriteResult::Status::Unknown || !result.stored) {
        // The server changed the row on writing (a trigger, ON UPDATE) or
        // the outcome is unknown: what the grid holds is no handle on it now.
        showRow(held.row);
        return result.status == WriteResult::Status::Unknown ? Outcome::Unknown : Outcome::Reread;
    }
    m_rows->rows().replace(held.row, storeCells(*result.stored));
    showRow(held.row);
    emit rowWritten(original, *result.stored, held.row);
    return Outcome::Done;
}

std::pair<int, CellChanges> GridModel::takeHeldRow()
{
    std::pair<int, CellChanges> out{-1, {}};
    if (m_held && !m_held->isNew)
        out = {m_held->row, std::move(m_held->changes)};
    m_held.reset();
    return out;
}

GridModel::Written GridModel::commitRows(const std::vector<std::pair<int, CellChanges>> &rows)
{
    std::vector<std::pair<RowValues, CellChanges>> edits;
    for (const auto &[row, changes] : rows)
        edits.emplace_back(storedValues(m_rows->rows(), row), changes);
    std::vector<LabelCache::Edit> typed;
    for (auto &[original, changes] : edits)
        typed.push_back({&original, &changes});
    m_labels.keysForLabels(typed);
    const BatchResult result = m_writes.updateAll(edits);
    Written out;
    for (size_t i = 0; i < result.results.size(); ++i) {
        const WriteResult &r = result.results[i];
        const int row = rows[i].first;
        if (r.status == WriteResult::Status::RowChanged) {
            out.outcome = Outcome::RowChanged;
            return out;
        }
        if (rows[i].second.empty()) {
            ++out.written;
            continue;
        }
        showRow(row);
        if (r.status == WriteResult::Status::Unknown) {
            out.outcome = Outcome::Unknown;
            return out;
        }
        ++out.written;
        if (!r.stored) {
            out.outcome = Outcome::Reread;
            continue;
        }
        m_rows->rows().replace(row, storeCells(*r.stored));
        showRow(row);
        emit rowWritten(edits[i].first, *r.stored, row);
    }
    out.failure = result.failure;
    return out;
}

GridModel::Outcome GridModel::commitNewRow(const Held &held)
{
    if (held.changes.empty()) {
        m_held.reset();
        showRow(newRowLine());
        return Outcome::Done;
    }
    const WriteResult result = m_writes.insert(held.changes);
    m_held.reset();
    // Rows of a running load may have come during the write: the new row
    // goes after them.
    const int at = newRowLine();
    if (result.status == WriteResult::Status::Unknown) {
        showRow(at);
        return Outcome::Unknown;
    }
    std::optional<RowValues> stored = result.stored;
    if (!stored) {
        // Not certainly found again: what was typed shows, marked, until
        // the table is read again.
        stored = RowValues(size_t(columnCount(QModelIndex())));
        for (const auto &[column, value] : held.changes)
            (*stored)[size_t(column)] = value;
        m_unconfirmed.insert(at);
        m_writes.addNotice(QStringLiteral("The row was added, but the server's copy of it could not be identified "
                                          "for certain. It shows what was typed and cannot be changed or deleted "
                                          "until the table is read again."));
    }
    beginInsertRows({}, at, at);
    m_rows->rows().insert(m_rows->recordCount(), storeCells(*stored));
    endInsertRows();
    showRow(at + 1);
    if (isUnconfirmed(at))
        emit rowWritten({}, {}, at);
    else
        emit rowWritten({}, *stored, at);
    return Outcome::Done;
}

void GridModel::revertRow()
{
    if (!m_held)
        return;
    const int row = heldRow();
    m_held.reset();
    showRow(row);
}

GridModel::Outcome GridModel::deleteRow(int row)
{
    if (!m_editable || row < 0 || row > newRowLine())
        return Outcome::Done;
    if (row == newRowLine()) {
        revertRow();
        return Outcome::Done;
    }
    if (m_held && heldRow() != row)
        throw Failure(QStringLiteral("Save or drop the changes of the row being edited first."));
    const Written done = deleteRows({row});
    if (done.failure)
        throw *done.failure;
    return done.outcome;
}

GridModel::Written GridModel::deleteRows(const std::vector<int> &rows)
{
    std::vector<RowValues> originals;
    for (int row : rows) {
        if (isUnconfirmed(row))
            throw Failure(QStringLiteral("This added row could not be identified for certain on the server. Read "
                                         "the table again before deleting it."));
        originals.push_back(storedValues(m_rows->rows(), row));
    }
    const BatchResult result = m_writes.removeAll(originals);
    Written out;
    for (size_t i = 0; i < result.results.size(); ++i) {
        if (result.results[i].status != WriteResult::Status::Done) {
            out.outcome
                = result.results[i].status == WriteResult::Status::RowChanged ? Outcome::RowChanged : Outcome::Unknown;
            if (out.outcome == Outcome::Unknown)
                m_held.reset();
            return out;
        }
        m_held.reset();
        const int row = rows[i];
        beginRemoveRows({}, row, row);
        m_rows->rows().remove(row);
        std::set<int> shifted;
        for (int r : m_unconfirmed)
            shifted.insert(r > row ? r - 1 : r);
        m_unconfirmed = std::move(shifted);
        endRemoveRows();
        emit rowWritten(originals[i], {}, row);
        ++out.written;
    }
    out.failure = result.failure;
    return out;
}

int GridModel::findRow(const RowValues &values, int near) const
{
    const qint64 count = m_rows->recordCount();
    const auto holds = [&](qint64 r) {
        return r >= 0 && r < count && !isUnconfirmed(int(r)) && storedValues(m_rows->rows(), r) == values;
    };
    // Around where it was last seen first, so an undo on millions of rows
    // does not walk them all.
    constexpr int Around = 64;
    if (near >= 0)
        for (int d = 0; d <= Around; ++d) {
            if (holds(near - d))
                return near - d;
            if (d > 0 && holds(near + d))
                return near + d;
        }
    for (qint64 r = 0; r < count; ++r)
        if (holds(r))
            return int(r);
    return -1;
}

GridModel::Outcome GridModel::rewriteValues(const RowValues &from, const RowValues &to, int near)
{
    const int row = findRow(from, near);
    if (row < 0 || (m_held && heldRow() == row))
        return Outcome::RowChanged;
    CellChanges changes;
    for (size_t c = 0; c < to.size(); ++c)
        if (!(from[c] == to[c]))
            changes[int(c)] = to[c];
    const WriteResult result = m_writes.update(from, changes);
    if (result.status == WriteResult::Status::RowChanged)
        return Outcome::RowChanged;
    if (result.status == WriteResult::Status::Unknown || !result.stored)
        return result.status == WriteResult::Status::Unknown ? Outcome::Unknown : Outcome::Reread;
    m_rows->rows().replace(row, storeCells(*result.stored));
    showRow(row);
    emit rowWritten(from, *result.stored, row);
    return Outcome::Done;
}

GridModel::Outcome GridModel::deleteValues(const RowValues &from, int near)
{
    const int row = findRow(from, near);
    if (row < 0 || (m_held && heldRow() == row))
        return Outcome::RowChanged;
    return deleteRow(row);
}

GridModel::Outcome GridModel::insertValues(const RowValues &to)
{
    if (m_held)
        throw Failure(QStringLiteral("Save or drop the changes of the row being edited first."));
    CellChanges values;
    for (size_t c = 0; c < to.size(); ++c)
        values[int(c)] = to[c];
    m_held = Held{true, -1, values};
    try {
        return commitNewRow(*m_held);
    } catch (...) {
        m_held.reset();
        showRow(newRowLine());
        throw;
    }
}
