#include "pages/GridView.h"

#include "pages/GridDelegate.h"
#include "pages/GridModel.h"
#include "pages/GridOrder.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

GridView::GridView(QWidget *parent) : QTableView(parent), m_delegate(new GridDelegate(this))
{
    setItemDelegate(m_delegate);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setDefaultSectionSize(120);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &GridView::headerClicked);
    addFindActions();
}

void GridView::setGridModel(GridModel *model, GridOrder *order)
{
    m_model = model;
    m_order = order;
    QAbstractItemModel *shown = order ? static_cast<QAbstractItemModel *>(order) : model;
    setModel(shown);
    horizontalHeader()->setSortIndicatorShown(order != nullptr);
    horizontalHeader()->setSectionsClickable(true);
    showSortIndicator();
    if (order)
        connect(order, &GridOrder::orderChanged, this, &GridView::showSortIndicator);
    if (!shown)
        return;
    // Columns fit what shows first, once, when the first rows arrive.
    const auto fitOnce = [this, shown] {
        if (!m_fitted && shown->rowCount() > 0) {
            m_fitted = true;
            // What shows first is known once the view has its size.
            if (isVisible())
                QTimer::singleShot(0, this, &GridView::fitColumns);
            else
                m_fitWhenShown = true;
        }
    };
    connect(shown, &QAbstractItemModel::modelReset, this, [this, fitOnce] {
        m_fitted = false;
        fitOnce();
    });
    connect(shown, &QAbstractItemModel::rowsInserted, this, fitOnce);
    fitOnce();
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
    if (!m_order)
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

void GridView::addFindActions()
{
    const auto action = [this](const QKeySequence &keys, auto slot) {
        auto *a = new QAction(this);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
    };
    action(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { emit findRequested(false); });
    action(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { emit findRequested(true); });
    action(QKeySequence(Qt::Key_F3), [this] { emit findStepRequested(false); });
    action(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { emit findStepRequested(true); });
}

void GridView::addOrderEntries(QMenu &menu)
{
    const int column = currentIndex().column();
    if (m_order && column >= 0) {
        menu.addAction(tr("Sort Ascending"), this, [this, column] { orderBy(column, Qt::AscendingOrder); });
        menu.addAction(tr("Sort Descending"), this, [this, column] { orderBy(column, Qt::DescendingOrder); });
        menu.addAction(tr("Server Order"), this, [this] { orderBy(-1); })->setEnabled(m_order->sortColumn() >= 0);
        menu.addSeparator();
    }
    menu.addAction(tr("Find..."), this, [this] { emit findRequested(false); })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    menu.addAction(tr("Filter..."), this, [this] { emit findRequested(true); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
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
        QMetaObject::invokeMethod(this, [this, back] {
            if (back.isValid())
                setCurrentIndex(back);
        }, Qt::QueuedConnection);
    }
}

bool GridView::isLastCellOfHeldRow(const QModelIndex &index) const
{
    return m_model && index.isValid() && index.column() == m_model->columnCount(QModelIndex()) - 1 && m_model->hasHeldRow()
        && m_model->heldRow() == toModel(index).row();
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
        QMetaObject::invokeMethod(this, [this] { commitHeldRow(); }, Qt::QueuedConnection);
}

void GridView::setCurrentToNull()
{
    if (m_model && currentIndex().isValid())
        m_model->setNull(toModel(currentIndex()));
}

void GridView::dropRowEdits()
{
    if (m_model)
        m_model->revertRow();
}

void GridView::deleteCurrentRow()
{
    if (m_delete && currentIndex().isValid())
        m_delete(toModel(currentIndex()).row());
}

void GridView::keyPressEvent(QKeyEvent *event)
{
    if (state() != QAbstractItemView::EditingState) {
        const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
        if (event->key() == Qt::Key_Escape && m_model && m_model->hasHeldRow()) {
            dropRowEdits();
            return;
        }
        if (event->key() == Qt::Key_Delete && plain) {
            deleteCurrentRow();
            return;
        }
        if (event->key() == Qt::Key_0 && event->modifiers() == Qt::ControlModifier) {
            setCurrentToNull();
            return;
        }
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isLastCellOfHeldRow(currentIndex())) {
            commitHeldRow();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void GridView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex at = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (at.isValid() && at != currentIndex())
        setCurrentIndex(at);
    if (!m_model || !currentIndex().isValid())
        return;
    QMenu menu(this);
    addOrderEntries(menu);
    if (!m_model->isEditable()) {
        menu.exec(event->globalPos());
        return;
    }
    menu.addSeparator();
    QAction *setNull = menu.addAction(tr("Set to NULL"), this, &GridView::setCurrentToNull);
    setNull->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    setNull->setEnabled(m_model->flags(toModel(currentIndex())) & Qt::ItemIsEditable);
    QAction *drop = menu.addAction(tr("Drop Changes to Row"), this, &GridView::dropRowEdits);
    drop->setShortcut(QKeySequence(Qt::Key_Escape));
    drop->setEnabled(m_model->hasHeldRow());
    menu.addSeparator();
    QAction *del = menu.addAction(tr("Delete Row"), this, &GridView::deleteCurrentRow);
    del->setShortcut(QKeySequence(Qt::Key_Delete));
    menu.exec(event->globalPos());
}
