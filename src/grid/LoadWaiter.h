#pragma once

#include <QtGlobal>

#include <functional>

class RowSet;

// Waits, running the event loop, until the background read of a row set has
// ended: for an export, which needs every row. The window stays alive
// meanwhile; the loader's rows keep arriving by queued call. `progress` is
// called every 100 ms with the rows read so far and returns false to give up.
class LoadWaiter
{
public:
    explicit LoadWaiter(RowSet *rows) : m_rows(rows) { }

    // True when every row was read: no read, or one that ended without
    // failing and was not given up.
    bool wait(const std::function<bool(qint64 rows)> &progress);

private:
    RowSet *m_rows;
};
