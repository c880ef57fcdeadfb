#include "pages/Form3.h"

#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/HeldInput.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/ProgressDialog.h"
#include "frame/Trap.h"
#include "grid/FindBar.h"
#include "grid/GridCopy.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"
#include "grid/GridPaste.h"
#include "grid/ShownRows.h"
#include "grid/WriteHistory.h"
#include "pages/Form2.h"
#include "pages/OpenProgress.h"
#include "pages/SecurityBadge.h"
#include "pages/TableSession.h"
#include "pages/ValuePanel.h"
#include "pages/Wizard.h"
#include "schema/SchemaStatements.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <QVBoxLayout>

Form3::Form3(Wizard &wizard) : m_wizard(wizard), m_pointer(new PagePointer(this))
{
    TableSession::Ui ui;
    ui.tell = [this](const QString &text) { tell(text); };
    ui.ask = [this](const QString &text) {
        return m_wizard.desktop().message(this, Main::appTitle(), text, Desktop::Icon::None, Desktop::Buttons::YesNo,
                                          Desktop::Answer::No)
               == Desktop::Answer::Yes;
    };
    ui.confirmDelete = [this] {
        bool cancel = false;
        DataGrid1_BeforeDelete(cancel);
        return !cancel;
    };
    ui.progress = [this](const QString &name, const QString &rowLabel) {
        // Shows once the writes take half a second, with Cancel.
        auto progress = std::make_shared<ProgressDialog>(this, 500, name);
        if (!rowLabel.isEmpty())
            progress->setRowLabel(rowLabel);
        return [progress](qint64 done, qint64 total) { return progress->update(done, total); };
    };
    ui.showReadOnly = [this](const QString &reason) { showReadOnly(reason); };
    ui.connectionChanged = [this] {
        if (Connection *c = m_session->connection(); c && c->isOpen())
            SecurityBadge::show(securityLabel, *c);
    };
    m_session = new TableSession(*this, *m_pointer, std::move(ui));
    setObjectName(QStringLiteral("Form3"));
    buildControls();
    m_session->setView(DataGrid1);

    for (QWidget *b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6})
        m_pointer->watchButton(b);
    for (QWidget *a : {static_cast<QWidget *>(this), static_cast<QWidget *>(Label2), static_cast<QWidget *>(DataGrid1)})
        m_pointer->watchArea(a);

    connect(PushButton1, &QPushButton::clicked, this, &Form3::PushButton1_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form3::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form3::cmdAddNewRow_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form3::chkNewColumn_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form3::PushButton6_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form3::PushButton3_Click);
    connect(mnuTXT, &QAction::triggered, this, &Form3::mnuTXT_Click);
    connect(mnuXLS, &QAction::triggered, this, &Form3::mnuXLS_Click);
    connect(mnuCSV, &QAction::triggered, this, &Form3::mnuCSV_Click);
    connect(mnuPDF, &QAction::triggered, this, &Form3::mnuPDF_Click);
    connect(mnuXML, &QAction::triggered, this, &Form3::mnuXML_Click);
    connect(mnuImport, &QAction::triggered, this, &Form3::mnuImport_Click);

    TableSession &session = *m_session;
    // What the value panel holds goes into the row before the grid writes it.
    DataGrid1->setCommitHandler([this, &session] { return valuePanel->flush() && session.commitHeldRow(); });
    valuePanel->setCommitHandler([&session] { return session.commitHeldRow(); });
    valuePanel->setTellHandler([this](const QString &text) { tell(text); });
    DataGrid1->setDeleteHandler([&session](int row) { session.deleteRow(row); });
    DataGrid1->setPasteHandler([&session] {
        const QMimeData *mime = QApplication::clipboard()->mimeData();
        if (mime)
            session.paste(mime->text(), mime->data(GridCopy::nullsFormat()));
    });
    WriteHistory &history = m_session->history();
    DataGrid1->setUndoHandler([&session](bool redo) { session.undoWrite(redo); },
                              [&history](bool redo) { return redo ? history.canRedo() : history.canUndo(); });
    DataGrid1->setBulkNullHandler([&session] { session.setSelectionToNull(); });
    DataGrid1->setRefusalHandler([this](const QString &text) { tell(text); });
    DataGrid1->setDeleteRowsHandler([&session](std::vector<int> rows) { session.deleteRows(std::move(rows)); });
    findBar->setBeforeFilter([&session] { return session.commitHeldRow(); });
    connect(DataGrid1, &GridView::findRequested, findBar, &FindBar::open);
    connect(DataGrid1, &GridView::referencedRowRequested, this, &Form3::goToReferencedRow);
    connect(DataGrid1, &GridView::backRequested, this, &Form3::goBack);
    DataGrid1->actions().goBack->setEnabled(false); // until a key was followed
    connect(DataGrid1, &GridView::referencingRowsRequested, this, &Form3::showReferringRows);
    connect(DataGrid1, &GridView::findStepRequested, findBar, [this](bool backwards) {
        // F3 with the bar closed opens it for the text to find.
        if (findBar->isVisible())
            findBar->step(backwards);
        else
            findBar->open();
    });
}

