#include "pages/Form3.h"

#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/Trap.h"
#include "pages/Form2.h"
#include "pages/GridModel.h"
#include "pages/Wizard.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

Form3::Form3(Wizard &wizard) : m_wizard(wizard), m_pointer(new PagePointer(this)), m_model(new GridModel(this))
{
    setObjectName(QStringLiteral("Form3"));
    Label2 = new QLabel(QStringLiteral(" Table: "), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    DataGrid1 = new QTableView(this);
    DataGrid1->setObjectName(QStringLiteral("DataGrid1"));
    DataGrid1->setToolTip(QStringLiteral("Changes you make are automatically saved as you make them."));
    DataGrid1->setAccessibleName(QStringLiteral("Table rows"));
    DataGrid1->setModel(m_model);
    DataGrid1->verticalHeader()->setDefaultSectionSize(DataGrid1->fontMetrics().height() + 6);

    const auto button = [this](const char *name, const char *caption) {
        auto *b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    PushButton1 = button("PushButton1", "< Back");
    PushButton4 = button("PushButton4", "Help");
    PushButton5 = button("PushButton5", "Add New Row");
    PushButton2 = button("PushButton2", "Add New Column");
    PushButton6 = button("PushButton6", "Save Table As..");
    PushButton3 = button("PushButton3", "Quit");

    mnuSaveAs = new QMenu(QStringLiteral("Save As"), this);
    mnuSaveAs->setObjectName(QStringLiteral("mnuSaveAs"));
    const auto item = [this](const char *name, const char *caption) {
        QAction *a = mnuSaveAs->addAction(QString::fromLatin1(caption));
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    mnuTXT = item("mnuTXT", "TXT");
    mnuXLS = item("mnuXLS", "XLS");
    mnuCSV = item("mnuCSV", "CSV");
    mnuPDF = item("mnuPDF", "PDF");
    mnuXML = item("mnuXML", "XML");

    auto *bottom = new QHBoxLayout;
    for (QPushButton *b : {PushButton1, PushButton4, PushButton5, PushButton2, PushButton6, PushButton3})
        bottom->addWidget(b);
    auto *page = new QVBoxLayout(this);
    page->addWidget(Label2);
    page->addWidget(DataGrid1, 1);
    page->addLayout(bottom);
    resize(900, 600);

    for (QWidget *b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6})
        m_pointer->watchButton(b);
    for (QWidget *a : {static_cast<QWidget *>(this), static_cast<QWidget *>(Label2), static_cast<QWidget *>(DataGrid1)})
        m_pointer->watchArea(a);

    connect(PushButton1, &QPushButton::clicked, this, &Form3::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form3::chkNewColumn_Click);
    connect(mnuTXT, &QAction::triggered, this, &Form3::mnuTXT_Click);
    connect(mnuXLS, &QAction::triggered, this, &Form3::mnuXLS_Click);
    connect(mnuCSV, &QAction::triggered, this, &Form3::mnuCSV_Click);
    connect(mnuPDF, &QAction::triggered, this, &Form3::mnuPDF_Click);
    connect(mnuXML, &QAction::triggered, this, &Form3::mnuXML_Click);
}

Form3::~Form3() = default;

void Form3::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void Form3::Form_Load()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_Form_Load));
    trap.step(100, [&] { Main::SetStandardColours(this); });
    trap.step(102, [&] { setWindowIcon(Main::appIcon()); });
    trap.step(104, [&] { m_connection = std::make_unique<Connection>(); });
    trap.step(106, [&] { m_connection->setCursorLocation(3); });
    trap.step(108, [&] { m_connection->open(m_wizard.connectionString()); });
    trap.step(110, [&] { Label2->setText(QStringLiteral(" Now Editing: ") + m_wizard.CurrentTable); });
    trap.step(112, [&] { LoadDataGrid(); });
    if (trap.test(116, [&] { return Main::FileExists(Main::handCursorPath()); }))
        trap.step(118, [&] { m_pointer->setCustomCursor(Main::loadCursor(Main::handCursorPath())); });
    trap.step(120, [&] { setWindowTitle(QString::fromLatin1(Main::ProductName)); });
}

void Form3::LoadDataGrid()
{
    unbindGrid();
    m_connection->setCursorLocation(3);
    m_rows = std::make_unique<RowSet>();
    m_rows->open(QStringLiteral("SELECT * FROM `") + m_wizard.CurrentTable + QStringLiteral("`;"), *m_connection, 2, 3);
    m_model->setRowSet(m_rows.get(), m_connection.get());
}

void Form3::bindGrid(std::unique_ptr<Connection> connection, std::unique_ptr<RowSet> rows)
{
    m_gridConnection = std::move(connection);
    m_gridRows = std::move(rows);
    m_model->setRowSet(m_gridRows.get(), m_gridConnection.get());
}

void Form3::unbindGrid()
{
    m_model->setRowSet(nullptr, nullptr);
    // The picker's previous rows go with the binding; the editor's own stay.
    m_gridRows.reset();
    m_gridConnection.reset();
}

void Form3::requeryGrid()
{
    RowSet *rows = m_model->rowSet();
    m_model->setRowSet(nullptr, nullptr);
    if (!rows)
        return;
    rows->requery();
    m_model->setRowSet(rows, rows->activeConnection());
}

void Form3::PushButton1_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton1_Click));
    trap.step(100, [&] { m_wizard.form2()->show(); });
    trap.step(102, [&] { hide(); });
}

void Form3::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_wizard.endProgram();
}
