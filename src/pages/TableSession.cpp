#include "pages/TableSession.h"

#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/HeldInput.h"
#include "frame/PagePointer.h"
#include "frame/SettingsStore.h"
#include "grid/GridOrder.h"
#include "grid/GridView.h"
#include "grid/ShownRows.h"
#include "grid/WriteHistory.h"
#include "pages/OpenProgress.h"
#include "schema/SchemaStatements.h"

#include <QTimer>

#include <algorithm>

TableSession::TableSession(QWidget &page, PagePointer &pointer, Ui ui)
    : QObject(&page), m_page(page), m_pointer(pointer), m_ui(std::move(ui)), m_model(new GridModel(this)),
      m_order(new GridOrder(this))
{
    m_order->setGridModel(m_model);
    // Row writes wait for a slow server with the window alive.
    m_model->setWriteRunner([this](const std::function<void()> &work) {
        runHoldingInput(&m_page, *m_model->connection(), work); // writes need a connection
    });
    m_shownRows = std::make_unique<ShownRows>(m_model->exportSource(), *m_order);
    m_history = new WriteHistory(*m_model, this);
    connect(m_model, &GridModel::loadFailed, this, &TableSession::loadFailed);
    m_model->labels().setMemory(
        [this](const QByteArray &constraint) { return SettingsStore::read(labelKey(constraint), QString()).toUtf8(); },
        [this](const QByteArray &constraint, const QByteArray &column) {
            SettingsStore::write(labelKey(constraint), QString::fromUtf8(column));
        });
}

// The settings key of a foreign key's label column: per server, database,
// table and constraint, each part escaped, so no name can reach another's key.
QString TableSession::labelKey(const QByteArray &constraint) const
{
    const ConnectParams params = m_connection ? m_connection->params() : ConnectParams();
    QByteArray key = "ForeignKeyLabels/";
    for (const QByteArray &part :
        {params.host + ':' + QByteArray::number(params.port), params.database, m_table.toUtf8(), constraint})
        key += part.toPercentEncoding() + '.';
    key.chop(1);
    return QString::fromLatin1(key);
}

TableSession::~TableSession()
{
    // The grid lets go of the rows before they go.
    m_model->setRowSet(nullptr, nullptr);
}

GridSource &TableSession::exportSource()
{
    if (m_order->isOrdered() || m_order->isBusy())
        return *m_shownRows;
    return m_model->exportSource();
}

void TableSession::open(const QString &table, std::shared_ptr<Connection> connection, std::shared_ptr<RowSet> rows)
{
    close();
    m_table = table;
    m_connection = std::move(connection);
    m_rows = std::move(rows);
    // Writes the server must refuse are not offered: the grid gets no
    // connection to write through.
    QString readOnly = m_connection && m_connection->isReadOnly() ? m_connection->readOnlyReason() : QString();
    if (readOnly.isEmpty() && m_rows && m_rows->fieldCount() > 0 && !m_rows->field(0).orgTable.isEmpty()) {
        const std::vector<FieldInfo> &fields = m_rows->fields();
        if (std::none_of(fields.begin(), fields.end(), [](const FieldInfo &f) { return f.mayInsert || f.mayUpdate; }))
            readOnly = QStringLiteral("The server grants your user no right to add or change rows of `%1`.").arg(table);
    }
    m_model->setRowSet(m_rows.get(), readOnly.isEmpty() ? m_connection.get() : nullptr);
    if (m_ui.showReadOnly)
        m_ui.showReadOnly(readOnly);
}

void TableSession::load(const QString &table, std::shared_ptr<Connection> connection,
    const std::function<bool(qint64)> &waiting, const std::vector<std::pair<QByteArray, QByteArray>> &first)
{
    close();
    auto rows = std::make_shared<RowSet>();
    // Rows stream in behind the first screen; closing stops the read.
    rows->openInBackground(SelectAllRowsQuery(table), *connection, waiting, table, first);
    open(table, std::move(connection), std::move(rows));
}

void TableSession::close()
{
    ++m_closes;
    m_model->setRowSet(nullptr, nullptr);
    // Not read on for nobody: a table of a million rows is not read twice.
    // A re-read that waits keeps its own share of the rows.
    if (m_rows)
        m_rows->stopLoading();
    m_rows.reset();
    m_connection.reset();
}

void TableSession::requery()
{
    RowSet *rows = m_model->rowSet();
    if (!rows)
        return;
    if (m_view)
        m_view->commitEditor();
    if (m_model->hasHeldRow() && m_model->commitRow() != GridModel::Outcome::Done)
        throw Failure(QStringLiteral("The row being edited was changed or deleted by someone else; its changes were not saved."));
    Connection *connection = m_model->connection();
    // Kept through the wait, whoever lets go of them meanwhile.
    const std::shared_ptr<RowSet> keepRows = m_rows;
    const std::shared_ptr<Connection> keepConnection = m_connection;
    const quint64 closes = m_closes;
    const auto open = [this, closes] { return m_closes == closes; };
    m_model->setRowSet(nullptr, nullptr);
    OpenProgress progress(&m_page, m_table, [this, open] { return open() && m_page.isVisible(); });
    try {
        holdInputDuring([&] { rows->requery(progress.waiting()); });
    } catch (const Failure &) {
        if (open())
            throw;
    }
    if (open())
        m_model->setRowSet(rows, connection);
}

