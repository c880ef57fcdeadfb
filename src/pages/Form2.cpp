#include "pages/Form2.h"

#include "db/Connection.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/Trap.h"
#include "pages/Form1.h"
#include "pages/Form3.h"
#include "pages/OpenProgress.h"
#include "pages/TableList.h"
#include "pages/Wizard.h"
#include "schema/frmNewTable.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QTableView>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include <memory>

Form2::Form2(Wizard &wizard) : m_wizard(wizard), m_pointer(new PagePointer(this))
{
    setObjectName(QStringLiteral("Form2"));
    const auto button = [this](const char *name, const char *caption) {
        auto *b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    PushButton2 = button("PushButton2", "< Back");
    Frame1 = new QGroupBox(QStringLiteral("Which table do you want edit?"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    List1 = new QListWidget(Frame1);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setAccessibleName(Frame1->title());
    PushButton4 = button("PushButton4", "New Table");
    PushButton3 = button("PushButton3", "Next >");

    auto *frame = new QVBoxLayout(Frame1);
    frame->addWidget(List1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(PushButton4);
    bottom->addStretch(1);
    bottom->addWidget(PushButton3);
    auto *page = new QVBoxLayout(this);
    page->addWidget(PushButton2);
    page->addWidget(Frame1, 1);
    page->addLayout(bottom);
    resize(420, 420);

    setTabOrder(PushButton2, List1);
    setTabOrder(List1, PushButton4);
    setTabOrder(PushButton4, PushButton3);

    for (QWidget *b : {PushButton2, PushButton3, PushButton4})
        m_pointer->watchButton(b);
    for (QWidget *a : {static_cast<QWidget *>(this), static_cast<QWidget *>(List1), static_cast<QWidget *>(Frame1)})
        m_pointer->watchArea(a);

    connect(PushButton2, &QPushButton::clicked, this, &Form2::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form2::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form2::PushButton4_Click);
    // A double click or Enter on a table opens it, as "Next >" does.
    connect(List1, &QListWidget::itemActivated, this, &Form2::PushButton3_Click);
}

void Form2::Form_Load()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form2_Form_Load));
    trap.step(100, [&] { Main::SetStandardColours(this); });
    trap.step(102, [&] { setWindowIcon(Main::appIcon()); });
    m_pointer->loadHandCursor(trap, 106, 108);
    trap.step(110, [&] { setWindowTitle(QString::fromLatin1(Main::ProductName)); });
}

void Form2::PushButton2_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form2_PushButton2_Click));
    trap.step(100, [&] { m_wizard.form1()->show(); });
    trap.step(102, [&] { hide(); });
}

void Form2::PushButton3_Click()
{
    // A press while the list fills, a table opens or the sign-in waits is not
    // a second request.
    if (m_opening || isFillingTableList(List1) || m_wizard.form1()->isConnecting())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form2_PushButton3_Click));
    auto connection = std::make_shared<Connection>(); // 100 (the row set, 102: openTable)
    if (trap.test(104, [&] { return List1->selectedItems().isEmpty(); })) {
        trap.step(132, [&] { m_wizard.desktop().message(this, Main::appTitle(), QStringLiteral("Please select a table")); });
        return;
    }
    const QScopedValueRollback<bool> opening(m_opening, true);
    trap.step(106, [&] { m_pointer->setState(PagePointer::State::Busy); });
    bool gaveUp = false;
    trap.step(110, [&] { gaveUp = !share(connection); });
    if (gaveUp) {
        m_pointer->setState(PagePointer::State::Default);
        return;
    }
    trap.step(112, [&] { m_wizard.CurrentTable = List1->selectedItems().constFirst()->text(); });
    Form3 *editor = m_wizard.form3();
    if (editor->openTable(trap, std::move(connection)) == Form3::Opened::Cancelled) {
        // Back to the picker, as it was before "Next >".
        if (editor->isVisible()) {
            show();
            editor->hide();
        }
        m_pointer->setState(PagePointer::State::Default);
        return;
    }
    trap.step(128, [&] { hide(); });
    trap.step(130, [&] { m_pointer->setState(PagePointer::State::Default); });
}

void Form2::PushButton4_Click()
{
    if (m_opening || isFillingTableList(List1) || m_wizard.form1()->isConnecting())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form2_PushButton4_Click));
    trap.step(100, [&] { openNewTableDialog(); });
    auto connection = std::make_shared<Connection>(); // 102 (and the row set, 104)
    bool gaveUp = false;
    trap.step(108, [&] { gaveUp = !share(connection); });
    if (gaveUp)
        return; // the list stays as it was
    trap.step(110, [&] { m_pointer->setState(PagePointer::State::Busy); });
    FillTableList(trap, connection, List1, m_wizard.desktop());
    trap.step(132, [&] { m_pointer->setState(PagePointer::State::Default); });
}

bool Form2::share(std::shared_ptr<Connection> &connection)
{
    std::shared_ptr<Connection> shared
        = shareConnection(this, m_wizard.keptConnection(), m_wizard.connectionString(), [this] { return isVisible(); });
    if (!shared)
        return false;
    connection = std::move(shared);
    return true;
}

void Form2::openNewTableDialog()
{
    const std::unique_ptr<frmNewTable> dialog = frmNewTable::load(m_wizard.schemaOpener(), this);
    dialog->exec();
}

void Form2::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_wizard.endProgram();
}
