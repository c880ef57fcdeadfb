#include "grid/FindBar.h"

#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>

#include <algorithm>

namespace {

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

FindBar::FindBar(QTableView &view, GridOrder &order, QWidget *parent) : QWidget(parent), m_view(view), m_order(order)
{
    setObjectName(QStringLiteral("FindBar"));
    buildControls();
    m_findEdit->installEventFilter(this);
    // What the user changes ends a key's other columns shown by filterTo().
    const auto userChanged = [this] {
        m_alsoEqual.clear();
        changed();
    };
    connect(m_findEdit, &QLineEdit::textChanged, this, userChanged);
    connect(m_matchCaseCheckBox, &QCheckBox::toggled, this, userChanged);
    connect(m_wholeCellCheckBox, &QCheckBox::toggled, this, userChanged);
    connect(m_columnComboBox, &QComboBox::currentIndexChanged, this, userChanged);
    connect(m_nextButton, &QPushButton::clicked, this, [this] { step(false); });
    connect(m_previousButton, &QPushButton::clicked, this, [this] { step(true); });
    connect(m_filterButton, &QPushButton::toggled, this, &FindBar::filterToggled);
    connect(m_closeButton, &QPushButton::clicked, this, &FindBar::close);
    const auto shortcut = [this](QKeySequence keys, auto slot) {
        auto *s = new QShortcut(keys, this);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_F3), [this] { step(false); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { step(true); });
    shortcut(QKeySequence(Qt::Key_Escape), [this] { close(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { open(false); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { open(true); });
    connect(&m_order, &GridOrder::foundChanged, this, [this] {
        m_position = -1;
        if (m_pendingStep != 0 && !m_order.isFinding()) {
            const bool backwards = m_pendingStep < 0;
            m_pendingStep = 0;
            step(backwards);
        }
        showCount();
    });
    connect(&m_order, &GridOrder::orderChanged, this, &FindBar::showCount);
    connect(&m_order, &QAbstractItemModel::modelReset, this, &FindBar::updateColumns);
    updateColumns();
    hide();
}

void FindBar::buildControls()
{
    const auto button = [this](const char *name, const QString &caption) {
        auto *b = named(new QPushButton(caption, this), name);
        b->setAccessibleName(caption);
        b->setAutoDefault(false);
        return b;
    };
    m_findLabel = named(new QLabel(QStringLiteral("&Find:"), this), "findLabel");
    m_findEdit = named(new QLineEdit(this), "findEdit");
    m_findEdit->setAccessibleName(QStringLiteral("Find"));
    m_findLabel->setBuddy(m_findEdit);
    m_matchCaseCheckBox = named(new QCheckBox(QStringLiteral("Match &case"), this), "matchCaseCheckBox");
    m_wholeCellCheckBox = named(new QCheckBox(QStringLiteral("&Whole cell"), this), "wholeCellCheckBox");
    m_columnLabel = named(new QLabel(QStringLiteral("&In:"), this), "columnLabel");
    m_columnComboBox = named(new QComboBox(this), "columnComboBox");
    m_columnComboBox->setAccessibleName(QStringLiteral("In"));
    m_columnLabel->setBuddy(m_columnComboBox);
    m_previousButton = button("previousButton", QStringLiteral("Previous"));
    m_nextButton = button("nextButton", QStringLiteral("Next"));
    m_filterButton = button("filterButton", QStringLiteral("Filter"));
    m_filterButton->setCheckable(true);
    m_countLabel = named(new QLabel(this), "countLabel");
    m_closeButton = button("closeButton", QStringLiteral("Close"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget *w : std::initializer_list<QWidget *>{m_findLabel, m_findEdit, m_matchCaseCheckBox,
             m_wholeCellCheckBox, m_columnLabel, m_columnComboBox, m_previousButton, m_nextButton, m_filterButton,
             m_countLabel, m_closeButton})
        row->addWidget(w, w == m_findEdit ? 1 : 0);
}

QList<QWidget *> FindBar::tabOrder() const
{
    return {m_findEdit, m_matchCaseCheckBox, m_wholeCellCheckBox, m_columnComboBox, m_previousButton, m_nextButton,
        m_filterButton, m_closeButton};
}

void FindBar::updateColumns()
{
    const QSignalBlocker quiet(m_columnComboBox);
    m_columnComboBox->clear();
    m_columnComboBox->addItem(QStringLiteral("All columns"));
    for (int c = 0; c < m_order.columnCount(); ++c)
        m_columnComboBox->addItem(m_order.headerData(c, Qt::Horizontal).toString());
    if (m_filterButton->isChecked()) {
        const QSignalBlocker quietFilter(m_filterButton);
        m_filterButton->setChecked(false);
    }
}

FindQuery FindBar::query() const
{
    FindQuery s;
    s.text = m_findEdit->text();
    s.matchCase = m_matchCaseCheckBox->isChecked();
    s.wholeCell = m_wholeCellCheckBox->isChecked();
    s.column = m_columnComboBox->currentIndex() - 1;
    if (const GridModel *model = m_order.gridModel(); model && model->rowSet())
        for (const FieldInfo &field : model->rowSet()->fields())
            s.hexColumns.push_back(CellDisplay::formOf(field) == CellDisplay::Form::Hex);
    s.alsoEqual = m_alsoEqual;
    return s;
}

void FindBar::filterTo(const FindQuery &query)
{
    {
        const QSignalBlocker quiet(this);
        const QSignalBlocker quietEdit(m_findEdit);
        const QSignalBlocker quietCase(m_matchCaseCheckBox);
        const QSignalBlocker quietWhole(m_wholeCellCheckBox);
        const QSignalBlocker quietColumn(m_columnComboBox);
        m_findEdit->setText(query.text);
        m_matchCaseCheckBox->setChecked(query.matchCase);
        m_wholeCellCheckBox->setChecked(query.wholeCell);
        m_columnComboBox->setCurrentIndex(query.column + 1);
    }
    m_alsoEqual = query.alsoEqual;
    show();
    if (m_filterButton->isChecked())
        changed();
    else
        m_filterButton->setChecked(true);
}

void FindBar::open(bool filter)
{
    if (filter)
        m_filterButton->setChecked(!(isVisible() && m_filterButton->isChecked()));
    show();
    m_findEdit->setFocus();
    m_findEdit->selectAll();
}

void FindBar::close()
{
    m_alsoEqual.clear();
    m_filterButton->setChecked(false);
    if (m_filterButton->isChecked())
        return; // the held row could not be written
    m_order.find({});
    hide();
    m_view.setFocus();
}

void FindBar::changed()
{
    if (m_filterButton->isChecked()) {
        if (m_beforeFilter && !m_beforeFilter())
            return;
        m_order.setFilter(query());
    }
    m_order.find(query());
    showCount();
}

void FindBar::filterToggled(bool on)
{
    if (m_beforeFilter && !m_beforeFilter()) {
        const QSignalBlocker quiet(m_filterButton);
        m_filterButton->setChecked(!on);
        return;
    }
    m_order.setFilter(on ? query() : FindQuery());
    showCount();
}

void FindBar::showCount()
{
    if (m_filterButton->isChecked()) {
        const GridModel *model = m_order.gridModel();
        const qint64 all = model ? model->exportSource().rowCount() : 0;
        m_countLabel->setText(m_order.isBusy() ? QStringLiteral("Filtering…")
                                               : QStringLiteral("%1 of %2 rows").arg(m_order.shownRowCount()).arg(all));
        return;
    }
    if (m_findEdit->text().isEmpty())
        m_countLabel->clear();
    else if (m_order.isFinding())
        m_countLabel->setText(QStringLiteral("Finding…"));
    else if (m_order.found().empty())
        m_countLabel->setText(QStringLiteral("No matches"));
    else
        m_countLabel->setText(QStringLiteral("%1 of %2")
                                  .arg(m_position < 0 ? QStringLiteral("-") : QString::number(m_position + 1))
                                  .arg(m_order.found().size()));
}

void FindBar::step(bool backwards)
{
    if (m_order.isFinding() || m_order.isBusy()) {
        m_pendingStep = backwards ? -1 : 1;
        return;
    }
    const std::vector<int32_t> &found = m_order.found();
    if (found.empty()) {
        showCount();
        return;
    }
    const int current = m_view.currentIndex().isValid() ? m_view.currentIndex().row() : -1;
    int position;
    if (backwards) {
        auto it = std::lower_bound(found.begin(), found.end(), int32_t(current));
        position = it == found.begin() ? int(found.size()) - 1 : int(it - found.begin()) - 1;
    } else {
        auto it = std::upper_bound(found.begin(), found.end(), int32_t(current));
        position = it == found.end() ? 0 : int(it - found.begin());
    }
    goTo(position);
}

void FindBar::goTo(int position)
{
    const int row = m_order.found()[size_t(position)];
    const QModelIndex at = m_order.index(row, firstMatchingColumn(row));
    m_view.setCurrentIndex(at);
    // Leaving a held row that could not be written keeps the grid there.
    if (m_view.currentIndex() == at) {
        m_position = position;
        m_view.scrollTo(at);
    }
    showCount();
}

int FindBar::firstMatchingColumn(int shownRow) const
{
    const FindQuery s = query();
    if (s.column >= 0)
        return s.column;
    const GridModel *model = m_order.gridModel();
    const RowMatcher matcher(s);
    const qint64 source = m_order.sourceRow(shownRow);
    for (int c = 0; c < m_order.columnCount(); ++c)
        if (matcher.cellMatches(model->rowSet()->rows().cell(source, c), c))
            return c;
    return 0;
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_findEdit && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            step(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