QString TableSession::failureText(const QString &what, const Failure &e)
{
    // Number 0: the editor's own finding, not the server's words.
    if (e.number() == 0)
        return what + QStringLiteral("\n\n") + e.description();
    if (!e.explanation().isEmpty())
        return what
            + QStringLiteral("\n\n%1\n\nThe server said:\n\n%2 (error %3)")
                  .arg(e.explanation(), e.description())
                  .arg(e.number());
    return what + QStringLiteral(" The server said:\n\n%1 (error %2)").arg(e.description()).arg(e.number());
}

bool TableSession::reportWrite(GridModel::Outcome outcome, const QString &notDone)
{
    if (m_ui.connectionChanged)
        m_ui.connectionChanged();
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

void TableSession::rereadLater()
{
    // Not from inside the view's own row change.
    QMetaObject::invokeMethod(this, [this] { rereadNow(); }, Qt::QueuedConnection);
}

void TableSession::rereadNow()
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
            openHoldingPage(&m_page, *connection, params);
        }
        requery();
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The table could not be read again."), e));
    }
}

bool TableSession::commitHeldRow()
{
    if (m_view)
        m_view->commitEditor();
    if (!m_model->hasHeldRow())
        return true;
    const QString keep = QStringLiteral("\n\nYour changes are still in the row: correct them and leave the row to "
                                        "save them again, or press Escape to drop them.");
    try {
        BusyPointer busy(m_pointer);
        return reportWrite(m_model->commitRow(),
                           QStringLiteral("The row was not saved: it was changed or deleted by someone else since it "
                                          "was read.")
                               + keep);
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The row was not saved."), e) + keep);
    }
    return false;
}

void TableSession::deleteRow(int row)
{
    if (row < 0 || row >= m_model->rowCount(QModelIndex()))
        return;
    if (row == m_model->newRowLine()) {
        m_model->revertRow(); // nothing there on the server
        return;
    }
    if (m_model->hasHeldRow() && m_model->heldRow() != row && !commitHeldRow())
        return;
    if (!m_ui.confirmDelete())
        return;
    try {
        BusyPointer busy(m_pointer);
        reportWrite(m_model->deleteRow(row),
                    QStringLiteral("The row was not deleted: it was changed or deleted by someone else since it was read."));
    } catch (const Failure &e) {
        tell(failureText(QStringLiteral("The row was not deleted."), e));
    }
}

void TableSession::deleteRows(std::vector<int> rows)
{
    std::erase_if(rows, [this](int row) { return row < 0 || row >= m_model->newRowLine(); });
    if (rows.empty() || !commitHeldRow())
        return;
    if (!m_ui.ask(QStringLiteral("Delete these %1 rows?").arg(rows.size())))
        return;
    const StepGuard step(*m_history);
    // From the last, so the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    BusyPointer busy(m_pointer);
    size_t done = 0;
    const QString stopped = QStringLiteral("%1 of the %2 rows were deleted; the rest were not.\n\n");
    const auto progress = m_ui.progress(QStringLiteral("DeleteProgress"), QStringLiteral("Deleting row %L1 of %L2"));
    // A batch of rows per round trip; Cancel acts between batches.
    try {
        while (done < rows.size()) {
            if (done > 0 && !progress(qint64(done), qint64(rows.size()))) {
                tell(stopped.arg(done).arg(rows.size()) + QStringLiteral("The deletion was cancelled."));
                return;
            }
            const size_t end = std::min(rows.size(), done + RowWriter::BatchRows);
            const GridModel::Written batch
                = m_model->deleteRows(std::vector<int>(rows.begin() + qsizetype(done), rows.begin() + qsizetype(end)));
            done += size_t(batch.written);
            if (batch.failure)
                throw *batch.failure;
            if (batch.outcome == GridModel::Outcome::Done)
                continue;
            reportWrite(batch.outcome,
                stopped.arg(done).arg(rows.size())
                    + QStringLiteral("A row was changed or deleted by someone else since it was read."));
            return;
        }
    } catch (const Failure &e) {
        tell(failureText(stopped.arg(done).arg(rows.size()) + QStringLiteral("A row was not deleted."), e));
    }
}

GridPaste::Ui TableSession::pasteUi()
{
    GridPaste::Ui ui;
    ui.tell = m_ui.tell;
    ui.ask = m_ui.ask;
    ui.progress = [progress = m_ui.progress(QStringLiteral("PasteProgress"), QString())](int done, int total) {
        return progress(done, total);
    };
    return ui;
}

void TableSession::finishPaste(const GridPaste &paste)
{
    if (paste.outcome() == GridModel::Outcome::Reread)
        reportWrite(GridModel::Outcome::Reread, QString());
    else if (paste.outcome() == GridModel::Outcome::Unknown)
        rereadLater(); // the paste said where it stopped
}

void TableSession::paste(const QString &text, const QByteArray &nulls)
{
    const StepGuard step(*m_history);
    BusyPointer busy(m_pointer);
    GridPaste pasting(*m_view, pasteUi());
    pasting.paste(text, nulls);
    finishPaste(pasting);
}

void TableSession::setSelectionToNull()
{
    const StepGuard step(*m_history);
    BusyPointer busy(m_pointer);
    GridPaste pasting(*m_view, pasteUi());
    pasting.setSelectionToNull();
    finishPaste(pasting);
}

void TableSession::undoWrite(bool redo)
{
    if (!commitHeldRow())
        return;
    try {
        BusyPointer busy(m_pointer);
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

void TableSession::loadFailed(const QString &description, long number)
{
    tell(QStringLiteral("Not every row of the table could be read; the grid shows the rows read so far.\n\n%1 (error %2)")
             .arg(description)
             .arg(number));
}
