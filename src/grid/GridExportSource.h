#pragma once

#include "core/GridSource.h"
#include "db/RowStore.h"

#include <vector>

class CellDisplay;
class RowSet;

// What the exports read from the editor's grid: the table's rows as the grid
// shows them (CellDisplay: a column of bytes as hex in every row), without the new-row line and
// without edits not yet written. Reads the row store itself, never the
// model's roles, so an export of a million rows makes no QVariant.
class GridExportSource : public GridSource
{
public:
    explicit GridExportSource(const CellDisplay &display) : m_display(display) { }

    // The rows to read (not owned; null reads as empty).
    void setRowSet(RowSet *rows) { m_rows = rows; }

    int columnCount() const override;
    QString caption(int column) const override;
    qint64 rowCount() const override;
    QByteArray cellText(qint64 row, int column) const override;
    bool isNull(qint64 row, int column) const override;
    void rowText(qint64 row, std::vector<CellText> &cells) const override;
    // Runs the event loop until a background read has ended (see LoadWaiter).
    bool waitUntilLoaded(const std::function<bool(qint64 rows)> &progress) override;

private:
    const CellDisplay &m_display;
    RowSet *m_rows = nullptr;
    mutable std::vector<RowStore::Cell> m_rowCells; // rowText()'s, kept between rows
};
