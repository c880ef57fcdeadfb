#include "pages/GridModel.h"

#include "db/RowSet.h"

GridModel::GridModel(QObject *parent) : QAbstractTableModel(parent) {}

void GridModel::setRowSet(RowSet *rows, Connection *connection)
{
    beginResetModel();
    m_rows = rows;
    m_connection = connection;
    endResetModel();
}

int GridModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    return int(qMin<qint64>(m_rows->recordCount(), INT_MAX));
}

int GridModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    return m_rows->fieldCount();
}

QVariant GridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_rows || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const RowStore::Cell c = m_rows->rows().cell(index.row(), index.column());
    if (c.isNull)
        return QString();
    return QString::fromUtf8(c.text.data(), qsizetype(c.text.size()));
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal && m_rows && section < m_rows->fieldCount())
        return m_rows->field(section).name;
    if (orientation == Qt::Vertical)
        return section + 1;
    return {};
}

QString GridModel::caption(int column) const
{
    return m_rows ? m_rows->field(column).name : QString();
}

qint64 GridModel::rowCount() const
{
    return m_rows ? m_rows->recordCount() : 0;
}

QByteArray GridModel::cellText(qint64 row, int column) const
{
    const RowStore::Cell c = m_rows->rows().cell(row, column);
    return QByteArray::fromRawData(c.text.data(), qsizetype(c.text.size()));
}

bool GridModel::isNull(qint64 row, int column) const
{
    return m_rows->rows().cell(row, column).isNull;
}
