#include "grid/WriteHistory.h"

#include "core/Failure.h"
#include "grid/GridModel.h"

#include <QStringList>

WriteHistory::WriteHistory(GridModel &model, QObject *parent) : QObject(parent), m_model(model)
{
    connect(&model, &GridModel::rowWritten, this, &WriteHistory::record);
    connect(&model, &QAbstractItemModel::modelReset, this, &WriteHistory::clear);
    // Where a row was last seen moves with rows put before it.
    connect(&model, &GridModel::rowsPutInFront, this, [this](int count) {
        for (auto &step : m_steps)
            for (auto &change : step)
                if (change.row >= 0)
                    change.row += count;
    });
}

void WriteHistory::clear()
{
    m_steps.clear();
    m_next = 0;
    m_open = false;
}

void WriteHistory::beginStep()
{
    if (m_depth++ == 0)
        m_open = false;
}

void WriteHistory::endStep()
{
    if (m_depth > 0 && --m_depth == 0)
        m_open = false;
}

void WriteHistory::record(const RowValues &before, const RowValues &after, int row)
{
    if (m_replaying) {
        m_replayed = {before, after, row};
        return;
    }
    if (!(m_depth > 0 && m_open)) {
        m_steps.resize(m_next); // a new change ends what could be redone
        m_steps.emplace_back();
        ++m_next;
        m_open = m_depth > 0;
    }
    m_steps.back().push_back({before, after, row});
}

GridModel::Outcome WriteHistory::undo()
{
    if (!canUndo())
        return GridModel::Outcome::Done;
    const GridModel::Outcome outcome = apply(m_steps[m_next - 1], true);
    if (outcome == GridModel::Outcome::Done)
        --m_next;
    return outcome;
}

GridModel::Outcome WriteHistory::redo()
{
    if (!canRedo())
        return GridModel::Outcome::Done;
    const GridModel::Outcome outcome = apply(m_steps[m_next], false);
    if (outcome == GridModel::Outcome::Done)
        ++m_next;
    return outcome;
}

GridModel::Outcome WriteHistory::apply(std::vector<Change> &changes, bool backwards)
{
    m_replaying = true;
    m_leftOver.clear();
    const auto change = [&](size_t i) -> Change & { return changes[backwards ? changes.size() - 1 - i : i]; };
    size_t done = 0;
    try {
        for (; done < changes.size(); ++done) {
            const GridModel::Outcome outcome = applyOne(change(done), backwards);
            if (outcome != GridModel::Outcome::Done) {
                // Written, but what the server holds now is not known for
                // certain: nothing more is replayed, and the table is read
                // again (which starts the history anew).
                m_replaying = false;
                clear();
                return outcome;
            }
        }
    } catch (const Failure &) {
        putBack(change, done, backwards, changes.size());
        m_replaying = false;
        if (!m_leftOver.isEmpty())
            clear(); // the step is no longer what the table holds
        throw;
    }
    m_replaying = false;
    return GridModel::Outcome::Done;
}

void WriteHistory::putBack(const std::function<Change &(size_t)> &change, size_t done, bool backwards, size_t total)
{
    // Newest first. A put-back refused by the server stops it; a row someone
    // else changed meanwhile is left to them.
    size_t back = 0, changed = 0, unknown = 0;
    bool reread = false;
    for (size_t i = done; i-- > 0;) {
        GridModel::Outcome outcome = GridModel::Outcome::Done;
        try {
            outcome = writeOne(change(i), !backwards);
        } catch (const Failure &) {
            break;
        }
        if (outcome == GridModel::Outcome::RowChanged) {
            ++changed;
        } else if (outcome == GridModel::Outcome::Unknown) {
            ++unknown;
            break; // the connection was lost: nothing more is written
        } else {
            ++back;
            reread = reread || outcome == GridModel::Outcome::Reread;
        }
    }
    const size_t stay = done - back - changed - unknown;
    if (stay == 0 && changed == 0 && unknown == 0 && !reread)
        return;
    const QString verb = backwards ? QStringLiteral("undone") : QStringLiteral("redone");
    const auto was
        = [](size_t n) { return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? "was" : "were")); };
    QStringList parts;
    if (back > 0)
        parts << was(back) + QStringLiteral(" put back")
                + (reread ? QStringLiteral(" (the server changed a row as it stored it)") : QString());
    if (stay > 0)
        parts << QStringLiteral("%1 %2 still %3").arg(stay).arg(QLatin1String(stay == 1 ? "is" : "are")).arg(verb);
    if (changed > 0)
        parts << was(changed) + QStringLiteral(" changed by someone else meanwhile");
    if (unknown > 0)
        parts << QStringLiteral("whether %1 was put back is not known").arg(unknown);
    m_leftOver = QStringLiteral("Before that, %1 of the %2 rows of this change had been %3; of these, %4. The table "
                                "is read again: check these rows before you change them again.")
                     .arg(done)
                     .arg(total)
                     .arg(verb, parts.join(QStringLiteral(", ")));
}

GridModel::Outcome WriteHistory::applyOne(Change &change, bool backwards)
{
    const GridModel::Outcome outcome = writeOne(change, backwards);
    if (outcome == GridModel::Outcome::RowChanged)
        throw Failure(QStringLiteral("The row was changed or deleted by someone else since it was written, so "
                                     "the change cannot be undone or redone without overwriting theirs."));
    return outcome;
}

GridModel::Outcome WriteHistory::writeOne(Change &change, bool backwards)
{
    const RowValues &from = backwards ? change.after : change.before;
    RowValues &to = backwards ? change.before : change.after;
    if (from.empty() && to.empty())
        throw Failure(QStringLiteral("A row added here could not be identified for certain on the server, so the "
                                     "changes up to it cannot be undone. Read the table again first."));
    m_replayed = {};
    GridModel::Outcome outcome = GridModel::Outcome::Done;
    if (from.empty())
        outcome = m_model.insertValues(to);
    else if (to.empty())
        outcome = m_model.deleteValues(from, change.row);
    else
        outcome = m_model.rewriteValues(from, to, change.row);
    if (outcome == GridModel::Outcome::RowChanged)
        return outcome;
    // The server's form of the row (defaults, triggers) is what the next
    // replay finds.
    if (m_replayed.row >= 0)
        change.row = m_replayed.row;
    if (!m_replayed.after.empty())
        to = m_replayed.after;
    return outcome;
}
