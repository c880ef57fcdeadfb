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

FindBar::FindBar(QTableView &view, GridOrder &order, QWidget *parent) : QWidget(parent), m_view(view), m_order(order)
{
    setObjectName(QStringLiteral("FindBar"));
    const auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(caption);
        b->setAutoDefault(false);
        return b;
    };
    lblFind = new QLabel(QStringLiteral("&Find:"), this);
    txtFind = new QLineEdit(this);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    txtFind->setAccessibleName(QStringLiteral("Find"));
    lblFind->setBuddy(txtFind);
    chkMatchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
    chkWholeCell = new QCheckBox(QStringLiteral("&Whole cell"), this);
    chkWholeCell->setObjectName(QStringLiteral("chkWholeCell"));
    lblColumn = new QLabel(QStringLiteral("&In:"), this);
    cboColumn = new QComboBox(this);
    cboColumn->setObjectName(QStringLiteral("cboFindColumn"));
    cboColumn->setAccessibleName(QStringLiteral("In"));
    lblColumn->setBuddy(cboColumn);
    cmdPrevious = button("cmdFindPrevious", QStringLiteral("Previous"));
    cmdNext = button("cmdFindNext", QStringLiteral("Next"));
    cmdFilter = button("cmdFilter", QStringLiteral("Filter"));
    cmdFilter->setCheckable(true);
    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblFindCount"));
    cmdClose = button("cmdCloseFind", QStringLiteral("Close"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget *w : std::initializer_list<QWidget *>{lblFind, txtFind, chkMatchCase, chkWholeCell, lblColumn,
             cboColumn, cmdPrevious, cmdNext, cmdFilter, lblCount, cmdClose})
        row->addWidget(w, w == txtFind ? 1 : 0);

    txtFind->installEventFilter(this);
    connect(txtFind, &QLineEdit::textChanged, this, &FindBar::changed);
    connect(chkMatchCase, &QCheckBox::toggled, this, &FindBar::changed);
    connect(chkWholeCell, &QCheckBox::toggled, this, &FindBar::changed);
    connect(cboColumn, &QComboBox::currentIndexChanged, this, &FindBar::changed);
    connect(cmdNext, &QPushButton::clicked, this, [this] { step(false); });
    connect(cmdPrevious, &QPushButton::clicked, this, [this] { step(true); });
    connect(cmdFilter, &QPushButton::toggled, this, &FindBar::filterToggled);
    connect(cmdClose, &QPushButton::clicked, this, &FindBar::close);
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

void FindBar::updateColumns()
{
    const QSignalBlocker quiet(cboColumn);
    cboColumn->clear();
    cboColumn->addItem(QStringLiteral("All columns"));
    for (int c = 0; c < m_order.columnCount(); ++c)
        cboColumn->addItem(m_order.headerData(c, Qt::Horizontal).toString());
    if (cmdFilter->isChecked()) {
        const QSignalBlocker quietFilter(cmdFilter);
        cmdFilter->setChecked(false);
    }
}

FindQuery FindBar::query() const
{
    FindQuery s;
    s.text = txtFind->text();
    s.matchCase = chkMatchCase->isChecked();
    s.wholeCell = chkWholeCell->isChecked();
    s.column = cboColumn->currentIndex() - 1;
    if (const GridModel *model = m_order.gridModel(); model && model->rowSet())
        for (const FieldInfo &field : model->rowSet()->fields())
            s.hexColumns.push_back(CellDisplay::formOf(field) == CellDisplay::Form::Hex);
    return s;
}

void FindBar::open(bool filter)
{
    if (filter)
        cmdFilter->setChecked(!(isVisible() && cmdFilter->isChecked()));
    show();
    txtFind->setFocus();
    txtFind->selectAll();
}

void FindBar::close()
{
    cmdFilter->setChecked(false);
    if (cmdFilter->isChecked())
        return; // the held row could not be written
    m_order.find({});
    hide();
    m_view.setFocus();
}

void FindBar::changed()
{
    if (cmdFilter->isChecked()) {
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
        const QSignalBlocker quiet(cmdFilter);
        cmdFilter->setChecked(!on);
        return;
    }
    m_order.setFilter(on ? query() : FindQuery());
    showCount();
}

void FindBar::showCount()
{
    if (cmdFilter->isChecked()) {
        const GridModel *model = m_order.gridModel();
        const qint64 all = model ? model->exportSource().rowCount() : 0;
        lblCount->setText(m_order.isBusy() ? QStringLiteral("Filtering…")
                                           : QStringLiteral("%1 of %2 rows").arg(m_order.shownRowCount()).arg(all));
        return;
    }
    if (txtFind->text().isEmpty())
        lblCount->clear();
    else if (m_order.isFinding())
        lblCount->setText(QStringLiteral("Finding…"));
    else if (m_order.found().empty())
        lblCount->setText(QStringLiteral("No matches"));
    else
        lblCount->setText(QStringLiteral("%1 of %2")
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
    if (watched == txtFind && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            step(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
