#include "grid/GridPaste.h"

#include "core/Failure.h"
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/GridView.h"

#include <QItemSelectionModel>

#include <map>

namespace {

// An empty field is NULL where the column takes NULL, as the copy wrote it;
// else the empty string.
QVariant valueFor(const GridModel &model, int column, const QString &text, char nullFlag)
{
    if (nullFlag == '1' || (nullFlag != '0' && text.isEmpty() && model.rowSet()->field(column).isNullable()))
        return QVariant();
    return text;
}

// The flags of GridCopy's format by line, when they fit the block.
std::vector<QByteArray> nullFlags(const QByteArray &nulls, const ClipboardText::Block &block)
{
    std::vector<QByteArray> lines;
    for (const QByteArray &line : nulls.split('\n'))
        lines.push_back(line);
    if (!lines.empty() && lines.back().isEmpty())
        lines.pop_back();
    if (lines.size() != block.size())
        return {};
    for (size_t i = 0; i < block.size(); ++i)
        if (size_t(lines[i].size()) != block[i].size())
            return {};
    return lines;
}

} // namespace

int GridPaste::paste(const QString &text, const QByteArray &nulls)
{
    GridModel *model = m_view.gridModel();
    if (!model || !model->isEditable() || !m_view.currentIndex().isValid())
        return 0;
    const ClipboardText::Block block = ClipboardText::parse(text);
    if (block.empty())
        return 0;
    const bool fill = block.size() == 1 && block.front().size() == 1 && m_view.selectedCells() > 1;
    int dropped = 0;
    const std::vector<Target> targets
        = fill ? fillTargets(block.front().front(), nulls.startsWith('1')) : blockTargets(block, nulls, dropped);
    if (int(targets.size()) > AskFrom
        && !m_ui.ask(QStringLiteral("Paste %1 rows? Each row is saved as it is pasted.").arg(targets.size())))
        return 0;
    const int written = write(targets);
    if (dropped > 0 && written == int(targets.size()))
        m_ui.tell(QStringLiteral("The pasted block is wider than the table: %1 column(s) on the right were left out.")
                      .arg(dropped));
    return written;
}

int GridPaste::setSelectionToNull()
{
    GridModel *model = m_view.gridModel();
    if (!model || !model->isEditable())
        return 0;
    std::vector<Target> targets = fillTargets(QString(), true);
    // The new-row line has nothing on the server to set.
    std::erase_if(targets, [](const Target &t) { return t.row < 0; });
    return write(targets);
}

std::vector<GridPaste::Target> GridPaste::blockTargets(
    const ClipboardText::Block &block, const QByteArray &nulls, int &dropped) const
{
    const std::vector<QByteArray> flags = nullFlags(nulls, block);
    GridModel &model = *m_view.gridModel();
    const QAbstractItemModel &shown = *m_view.model();
    const QModelIndex start = m_view.currentIndex();
    const int columns = model.columnCount();
    const int stored = shown.rowCount() - 1; // without the new-row line
    std::vector<Target> targets;
    size_t widest = 0;
    for (size_t i = 0; i < block.size(); ++i) {
        const int viewRow = start.row() + int(i);
        Target target;
        target.row = viewRow < stored ? m_view.toModel(shown.index(viewRow, 0)).row() : -1;
        for (size_t j = 0; j < block[i].size(); ++j) {
            const int column = start.column() + int(j); // the order moves rows, never columns
            if (column < columns)
                target.cells.emplace_back(
                    column, valueFor(model, column, block[i][j], flags.empty() ? ' ' : flags[i][qsizetype(j)]));
        }
        widest = std::max(widest, block[i].size());
        targets.push_back(std::move(target));
    }
    dropped = std::max(0, int(widest) - (columns - start.column()));
    return targets;
}

std::vector<GridPaste::Target> GridPaste::fillTargets(const QString &value, bool isNull) const
{
    const GridModel &model = *m_view.gridModel();
    // Rows in the order shown, each once.
    std::map<int, Target> byViewRow;
    for (const QModelIndex &index : m_view.selectionModel()->selectedIndexes()) {
        const QModelIndex source = m_view.toModel(index);
        Target &target = byViewRow[index.row()];
        target.row = source.row() == m_view.gridModel()->newRowLine() ? -1 : source.row();
        target.cells.emplace_back(source.column(), valueFor(model, source.column(), value, isNull ? '1' : ' '));
    }
    std::vector<Target> targets;
    for (auto &[row, target] : byViewRow)
        targets.push_back(std::move(target));
    return targets;
}

