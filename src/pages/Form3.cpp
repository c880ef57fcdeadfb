#include "pages/Form3.h"

#include "db/Connection.h"
#include "db/RowSet.h"
#include "export/ProgressDialog.h"
#include "frame/HeldInput.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
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
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

Form3::Form3(Wizard &wizard)
    : m_wizard(wizard), m_pointer(new PagePointer(this)), m_model(new GridModel(this)), m_order(new GridOrder(this))
{
    m_order->setGridModel(m_model);
    // Row writes wait for a slow server with the window alive.
    m_model->setWriteRunner([this](const std::function<void()> &work) {
        runHoldingInput(this, *m_model->connection(), work); // writes need a connection
    });
    m_shownRows = std::make_unique<ShownRows>(m_model->exportSource(), *m_order);
    setObjectName(QStringLiteral("Form3"));
    buildControls();

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

    DataGrid1->setCommitHandler([this] { return commitHeldRow(); });
    DataGrid1->setDeleteHandler([this](int row) { deleteRow(row); });
    DataGrid1->setPasteHandler([this] { pasteRows(); });
    m_history = new WriteHistory(*m_model, this);
    DataGrid1->setUndoHandler([this](bool redo) { undoWrite(redo); },
                              [this](bool redo) { return redo ? m_history->canRedo() : m_history->canUndo(); });
    DataGrid1->setBulkNullHandler([this] { setSelectionToNull(); });
    DataGrid1->setRefusalHandler([this](const QString &text) { tell(text); });
    DataGrid1->setDeleteRowsHandler([this](std::vector<int> rows) { deleteRows(std::move(rows)); });
    findBar->setBeforeFilter([this] { return commitHeldRow(); });
    connect(DataGrid1, &GridView::findRequested, findBar, &FindBar::open);
    connect(DataGrid1, &GridView::findStepRequested, findBar, [this](bool backwards) {
        // F3 with the bar closed opens it for the text to find.
        if (findBar->isVisible())
            findBar->step(backwards);
        else
            findBar->open();
    });
    connect(m_model, &GridModel::loadFailed, this, &Form3::loadFailed);
}

Form3::~Form3()
{
    // The grid lets go of the rows before they go.
    m_model->setRowSet(nullptr, nullptr);
}

