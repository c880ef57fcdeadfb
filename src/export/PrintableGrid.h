#pragma once

#include "core/GridSource.h"

// A grid as the print program's tab-separated file must see it: a TAB, CR
// or LF inside a caption or cell would start a new column or line there, so
// each becomes a space. Everything else is the wrapped grid's, unchanged.
// Only for the file handed to the print program; the text export stays
// byte-exact.
class PrintableGrid : public GridSource
{
public:
    explicit PrintableGrid(GridSource &grid) : m_grid(grid) {}

    int columnCount() const override { return m_grid.columnCount(); }
    QString caption(int column) const override;
    qint64 rowCount() const override { return m_grid.rowCount(); }
    QByteArray cellText(qint64 row, int column) const override;
    bool isNull(qint64 row, int column) const override { return m_grid.isNull(row, column); }
    void rowText(qint64 row, std::vector<CellText> &cells) const override;
    bool waitUntilLoaded(const std::function<bool(qint64 rows)> &progress) override
    {
        return m_grid.waitUntilLoaded(progress);
    }

    // `text` with each TAB, CR and LF made a space.
    static QByteArray flattened(QByteArrayView text);
    static bool needsFlattening(QByteArrayView text);

private:
    GridSource &m_grid;
};
