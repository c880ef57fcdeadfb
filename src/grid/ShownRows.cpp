#include "grid/ShownRows.h"

#include "grid/GridOrder.h"

qint64 ShownRows::rowCount() const
{
    return m_order.shownRowCount();
}

QByteArray ShownRows::cellText(qint64 row, int column) const
{
    return m_rows.cellText(m_order.sourceRow(row), column);
}

bool ShownRows::isNull(qint64 row, int column) const
{
    return m_rows.isNull(m_order.sourceRow(row), column);
}

void ShownRows::rowText(qint64 row, std::vector<CellText> &cells) const
{
    m_rows.rowText(m_order.sourceRow(row), cells);
}

bool ShownRows::waitUntilLoaded(const std::function<bool(qint64 rows)> &progress)
{
    if (!m_rows.waitUntilLoaded(progress))
        return false;
    m_order.waitUntilSettled();
    return true;
}