Form3::~Form3() = default;

void Form3::buildControls()
{
    Label2 = new QLabel(QStringLiteral(" Table: "), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    DataGrid1 = new GridView(this);
    DataGrid1->setObjectName(QStringLiteral("DataGrid1"));
    DataGrid1->setToolTip(QStringLiteral("Changes you make are automatically saved as you make them."));
    DataGrid1->setAccessibleName(QStringLiteral("Table rows"));
    DataGrid1->setGridModel(m_session->model(), m_session->order());
    Label2->setBuddy(DataGrid1);
    findBar = new FindBar(*DataGrid1, *m_session->order(), this);
    // The grid in a window of its own inside the page, so the value panel
    // docks beside it.
    auto *gridArea = new QMainWindow(this);
    gridArea->setObjectName(QStringLiteral("gridArea"));
    gridArea->setWindowFlags(Qt::Widget);
    gridArea->setCentralWidget(DataGrid1);
    valuePanel = new ValuePanel(*DataGrid1, m_wizard.desktop(), gridArea);
    gridArea->addDockWidget(Qt::RightDockWidgetArea, valuePanel);
    valuePanel->hide();
    addAction(valuePanel->toggleAction());
    addAction(valuePanel->focusAction());
    DataGrid1->addMenuAction(valuePanel->toggleAction());

    const auto button = [this](const char *name, const char *caption) {
        auto *b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
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
    // Reading back is offered beside the writing; the shortcut works on the
    // whole page, not only while the menu is open.
    mnuSaveAs->addSeparator();
    mnuImport = item("mnuImport", "Import...");
    mnuImport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    mnuImport->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(mnuImport);

    securityLabel = new QLabel(this);
    securityLabel->setObjectName(QStringLiteral("securityLabel"));
    readOnlyNote = new QLabel(this);
    readOnlyNote->setObjectName(QStringLiteral("readOnlyNote"));
    readOnlyNote->setWordWrap(true);
    readOnlyNote->setStyleSheet(
        QStringLiteral("QLabel { background: #fff8e1; border: 1px solid #f9a825; padding: 3px; }"));
    readOnlyNote->hide();

    auto *bottom = new QHBoxLayout;
    for (QPushButton *b : {PushButton1, PushButton4, PushButton5, PushButton2, PushButton6, PushButton3})
        bottom->addWidget(b);
    bottom->addWidget(securityLabel);
    auto *page = new QVBoxLayout(this);
    page->addWidget(Label2);
    page->addWidget(readOnlyNote);
    page->addWidget(gridArea, 1);
    page->addWidget(findBar);
    page->addLayout(bottom);
    resize(900, 600);

    QWidget *previous = DataGrid1;
    // The find bar, when shown, comes between the grid and the buttons.
    for (QWidget *w : findBar->tabOrder()) {
        setTabOrder(previous, w);
        previous = w;
    }
    for (QWidget *b : {PushButton1, PushButton4, PushButton5, PushButton2, PushButton6, PushButton3}) {
        setTabOrder(previous, b);
        previous = b;
    }
    // The value panel, when shown, after the buttons (Ctrl+E goes straight there).
    for (QWidget *w : valuePanel->tabOrder()) {
        setTabOrder(previous, w);
        previous = w;
    }
}

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
    trap.step(104, [&] { m_connection = std::make_shared<Connection>(); });
    trap.step(108, [&] {
        const QString connectionString = m_wizard.connectionString();
        m_connection = m_wizard.keptConnection().share(Connection::paramsFrom(connectionString), [&](Connection &c) {
            openHoldingPage(this, c, connectionString);
            return true;
        });
        SecurityBadge::show(securityLabel, *m_connection);
    });
    trap.step(110, [&] { Label2->setText(QStringLiteral(" Now Editing: ") + m_wizard.CurrentTable); });
    trap.step(112, [&] { LoadDataGrid(); });
    m_pointer->loadHandCursor(trap, 116, 118);
    trap.step(120, [&] { setWindowTitle(QString::fromLatin1(Main::ProductName)); });
}

void Form3::DataGrid1_BeforeDelete(bool &cancel)
{
    const Desktop::Answer answer =
        m_wizard.desktop().message(this, Main::appTitle(), QStringLiteral("Delete this row?"), Desktop::Icon::None,
                                   Desktop::Buttons::YesNo, Desktop::Answer::No);
    cancel = answer != Desktop::Answer::Yes;
}

void Form3::LoadDataGrid()
{
    m_session->close();
    if (m_opening)
        return; // openTable() reads the rows
    OpenProgress progress(this, m_wizard.CurrentTable, [this] { return isVisible(); });
    m_session->load(m_wizard.CurrentTable, m_connection, progress.waiting());
}

Form3::Opened Form3::openTable(Trap &trap, std::shared_ptr<Connection> connection)
{
    std::shared_ptr<Connection> shared = std::move(connection);
    auto rows = std::make_shared<RowSet>(); // 102
    const QString &table = m_wizard.CurrentTable;
    m_back.clear(); // a table chosen anew: no way back along keys
    DataGrid1->actions().goBack->setEnabled(false);
    {
        // The rows are read below; the first showing reads none of its own.
        const QScopedValueRollback<bool> opening(m_opening, true);
        trap.step(114, [&] { show(); });
        trap.step(116, [&] { Label2->setText(QStringLiteral(" Now Editing: ") + table); });
        trap.step(118, [&] { m_session->close(); });
        // Leaving the editor while the server is slow to start gives up the wait.
        OpenProgress progress(this, table, [this] { return isVisible(); });
        trap.step(122, [&] {
            // The first screen shows at once; the rest streams in behind it.
            rows->openInBackground(SelectAllRowsQuery(table), *shared, progress.waiting(), table);
        });
        if (progress.wasCancelled())
            return Opened::Cancelled;
    }
    // A table that did not open leaves the grid empty; its failure was reported.
    trap.step(124, [&] {
        if (rows->state() != 0)
            m_session->open(table, std::move(shared), std::move(rows));
    });
    trap.step(126, [&] { DataGrid1->setFocus(); });
    return Opened::Shown;
}

void Form3::tell(const QString &text)
{
    m_wizard.desktop().message(this, Main::appTitle(), text, Desktop::Icon::Warning);
}

void Form3::showReadOnly(const QString &reason)
{
    const QString text = reason.isEmpty()
        ? QString()
        : QStringLiteral("Read-only: %1 Rows and columns cannot be added or changed here.").arg(reason);
    readOnlyNote->setText(text);
    readOnlyNote->setAccessibleName(text);
    readOnlyNote->setVisible(!reason.isEmpty());
    PushButton2->setEnabled(reason.isEmpty());
    // Rows are added only into columns the user may fill.
    const RowSet *rows = model()->rowSet();
    PushButton5->setEnabled(
        reason.isEmpty() && (!rows || std::any_of(rows->fields().begin(), rows->fields().end(), [](const FieldInfo &f) {
            return f.mayInsert;
        })));
}

void Form3::requeryGrid()
{
    m_session->requery();
}

void Form3::PushButton1_Click()
{
    // Held edits are written before the page is left; if they cannot be,
    // the user stays with them.
    if (!m_session->commitHeldRow())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton1_Click));
    trap.step(100, [&] { m_wizard.form2()->show(); });
    trap.step(102, [&] { hide(); });
}

