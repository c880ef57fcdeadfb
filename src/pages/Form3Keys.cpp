// The editor's way along foreign keys: to the row a key refers to, and back.
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/RowSeek.h"
#include "pages/Form3.h"
#include "pages/OpenProgress.h"
#include "pages/Wizard.h"

#include <QLabel>

namespace {

// The cells of `row` in `columns`; empty when one of them is NULL.
std::vector<std::pair<int, CellValue>> cellsOf(const RowSet &rows, int row, const std::vector<int> &columns)
{
    std::vector<std::pair<int, CellValue>> out;
    for (const int c : columns) {
        const RowStore::Cell cell = rows.rows().cell(row, c);
        if (cell.isNull())
            return {};
        out.emplace_back(c, CellValue::of(QByteArray(cell.text().data(), qsizetype(cell.text().size()))));
    }
    return out;
}

// What tells a row of `rows` apart: its primary key, else all its cells.
std::vector<int> identityColumns(const RowSet &rows)
{
    std::vector<int> key;
    std::vector<int> all;
    for (int c = 0; c < rows.fieldCount(); ++c) {
        all.push_back(c);
        if (rows.field(c).isPrimaryKey())
            key.push_back(c);
    }
    return key.empty() ? all : key;
}

} // namespace

void Form3::goToReferencedRow(int row, int column)
{
    const std::optional<LabelCache::KeyPlace> place = model()->labels().keyAt(column);
    const RowSet *rows = model()->rowSet();
    if (!place || !rows || row < 0 || row >= rows->recordCount())
        return;
    const std::vector<std::pair<int, CellValue>> key = cellsOf(*rows, row, place->columns);
    if (key.empty()) {
        tell(QStringLiteral("This key holds NULL: it refers to no row."));
        return;
    }
    if (place->key.refSchema != place->key.schema) {
        tell(QStringLiteral("The row is in the table `%1` of the database `%2`; sign in to that database to see it.")
                 .arg(QString::fromUtf8(place->key.refTable), QString::fromUtf8(place->key.refSchema)));
        return;
    }
    Place here{m_wizard.CurrentTable, cellsOf(*rows, row, identityColumns(*rows)), column};
    if (!m_session->commitHeldRow())
        return;
    m_back.push_back(std::move(here));
    // The key's values in the referenced table's columns of the same names.
    const ForeignKey referred = place->key;
    showRow(QString::fromUtf8(referred.refTable), -1, [referred, key](const RowSet &to) {
        std::vector<std::pair<int, CellValue>> at;
        for (size_t c = 0; c < key.size(); ++c)
            for (int f = 0; f < to.fieldCount(); ++f)
                if (to.field(f).orgName == referred.refColumns[c])
                    at.emplace_back(f, key[c].second);
        return at.size() == key.size() ? at : std::vector<std::pair<int, CellValue>>();
    });
}

void Form3::goBack()
{
    if (m_back.empty() || !m_session->commitHeldRow())
        return;
    const Place place = m_back.back();
    m_back.pop_back();
    showRow(place.table, place.column, [place](const RowSet &) { return place.cells; });
}

// Opens `table` in the grid and makes the row with the cells `cellsIn` names
// current once it is read, at `column` (-1: the first of those cells).
void Form3::showRow(const QString &table, int column,
    const std::function<std::vector<std::pair<int, CellValue>>(const RowSet &)> &cellsIn)
{
    const std::shared_ptr<Connection> connection = m_session->connection();
    if (!connection)
        return;
    m_wizard.CurrentTable = table;
    Label2->setText(QStringLiteral(" Now Editing: ") + table);
    {
        OpenProgress progress(this, table, [this] { return isVisible(); });
        m_session->load(table, connection, progress.waiting());
    }
    const RowSet *rows = model()->rowSet();
    if (!rows)
        return;
    const std::vector<std::pair<int, CellValue>> at = cellsIn(*rows);
    if (at.empty() || at.back().first >= rows->fieldCount())
        return; // the table changed since
    auto *seek = new RowSeek(*DataGrid1, at, column >= 0 && column < rows->fieldCount() ? column : at.front().first);
    connect(seek, &RowSeek::missing, this,
        [this, table] { tell(QStringLiteral("The row is not in `%1` (any more).").arg(table)); });
}
