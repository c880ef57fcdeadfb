#include "pages/GridExportSource.h"

#include "db/RowSet.h"
#include "pages/CellDisplay.h"
#include "pages/LoadWaiter.h"

int GridExportSource::columnCount() const
{
    return m_rows ? m_rows->fieldCount() : 0;
}

QString GridExportSource::caption(int column) const
{
    return m_rows ? m_rows->field(column).name : QString();
}

qint64 GridExportSource::rowCount() const
{
    return m_rows ? m_rows->recordCount() : 0;
}

QByteArray GridExportSource::cellText(qint64 row, int column) const
{
    return m_display.bytes(m_rows->rows().cell(row, column));
}

bool GridExportSource::isNull(qint64 row, int column) const
{
    return m_rows->rows().cell(row, column).isNull();
}

void GridExportSource::rowText(qint64 row, std::vector<CellText> &cells) const
{
    m_rows->rows().row(row, m_rowCells);
    cells.resize(m_rowCells.size());
    for (size_t c = 0; c < cells.size(); ++c) {
        const RowStore::Cell &stored = m_rowCells[c];
        CellText &cell = cells[c];
        cell.isNull = stored.isNull();
        cell.numeric = stored.isPacked();
        if (m_display.isText(stored)) {
            cell.text = QByteArrayView(stored.text().data(), qsizetype(stored.text().size()));
        } else {
            cell.made = m_display.bytes(stored);
            cell.text = cell.made;
        }
    }
}

bool GridExportSource::waitUntilLoaded(const std::function<bool(qint64 rows)> &progress)
{
    return LoadWaiter(m_rows).wait(progress);
}