QString Form3::helpText()
{
    const QString first = QStringLiteral("Error: 'Multiple step' error can have many causes, eg. entering non numeric "
                                         "characters in a numeric column, etc.");
    const QString second = QStringLiteral("Error: 'Too many rows affected', you have duplicate rows in the table, I "
                                          "have removed them.");
    return first + QStringLiteral("\r\r") + second;
}

void Form3::PushButton4_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton4_Click));
    QString text;
    trap.step(100, [&] { text = helpText(); });
    trap.step(104, [&] { m_wizard.desktop().message(this, Main::appTitle(), text); });
}

void Form3::cmdAddNewRow_Click()
{
    // Going to the new-row line leaves the row being edited.
    if (!m_session->commitHeldRow())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_cmdAddNewRow_Click));
    trap.step(100, [&] { DataGrid1->setFocus(); });
    // The new-row line by its own index, whatever the table's size: no page
    // relative row number that overflows.
    trap.step(102, [&] {
        const QModelIndex line = DataGrid1->fromModel(model()->index(model()->newRowLine(), 0));
        if (!line.isValid())
            throw Failure(QStringLiteral("No rows can be added to this grid."));
        DataGrid1->scrollTo(line);
        DataGrid1->setCurrentIndex(line);
        if (DataGrid1->currentIndex() == line)
            DataGrid1->selectionModel()->select(line, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });
    trap.step(104, [&] { DataGrid1->setFocus(); });
}

void Form3::PushButton6_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton6_Click));
    trap.step(106, [&] { mnuSaveAs->popup(QCursor::pos()); });
}

void Form3::PushButton3_Click()
{
    if (!m_session->commitHeldRow())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton3_Click));
    trap.step(100, [&] { m_wizard.endProgram(); });
}

void Form3::closeEvent(QCloseEvent *event)
{
    // Closed from outside, the panel may still hold what was typed there.
    if (!valuePanel->flush() || !m_session->commitHeldRow()) {
        event->ignore();
        return;
    }
    event->accept();
    m_wizard.endProgram();
}
