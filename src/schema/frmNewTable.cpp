#include "schema/frmNewTable.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "frame/HeldInput.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/Trap.h"
#include "schema/SchemaStatements.h"
#include "schema/frmNewColumn.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

struct ListColumn
{
    const char *caption;
    int twips;
};

constexpr ListColumn ListColumns[] = {
    {"Field Name", 1500}, {"Data Type", 1500}, {"M", 700},             {"D", 700},
    {"Default", 1500},    {"Unsigned", 1500},  {"Autoincrement", 1500}, {"Zero Fill", 1500},
};

[[noreturn]] void objectRequired()
{
    throw Failure(QStringLiteral("Object required"), Failure::ObjectRequired);
}

} // namespace

frmNewTable::frmNewTable(SchemaOpener opener, QWidget *parent)
    : QDialog(parent), m_opener(std::move(opener)), m_pointer(new PagePointer(this))
{
    setObjectName(QStringLiteral("frmNewTable"));
    setWindowTitle(QStringLiteral("Add New Table"));
    buildControls();
    for (QWidget *b : {PushButton1, PushButton2, PushButton3, PushButton4})
        m_pointer->watchButton(b);
    for (QWidget *a : {static_cast<QWidget *>(this), static_cast<QWidget *>(ListView1),
                       static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2)})
        m_pointer->watchArea(a);
    connect(PushButton4, &QPushButton::clicked, this, &frmNewTable::cmdAdd_Click);
    connect(PushButton1, &QPushButton::clicked, this, &frmNewTable::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &frmNewTable::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &frmNewTable::PushButton3_Click);
}

frmNewTable::~frmNewTable() = default;

std::unique_ptr<frmNewTable> frmNewTable::load(SchemaOpener opener, QWidget *parent)
{
    auto dialog = std::make_unique<frmNewTable>(std::move(opener), parent);
    dialog->Form_Load();
    return dialog;
}

void frmNewTable::buildControls()
{
    const auto button = [this](const char *name, const char *caption, QWidget *parent) {
        auto *b = new QPushButton(QString::fromLatin1(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Frame2 = new QGroupBox(QStringLiteral("Table Name"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    txtName = new QLineEdit(Frame2);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setAccessibleName(Frame2->title());
    Frame1 = new QGroupBox(QStringLiteral("Field(s)"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    ListView1 = new QTreeWidget(Frame1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(Frame1->title());
    ListView1->setToolTip(QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line "
                                         "to right and out of window to reveal full names."));
    ListView1->setColumnCount(0);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    PushButton4 = button("PushButton4", "Add", Frame1);
    PushButton1 = button("PushButton1", "Delete Selected", Frame1);
    PushButton2 = button("PushButton2", "Save", this);
    PushButton3 = button("PushButton3", "Cancel", this);

    (new QVBoxLayout(Frame2))->addWidget(txtName);
    auto *fields = new QGridLayout(Frame1);
    fields->addWidget(ListView1, 0, 0, 1, 2);
    fields->addWidget(PushButton4, 1, 0);
    fields->addWidget(PushButton1, 1, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(PushButton2);
    bottom->addWidget(PushButton3);
    auto *page = new QVBoxLayout(this);
    page->addWidget(Frame2);
    page->addWidget(Frame1, 1);
    page->addLayout(bottom);
    resize(540, 400);

    QWidget *order[] = {txtName, ListView1, PushButton4, PushButton1, PushButton2, PushButton3};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

int frmNewTable::twipsToPixels(int twips, int dpi)
{
    return int((qint64(twips) * dpi + 720) / 1440);
}

void frmNewTable::Form_Load()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewTable_Form_Load));
    trap.step(100, [&] { Main::SetStandardColours(this); });
    trap.step(102, [&] { setWindowIcon(Main::appIcon()); });
    m_pointer->loadHandCursor(trap, 104, 106);
    const int count = int(std::size(ListColumns));
    for (int i = 0; i < count; ++i) {
        trap.step(108 + 2 * i, [&] {
            ListView1->setColumnCount(i + 1);
            ListView1->headerItem()->setText(i, QLatin1String(ListColumns[i].caption));
        });
    }
    for (int i = 0; i < count; ++i) {
        trap.step(124 + 2 * i, [&] {
            if (i >= ListView1->columnCount())
                throw Failure(QStringLiteral("Index out of bounds"), Failure::IndexOutOfBounds);
            ListView1->setColumnWidth(i, twipsToPixels(ListColumns[i].twips, ListView1->logicalDpiX()));
        });
    }
}

void frmNewTable::cmdAdd_Click()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewTable_cmdAdd_Click));
    std::unique_ptr<frmNewColumn> dialog;
    const auto need = [&]() -> frmNewColumn & {
        if (!dialog)
            objectRequired();
        return *dialog;
    };
    trap.step(100, [&] {
        dialog = frmNewColumn::load(m_opener, this);
        dialog->callingform = QStringLiteral("frmNewTable");
        dialog->setFieldList(ListView1);
    });
    trap.step(102, [&] { need().cboPosition->setVisible(false); });
    trap.step(104, [&] { need().cboColumnName->setVisible(false); });
    trap.step(106, [&] { need().exec(); });
}

void frmNewTable::PushButton1_Click()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewTable_PushButton1_Click));
    if (trap.test(100, [&] { return m_pointer->isBusy(); }))
        return;
    if (trap.test(102, [&] { return ListView1->topLevelItemCount() > 0; })) {
        trap.step(104, [&] {
            // No selected row: nothing to remove.
            const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
            if (!selected.isEmpty())
                delete selected.constFirst();
        });
    }
}

std::vector<FieldRow> frmNewTable::fieldRows() const
{
    std::vector<FieldRow> rows;
    rows.reserve(size_t(ListView1->topLevelItemCount()));
    for (int r = 0; r < ListView1->topLevelItemCount(); ++r) {
        const QTreeWidgetItem *item = ListView1->topLevelItem(r);
        FieldRow row;
        for (int c = 0; c < FieldRow::CellCount; ++c)
            row.cells[size_t(c)] = item->text(c);
        rows.push_back(std::move(row));
    }
    return rows;
}

void frmNewTable::PushButton2_Click()
{
    if (m_saving || m_saved)
        return;
    m_saving = true;
    const auto done = qScopeGuard([&] { m_saving = false; });
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewTable_PushButton2_Click));
    auto connection = std::make_shared<Connection>(); // 100
    if (trap.test(102, [&] { return txtName->text().isEmpty(); }))
        return;
    if (trap.test(104, [&] { return ListView1->topLevelItemCount() == 0; }))
        return;
    QString sql;
    // Steps 106 to 116: the name and every row's field text, in list order.
    trap.step(106, [&] { sql = CreateTableStatement(txtName->text(), fieldRows()); });
    {
        BusyPointer busy(*m_pointer);
        trap.step(120, [&] { m_opener.open(this, connection); });
        trap.step(122, [&] { execHoldingInput(this, *connection, sql.toUtf8()); });
        // The kept connection stays open for the pages.
        trap.step(124, [&] { m_opener.release(connection); });
        trap.step(126, [&] { connection.reset(); });
    }
    // Past its two tests "Save" closes whatever became of the statement.
    m_saved = true;
    trap.step(128, [&] { accept(); });
}

void frmNewTable::PushButton3_Click()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewTable_PushButton3_Click));
    trap.step(100, [&] { reject(); });
}
