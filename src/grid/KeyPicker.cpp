#include "grid/KeyPicker.h"

#include "grid/LabelCache.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>

namespace {

// Typing pauses this long before labels that merely hold the text are asked
// for: those cannot use an index, so they wait for the user to stop.
constexpr int PauseMs = 300;

QString keyText(const std::vector<CellValue> &values)
{
    QStringList parts;
    for (const CellValue &v : values)
        parts << QString::fromUtf8(v.text);
    return parts.join(QStringLiteral(", "));
}

} // namespace

KeyPicker::KeyPicker(LabelCache &labels, int column, QWidget *parent)
    : QLineEdit(parent), m_labels(&labels), m_column(column)
{
    m_list = new QTreeWidget(window());
    m_list->setObjectName(QStringLiteral("keyPickerList"));
    m_list->setAccessibleName(tr("Rows of %1").arg(labels.referredTable(column)));
    m_list->setColumnCount(3);
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setFocusPolicy(Qt::NoFocus); // the typing stays in the cell
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->hide();
    connect(m_list, &QTreeWidget::itemClicked, this,
        [this](QTreeWidgetItem *item) { pick(item->data(0, Qt::UserRole).toInt()); });
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] { searchNow(true); });
    connect(this, &QLineEdit::textEdited, this, &KeyPicker::typed);
    connect(&labels, &LabelCache::matchesFound, this, &KeyPicker::showFound);
}

KeyPicker::~KeyPicker()
{
    delete m_list.data();
}

std::vector<std::pair<int, CellValue>> KeyPicker::picked() const
{
    std::vector<std::pair<int, CellValue>> out;
    if (!m_picked || text() != m_pickedText || !m_labels)
        return out;
    const std::vector<int> columns = m_labels->keyColumns(m_column);
    for (size_t c = 0; c < columns.size() && c < m_picked->values.size(); ++c)
        out.emplace_back(columns[c], m_picked->values[c]);
    return out;
}

bool KeyPicker::listShown() const
{
    return m_list && m_list->isVisible();
}

void KeyPicker::hideList()
{
    m_pause.stop();
    m_prefixTicket = m_containsTicket = 0;
    if (m_list)
        m_list->hide();
}

bool KeyPicker::pickCurrent()
{
    if (!listShown() || !m_list->currentItem())
        return false;
    pick(m_list->currentItem()->data(0, Qt::UserRole).toInt());
    return true;
}

void KeyPicker::keyPressEvent(QKeyEvent *event)
{
    const bool open
        = event->key() == Qt::Key_F4 || (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier));
    if (open) {
        searchNow(false);
        return;
    }
    if (listShown() && (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up)) {
        const int rows = m_list->topLevelItemCount();
        const int at = m_list->currentItem() ? m_list->indexOfTopLevelItem(m_list->currentItem()) : -1;
        const int to = std::clamp(at + (event->key() == Qt::Key_Down ? 1 : -1), 0, rows - 1);
        if (rows > 0)
            m_list->setCurrentItem(m_list->topLevelItem(to));
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void KeyPicker::typed(const QString &)
{
    m_pause.start();
    searchNow(false);
}

void KeyPicker::searchNow(bool contains)
{
    if (!m_labels)
        return;
    const quint64 ticket = m_labels->search(m_column, text(), contains);
    (contains ? m_containsTicket : m_prefixTicket) = ticket;
    if (!contains)
        m_containsTicket = 0; // an older pause's search shows no more
}

void KeyPicker::showFound(const ForeignLabels::Found &found)
{
    if (found.ticket == 0 || (found.ticket != m_prefixTicket && found.ticket != m_containsTicket))
        return;
    if (found.ticket == m_prefixTicket) {
        m_matches.clear();
        m_list->clear();
    }
    for (const ForeignLabels::Match &m : found.matches) {
        if (std::any_of(m_matches.begin(), m_matches.end(), [&m](const auto &o) { return o.values == m.values; }))
            continue;
        auto *item = new QTreeWidgetItem(m_list, {keyText(m.values), m.label, m.extra});
        item->setData(0, Qt::UserRole, int(m_matches.size()));
        m_matches.push_back(m);
    }
    if (m_matches.empty()) {
        m_list->hide();
        return;
    }
    if (!m_list->currentItem())
        m_list->setCurrentItem(m_list->topLevelItem(0));
    placeList();
}

void KeyPicker::placeList()
{
    QWidget *top = m_list->parentWidget();
    const int rows = std::min(m_list->topLevelItemCount(), 10);
    const int height = rows * m_list->sizeHintForRow(0) + 2 * m_list->frameWidth() + 2;
    for (int c = 0; c < 3; ++c)
        m_list->resizeColumnToContents(c);
    const int width = std::max(this->width(), std::min(top->width(), m_list->header()->length() + 24));
    QPoint at = mapTo(top, QPoint(0, this->height()));
    if (at.y() + height > top->height())
        at.setY(std::max(0, mapTo(top, QPoint(0, 0)).y() - height));
    at.setX(std::max(0, std::min(at.x(), top->width() - width)));
    m_list->setGeometry(QRect(at, QSize(width, height)));
    m_list->show();
    m_list->raise();
}

void KeyPicker::pick(int match)
{
    if (match < 0 || match >= int(m_matches.size()))
        return;
    m_picked = m_matches[size_t(match)];
    m_pickedText = QString::fromUtf8(m_picked->values.back().text);
    setText(m_pickedText);
    setModified(true);
    if (m_labels)
        m_labels->pickedRow(m_column, m_picked->values, m_picked->label);
    hideList();
}
