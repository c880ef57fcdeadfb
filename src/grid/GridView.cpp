#include "grid/GridView.h"

#include "db/RowSet.h"
#include "grid/CellDisplay.h"
#include "grid/GridCopy.h"
#include "grid/GridDelegate.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>

namespace {

// How long the scroll bar may lag behind rows added out of sight.
constexpr int GeometryLagMs = 200;

} // namespace

GridView::GridView(QWidget *parent)
    : QTableView(parent), m_delegate(new GridDelegate(this)), m_copier(new GridCopy(this)),
      m_geometryTimer(new QTimer(this))
{
    setItemDelegate(m_delegate);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setDefaultSectionSize(120);
    horizontalHeader()->setHighlightSections(false); // see setSelectionModel()
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &GridView::headerClicked);
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QHeaderView::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(this);
        addLabelMenu(menu, horizontalHeader()->logicalIndexAt(at));
        if (!menu.isEmpty())
            menu.exec(horizontalHeader()->mapToGlobal(at));
    });
    // The row count goes through rowsCounted() first (QTableView connects
    // the header by name, so its own slot is disconnected the same way).
    disconnect(verticalHeader(), SIGNAL(sectionCountChanged(int, int)), this, SLOT(rowCountChanged(int, int)));
    connect(verticalHeader(), &QHeaderView::sectionCountChanged, this, &GridView::rowsCounted);
    m_geometryTimer->setSingleShot(true);
    m_geometryTimer->setInterval(GeometryLagMs);
    connect(m_geometryTimer, &QTimer::timeout, this, &GridView::updateGeometries);
    createActions();
}

void GridView::noteRowsComing(int first)
{
    // Every row has the same height and none is hidden, so the last row on
    // screen follows from the scroll offset; asking the header (rowAt())
    // would make it work out the place of every row again.
    const QHeaderView *rows = verticalHeader();
    const int height = rows->defaultSectionSize();
    const bool uniform = rows->count() > 0 && height > 0 && rows->sectionResizeMode(0) == QHeaderView::Fixed
        && rows->hiddenSectionCount() == 0 && rows->sectionSize(0) == height;
    m_rowsOutOfSight = uniform && first > (rows->offset() + viewport()->height()) / qMax(1, height);
    // The header repaints itself after any insert, and to paint it works
    // out the place of every row: not for rows it does not show.
    if (m_rowsOutOfSight)
        verticalHeader()->viewport()->setAttribute(Qt::WA_UpdatesDisabled, true);
}

void GridView::scrollToNow(const QModelIndex &index, ScrollHint hint)
{
    if (m_geometryTimer->isActive()) {
        m_geometryTimer->stop();
        updateGeometries();
    }
    scrollTo(index, hint);
}

void GridView::keepPlace(int first, int last)
{
    if (m_scrollBeforeFront < 0)
        return;
    const int count = last - first + 1;
    if (m_editingRow >= first)
        m_editingRow += count;
    // The scroll bar's range grows later on its own; it must hold the place
    // now.
    updateGeometries();
    const int step = verticalScrollMode() == ScrollPerItem ? 1 : verticalHeader()->defaultSectionSize();
    verticalScrollBar()->setValue(m_scrollBeforeFront + count * step);
    m_scrollBeforeFront = -1;
}

void GridView::rowsArrived()
{
    // Not setUpdatesEnabled(true): that repaints the header.
    verticalHeader()->viewport()->setAttribute(Qt::WA_UpdatesDisabled, false);
}

void GridView::rowsCounted(int oldCount, int newCount)
{
    const bool outOfSight = m_rowsOutOfSight && newCount > oldCount;
    m_rowsOutOfSight = false;
    if (!outOfSight) {
        QTableView::rowCountChanged(oldCount, newCount);
        return;
    }
    // Rows added below the screen (each chunk of a load) change only the
    // scroll bar. QTableView would lay out and repaint the whole viewport
    // at once, and the header then works out the place of every row again:
    // at 10 million rows that froze the window for tens of milliseconds at
    // every chunk. The scroll bar catches up a little later, once for all
    // the chunks that came meanwhile.
    if (!m_geometryTimer->isActive())
        m_geometryTimer->start();
}

