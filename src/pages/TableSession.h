#pragma once

#include "core/Failure.h"
#include "grid/GridModel.h"
#include "grid/GridPaste.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class Connection;
class GridOrder;
class GridSource;
class GridView;
class PagePointer;
class RowSet;
class ShownRows;
class WriteHistory;
class QWidget;

// The table open in the editor: the one connection and row set the grid
// shows, the writes of the grid's rows, and what the user is told of them.
// It reaches the user only through its Ui and waits for the server with the
// page's input held.
class TableSession : public QObject
{
    Q_OBJECT
public:
    struct Ui
    {
        std::function<void(const QString &)> tell;
        std::function<bool(const QString &)> ask; // Yes/No, No by default
        // The grid's before-delete event: true when the row may go.
        std::function<bool()> confirmDelete;
        // A window named `name` that shows how many rows of a bulk write are
        // done (`rowLabel`, e.g. "Deleting row %L1 of %L2") once they take
        // half a second; the function it gives returns false on Cancel.
        std::function<std::function<bool(qint64, qint64)>(const QString &name, const QString &rowLabel)> progress;
        // Called as a table opens: why it is shown read-only (the server
        // takes no changes), or an empty text when it can be changed.
        std::function<void(const QString &reason)> showReadOnly;
        // Called after a write, which may have signed in anew (to another
        // server of several): the connection's badge is shown again.
        std::function<void()> connectionChanged;
    };

    TableSession(QWidget &page, PagePointer &pointer, Ui ui);
    ~TableSession() override;

    // The grid over this session; set once, before any table is opened.
    void setView(GridView *view) { m_view = view; }

    GridModel *model() const { return m_model; }
    // The connection the table shown was read on; none when none is shown.
    std::shared_ptr<Connection> sharedConnection() const { return m_connection; }
    // The rows as the grid shows them (sorted, filtered) over model().
    GridOrder *order() const { return m_order; }
    // What the exports write: the rows as shown; the model itself while
    // they show in the server's order.
    GridSource &exportSource();
    WriteHistory &history() { return *m_history; }
    // The connection of the table shown (null when none is).
    Connection *connection() const { return m_connection.get(); }

    // Shows the rows of `table`, read (or still reading in the background)
    // on `connection`, in place of what the grid showed.
    void open(const QString &table, std::shared_ptr<Connection> connection, std::shared_ptr<RowSet> rows);
    // Reads `table` on the open `connection` in the background and shows it;
    // the first screen is waited for, with `waiting`'s Cancel. With `first`
    // (a unique key's column names and values), the rows from that row on
    // may show first (RowSet::openInBackground).
    void load(const QString &table, std::shared_ptr<Connection> connection, const std::function<bool(qint64)> &waiting,
        const std::vector<std::pair<QByteArray, QByteArray>> &first = {});
    // Leaves the grid empty and stops reading rows for it.
    void close();

    // Runs the grid's query again and shows its rows anew. Writes held edits
    // first. The user's input is held back while the server is waited for,
    // but for the wait dialog's Cancel; closing meanwhile gives the re-read
    // up. Throws Failure.
    void requery();

    // Writes the edits held in the grid's current row. When that fails the
    // user is told why and the edits stay; returns false then.
    bool commitHeldRow();
    // Asks, then deletes `row` on the server and in the grid.
    void deleteRow(int row);
    // Asks "Delete these N rows?" once, then deletes them one by one; the
    // first refused stops it.
    void deleteRows(std::vector<int> rows);
    // Pastes `text` (and GridCopy's `nulls`) at the grid's current cell,
    // telling the user where it stopped.
    void paste(const QString &text, const QByteArray &nulls);
    void setSelectionToNull();
    // Takes back (or writes again) the last step of written changes.
    void undoWrite(bool redo);

private:
    void tell(const QString &text) { m_ui.tell(text); }
    // Tells what became of a write beyond plain success, and reads the table
    // again when the grid's copy is no longer a handle on the row. False when
    // the write was not done.
    bool reportWrite(GridModel::Outcome outcome, const QString &notDone);
    // Reads the table again once the current event is done (after a write
    // left the grid's copy out of date), opening the connection if it was lost.
    void rereadLater();
    void rereadNow();
    GridPaste::Ui pasteUi();
    void finishPaste(const GridPaste &paste);
    static QString failureText(const QString &what, const Failure &e);
    QString labelKey(const QByteArray &constraint) const;
    void loadFailed(const QString &description, long number);

    QWidget &m_page;
    PagePointer &m_pointer;
    Ui m_ui;
    GridView *m_view = nullptr;
    GridModel *m_model;
    GridOrder *m_order;
    WriteHistory *m_history;
    std::unique_ptr<ShownRows> m_shownRows;
    // The table shown, as it was opened.
    QString m_table;
    // Shared, so a re-read that waits keeps them while the table is closed
    // meanwhile.
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<RowSet> m_rows;
    // Counts close(): a re-read whose table was closed meanwhile is given up.
    quint64 m_closes = 0;
};
