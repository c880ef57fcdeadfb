// The editor's way along foreign keys: to the row a key refers to, and back.
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/RowSeek.h"
#include "pages/Form3.h"
#include "pages/OpenProgress.h"
#include "pages/Wizard.h"

#include "grid/FindBar.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

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

Form3::Place Form3::placeOf(const QString &table, const RowSet &rows, int row, int column)
{
    Place place{table, cellsOf(rows, row, identityColumns(rows)), column, {}};
    // Only a primary key lets the rows from this one on be read first.
    for (const auto &[c, value] : place.cells)
        if (rows.field(c).isPrimaryKey())
            place.key.emplace_back(rows.field(c).orgName, value.text);
    if (place.key.size() != place.cells.size())
        place.key.clear();
    return place;
}

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
    Place here = placeOf(m_wizard.CurrentTable, *rows, row, column);
    if (!m_session->commitHeldRow())
        return;
    m_back.push_back(std::move(here));
    DataGrid1->actions().goBack->setEnabled(true);
    // The key's values in the referenced table's columns of the same names.
    const ForeignKey referred = place->key;
    std::vector<std::pair<QByteArray, QByteArray>> first;
    for (size_t c = 0; c < key.size() && c < referred.refColumns.size(); ++c)
        first.emplace_back(referred.refColumns[c], key[c].second.text);
    showRow(
        QString::fromUtf8(referred.refTable), -1,
        [referred, key](const RowSet &to) {
            std::vector<std::pair<int, CellValue>> at;
            for (size_t c = 0; c < key.size(); ++c)
                for (int f = 0; f < to.fieldCount(); ++f)
                    if (to.field(f).orgName == referred.refColumns[c])
                        at.emplace_back(f, key[c].second);
            return at.size() == key.size() ? at : std::vector<std::pair<int, CellValue>>();
        },
        first);
}

void Form3::goBack()
{
    if (m_back.empty() || !m_session->commitHeldRow())
        return;
    const Place place = m_back.back();
    m_back.pop_back();
    DataGrid1->actions().goBack->setEnabled(!m_back.empty());
    showRow(
        place.table, place.column, [place](const RowSet &) { return place.cells; }, place.key);
}

// Opens `table` in the grid and makes the row with the cells `cellsIn` names
// current once it is read, at `column` (-1: the first of those cells).
void Form3::showRow(const QString &table, int column,
    const std::function<std::vector<std::pair<int, CellValue>>(const RowSet &)> &cellsIn,
    const std::vector<std::pair<QByteArray, QByteArray>> &key)
{
    const std::shared_ptr<Connection> connection = m_session->sharedConnection();
    if (!connection)
        return;
    m_wizard.CurrentTable = table;
    Label2->setText(QStringLiteral(" Now Editing: ") + table);
    {
        OpenProgress progress(this, table, [this] { return isVisible(); });
        m_session->load(table, connection, progress.waiting(), key);
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

NamedValues Form3::rowValues(int row) const
{
    NamedValues out;
    const RowSet *rows = model()->rowSet();
    if (!rows || row < 0 || row >= rows->recordCount())
        return out;
    for (int c = 0; c < rows->fieldCount(); ++c) {
        const RowStore::Cell cell = rows->rows().cell(row, c);
        out[rows->field(c).orgName] = cell.isNull()
            ? CellValue::null()
            : CellValue::of(QByteArray(cell.text().data(), qsizetype(cell.text().size())));
    }
    return out;
}

std::optional<ForeignLabels::Referring> Form3::referringRows(int row)
{
    const NamedValues values = rowValues(row);
    if (values.empty())
        return std::nullopt;
    std::optional<ForeignLabels::Referring> found = model()->labels().referringRows(values);
    if (!found)
        tell(QStringLiteral("The rows that refer to this row could not be counted: the server did not answer."));
    return found;
}

void Form3::showReferringRows(int row)
{
    const std::optional<ForeignLabels::Referring> found = referringRows(row);
    if (!found)
        return;
    if (found->empty()) {
        tell(QStringLiteral("No table refers to `%1`.").arg(m_wizard.CurrentTable));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Rows That Reference This Row"));
    auto *label = new QLabel(QStringLiteral("&Tables whose rows refer to this row:"), &dialog);
    auto *list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("referringList"));
    label->setBuddy(list);
    for (const auto &[key, count] : *found)
        list->addItem(QStringLiteral("`%1` (constraint %2): %L3 rows")
                          .arg(QString::fromUtf8(key.table), QString::fromUtf8(key.name))
                          .arg(count));
    list->setCurrentRow(0);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *open = buttons->addButton(QStringLiteral("&Open"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Close);
    open->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(list);
    layout->addWidget(buttons);
    const NamedValues values = rowValues(row);
    if (dialog.exec() == QDialog::Accepted && list->currentRow() >= 0)
        openReferringRows((*found)[size_t(list->currentRow())].first, values, row);
}

void Form3::openReferringRows(const ForeignKey &key, const NamedValues &values, int row)
{
    if (key.schema != key.refSchema) {
        tell(QStringLiteral("The table `%1` is in the database `%2`; sign in to that database to see it.")
                 .arg(QString::fromUtf8(key.table), QString::fromUtf8(key.schema)));
        return;
    }
    const RowSet *rows = model()->rowSet();
    if (!rows || !m_session->commitHeldRow())
        return;
    m_back.push_back(placeOf(m_wizard.CurrentTable, *rows, row, 0));
    DataGrid1->actions().goBack->setEnabled(true);
    showRow(QString::fromUtf8(key.table), -1, [](const RowSet &) { return std::vector<std::pair<int, CellValue>>(); });
    rows = model()->rowSet();
    if (!rows)
        return;
    // Only the rows whose key holds this row's values: the last column as
    // the bar's text, the others alongside.
    FindQuery query;
    query.matchCase = true;
    query.wholeCell = true;
    for (size_t c = 0; c < key.columns.size(); ++c) {
        int column = -1;
        for (int f = 0; f < rows->fieldCount(); ++f)
            if (rows->field(f).orgName == key.columns[c])
                column = f;
        const auto value = values.find(key.refColumns[c]);
        if (column < 0 || value == values.end() || value->second.isNull)
            return;
        if (c + 1 < key.columns.size())
            query.alsoEqual.emplace_back(column, value->second.text);
        query.text = QString::fromUtf8(value->second.text);
        query.column = column;
    }
    findBar->filterTo(query);
}
