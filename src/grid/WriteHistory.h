#pragma once

#include "db/RowStatements.h"
#include "grid/GridModel.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class GridModel;

// The changes written to the table while it is open, to undo and redo them.
// Each written row is recorded as it was and as the server stored it (empty
// before: added; empty after: deleted); the writes between beginStep() and
// endStep() (a paste, a bulk change) are one step. Undo writes the old
// values back only while the row is still as we wrote it, so nobody's later
// change is overwritten; a refused undo or redo puts back what it had written
// and leaves the history as it was, unless a put-back failed (leftOver()). A write whose outcome is uncertain (the connection lost, or the
// server changing the row as it stored it) stops the step and returns that
// outcome: the caller reads the table again, which clears the history.
// Cleared when the model's rows are replaced.
class WriteHistory : public QObject
{
    Q_OBJECT
public:
    struct Change
    {
        RowValues before;
        RowValues after;
        int row = -1; // where the row was last seen in the model
    };

    explicit WriteHistory(GridModel &model, QObject *parent = nullptr);

    void beginStep();
    void endStep();
    bool canUndo() const { return m_next > 0; }
    bool canRedo() const { return m_next < m_steps.size(); }
    // Throw Failure when refused (nothing of the step is kept undone then).
    GridModel::Outcome undo();
    GridModel::Outcome redo();
    void clear();
    // After a refused undo or redo that could not put back all it had
    // already written: which rows are in which state, for the user; the
    // history is then cleared and the table must be read again. Else empty.
    const QString &leftOver() const { return m_leftOver; }

private:
    void record(const RowValues &before, const RowValues &after, int row);
    // Moves the table from `from` to `to` for each change, in order;
    // on a refusal puts back what was done and throws.
    GridModel::Outcome apply(std::vector<Change> &changes, bool backwards);
    // Puts back the first `done` of a step's changes after a refusal, and
    // says in m_leftOver what it could not.
    void putBack(const std::function<Change &(size_t)> &change, size_t done, bool backwards, size_t total);
    // Throws Failure when the row changed; writeOne() returns RowChanged.
    GridModel::Outcome applyOne(Change &change, bool backwards);
    GridModel::Outcome writeOne(Change &change, bool backwards);

    GridModel &m_model;
    std::vector<std::vector<Change>> m_steps;
    size_t m_next = 0;
    int m_depth = 0;
    bool m_open = false; // a step has begun and has changes
    bool m_replaying = false;
    Change m_replayed; // what the write being replayed stored, and where
    QString m_leftOver;
};

// Makes the writes of its scope one step.
class StepGuard
{
public:
    explicit StepGuard(WriteHistory &history) : m_history(history) { m_history.beginStep(); }
    ~StepGuard() { m_history.endStep(); }
    StepGuard(const StepGuard &) = delete;
    StepGuard &operator=(const StepGuard &) = delete;

private:
    WriteHistory &m_history;
};
