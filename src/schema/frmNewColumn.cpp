#include "schema/frmNewColumn.h"

#include "core/Failure.h"
#include "db/ColumnNames.h"
#include "db/Connection.h"
#include "frame/HeldInput.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/Trap.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeWidget>

namespace {

const QString Form3Caller = QStringLiteral("Form3");
const QString NewTableCaller = QStringLiteral("frmNewTable");

} // namespace

frmNewColumn::frmNewColumn(SchemaOpener opener, QWidget *parent)
    : QDialog(parent), m_opener(std::move(opener)), m_pointer(new PagePointer(this))
{
    setObjectName(QStringLiteral("frmNewColumn"));
    setWindowTitle(QStringLiteral("Add a New Column"));
    buildControls();
    m_pointer->watchButton(PushButton1);
    m_pointer->watchArea(this);
    connect(cboPosition, &QComboBox::activated, this, &frmNewColumn::cboPosition_Click);
    connect(PushButton1, &QPushButton::clicked, this, &frmNewColumn::PushButton1_Click);
}

frmNewColumn::~frmNewColumn() = default;

std::unique_ptr<frmNewColumn> frmNewColumn::load(SchemaOpener opener, QWidget *parent)
{
    auto dialog = std::make_unique<frmNewColumn>(std::move(opener), parent);
    dialog->Form_Load();
    return dialog;
}

void frmNewColumn::buildControls()
{
    const auto label = [this](const char *name, const char *caption) {
        auto *l = new QLabel(QString::fromLatin1(caption), this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    const auto field = [this](const char *name, QLabel *buddy) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        buddy->setBuddy(e);
        e->setAccessibleName(buddy->text().chopped(1));
        return e;
    };
    const auto combo = [this](const char *name, const QString &accessible) {
        auto *c = new QComboBox(this);
        c->setObjectName(QString::fromLatin1(name));
        c->setAccessibleName(accessible);
        return c;
    };
    const auto check = [this](const char *name, const char *caption) {
        auto *c = new QCheckBox(QString::fromLatin1(caption), this);
        c->setObjectName(QString::fromLatin1(name));
        return c;
    };
    Label5 = label("Label5", "Name:");
    txtName = field("txtName", Label5);
    Label2 = label("Label2", "Data Type:");
    cboDataType = combo("cboDataType", QStringLiteral("Data Type"));
    Label2->setBuddy(cboDataType);
    for (const char *keyword : DataTypeKeywords)
        cboDataType->addItem(QLatin1String(keyword));
    cboDataType->setMaxVisibleItems(int(DataTypeKeywords.size()));
    Label1 = label("Label1", "M:");
    txtM = field("txtM", Label1);
    Label4 = label("Label4", "D:");
    txtD = field("txtD", Label4);
    Label3 = label("Label3", "Default:");
    txtDefault = field("txtDefault", Label3);
    chkUnsigned = check("chkUnsigned", "Unsigned");
    chkAutoInc = check("chkAutoInc", "Auto Increment");
    chkZeroFill = check("chkZeroFill", "Zero Fill");
    cboPosition = combo("cboPosition", QStringLiteral("Position"));
    for (const char *keyword : PositionKeywords)
        cboPosition->addItem(QLatin1String(keyword));
    cboColumnName = combo("cboColumnName", QStringLiteral("After column"));
    cboColumnName->setEnabled(false);
    PushButton1 = new QPushButton(QStringLiteral("Add"), this);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setDefault(true);
    layoutControls();
}

void frmNewColumn::layoutControls()
{
    // Labels and the rows without one share the left edge; M and D sit side
    // by side, as do the first two check boxes.
    auto *grid = new QGridLayout(this);
    grid->addWidget(Label5, 0, 0);
    grid->addWidget(txtName, 0, 1, 1, 3);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(cboDataType, 1, 1, 1, 3);
    grid->addWidget(Label1, 2, 0);
    grid->addWidget(txtM, 2, 1);
    grid->addWidget(Label4, 2, 2);
    grid->addWidget(txtD, 2, 3);
    grid->addWidget(Label3, 3, 0);
    grid->addWidget(txtDefault, 3, 1, 1, 3);
    grid->addWidget(chkUnsigned, 4, 0, 1, 2);
    grid->addWidget(chkAutoInc, 4, 2, 1, 2);
    grid->addWidget(chkZeroFill, 5, 0, 1, 2);
    grid->addWidget(cboPosition, 6, 0, 1, 4);
    grid->addWidget(cboColumnName, 7, 0, 1, 4);
    grid->addWidget(PushButton1, 8, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(300);
    txtName->setMinimumWidth(200);

    QWidget *order[] = {txtName, cboDataType, txtM, txtD, txtDefault, chkUnsigned, chkAutoInc,
                        chkZeroFill, cboPosition, cboColumnName, PushButton1};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void frmNewColumn::Form_Load()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewColumn_Form_Load));
    trap.step(100, [&] { Main::SetStandardColours(this); });
    trap.step(102, [&] { setWindowIcon(Main::appIcon()); });
    m_pointer->loadHandCursor(trap, 104, 106);
    trap.step(108, [&] { cboDataType->setCurrentIndex(0); });
    trap.step(110, [&] {
        cboPosition->setCurrentIndex(0);
        cboPosition_Click();
    });
    trap.step(112, [&] { m_pointer->setState(PagePointer::State::Busy); });
    trap.step(114, [&] { m_connection = std::make_shared<Connection>(); });
    trap.step(116, [&] {
        openConnection(); // the object of step 114, else the failure this step has always raised
        m_opener.open(this, m_connection);
    });
    trap.step(118, [&] { m_pointer->setState(PagePointer::State::Default); });
}

