#pragma once

#include "db/RowWriter.h"
#include "grid/CellDisplay.h"
#include "grid/GridExportSource.h"
#include "grid/GridWrites.h"
#include "grid/LabelCache.h"

#include <QAbstractTableModel>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class Connection;
class RowSet;

// The table model of the editor's grid, over the rows of a RowSet, with a
// blank new-row line after the last row. data() reads only the rows held in
// memory; it never runs SQL.
//
// Edits are held for one row at a time and written with one statement by
// commitRow(); the rows shown are then replaced by what the server stored.
// Cells show the server's text form untouched; NULL shows as empty text
// (NullRole tells it apart from an empty string). A column of bytes shows
// and takes hex in every row (CellDisplay); a GEOMETRY column cannot be
// edited, nor a cell of a text column whose bytes are not UTF-8. Writing
// (and reconnecting after a lost connection) is GridWrites' job; the exports
// read the rows through exportSource().
class GridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Role {
        NullRole = Qt::UserRole + 1, // bool: the cell is NULL
        HeldRole,                    // bool: the cell holds an edit not yet written
        HexRole,                     // bool: the column shows and takes hex (a column of bytes)
        LabelRole,                   // QString: the label of the row a foreign key refers to (LabelCache)
        // QByteArray: the cell's own bytes, whole, never hex; not copied, so
        // valid only until the rows change (dataChanged, a reset): copy to keep.
        BytesRole,
    };
    enum class Outcome {
        Done,
        RowChanged, // the row changed or went away since it was read; nothing was written
        Reread,     // written, but the stored row could not be found again: read the table again
        Unknown,    // the connection was lost and whether it was written could not be told: read again
    };

    explicit GridModel(QObject *parent = nullptr);
    ~GridModel() override;

    // Shows `rows` (not owned; null shows nothing); writes go through
    // `connection` (not owned; null makes the grid read-only). Held edits of
    // the rows shown before are dropped.
    void setRowSet(RowSet *rows, Connection *connection);
    RowSet *rowSet() const { return m_rows; }
    Connection *connection() const { return m_connection; }

    bool isEditable() const { return m_editable; }
    // The blank line after the last row (-1 when the grid is read-only).
    int newRowLine() const;
    bool isLoading() const;
    // While the load puts rows before those there (between the row insert's
    // begin and end): how many; else 0.
    int rowsComingInFront() const { return m_rowsComingInFront; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Holds a new value for the cell: a string (an empty one too) is text,
    // a QByteArray the cell's own bytes (in a column of bytes too), an
    // invalid QVariant is NULL. Fails on another row while one is held.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool setNull(const QModelIndex &index) { return setData(index, QVariant()); }

    bool hasHeldRow() const { return m_held.has_value(); }
    int heldRow() const; // -1 when none
    // Writes the held row with one statement (INSERT for the new-row line,
    // else UPDATE) and shows what the server stored. Throws Failure when the
    // server refuses or the write was found not done after a lost
    // connection; the edits stay held then and on RowChanged.
    Outcome commitRow();
    void revertRow();
    // Takes the held edits of a row that exists away, for commitRows(): its
    // model row and changes (none when nothing differs).
    std::pair<int, CellChanges> takeHeldRow();
    // Writes rows that exist (model row, changes), as commitRow() would each,
    // several in one round trip where the server allows, in order, up to the
    // first that is not written: `written` of them were (Reread ones too);
    // `outcome` is RowChanged or Unknown for the one after them, else Reread
    // if any asked for it, else Done; `failure` says why the one after them
    // was refused. No row may be held.
    struct Written
    {
        int written = 0;
        Outcome outcome = Outcome::Done;
        std::optional<Failure> failure;
    };
    Written commitRows(const std::vector<std::pair<int, CellChanges>> &rows);
    // Deletes rows that exist, given from the last to the first, as
    // deleteRow() would each, batched and told as commitRows().
    Written deleteRows(const std::vector<int> &rows);
    // What the last commitRow() or deleteRow() has to tell beyond its
    // outcome (a lost connection checked, a row not confirmed); empty if none.
    const QString &notice() const { return m_writes.notice(); }
    // How row writes wait for the server (see GridWrites::setRunner).
    void setWriteRunner(GridWrites::Runner runner) { m_writes.setRunner(std::move(runner)); }
    // A row added whose stored form could not be identified for certain: it
    // shows what was typed and cannot be edited or deleted until read again.
    bool isUnconfirmed(int row) const { return m_unconfirmed.count(row) > 0; }
    // Deletes the row on the server, then from the grid. On the new-row line
    // it only drops the held edits. Throws Failure when refused.
    Outcome deleteRow(int row);

    // For undo and redo: the row shown with exactly `from` is written as
    // `to` (guarded: only while the server's row is still `from`), deleted,
    // or `to` added with all its values. `near` is the row where it was last
    // seen, looked at first (rows move only when rows before them go).
    // RowChanged when the row is not there as expected; Failure when refused.
    Outcome rewriteValues(const RowValues &from, const RowValues &to, int near = -1);
    Outcome deleteValues(const RowValues &from, int near = -1);
    Outcome insertValues(const RowValues &to);

    // What the exports read: the rows of the table, without the new-row line.
    // The labels shown after foreign keys.
    LabelCache &labels() { return m_labels; }

    GridSource &exportSource() { return m_exportSource; }
    const GridSource &exportSource() const { return m_exportSource; }

signals:
    void loadFinished();
    // The load put `count` rows before the first (after rowsInserted): row
    // numbers kept outside the model's signals move down by as many.
    void rowsPutInFront(int count);
    // A row write done and certain: the row as it was (empty when added)
    // and as the server stored it (empty when deleted), and the row's place
    // in the model. Both empty: a row was added that cannot be told apart on
    // the server (isUnconfirmed), so nothing before it can be undone safely.
    void rowWritten(const RowValues &before, const RowValues &after, int row);
    // The background read failed; the rows read so far stay.
    void loadFailed(const QString &description, long number);

private:
    struct Held
    {
        bool isNew = false;
        int row = -1;
        CellChanges changes;
    };

    RowStore::Cell cellAt(int row, int column) const;
    CellDisplay::Form formOf(int column) const;
    void connectLoader();
    void showRow(int row);
    Outcome commitNewRow(const Held &held);
    int findRow(const RowValues &values, int near) const; // -1 when not shown

    RowSet *m_rows = nullptr;
    Connection *m_connection = nullptr;
    bool m_editable = false;
    int m_rowsComingInFront = 0;
    std::optional<Held> m_held;
    GridWrites m_writes;
    std::set<int> m_unconfirmed;
    QList<QMetaObject::Connection> m_loaderLinks;
    CellDisplay m_display;
    GridExportSource m_exportSource{m_display};
    LabelCache m_labels;
};