void GridView::createActions()
{
    // By default only while the grid itself has focus: in a cell editor,
    // Delete and Escape are the editor's.
    const auto make = [this](const QString &text, const QKeySequence &key, auto slot,
                          Qt::ShortcutContext context = Qt::WidgetShortcut) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        action->setShortcutContext(context);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    m_actions.setNull = make(tr("Set to NULL"), QKeySequence(Qt::CTRL | Qt::Key_0), &GridView::setCurrentToNull);
    m_actions.dropRowEdits = make(tr("Drop Changes to Row"), QKeySequence(Qt::Key_Escape), &GridView::dropRowEdits);
    m_actions.deleteRow = make(tr("Delete Row"), QKeySequence(Qt::Key_Delete), &GridView::deleteCurrentRow);

    m_actions.copy = make(tr("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C), &GridView::copyPlain);
    m_actions.copyWithNames
        = make(tr("Copy with Names"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &GridView::copyNamed);
    m_actions.paste = make(tr("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V), &GridView::pasteClipboard);
    m_actions.undo = make(tr("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), &GridView::undoWrite);
    m_actions.redo = make(tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &GridView::redoWrite);
    m_actions.redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});

    // Sorting acts on the current cell's column.
    m_actions.sortAscending = make(tr("Sort Ascending"), {}, &GridView::sortCurrentAscending);
    m_actions.sortDescending = make(tr("Sort Descending"), {}, &GridView::sortCurrentDescending);
    m_actions.serverOrder = make(tr("Server Order"), {}, &GridView::showServerOrder);

    // The find bar is wanted from a cell editor too.
    const auto find = [&make](const QString &text, const QKeySequence &key, auto slot) {
        return make(text, key, slot, Qt::WidgetWithChildrenShortcut);
    };
    m_actions.find = find(tr("Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), [this] { emit findRequested(false); });
    m_actions.filter
        = find(tr("Filter..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { emit findRequested(true); });
    m_actions.findNext = find(tr("Find Next"), QKeySequence(Qt::Key_F3), [this] { emit findStepRequested(false); });
    m_actions.findPrevious
        = find(tr("Find Previous"), QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { emit findStepRequested(true); });

    const auto modelRow = [this] { return toModel(currentIndex()).row(); };
    m_actions.goToReferenced = make(tr("Go to Referenced Row"), QKeySequence(Qt::CTRL | Qt::Key_J),
        [this, modelRow] { emit referencedRowRequested(modelRow(), currentIndex().column()); });
    m_actions.referencingRows
        = make(tr("Rows That Reference This Row..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J),
            [this, modelRow] { emit referencingRowsRequested(modelRow()); });
    m_actions.goBack = make(tr("Back"), QKeySequence(Qt::ALT | Qt::Key_Left), [this] { emit backRequested(); });
}

// Where foreign keys lead: to the row a key refers to, the rows that refer
// to this one, and back.
void GridView::addKeyMenu(QMenu &menu)
{
    menu.addSeparator();
    const QModelIndex at = toModel(currentIndex());
    m_actions.goToReferenced->setEnabled(at.isValid() && m_model->labels().keyAt(at.column()).has_value());
    m_actions.referencingRows->setEnabled(at.isValid() && at.row() != m_model->newRowLine());
    menu.addAction(m_actions.goToReferenced);
    menu.addAction(m_actions.referencingRows);
    menu.addAction(m_actions.goBack);
}

void GridView::sortCurrentAscending()
{
    orderBy(currentIndex().column(), Qt::AscendingOrder);
}

void GridView::sortCurrentDescending()
{
    orderBy(currentIndex().column(), Qt::DescendingOrder);
}

void GridView::showServerOrder()
{
    orderBy(-1);
}

void GridView::updateActions()
{
    // Escape with nothing held is left to the view and its window.
    m_actions.dropRowEdits->setEnabled(m_model && m_model->hasHeldRow());
    const bool sortable = m_order && currentIndex().isValid();
    m_actions.sortAscending->setEnabled(sortable);
    m_actions.sortDescending->setEnabled(sortable);
    m_actions.serverOrder->setEnabled(m_order && m_order->sortColumn() >= 0);
    m_actions.deleteRow->setText(selectedWholeRows() > 1 ? tr("Delete Rows") : tr("Delete Row"));
}

// From the selection's ranges: selectedIndexes() and selectedRows() ask the
// model about every selected cell, and this runs before every key press.
qint64 GridView::selectedCells() const
{
    qint64 cells = 0;
    if (selectionModel())
        for (const QItemSelectionRange &range : selectionModel()->selection())
            cells += qint64(range.width()) * range.height();
    return cells;
}

qint64 GridView::selectedWholeRows() const
{
    qint64 rows = 0;
    const int columns = model() ? model()->columnCount() : 0;
    if (selectionModel())
        for (const QItemSelectionRange &range : selectionModel()->selection())
            if (range.left() == 0 && range.right() == columns - 1)
                rows += range.height();
    return rows;
}

void GridView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    QTableView::setSelectionModel(selectionModel);
    // To paint each column header, QHeaderView asks whether its column and
    // the neighbours are selected, and the selection model answers by asking
    // the model about the column's rows: with many rows selected every
    // repaint of the header walked them (70-90 ms for 100,000 rows). The
    // column headers mark no selection, so they get a selection of their own
    // that stays empty; column selection goes through the view's.
    if (selectionModel && selectionModel->model()) {
        QItemSelectionModel *old = m_headerSelection;
        m_headerSelection = new QItemSelectionModel(selectionModel->model(), this);
        horizontalHeader()->setSelectionModel(m_headerSelection);
        delete old;
    }
}

bool GridView::event(QEvent *event)
{
    // Sent before a key is matched against the shortcuts.
    if (event->type() == QEvent::ShortcutOverride)
        updateActions();
    return QTableView::event(event);
}

void GridView::setGridModel(GridModel *model, GridOrder *order)
{
    m_model = model;
    m_order = order;
    m_delegate->setLabels(model ? &model->labels() : nullptr);
    QAbstractItemModel *shown = order ? static_cast<QAbstractItemModel *>(order) : model;
    setModel(shown);
    horizontalHeader()->setSortIndicatorShown(order != nullptr);
    horizontalHeader()->setSectionsClickable(true);
    showSortIndicator();
    if (order)
        connect(order, &GridOrder::orderChanged, this, &GridView::showSortIndicator);
    if (!shown)
        return;
    // Columns fit what shows first, once: when a screen of the table's own
    // rows is there, or the load ended with fewer. The new-row line alone is
    // no row to measure.
    const auto fitOnce = [this, shown](bool loadEnded) {
        if (m_fitted)
            return;
        const int rows = tableRowCount();
        const bool loading = m_model && m_model->isLoading() && !loadEnded;
        if (loading ? rows < screenRows() : shown->columnCount() == 0)
            return;
        m_fitted = true;
        // What shows first is known once the view has its size.
        if (isVisible())
            QTimer::singleShot(0, this, &GridView::fitColumns);
        else
            m_fitWhenShown = true;
    };
    connect(shown, &QAbstractItemModel::modelReset, this, [this, fitOnce] {
        m_fitted = false;
        fitOnce(false);
    });
    connect(shown, &QAbstractItemModel::rowsInserted, this, [fitOnce] { fitOnce(false); });
    if (m_model) {
        connect(m_model, &GridModel::loadFinished, this, [fitOnce] { fitOnce(true); });
        connect(m_model, &GridModel::loadFailed, this, [fitOnce] { fitOnce(true); });
    }
    // Rows the load puts in front (told by the model: the order above it
    // tells them as added at its end) move the rows on screen down.
    connect(shown, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first, int) {
        const bool front = m_model && m_model->rowsComingInFront() > 0;
        if (!front)
            noteRowsComing(first);
        m_scrollBeforeFront = front ? verticalScrollBar()->value() : -1;
    });
    // After the header's own handler, which was connected with the model.
    connect(shown, &QAbstractItemModel::rowsInserted, this, [this] {
        rowsArrived();
        if (const int front = m_model ? m_model->rowsComingInFront() : 0)
            keepPlace(0, front - 1);
    });
    fitOnce(false);
}

int GridView::tableRowCount() const
{
    if (!m_model)
        return model() ? model()->rowCount() : 0;
    return m_model->rowCount() - (m_model->newRowLine() >= 0 ? 1 : 0);
}

int GridView::screenRows() const
{
    return qMax(1, viewport()->height() / qMax(1, verticalHeader()->defaultSectionSize()));
}

void GridView::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    if (m_fitWhenShown) {
        m_fitWhenShown = false;
        QTimer::singleShot(0, this, &GridView::fitColumns);
    }
}

QModelIndex GridView::toModel(const QModelIndex &viewIndex) const
{
    return m_order && viewIndex.model() == m_order ? m_order->mapToSource(viewIndex) : viewIndex;
}

QModelIndex GridView::fromModel(const QModelIndex &modelIndex) const
{
    return m_order && modelIndex.model() == m_model ? m_order->mapFromSource(modelIndex) : modelIndex;
}

void GridView::fitColumns()
{
    if (!model())
        return;
    const int widest = fontMetrics().averageCharWidth() * MaxFitChars + 12;
    for (int c = 0; c < model()->columnCount(); ++c) {
        resizeColumnToContents(c);
        if (columnWidth(c) > widest)
            setColumnWidth(c, widest);
    }
}

bool GridView::orderBy(int column, Qt::SortOrder order)
{
    if (!m_order)
        return false;
    commitEditor();
    if (!commitHeldRow()) {
        showSortIndicator();
        return false;
    }
    m_order->sortBy(column, order);
    showSortIndicator();
    return true;
}

void GridView::headerClicked(int column)
{
    // Ctrl+click selects the column (the header did that on press).
    if (!m_order || (QApplication::keyboardModifiers() & Qt::ControlModifier))
        return;
    // Ascending, descending, then the server's order again.
    if (m_order->sortColumn() != column)
        orderBy(column, Qt::AscendingOrder);
    else if (m_order->sortOrder() == Qt::AscendingOrder)
        orderBy(column, Qt::DescendingOrder);
    else
        orderBy(-1);
}

void GridView::showSortIndicator()
{
    if (m_order)
        horizontalHeader()->setSortIndicator(m_order->sortColumn(), m_order->sortOrder());
}

bool GridView::commitHeldRow()
{
    if (!m_model || !m_model->hasHeldRow())
        return true;
    m_committing = true;
    const bool ok = m_commit ? m_commit() : true;
    m_committing = false;
    return ok;
}

void GridView::commitEditor()
{
    QWidget *editor = m_delegate->openEditor();
    if (editor && state() == QAbstractItemView::EditingState) {
        commitData(editor);
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

QWidget *GridView::cellEditor() const
{
    return state() == QAbstractItemView::EditingState ? m_delegate->openEditor() : nullptr;
}

void GridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // The base hands an open editor's text to the model first.
    QTableView::currentChanged(current, previous);
    if (m_committing || !m_model || !previous.isValid() || (current.isValid() && current.row() == previous.row()))
        return;
    if (!m_model->hasHeldRow() || m_model->heldRow() != toModel(previous).row())
        return;
    if (!commitHeldRow()) {
        // Back to the row that keeps the user's values.
        const QPersistentModelIndex back(previous);
        QMetaObject::invokeMethod(
            this,
            [this, back] {
                if (back.isValid())
                    setCurrentIndex(back);
            },
            Qt::QueuedConnection);
    }
}

bool GridView::isLastCellOfHeldRow(const QModelIndex &index) const
{
    return m_model && index.isValid() && index.column() == m_model->columnCount(QModelIndex()) - 1
        && m_model->hasHeldRow() && m_model->heldRow() == toModel(index).row();
}

bool GridView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    const bool started = QTableView::edit(index, trigger, event);
    if (started)
        m_editingRow = index.row();
    return started;
}

void GridView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    const int row = m_editingRow;
    m_editingRow = -1;
    QTableView::closeEditor(editor, hint);
    // Enter in the last cell ends the row, as leaving it does.
    const QModelIndex current = currentIndex();
    if (hint == QAbstractItemDelegate::SubmitModelCache && current.row() == row && isLastCellOfHeldRow(current))
        QMetaObject::invokeMethod(
            this, [this] { commitHeldRow(); }, Qt::QueuedConnection);
}

void GridView::setCurrentToNull()
{
    if (m_bulkNull && selectedCells() > 1) {
        commitEditor();
        if (commitHeldRow())
            m_bulkNull();
        return;
    }
    if (!m_model || !currentIndex().isValid())
        return;
    const QModelIndex at = toModel(currentIndex());
    if (!m_model->setNull(at) && m_model->isEditable() && !(m_model->flags(at) & Qt::ItemIsEditable) && m_refuse)
        m_refuse(QStringLiteral("The cell in column %1 cannot be changed here.")
                     .arg(m_model->headerData(at.column(), Qt::Horizontal).toString()));
}

std::pair<std::vector<int>, std::vector<int>> GridView::selectedBlock() const
{
    std::vector<int> rows, columns;
    if (!model())
        return {};
    std::vector<char> rowIn(size_t(model()->rowCount()), 0), columnIn(size_t(model()->columnCount()), 0);
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        std::fill(rowIn.begin() + range.top(), rowIn.begin() + range.bottom() + 1, 1);
        std::fill(columnIn.begin() + range.left(), columnIn.begin() + range.right() + 1, 1);
    }
    if (selection.isEmpty() && currentIndex().isValid()) {
        rowIn[size_t(currentIndex().row())] = 1;
        columnIn[size_t(currentIndex().column())] = 1;
    }
    for (size_t r = 0; r < rowIn.size(); ++r)
        if (rowIn[r])
            rows.push_back(int(r));
    for (size_t c = 0; c < columnIn.size(); ++c)
        if (columnIn[c] && !isColumnHidden(int(c)))
            columns.push_back(int(c));
    return {std::move(rows), std::move(columns)};
}

void GridView::copySelection(bool withNames)
{
    if (!m_model || !m_model->rowSet())
        return;
    commitEditor();
    auto [rows, columns] = selectedBlock();
    if (rows.empty() || columns.empty())
        return;
    GridCopy::Request request;
    request.store = std::make_shared<const RowStore::Snapshot>(m_model->rowSet()->rows().snapshot());
    request.columns = std::move(columns);
    for (int c = 0; c < m_model->columnCount(); ++c)
        request.hexColumns.push_back(CellDisplay::formOf(m_model->rowSet()->field(c)) == CellDisplay::Form::Hex);
    if (withNames)
        for (int c = 0; c < m_model->columnCount(); ++c)
            request.names << m_model->headerData(c, Qt::Horizontal).toString();
    const int held = m_model->heldRow();
    request.rows.reserve(rows.size());
    for (int r : rows) {
        // Stored rows straight from the order: mapping 100,000 indexes costs.
        const int source = m_order && r < m_order->shownRowCount() ? int(m_order->sourceRow(r))
                                                                   : toModel(model()->index(r, 0)).row();
        if (source == m_model->newRowLine() && source != held)
            continue; // the blank line
        GridCopy::Row row;
        if (source == held) {
            // Edits not yet written copy as they show.
            row.cells.resize(size_t(m_model->columnCount()));
            for (int c = 0; c < m_model->columnCount(); ++c) {
                const QModelIndex i = m_model->index(source, c);
                if (!i.data(GridModel::NullRole).toBool())
                    row.cells[size_t(c)] = i.data(Qt::EditRole).toString().toUtf8();
            }
        } else {
            row.stored = source;
        }
        request.rows.push_back(std::move(row));
    }
    m_copier->start(std::move(request));
}

void GridView::undoWrite()
{
    commitEditor();
    if (m_undo)
        m_undo(false);
}

void GridView::redoWrite()
{
    commitEditor();
    if (m_undo)
        m_undo(true);
}

void GridView::pasteClipboard()
{
    commitEditor();
    if (m_paste && m_model && m_model->isEditable() && currentIndex().isValid() && commitHeldRow())
        m_paste();
}

void GridView::dropRowEdits()
{
    if (m_model)
        m_model->revertRow();
}

void GridView::deleteCurrentRow()
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (m_deleteRows && rows.size() > 1) {
        std::vector<int> modelRows;
        for (const QModelIndex &index : rows)
            modelRows.push_back(toModel(index).row());
        m_deleteRows(std::move(modelRows));
        return;
    }
    if (m_delete && currentIndex().isValid())
        m_delete(toModel(currentIndex()).row());
}

void GridView::keyPressEvent(QKeyEvent *event)
{
    if (state() != QAbstractItemView::EditingState) {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isLastCellOfHeldRow(currentIndex())) {
            commitHeldRow();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

// "Label Column" of a foreign key's column: which column of the table it
// refers to shows after the key.
void GridView::addLabelMenu(QMenu &menu, int column)
{
    if (!m_model || column < 0)
        return;
    LabelCache &labels = m_model->labels();
    const std::vector<QByteArray> choices = labels.labelChoices(column);
    if (choices.empty())
        return;
    QMenu *sub = menu.addMenu(tr("Label Column"));
    auto *group = new QActionGroup(sub);
    for (const QByteArray &name : choices) {
        QAction *a = sub->addAction(QString::fromUtf8(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
        a->setCheckable(true);
        a->setChecked(name == labels.labelColumn(column));
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, column, name] { m_model->labels().chooseLabel(column, name); });
    }
}

void GridView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex at = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    // A click inside the selection keeps it, for the commands on many cells.
    if (at.isValid() && selectionModel()->isSelected(at))
        selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    else if (at.isValid() && at != currentIndex())
        setCurrentIndex(at);
    if (!m_model || !currentIndex().isValid())
        return;
    updateActions();
    QMenu menu(this);
    if (m_order) {
        menu.addAction(m_actions.sortAscending);
        menu.addAction(m_actions.sortDescending);
        menu.addAction(m_actions.serverOrder);
        menu.addSeparator();
    }
    if (m_model->isEditable()) {
        menu.addAction(m_actions.undo);
        menu.addAction(m_actions.redo);
        menu.addSeparator();
    }
    menu.addAction(m_actions.copy);
    menu.addAction(m_actions.copyWithNames);
    if (m_model->isEditable())
        menu.addAction(m_actions.paste);
    menu.addSeparator();
    menu.addAction(m_actions.find);
    menu.addAction(m_actions.filter);
    addLabelMenu(menu, currentIndex().column());
    addKeyMenu(menu);
    if (m_model->isEditable()) {
        menu.addSeparator();
        menu.addAction(m_actions.setNull);
        menu.addAction(m_actions.dropRowEdits);
        menu.addSeparator();
        menu.addAction(m_actions.deleteRow);
    }
    if (!m_menuActions.isEmpty()) {
        menu.addSeparator();
        menu.addActions(m_menuActions);
    }
    // Shown greyed in the menu only: Ctrl+0 on a cell that cannot take NULL
    // still says why rather than reach the view.
    m_actions.setNull->setEnabled(
        (m_model->flags(toModel(currentIndex())) & Qt::ItemIsEditable) || (m_bulkNull && selectedCells() > 1));
    m_actions.undo->setEnabled(m_undo && (!m_undoAvailable || m_undoAvailable(false)));
    m_actions.redo->setEnabled(m_undo && (!m_undoAvailable || m_undoAvailable(true)));
    menu.exec(event->globalPos());
    m_actions.goToReferenced->setEnabled(true);
    m_actions.referencingRows->setEnabled(true);
    m_actions.setNull->setEnabled(true);
    m_actions.undo->setEnabled(true);
    m_actions.redo->setEnabled(true);
}