void Form3::buildControls()
{
    Label2 = new QLabel(QStringLiteral(" Table: "), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    DataGrid1 = new GridView(this);
    DataGrid1->setObjectName(QStringLiteral("DataGrid1"));
    DataGrid1->setToolTip(QStringLiteral("Changes you make are automatically saved as you make them."));
    DataGrid1->setAccessibleName(QStringLiteral("Table rows"));
    DataGrid1->setGridModel(m_model, m_order);
    Label2->setBuddy(DataGrid1);
    findBar = new FindBar(*DataGrid1, *m_order, this);

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

    lblSecurity = new QLabel(this);
    lblSecurity->setObjectName(QStringLiteral("lblSecurity"));

    auto *bottom = new QHBoxLayout;
    for (QPushButton *b : {PushButton1, PushButton4, PushButton5, PushButton2, PushButton6, PushButton3})
        bottom->addWidget(b);
    bottom->addWidget(lblSecurity);
    auto *page = new QVBoxLayout(this);
    page->addWidget(Label2);
    page->addWidget(DataGrid1, 1);
    page->addWidget(findBar);
    page->addLayout(bottom);
    resize(900, 600);

    QWidget *previous = DataGrid1;
    // The find bar, when shown, comes between the grid and the buttons.
    for (QWidget *w : std::initializer_list<QWidget *>{findBar->txtFind, findBar->chkMatchCase, findBar->chkWholeCell,
                                                       findBar->cboColumn, findBar->cmdPrevious, findBar->cmdNext,
                                                       findBar->cmdFilter, findBar->cmdClose}) {
        setTabOrder(previous, w);
        previous = w;
    }
    for (QWidget *b : {PushButton1, PushButton4, PushButton5, PushButton2, PushButton6, PushButton3}) {
        setTabOrder(previous, b);
        previous = b;
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
    trap.step(104, [&] { m_connection = std::make_unique<Connection>(); });
    trap.step(108, [&] {
        openHoldingPage(this, *m_connection, m_wizard.connectionString());
        SecurityBadge::show(lblSecurity, *m_connection);
    });
    trap.step(110, [&] { Label2->setText(QStringLiteral(" Now Editing: ") + m_wizard.CurrentTable); });
    trap.step(112, [&] { LoadDataGrid(); });
    m_pointer->loadHandCursor(trap, 116);
    trap.step(120, [&] { setWindowTitle(QString::fromLatin1(Main::ProductName)); });
}

void Form3::LoadDataGrid()
{
    unbindGrid();
    if (m_bindFollows)
        return;
    m_rows = std::make_unique<RowSet>();
    // Rows stream in behind the first screen; a later bind stops the read.
    OpenProgress progress(this, m_wizard.CurrentTable, [this] { return isVisible(); });
    m_rows->openInBackground(ColumnListingQuery(m_wizard.CurrentTable), *m_connection, progress.waiting(),
                             m_wizard.CurrentTable);
    m_model->setRowSet(m_rows.get(), m_connection.get());
}

void Form3::bindGrid(std::unique_ptr<Connection> connection, std::unique_ptr<RowSet> rows)
{
    unbindGrid();
    m_gridConnection = std::move(connection);
    m_gridRows = std::move(rows);
    m_model->setRowSet(m_gridRows.get(), m_gridConnection.get());
}

void Form3::unbindGrid()
{
    ++m_unbinds;
    m_model->setRowSet(nullptr, nullptr);
    // The editor's own rows stay open but are not read on for nobody: a
    // table of a million rows is not read twice.
    if (m_rows)
        m_rows->stopLoading();
    // The picker's previous rows go with the binding.
    m_gridRows.reset();
    m_gridConnection.reset();
}

void Form3::requeryGrid()
{
    RowSet *rows = m_model->rowSet();
    if (!rows)
        return;
    DataGrid1->commitEditor();
    if (m_model->hasHeldRow() && m_model->commitRow() != GridModel::Outcome::Done)
        throw Failure(QStringLiteral("The row being edited was changed or deleted by someone else; its changes were not saved."));
    Connection *connection = m_model->connection();
    // Kept through the wait, whoever lets go of them meanwhile.
    const bool own = rows == m_rows.get();
    const std::shared_ptr<RowSet> keepRows = own ? m_rows : m_gridRows;
    const std::shared_ptr<Connection> keepConnection = own ? m_connection : m_gridConnection;
    const quint64 unbinds = m_unbinds;
    const auto bound = [this, unbinds] { return m_unbinds == unbinds; };
    m_model->setRowSet(nullptr, nullptr);
    OpenProgress progress(this, m_wizard.CurrentTable, [this, bound] { return bound() && isVisible(); });
    try {
        holdInputDuring([&] { rows->requery(progress.waiting()); });
    } catch (const Failure &) {
        if (bound())
            throw;
    }
    if (bound())
        m_model->setRowSet(rows, connection);
}

void Form3::tell(const QString &text)
{
    m_wizard.desktop().message(this, Main::appTitle(), text, Desktop::Icon::Warning);
}

QString Form3::failureText(const QString &what, const Failure &e)
{
    // Number 0: the editor's own finding, not the server's words.
    if (e.number() == 0)
        return what + QStringLiteral("\n\n") + e.description();
    return what + QStringLiteral(" The server said:\n\n%1 (error %2)").arg(e.description()).arg(e.number());
}

bool Form3::reportWrite(GridModel::Outcome outcome, const QString &notDone)
{
    switch (outcome) {
    case GridModel::Outcome::Done:
        if (!m_model->notice().isEmpty())
            tell(m_model->notice());
        return true;
    case GridModel::Outcome::RowChanged:
        tell(notDone);
        return false;
    case GridModel::Outcome::Reread:
        // A notice says why the row was not found again; without one the
        // server changed other columns on its own.
        if (!m_model->notice().isEmpty())
            tell(m_model->notice() + QStringLiteral("\n\nThe table is read again."));
        else
            tell(QStringLiteral("The change was saved, but the server changed the row as it saved it (a trigger or a "
                                "column set on update), so the grid's copy is out of date. The table is read again."));
        break;
    case GridModel::Outcome::Unknown:
        tell(QStringLiteral("The connection to the server was lost during the write, and whether it was done could "
                            "not be told. The table is read again: check the row before you change it again."));
        break;
    }
    rereadLater();
    return true;
}

void Form3::rereadLater()
{
    // Not from inside the view's own row change.
    QMetaObject::invokeMethod(this, [this] { rereadNow(); }, Qt::QueuedConnection);
}

void Form3::rereadNow()
{
    if (isHoldingInput()) {
        // A write or connect is waiting on the connection: after it.
        QTimer::singleShot(50, this, [this] { rereadNow(); });
        return;
    }
    try {
        // The write may have left the connection closed.
        Connection *connection = m_model->connection();
        if (connection && !connection->isOpen()) {
            const ConnectParams params = connection->params();
            openHoldingPage(this, *connection, params);
        }
        requeryGrid();
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The table could not be read again."), e));
    }
}

bool Form3::commitHeldRow()
{
    DataGrid1->commitEditor();
    if (!m_model->hasHeldRow())
        return true;
    const QString keep = QStringLiteral("\n\nYour changes are still in the row: correct them and leave the row to "
                                        "save them again, or press Escape to drop them.");
    try {
        BusyPointer busy(*m_pointer);
        return reportWrite(m_model->commitRow(),
                           QStringLiteral("The row was not saved: it was changed or deleted by someone else since it "
                                          "was read.")
                               + keep);
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The row was not saved."), e) + keep);
    }
    return false;
}

void Form3::DataGrid1_BeforeDelete(bool &cancel)
{
    const Desktop::Answer answer =
        m_wizard.desktop().message(this, Main::appTitle(), QStringLiteral("Delete this row?"), Desktop::Icon::None,
                                   Desktop::Buttons::YesNo, Desktop::Answer::No);
    cancel = answer != Desktop::Answer::Yes;
}

void Form3::deleteRow(int row)
{
    if (row < 0 || row >= m_model->rowCount(QModelIndex()))
        return;
    if (row == m_model->newRowLine()) {
        m_model->revertRow(); // nothing there on the server
        return;
    }
    if (m_model->hasHeldRow() && m_model->heldRow() != row && !commitHeldRow())
        return;
    bool cancel = false;
    DataGrid1_BeforeDelete(cancel);
    if (cancel)
        return;
    try {
        BusyPointer busy(*m_pointer);
        reportWrite(m_model->deleteRow(row),
                    QStringLiteral("The row was not deleted: it was changed or deleted by someone else since it was read."));
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The row was not deleted."), e));
    }
}

GridPaste::Ui Form3::pasteUi()
{
    GridPaste::Ui ui;
    ui.tell = [this](const QString &text) { tell(text); };
    ui.ask = [this](const QString &text) {
        return m_wizard.desktop().message(this, Main::appTitle(), text, Desktop::Icon::None, Desktop::Buttons::YesNo,
                                          Desktop::Answer::No)
               == Desktop::Answer::Yes;
    };
    // Shows once the writes take half a second, with Cancel.
    auto progress = std::make_shared<ProgressDialog>(this, 500, QStringLiteral("PasteProgress"));
    ui.progress = [progress](int done, int total) { return progress->update(done, total); };
    return ui;
}

void Form3::finishPaste(const GridPaste &paste)
{
    if (paste.outcome() == GridModel::Outcome::Reread)
        reportWrite(GridModel::Outcome::Reread, QString());
    else if (paste.outcome() == GridModel::Outcome::Unknown)
        rereadLater(); // the paste said where it stopped
}

void Form3::pasteRows()
{
    const StepGuard step(*m_history);
    BusyPointer busy(*m_pointer);
    const QMimeData *mime = QApplication::clipboard()->mimeData();
    if (!mime)
        return;
    GridPaste paste(*DataGrid1, pasteUi());
    paste.paste(mime->text(), mime->data(GridCopy::nullsFormat()));
    finishPaste(paste);
}

void Form3::undoWrite(bool redo)
{
    if (!commitHeldRow())
        return;
    try {
        BusyPointer busy(*m_pointer);
        // RowChanged comes back as a Failure with its reason.
        reportWrite(redo ? m_history->redo() : m_history->undo(), QString());
    } catch (const Failure &e) {
        const QString &leftOver = m_history->leftOver();
        if (leftOver.isEmpty()) {
            tell(failureText(
                redo ? QStringLiteral("The change was not redone.") : QStringLiteral("The change was not undone."), e));
            return;
        }
        tell(failureText(redo ? QStringLiteral("The change was not redone in full.")
                              : QStringLiteral("The change was not undone in full."),
                 e)
            + QStringLiteral("\n\n") + leftOver);
        rereadLater();
    }
}

void Form3::setSelectionToNull()
{
    const StepGuard step(*m_history);
    BusyPointer busy(*m_pointer);
    GridPaste paste(*DataGrid1, pasteUi());
    paste.setSelectionToNull();
    finishPaste(paste);
}

void Form3::deleteRows(std::vector<int> rows)
{
    std::erase_if(rows, [this](int row) { return row < 0 || row >= m_model->newRowLine(); });
    if (rows.empty() || !commitHeldRow())
        return;
    const Desktop::Answer answer = m_wizard.desktop().message(
        this, Main::appTitle(), QStringLiteral("Delete these %1 rows?").arg(rows.size()), Desktop::Icon::None,
        Desktop::Buttons::YesNo, Desktop::Answer::No);
    if (answer != Desktop::Answer::Yes)
        return;
    const StepGuard step(*m_history);
    // From the last, so the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    BusyPointer busy(*m_pointer);
    size_t done = 0;
    const QString stopped = QStringLiteral("%1 of the %2 rows were deleted; the rest were not.\n\n");
    ProgressDialog progress(this, 500, QStringLiteral("DeleteProgress"));
    progress.setRowLabel(QStringLiteral("Deleting row %L1 of %L2"));
    try {
        for (; done < rows.size(); ++done) {
            if (done > 0 && !progress.update(qint64(done), qint64(rows.size()))) {
                tell(stopped.arg(done).arg(rows.size()) + QStringLiteral("The deletion was cancelled."));
                return;
            }
            const GridModel::Outcome outcome = m_model->deleteRow(rows[done]);
            if (outcome == GridModel::Outcome::Done)
                continue;
            reportWrite(outcome, stopped.arg(done).arg(rows.size())
                                     + QStringLiteral("A row was changed or deleted by someone else since it was read."));
            return;
        }
    } catch (const Failure &e) {
        tell(failureText(stopped.arg(done).arg(rows.size()) + QStringLiteral("A row was not deleted."), e));
    }
}

void Form3::loadFailed(const QString &description, long number)
{
    tell(QStringLiteral("Not every row of the table could be read; the grid shows the rows read so far.\n\n%1 (error %2)")
             .arg(description)
             .arg(number));
}

void Form3::PushButton1_Click()
{
    // Held edits are written before the page is left; if they cannot be,
    // the user stays with them.
    if (!commitHeldRow())
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

GridSource &Form3::exportSource()
{
    if (m_order->isOrdered() || m_order->isBusy())
        return *m_shownRows;
    return m_model->exportSource();
}

void Form3::cmdAddNewRow_Click()
{
    // Going to the new-row line leaves the row being edited.
    if (!commitHeldRow())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_cmdAddNewRow_Click));
    trap.step(100, [&] { DataGrid1->setFocus(); });
    // The new-row line by its own index, whatever the table's size: no page
    // relative row number that overflows.
    trap.step(102, [&] {
        const QModelIndex line = DataGrid1->fromModel(m_model->index(m_model->newRowLine(), 0));
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
    if (!commitHeldRow())
        return;
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_PushButton3_Click));
    trap.step(100, [&] { m_wizard.endProgram(); });
}

void Form3::closeEvent(QCloseEvent *event)
{
    if (!commitHeldRow()) {
        event->ignore();
        return;
    }
    event->accept();
    m_wizard.endProgram();
}
