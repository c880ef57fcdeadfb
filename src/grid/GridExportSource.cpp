#include "grid/GridExportSource.h"

#include "db/RowSet.h"
#include "grid/CellDisplay.h"
#include "grid/LoadWaiter.h"

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
    return m_display.bytes(m_rows->rows().cell(row, column), CellDisplay::formOf(m_rows->field(column)));
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
        const CellDisplay::Form form = CellDisplay::formOf(m_rows->field(int(c)));
        CellText &cell = cells[c];
        cell.isNull = stored.isNull();
        // Hex is text, never a number, though a column of bytes may hold digits.
        cell.numeric = stored.isPacked() && form == CellDisplay::Form::Text;
        if (m_display.isText(stored, form)) {
            cell.text = QByteArrayView(stored.text().data(), qsizetype(stored.text().size()));
        } else {
            cell.made = m_display.bytes(stored, form);
            cell.text = cell.made;
        }
    }
}

bool GridExportSource::waitUntilLoaded(const std::function<bool(qint64 rows)> &progress)
{
    return LoadWaiter(m_rows).wait(progress);
}
