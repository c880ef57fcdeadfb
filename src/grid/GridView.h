#pragma once

#include <QTableView>

#include <functional>
#include <utility>
#include <vector>

class GridCopy;
class GridDelegate;
class QAction;
class QMenu;
class QTimer;
class GridModel;
class GridOrder;

// The editor's grid: a table view that writes a row when the user leaves it
// (or presses Enter on its last cell) and keeps the user on a row that could
// not be written. Escape drops the row's edits, Delete asks to delete the
// current row, Ctrl+0 sets the current cell to NULL; the context menu offers
// the same actions. What happens on commit and delete is the page's: it sets
// the handlers (they must not throw).
//
// With a GridOrder between model and view, a header click sorts by the
// column (ascending, descending, then the server's order again), after the
// held row is written; the context menu offers the same. Ctrl+F, Ctrl+Shift+F
// and F3 ask for the find bar, which is the page's. Ctrl+header click
// selects the column instead; Ctrl+C and Ctrl+Shift+C copy.
class GridView : public QTableView
{
    Q_OBJECT
public:
    explicit GridView(QWidget *parent = nullptr);

    using QTableView::edit;

    // `order` (optional) shows the model's rows sorted and filtered.
    void setGridModel(GridModel *model, GridOrder *order = nullptr);
    void setSelectionModel(QItemSelectionModel *selectionModel) override;
    GridModel *gridModel() const { return m_model; }
    GridOrder *gridOrder() const { return m_order; }
    // The model's index of a cell of this view, and back.
    QModelIndex toModel(const QModelIndex &viewIndex) const;
    QModelIndex fromModel(const QModelIndex &modelIndex) const;
    // scrollTo() at once, with the scroll bar first caught up with rows that
    // arrived below the screen (it follows them a little later on its own).
    void scrollToNow(const QModelIndex &index, ScrollHint hint);

    // Sorts by `column` (-1: the server's order) once the held row is
    // written; returns false when it could not be and nothing moved.
    bool orderBy(int column, Qt::SortOrder order = Qt::AscendingOrder);
    // Columns as wide as what the first screen shows, up to MaxFitChars.
    void fitColumns();
    static constexpr int MaxFitChars = 40;

    // Writes the held row; returns false (after telling the user) when it
    // could not, and the row stays held.
    void setCommitHandler(std::function<bool()> handler) { m_commit = std::move(handler); }
    // Asks the user, then deletes the row.
    void setDeleteHandler(std::function<void(int row)> handler) { m_delete = std::move(handler); }

    // Pastes the clipboard's text at the current cell (see GridPaste); the
    // page's, as it tells and asks the user.
    void setPasteHandler(std::function<void()> handler) { m_paste = std::move(handler); }
    // Ctrl+Z (redo false), Ctrl+Shift+Z and Ctrl+Y (redo true).
    // `available` tells whether there is something to undo (redo false) or
    // redo; the context menu greys what there is not.
    void setUndoHandler(std::function<void(bool redo)> handler, std::function<bool(bool redo)> available = {})
    {
        m_undo = std::move(handler);
        m_undoAvailable = std::move(available);
    }
    // Ctrl+0 on more than one selected cell: writes NULL into each.
    void setBulkNullHandler(std::function<void()> handler) { m_bulkNull = std::move(handler); }
    // Tells the user why a command left the current cell as it was.
    void setRefusalHandler(std::function<void(const QString &)> handler) { m_refuse = std::move(handler); }
    // Delete on more than one whole row: asks once, then deletes the rows
    // (the model's rows).
    void setDeleteRowsHandler(std::function<void(std::vector<int>)> handler) { m_deleteRows = std::move(handler); }

    // Hands the text of an open cell editor to the model, as leaving the
    // cell would.
    void commitEditor();
    QWidget *cellEditor() const; // null when no cell is being edited

    void setCurrentToNull();
    // Puts the selected cells (the rows and columns any selected cell is in,
    // in the order shown) on the clipboard; with `withNames` the column
    // names come first. Built in the background: copier() tells when done.
    void copySelection(bool withNames = false);
    GridCopy *copier() const { return m_copier; }
    void dropRowEdits();
    void deleteCurrentRow();

