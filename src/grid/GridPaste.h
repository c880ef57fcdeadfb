#pragma once

#include "grid/ClipboardText.h"
#include "grid/GridModel.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

class GridView;

// Writes a block of text cells into the grid from its current cell, right
// and down, one checked row write per row touched (up to RowWriter::BatchRows
// of them in one round trip): rows beyond the last are added,
// columns beyond the last dropped. A single value fills every selected cell
// instead. The first row refused stops it; the rows written stay written.
class GridPaste
{
public:
    struct Ui
    {
        std::function<void(const QString &)> tell;
        std::function<bool(const QString &)> ask; // Yes/No, No by default
        // Called after each row with rows done and rows in all; false cancels.
        std::function<bool(int, int)> progress;
    };
    // Pastes of more rows than this ask first.
    static constexpr int AskFrom = 1000;

    GridPaste(GridView &view, Ui ui) : m_view(view), m_ui(std::move(ui)) { }

    // Returns the rows written. `nulls` (GridCopy's format, may be empty)
    // marks the fields that are NULL; without it an empty field is NULL
    // where the column takes NULL, else the empty string.
    int paste(const QString &text, const QByteArray &nulls = QByteArray());

    // Sets every selected cell to NULL, one checked row write per row touched.
    int setSelectionToNull();

    // Done, or Reread / Unknown when a row's write left the grid's copy out
    // of date (the table is to be read again; Unknown also stopped it).
    GridModel::Outcome outcome() const { return m_outcome; }
    bool wasCancelled() const { return m_cancelled; }

private:
    struct Target
    {
        int row = -1;                                // the model's row; -1 for a new row
        std::vector<std::pair<int, QVariant>> cells; // model column, value (invalid: NULL)
    };
    std::vector<Target> blockTargets(const ClipboardText::Block &block, const QByteArray &nulls, int &dropped) const;
    std::vector<Target> fillTargets(const QString &value, bool isNull) const;
    int write(const std::vector<Target> &targets);
    QString hold(const Target &target, int number);
    QString batchFailure(const std::vector<std::pair<int, CellChanges>> &batch, int &written);
    QString rowFailure(const Target &target, int number);
    QString outcomeFailure(GridModel::Outcome outcome, int number);

    GridView &m_view;
    Ui m_ui;
    GridModel::Outcome m_outcome = GridModel::Outcome::Done;
    bool m_cancelled = false;
};
