#include "pages/GridView.h"

#include "pages/GridDelegate.h"
#include "pages/GridModel.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

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
    createActions();
}

void GridView::createActions()
{
    const auto make = [this](const QString &text, const QKeySequence &key, void (GridView::*slot)()) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        // Not while a cell editor has focus: there Delete and Escape are the editor's.
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    m_actions.setNull = make(tr("Set to NULL"), QKeySequence(Qt::CTRL | Qt::Key_0), &GridView::setCurrentToNull);
    m_actions.dropRowEdits = make(tr("Drop Changes to Row"), QKeySequence(Qt::Key_Escape), &GridView::dropRowEdits);
    m_actions.deleteRow = make(tr("Delete Row"), QKeySequence(Qt::Key_Delete), &GridView::deleteCurrentRow);
}

void GridView::updateActions()
{
    // Escape with nothing held is left to the view and its window.
    m_actions.dropRowEdits->setEnabled(m_model && m_model->hasHeldRow());
}

bool GridView::event(QEvent *event)
{
    // Sent before a key is matched against the shortcuts.
    if (event->type() == QEvent::ShortcutOverride)
        updateActions();
    return QTableView::event(event);
}

void GridView::setGridModel(GridModel *model)
{
    m_model = model;
    setModel(model);
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
    if (!m_model->hasHeldRow() || m_model->heldRow() != previous.row())
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
        && m_model->heldRow() == index.row();
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
        m_model->setNull(currentIndex());
}

void GridView::dropRowEdits()
{
    if (m_model)
        m_model->revertRow();
}

void GridView::deleteCurrentRow()
{
    if (m_delete && currentIndex().isValid())
        m_delete(currentIndex().row());
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

void GridView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex at = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (at.isValid() && at != currentIndex())
        setCurrentIndex(at);
    if (!m_model || !m_model->isEditable() || !currentIndex().isValid())
        return;
    updateActions();
    QMenu menu(this);
    menu.addAction(m_actions.setNull);
    menu.addAction(m_actions.dropRowEdits);
    menu.addSeparator();
    menu.addAction(m_actions.deleteRow);
    // Shown greyed in the menu only: Ctrl+0 on a cell that cannot take NULL
    // still does nothing rather than reach the view.
    m_actions.setNull->setEnabled(m_model->flags(currentIndex()) & Qt::ItemIsEditable);
    menu.exec(event->globalPos());
    m_actions.setNull->setEnabled(true);
}
