#pragma once

#include "db/ForeignLabels.h"
#include "grid/GridView.h"
#include "pages/TableSession.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class Connection;
class RowSet;
class GridModel;
class GridOrder;
class FindBar;
class Trap;
class ValuePanel;
class QLabel;
class QMenu;
class QAction;
class QPushButton;
class PagePointer;
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
    // of "Add New Column"): TableSession::requery(). Throws Failure.
    void requeryGrid();

    // The "Save As" menu's items (Form3Exports.cpp, Form3Pdf.cpp).
    void mnuTXT_Click();
    void mnuXML_Click();
    void mnuCSV_Click();
    void mnuXLS_Click();
    void mnuPDF_Click();
    // "Import..." (Form3Import.cpp): reads a CSV, text or xlsx file into the
    // table after a preview, then reads the table again.
    void mnuImport_Click();

    // "Next >" of the picker, from its step 114 on, with its trap: shows this
    // page with the rows of CurrentTable read on `connection` (the first
    // screen waited for, the rest streaming in behind).
    enum class Opened { Shown, Cancelled };
    Opened openTable(Trap &trap, std::shared_ptr<Connection> connection);

    // The table shown: its connection, rows, writes and what the user is
    // told of them.
    TableSession &session() const { return *m_session; }
    GridModel *model() const { return m_session->model(); }
    GridOrder *order() const { return m_session->order(); }

    // The grid's before-delete event: asks "Delete this row?" (No is the
    // default); sets `cancel` unless the user answers Yes.
    void DataGrid1_BeforeDelete(bool &cancel);

    static QString helpText();

    PagePointer &pointer() const { return *m_pointer; }
    bool isLoaded() const { return m_loaded; }

    QLabel *Label2;
    QLabel *securityLabel; // lock: is the connection encrypted
    QLabel *readOnlyNote;  // why the table cannot be changed; hidden when it can
    GridView *DataGrid1;
    FindBar *findBar;
    ValuePanel *valuePanel; // the current cell whole, docked beside the grid
    QPushButton *PushButton1, *PushButton4, *PushButton5, *PushButton2, *PushButton6, *PushButton3;
    QMenu *mnuSaveAs;
    QAction *mnuTXT, *mnuXLS, *mnuCSV, *mnuPDF, *mnuXML, *mnuImport;

    Wizard &wizard() const { return m_wizard; }

    // Along foreign keys (Form3Keys.cpp): opens the table the key at
    // `column` of `row` refers to, with the row it refers to current; and
    // back to the table and row before.
    void goToReferencedRow(int row, int column);
    void goBack();
    // "Rows That Reference This Row": each table whose foreign key refers to
    // this table, with how many of its rows refer to `row`; opening one shows
    // that table filtered to those rows (Back returns).
    void showReferringRows(int row);
    std::optional<ForeignLabels::Referring> referringRows(int row);
    void openReferringRows(const ForeignKey &key, const NamedValues &values, int row);
    NamedValues rowValues(int row) const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void tell(const QString &text);
    // Where "Back" returns: a table, the cells that tell its row apart (and
    // their columns' names), the column.
    struct Place
    {
        QString table;
        std::vector<std::pair<int, CellValue>> cells;
        int column = 0;
        std::vector<std::pair<QByteArray, QByteArray>> key;
    };
    static Place placeOf(const QString &table, const RowSet &rows, int row, int column);
    void showRow(const QString &table, int column,
        const std::function<std::vector<std::pair<int, CellValue>>(const RowSet &)> &cellsIn,
        const std::vector<std::pair<QByteArray, QByteArray>> &key = {});
    std::vector<Place> m_back;
    void showReadOnly(const QString &reason);

    Wizard &m_wizard;
    PagePointer *m_pointer;
    TableSession *m_session;
    bool m_loaded = false;
    // Set while openTable() shows the page: its first showing then reads no
    // rows of its own, so the table is not read twice.
    bool m_opening = false;
    // The page's connection, taken by its first showing: the one the pages
    // share when it fits (KeptConnection), else opened then.
    std::shared_ptr<Connection> m_connection;
};
