#pragma once

#include "core/GridSource.h"

class GridOrder;

// The rows of a GridSource in the order and with the filter the grid shows
// them, for the exports: only row numbers are mapped, the text is the
// source's.
class ShownRows : public GridSource
{
public:
    ShownRows(GridSource &rows, GridOrder &order) : m_rows(rows), m_order(order) { }

    int columnCount() const override { return m_rows.columnCount(); }
    QString caption(int column) const override { return m_rows.caption(column); }
    qint64 rowCount() const override;
    QByteArray cellText(qint64 row, int column) const override;
    bool isNull(qint64 row, int column) const override;
    void rowText(qint64 row, std::vector<CellText> &cells) const override;
    // Waits for the rest of the table, then for its rows to take their
    // place in the order.
    bool waitUntilLoaded(const std::function<bool(qint64 rows)> &progress) override;

private:
    GridSource &m_rows;
    GridOrder &m_order;
};
