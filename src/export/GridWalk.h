#pragma once

#include "core/ExportProgress.h"
#include "core/GridSource.h"

// Visits every row of the grid's model once, from the first, in display
// order. The model gives any row's text directly, so the view's scroll
// position and current row play no part and are left as they are.
//
//   GridWalk walk(grid, progress);
//   if (!walk.waitForRows()) return;           // cancelled
//   walk.forEachRow([&](qint64 row) { ... });  // false when cancelled
class GridWalk
{
public:
    explicit GridWalk(GridSource &grid, ExportProgress progress = {});

    // Waits until a background load has brought every row of the table,
    // showing progress. Returns false when the user cancelled; throws
    // Failure when the load ended without every row.
    bool waitForRows();

    // Calls visit(row) for rows 0 to rowCount() - 1, reporting progress
    // every few thousand rows. `visit` returns false to stop the walk. Returns
    // true once every row was visited; false when the walk stopped early, and
    // cancelled() tells whether the user stopped it.
    template <class Visit>
    bool forEachRow(Visit &&visit)
    {
        const qint64 rows = m_grid.rowCount();
        if (!tell(0, rows))
            return false;
        for (qint64 r = 0; r < rows; ++r) {
            if ((r & (ProgressEvery - 1)) == 0 && r != 0 && !tell(r, rows))
                return false;
            if (!visit(r))
                return false;
        }
        return tell(rows, rows);
    }

    GridSource &grid() const { return m_grid; }
    bool cancelled() const { return m_cancelled; }

    static constexpr qint64 ProgressEvery = 4096;

private:
    bool tell(qint64 done, qint64 total);

    GridSource &m_grid;
    ExportProgress m_progress;
    bool m_cancelled = false;
};
