#include "pages/GridView.h"

#include "pages/GridDelegate.h"
#include "pages/GridModel.h"

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
    if (!m_model || !m_model->isEditable() || !currentIndex().isValid())
        return;
    QMenu menu(this);
    QAction *setNull = menu.addAction(tr("Set to NULL"), this, &GridView::setCurrentToNull);
    setNull->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    setNull->setEnabled(m_model->flags(currentIndex()) & Qt::ItemIsEditable);
    QAction *drop = menu.addAction(tr("Drop Changes to Row"), this, &GridView::dropRowEdits);
    drop->setShortcut(QKeySequence(Qt::Key_Escape));
    drop->setEnabled(m_model->hasHeldRow());
    menu.addSeparator();
    QAction *del = menu.addAction(tr("Delete Row"), this, &GridView::deleteCurrentRow);
    del->setShortcut(QKeySequence(Qt::Key_Delete));
    menu.exec(event->globalPos());
}
