#include "grid/GridDelegate.h"

#include "grid/GridModel.h"
#include "grid/KeyPicker.h"
#include "grid/LabelCache.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QToolTip>

#include <limits>

void GridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (!index.data(GridModel::NullRole).toBool()) {
        paintLabel(painter, option, index);
        return;
    }
    painter->save();
    QFont font = option.font;
    font.setItalic(true);
    painter->setFont(font);
    painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
    painter->drawText(option.rect.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("NULL"));
    painter->restore();
}

// A foreign key's label, muted, after the key's own text.
void GridDelegate::paintLabel(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString label = index.data(GridModel::LabelRole).toString();
    if (label.isEmpty())
        return;
    const int textWidth = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    const QRect room = option.rect.adjusted(4 + textWidth + 8, 0, -4, 0);
    if (room.width() <= 0)
        return;
    painter->save();
    painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
    painter->drawText(
        room, Qt::AlignLeft | Qt::AlignVCenter, option.fontMetrics.elidedText(label, Qt::ElideRight, room.width()));
    painter->restore();
}

QWidget *GridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    auto *editor = m_labels && m_labels->showsLabels(index.column()) ? new KeyPicker(*m_labels, index.column(), parent)
                                                                     : new QLineEdit(parent);
    editor->setFrame(false);
    editor->setMaxLength(std::numeric_limits<int>::max());
    if (index.data(GridModel::HexRole).toBool()) {
        // Enter is refused until the hex digits pair up.
        static const QRegularExpression hex(QStringLiteral("(?:0[xX])?(?:[0-9A-Fa-f]{2})*"));
        editor->setValidator(new QRegularExpressionValidator(hex, editor));
    }
    m_editor = editor;
    return editor;
}

void GridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return QStyledItemDelegate::setEditorData(editor, index);
    // Only a fresh editor takes the model's text; typing stays as typed.
    if (line->isModified())
        return;
    line->setText(index.data(Qt::EditRole).toString());
    line->setPlaceholderText(index.data(GridModel::NullRole).toBool() ? QStringLiteral("NULL") : QString());
}

void GridDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return QStyledItemDelegate::setModelData(editor, model, index);
    // An untouched cell is not written: NULL stays NULL, other values as read.
    if (!line->isModified())
        return;
    QString text = line->text();
    if (text.isNull())
        text = QLatin1String(""); // typed empty: an empty string, not NULL
    if (auto *picker = qobject_cast<KeyPicker *>(editor)) {
        // A key picked from the list: all its columns, the cell's last.
        for (const auto &[column, value] : picker->picked())
            if (column != index.column())
                model->setData(index.siblingAtColumn(column), QString::fromUtf8(value.text), Qt::EditRole);
    }
    model->setData(index, text, Qt::EditRole);
}

bool GridDelegate::eventFilter(QObject *object, QEvent *event)
{
    auto *picker = qobject_cast<KeyPicker *>(object);
    if (picker && event->type() == QEvent::KeyPress && picker->listShown()) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape) {
            picker->hideList(); // what was typed stays
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            picker->pickCurrent(); // and the cell takes it, as on any Enter
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

bool GridDelegate::helpEvent(
    QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    // The text's room: the cell less the style's margins on either side.
    if (option.fontMetrics.horizontalAdvance(text) + 8 > option.rect.width())
        // As rich text, escaped, so the cell's own text is never read as markup.
        QToolTip::showText(event->globalPos(),
            QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text.toHtmlEscaped()), view, option.rect);
    else
        QToolTip::hideText();
    return true;
}
