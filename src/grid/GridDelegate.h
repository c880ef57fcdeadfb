#pragma once

#include "grid/LabelCache.h"

#include <QPointer>
#include <QStyledItemDelegate>

// Draws and edits the grid's cells: NULL as a greyed "NULL" placeholder that
// is not the cell's text, and a plain line editor without Qt's default
// length limit (for a column of bytes, one that takes only hex). A cell is
// only written back when the user changed it.
class GridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

    // A cell cut short shows whole (as far as a cell shows) in a tooltip.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

    QWidget *openEditor() const { return m_editor; } // null when none is open
    // The labels of the grid's foreign keys: their columns get a picker.
    void setLabels(LabelCache *labels) { m_labels = labels; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    void paintLabel(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;

    mutable QPointer<QWidget> m_editor;
    QPointer<LabelCache> m_labels;
};