    // The grid's commands, made once in createActions(): each is added to the
    // view with its shortcut (active while the view itself has focus, not a
    // cell editor) and the context menu is built from the same actions. A new
    // command gets a member here and a line there.
    struct Actions
    {
        QAction *setNull = nullptr;
        QAction *dropRowEdits = nullptr;
        QAction *deleteRow = nullptr;
        QAction *sortAscending = nullptr;
        QAction *sortDescending = nullptr;
        QAction *serverOrder = nullptr;
        QAction *find = nullptr;
        QAction *filter = nullptr;
        QAction *findNext = nullptr;
        QAction *findPrevious = nullptr;
        QAction *copy = nullptr;
        QAction *copyWithNames = nullptr;
        QAction *paste = nullptr;
        QAction *undo = nullptr;
        QAction *redo = nullptr;
        QAction *goToReferenced = nullptr;
        QAction *referencingRows = nullptr;
        QAction *goBack = nullptr;
    };
    const Actions &actions() const { return m_actions; }
    // A command of the page's, added at the end of the context menu.
    void addMenuAction(QAction *action) { m_menuActions << action; }
    // Cells and whole rows selected, counted from the selection's ranges
    // (without asking the model about each cell).
    qint64 selectedCells() const;
    qint64 selectedWholeRows() const;

signals:
    // Ctrl+F (filter false) and Ctrl+Shift+F (filter true).
    void findRequested(bool filter);
    // F3 and Shift+F3.
    void findStepRequested(bool backwards);
    // "Go to Referenced Row" (Ctrl+J) on a foreign key's cell, "Rows That
    // Reference This Row" (Ctrl+Shift+J), and "Back" (Alt+Left); the row is
    // the model's.
    void referencedRowRequested(int row, int column);
    void referencingRowsRequested(int row);
    void backRequested();

protected:
    bool event(QEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createActions();
    // Enables what the current cell and row allow, for the shortcuts.
    void updateActions();
    void addLabelMenu(QMenu &menu, int column);
    void addKeyMenu(QMenu &menu);
    bool commitHeldRow();
    bool isLastCellOfHeldRow(const QModelIndex &index) const;
    void headerClicked(int column);
    void showSortIndicator();
    void sortCurrentAscending();
    void sortCurrentDescending();
    void showServerOrder();
    void copyPlain() { copySelection(false); }
    void copyNamed() { copySelection(true); }
    void pasteClipboard();
    void undoWrite();
    void redoWrite();
    void noteRowsComing(int first);
    // Rows the load puts before those there: the rows on screen, the
    // current one among them, stay where they were.
    void keepPlace(int first, int last);
    // The rows of the table shown, without the new-row line; and how many
    // rows the viewport holds.
    int tableRowCount() const;
    int screenRows() const;
    void rowsCounted(int oldCount, int newCount);
    void rowsArrived();
    // Rows and columns of the view that the selection touches, in order.
    std::pair<std::vector<int>, std::vector<int>> selectedBlock() const;

    GridModel *m_model = nullptr;
    GridOrder *m_order = nullptr;
    bool m_fitted = false;
    bool m_fitWhenShown = false; // rows came before the first screen
    GridDelegate *m_delegate;
    GridCopy *m_copier;
    QItemSelectionModel *m_headerSelection = nullptr; // the column headers' own, always empty
    Actions m_actions;
    QList<QAction *> m_menuActions;
    std::function<bool()> m_commit;
    std::function<void(int)> m_delete;
    std::function<void()> m_paste;
    std::function<void()> m_bulkNull;
    std::function<void(const QString &)> m_refuse;
    std::function<void(bool)> m_undo;
    std::function<bool(bool)> m_undoAvailable;
    std::function<void(std::vector<int>)> m_deleteRows;
    int m_editingRow = -1;
    bool m_committing = false;
    bool m_rowsOutOfSight = false; // the rows being inserted go below the last row shown
    int m_scrollBeforeFront = -1;  // the scroll bar's value as rows come in front; -1: none come
    QTimer *m_geometryTimer;
};
