#include "pages/WriteHistory.h"

#include "db/Failure.h"
#include "pages/GridModel.h"

WriteHistory::WriteHistory(GridModel &model, QObject *parent) : QObject(parent), m_model(model)
{
    connect(&model, &GridModel::rowWritten, this, &WriteHistory::record);
    connect(&model, &QAbstractItemModel::modelReset, this, &WriteHistory::clear);
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

void WriteHistory::record(const RowValues &before, const RowValues &after)
{
    if (m_replaying)
        return;
    if (!(m_depth > 0 && m_open)) {
        m_steps.resize(m_next); // a new change ends what could be redone
        m_steps.emplace_back();
        ++m_next;
        m_open = m_depth > 0;
    }
    m_steps.back().push_back({before, after});
}

void WriteHistory::undo()
{
    if (!canUndo())
        return;
    apply(m_steps[m_next - 1], true);
    --m_next;
}

void WriteHistory::redo()
{
    if (!canRedo())
        return;
    apply(m_steps[m_next], false);
    ++m_next;
}

void WriteHistory::apply(const std::vector<Change> &changes, bool backwards)
{
    m_replaying = true;
    size_t done = 0;
    try {
        for (; done < changes.size(); ++done) {
            const Change &c = changes[backwards ? changes.size() - 1 - done : done];
            backwards ? applyOne(c.after, c.before) : applyOne(c.before, c.after);
        }
    } catch (const Failure &) {
        // Put back what this step already moved, newest first.
        try {
            while (done-- > 0) {
                const Change &c = changes[backwards ? changes.size() - 1 - done : done];
                backwards ? applyOne(c.before, c.after) : applyOne(c.after, c.before);
            }
        } catch (const Failure &) {
        }
        m_replaying = false;
        throw;
    }
    m_replaying = false;
}

void WriteHistory::applyOne(const RowValues &from, const RowValues &to)
{
    GridModel::Outcome outcome = GridModel::Outcome::Done;
    if (from.empty())
        outcome = m_model.insertValues(to);
    else if (to.empty())
        outcome = m_model.deleteValues(from);
    else
        outcome = m_model.rewriteValues(from, to);
    if (outcome != GridModel::Outcome::Done)
        throw Failure(QStringLiteral("The row was changed or deleted by someone else since it was written, so "
                                     "the change cannot be undone or redone without overwriting theirs."));
}