// Rows that exist are written in batches (one round trip each on a server
// that allows it); a new row is added on its own. Progress is told, and
// Cancel taken, between batches.
int GridPaste::write(const std::vector<Target> &targets)
{
    GridModel &model = *m_view.gridModel();
    int written = 0;
    for (size_t i = 0; i < targets.size();) {
        QString failure;
        if (targets[i].row < 0) {
            failure = rowFailure(targets[i], written + 1);
            if (!failure.isEmpty() || m_outcome == GridModel::Outcome::Unknown) {
                if (!failure.isEmpty())
                    m_ui.tell(failure);
                return written;
            }
            ++written;
            ++i;
        } else {
            std::vector<std::pair<int, CellChanges>> batch;
            for (; i < targets.size() && targets[i].row >= 0 && batch.size() < RowWriter::BatchRows; ++i) {
                failure = hold(targets[i], written + int(batch.size()) + 1);
                if (!failure.isEmpty())
                    break;
                batch.push_back(model.takeHeldRow());
            }
            const QString stopped = batchFailure(batch, written);
            if (!stopped.isEmpty() || m_outcome == GridModel::Outcome::Unknown) {
                if (!stopped.isEmpty())
                    m_ui.tell(stopped);
                return written;
            }
            if (!failure.isEmpty()) {
                m_ui.tell(failure);
                return written;
            }
        }
        if (written < int(targets.size()) && m_ui.progress && !m_ui.progress(written, int(targets.size()))) {
            m_cancelled = true;
            m_ui.tell(QStringLiteral("The paste was cancelled after %1 of its %2 rows; those rows were saved.")
                          .arg(written)
                          .arg(targets.size()));
            break;
        }
    }
    return written;
}

namespace {

QString stoppedAt(int number)
{
    return QStringLiteral("The paste stopped at its row %1; the rows before it were saved.\n\n").arg(number);
}

QString serverSaid(const Failure &e)
{
    if (e.number() == 0)
        return e.description();
    const QString said = QStringLiteral("The server said: %1 (error %2)").arg(e.description()).arg(e.number());
    return e.explanation().isEmpty() ? said : e.explanation() + QStringLiteral("\n\n") + said;
}

} // namespace

// Puts the target's cells into the grid as held edits of its row; the
// reason, when a cell cannot take its value (nothing is held then).
QString GridPaste::hold(const Target &target, int number)
{
    GridModel &model = *m_view.gridModel();
    const int row = target.row < 0 ? model.newRowLine() : target.row;
    for (const auto &[column, value] : target.cells) {
        if (!model.setData(model.index(row, column), value)) {
            model.revertRow();
            return stoppedAt(number)
                + QStringLiteral("The cell in column %1 cannot be changed here.")
                      .arg(model.headerData(column, Qt::Horizontal).toString());
        }
    }
    return {};
}

// Writes `batch` and adds the rows written to `written`; what to tell when
// it stopped before its end.
QString GridPaste::batchFailure(const std::vector<std::pair<int, CellChanges>> &batch, int &written)
{
    if (batch.empty())
        return {};
    GridModel::Written done;
    try {
        done = m_view.gridModel()->commitRows(batch);
    } catch (const Failure &e) {
        return stoppedAt(written + 1) + serverSaid(e);
    }
    written += done.written;
    const QString told = outcomeFailure(done.outcome, written + 1);
    if (!told.isEmpty() || m_outcome == GridModel::Outcome::Unknown)
        return told;
    return done.failure ? stoppedAt(written + 1) + serverSaid(*done.failure) : QString();
}

// What an outcome other than Done means for the paste at its row `number`:
// Reread and Unknown are kept for the page (Unknown is told here, and stops
// the paste); the reason, when the row was not written.
QString GridPaste::outcomeFailure(GridModel::Outcome outcome, int number)
{
    switch (outcome) {
    case GridModel::Outcome::Done:
        break;
    case GridModel::Outcome::Reread:
        // Saved; the table is read again once the paste is done.
        m_outcome = GridModel::Outcome::Reread;
        break;
    case GridModel::Outcome::RowChanged:
        return stoppedAt(number) + QStringLiteral("The row was changed or deleted by someone else since it was read.");
    case GridModel::Outcome::Unknown:
        m_outcome = GridModel::Outcome::Unknown;
        m_ui.tell(stoppedAt(number)
            + QStringLiteral("The connection to the server was lost and whether this row was "
                             "saved could not be told. The table is read again: check the row "
                             "before you change it again."));
        break;
    }
    return {};
}

// Writes one new row; the reason when it was not written.
QString GridPaste::rowFailure(const Target &target, int number)
{
    GridModel &model = *m_view.gridModel();
    const QString held = hold(target, number);
    if (!held.isEmpty())
        return held;
    try {
        const GridModel::Outcome outcome = model.commitRow();
        if (outcome == GridModel::Outcome::RowChanged)
            model.revertRow();
        return outcomeFailure(outcome, number);
    } catch (const Failure &e) {
        model.revertRow();
        return stoppedAt(number) + serverSaid(e);
    }
    return {};
}
