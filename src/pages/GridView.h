#pragma once

#include <QTableView>

#include <functional>

class GridDelegate;
class QAction;
class GridModel;

// The editor's grid: a table view that writes a row when the user leaves it
// (or presses Enter on its last cell) and keeps the user on a row that could
// not be written. Escape drops the row's edits, Delete asks to delete the
// current row, Ctrl+0 sets the current cell to NULL; the context menu offers
// the same actions. What happens on commit and delete is the page's: it sets
// the handlers (they must not throw).
class GridView : public QTableView
{
    Q_OBJECT
public:
    explicit GridView(QWidget *parent = nullptr);

    using QTableView::edit;

    void setGridModel(GridModel *model);
    GridModel *gridModel() const { return m_model; }

    // Writes the held row; returns false (after telling the user) when it
    // could not, and the row stays held.
    void setCommitHandler(std::function<bool()> handler) { m_commit = std::move(handler); }
    // Asks the user, then deletes the row.
    void setDeleteHandler(std::function<void(int row)> handler) { m_delete = std::move(handler); }

    // Hands the text of an open cell editor to the model, as leaving the
    // cell would.
    void commitEditor();
    QWidget *cellEditor() const; // null when no cell is being edited

    void setCurrentToNull();
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
    };
    const Actions &actions() const { return m_actions; }

protected:
    bool event(QEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createActions();
    // Enables what the current cell and row allow, for the shortcuts.
    void updateActions();
    bool commitHeldRow();
    bool isLastCellOfHeldRow(const QModelIndex &index) const;

    GridModel *m_model = nullptr;
    GridDelegate *m_delegate;
    Actions m_actions;
    std::function<bool()> m_commit;
    std::function<void(int)> m_delete;
    int m_editingRow = -1;
    bool m_committing = false;
};
