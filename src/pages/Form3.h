#pragma once

#include "core/Failure.h"
#include "grid/GridModel.h"
#include "grid/GridPaste.h"
#include "grid/GridView.h"

#include <QWidget>

#include <memory>

class WriteHistory;
class Connection;
class GridModel;
class GridOrder;
class FindBar;
class ShownRows;
class QLabel;
class QMenu;
class QAction;
class QPushButton;
class PagePointer;
class RowSet;
class Wizard;

// The table editor: the rows of CurrentTable in an editable grid, with the
// buttons and the "Save As" menu around it. Edits of a row are held until
// the user leaves the row, then written; leaving the page writes them first.
class Form3 : public QWidget
{
    Q_OBJECT
public:
    explicit Form3(Wizard &wizard);
    ~Form3() override;

    // Runs once, when the page is first shown.
    void Form_Load();
    void LoadDataGrid();

    void PushButton1_Click(); // "< Back"
    void PushButton4_Click(); // "Help"
    void cmdAddNewRow_Click(); // "Add New Row"
    void PushButton6_Click(); // "Save Table As.."
    void PushButton3_Click(); // "Quit"

    // "Add New Column" (Form3Schema.cpp): opens the Add Column dialog, then
    // re-reads the grid with requeryGrid().
    void chkNewColumn_Click();
    // Runs the grid's query again and lays the grid out anew (lines 108, 110
    // of "Add New Column"). Writes held edits first. The user's input is held
    // back while the server is waited for, but for the wait dialog's Cancel;
    // leaving the table meanwhile gives the re-read up. Throws Failure.
    void requeryGrid();

    // The "Save As" menu's items (Form3Exports.cpp, Form3Pdf.cpp).
    void mnuTXT_Click();
    void mnuXML_Click();
    void mnuCSV_Click();
    void mnuXLS_Click();
    void mnuPDF_Click();

    // The grid's data source: the connection and the rows read on it. Rows
    // opened in the background keep arriving after the bind.
    void bindGrid(std::unique_ptr<Connection> connection, std::unique_ptr<RowSet> rows);
    void unbindGrid();
    // Set while the picker opens a table for the grid: the first showing
    // then reads no rows of its own, so the table is not read twice.
    void setBindFollows(bool follows) { m_bindFollows = follows; }
    GridModel *model() const { return m_model; }
    // The rows as the grid shows them (sorted, filtered) over model().
    GridOrder *order() const { return m_order; }
    // What the exports write: the rows as shown; the model itself while
    // they show in the server's order.
    GridSource &exportSource();

    // Writes the edits held in the grid's current row. When that fails the
    // user is told why and the edits stay; returns false then.
    bool commitHeldRow();
    // The grid's before-delete event: asks "Delete this row?" (No is the
    // default); sets `cancel` unless the user answers Yes.
    void DataGrid1_BeforeDelete(bool &cancel);
    // Asks, then deletes `row` on the server and in the grid.
    void deleteRow(int row);
    // Pastes the clipboard at the grid's current cell, telling the user where it stopped.
    void pasteRows();
    // Asks "Delete these N rows?" once, then deletes them one by one; the
    // first refused stops it.
    void deleteRows(std::vector<int> rows);
    void setSelectionToNull();
    GridPaste::Ui pasteUi();
    // Takes back (or writes again) the last step of written changes.
    void undoWrite(bool redo);
    WriteHistory &history() { return *m_history; }

    static QString helpText();

    PagePointer &pointer() const { return *m_pointer; }
    bool isLoaded() const { return m_loaded; }

    QLabel *Label2;
    QLabel *lblSecurity; // lock: is the connection encrypted
    GridView *DataGrid1;
    FindBar *findBar;
    QPushButton *PushButton1, *PushButton4, *PushButton5, *PushButton2, *PushButton6, *PushButton3;
    QMenu *mnuSaveAs;
    QAction *mnuTXT, *mnuXLS, *mnuCSV, *mnuPDF, *mnuXML;

    Wizard &wizard() const { return m_wizard; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void tell(const QString &text);
    // Tells what became of a write beyond plain success, and reads the table
    // again when the grid's copy is no longer a handle on the row. False when
    // the write was not done.
    bool reportWrite(GridModel::Outcome outcome, const QString &notDone);
    // Reads the table again once the current event is done (after a write
    // left the grid's copy out of date), opening the connection if it was lost.
    void rereadLater();
    void rereadNow();
    void finishPaste(const GridPaste &paste);
    static QString failureText(const QString &what, const Failure &e);
    void loadFailed(const QString &description, long number);

    Wizard &m_wizard;
    PagePointer *m_pointer;
    WriteHistory *m_history = nullptr;
    GridModel *m_model;
    GridOrder *m_order;
    std::unique_ptr<ShownRows> m_shownRows;
    bool m_loaded = false;
    bool m_bindFollows = false;
    // The editor's own connection and rows, opened by the load. Shared so a
    // re-read that waits keeps them while the page is left meanwhile.
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<RowSet> m_rows;
    // The connection and rows the grid shows.
    std::shared_ptr<Connection> m_gridConnection;
    std::shared_ptr<RowSet> m_gridRows;
    // Counts unbindGrid(): a re-read whose binding is gone is given up.
    quint64 m_unbinds = 0;
};