Connection &frmNewColumn::openConnection() const
{
    if (!m_connection)
        throw Failure(QStringLiteral("Object variable or With block variable not set"), Failure::ObjectVariableNotSet);
    return *m_connection;
}

void frmNewColumn::cboPosition_Click()
{
    if (position() != ColumnPosition::After) {
        // The names stay for a later "AFTER".
        cboColumnName->setEnabled(false);
        return;
    }
    cboColumnName->setEnabled(true);
    if (callingform != Form3Caller)
        return;
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewColumn_cboPosition_Click));
    QStringList names;
    BusyPointer busy(*m_pointer);
    if (!trap.step(104, [&] {
            Connection &c = openConnection();
            const QString sql = SelectAllRowsQuery(m_opener.currentTable());
            runHoldingInput(this, c, [&] { names = ColumnNames(c, sql); });
        }))
        return;
    trap.step(106, [&] {
        cboColumnName->clear();
        cboColumnName->addItems(names);
        cboColumnName->setCurrentIndex(-1);
    });
}

ColumnDefinition frmNewColumn::definition() const
{
    ColumnDefinition c;
    c.name = txtName->text();
    c.dataType = cboDataType->currentText();
    c.m = txtM->text();
    c.d = txtD->text();
    c.defaultValue = txtDefault->text();
    c.isUnsigned = chkUnsigned->isChecked();
    c.isZeroFill = chkZeroFill->isChecked();
    c.isAutoIncrement = chkAutoInc->isChecked();
    return c;
}

ColumnPosition frmNewColumn::position() const
{
    switch (cboPosition->currentIndex()) {
    case 1: return ColumnPosition::First;
    case 2: return ColumnPosition::After;
    default: return ColumnPosition::Last;
    }
}

QString frmNewColumn::sqlReportText(const QString &description, const QString &sql)
{
    return QStringLiteral("Error: ") + description + QStringLiteral("\r\nSQL: ") + sql;
}

void frmNewColumn::PushButton1_Click()
{
    if (m_adding || m_closing)
        return;
    m_adding = true;
    QPointer<QWidget> focused = focusWidget();
    PushButton1->setEnabled(false);
    const auto done = qScopeGuard([&] {
        m_adding = false;
        if (!m_closing) {
            PushButton1->setEnabled(true);
            if (focused)
                focused->setFocus();
        }
    });
    addColumn();
}

void frmNewColumn::addColumn()
{
    Trap trap(m_opener.desktop, this, QLatin1String(Location::frmNewColumn_cmdAdd_Click));
    if (trap.test(100, [&] { return !isFilled(txtName->text()); }))
        return;
    if (trap.test(102, [&] { return callingform == Form3Caller; })) {
        addToOpenTable(trap);
        return;
    }
    if (trap.test(148, [&] { return callingform == NewTableCaller; }))
        appendFieldRow(trap);
    trap.step(174, [&] { closeDialog(); });
}

void frmNewColumn::addToOpenTable(Trap &trap)
{
    ColumnDefinition column;
    QString sql;
    // Steps 104 to 132 build the statement: the column clause and the position.
    trap.step(104, [&] {
        column = definition();
        sql = AddColumnStatement(m_opener.currentTable(), column, position(), cboColumnName->currentText());
    });
    // From here on a failure shows the statement being sent and ends the
    // handler; the dialog keeps what the user typed.
    try {
        m_pointer->setState(PagePointer::State::Busy);                 // 134
        execHoldingInput(this, openConnection(), sql.toUtf8());        // 136
        if (isFilled(column.defaultValue)) {                            // 138
            sql = SetDefaultStatement(m_opener.currentTable(), column.name, column.defaultValue); // 140
            execHoldingInput(this, openConnection(), sql.toUtf8());    // 142
        }
        m_pointer->setState(PagePointer::State::Default);              // 144
        m_opener.desktop.message(this, Main::appTitle(), QStringLiteral("Column added.")); // 146
        closeDialog();                                                  // 174
    } catch (const std::exception &e) {
        const auto *failure = dynamic_cast<const Failure *>(&e);
        const QString description = failure ? failure->description() : QString::fromLocal8Bit(e.what());
        m_pointer->setState(PagePointer::State::Default);
        m_opener.desktop.message(this, Main::appTitle(), sqlReportText(description, sql));
    }
}

void frmNewColumn::appendFieldRow(Trap &trap)
{
    const FieldRow row = FieldRow::from(definition());
    QTreeWidgetItem *item = nullptr;
    trap.step(150, [&] {
        if (!m_fieldList)
            throw Failure(QStringLiteral("Object required"), Failure::ObjectRequired);
        item = new QTreeWidgetItem;
        item->setText(0, row.cells[0]);
        m_fieldList->addTopLevelItem(item);
    });
    // The step that sets each cell; a cell whose value is not filled or
    // ticked stays unset.
    static constexpr int cellSteps[] = {150, 152, 160, 164, 168, 172};
    for (int cell = 1; cell < int(std::size(cellSteps)); ++cell) {
        if (row.cells[size_t(cell)].isEmpty())
            continue;
        trap.step(cellSteps[cell], [&] {
            if (!item)
                throw Failure(
                    QStringLiteral("Object variable or With block variable not set"), Failure::ObjectVariableNotSet);
            item->setText(cell, row.cells[size_t(cell)]);
        });
    }
}

void frmNewColumn::closeDialog()
{
    m_closing = true;
    accept();
}
