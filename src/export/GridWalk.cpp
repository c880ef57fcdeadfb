#include "export/GridWalk.h"

#include "core/Failure.h"

GridWalk::GridWalk(GridSource &grid, ExportProgress progress) : m_grid(grid), m_progress(std::move(progress)) {}

bool GridWalk::tell(qint64 done, qint64 total)
{
    if (m_cancelled)
        return false;
    if (m_progress && !m_progress(done, total))
        m_cancelled = true;
    return !m_cancelled;
}

bool GridWalk::waitForRows()
{
    const bool complete = m_grid.waitUntilLoaded([this](qint64 rows) { return tell(rows, 0); });
    if (m_cancelled)
        return false;
    if (!complete)
        throw Failure(QStringLiteral("The table could not be read to its end, so it was not saved."));
    return true;
}
