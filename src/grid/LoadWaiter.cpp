#include "grid/LoadWaiter.h"

#include "core/Wait.h"
#include "db/RowSet.h"
#include "db/TableLoader.h"

#include <QPointer>

bool LoadWaiter::wait(const std::function<bool(qint64 rows)> &progress)
{
    QPointer<TableLoader> loader = m_rows ? m_rows->loader() : nullptr;
    if (!loader)
        return true;
    // Nothing here holds a row number: the rows in front may come in.
    loader->letFrontIn(true);
    Wait wait;
    wait.until([&] { return !loader || !loader->isLoading(); })
        .endOn(loader.data(), &TableLoader::finished)
        .endOn(loader.data(), &QObject::destroyed)
        .every(100, [&](qint64) { return !progress || progress(m_rows->recordCount()); });
    const bool cancelled = wait.run() == Wait::Result::GaveUp;
    if (loader)
        loader->letFrontIn(false);
    return !cancelled && loader && !loader->isLoading() && !loader->hasFailed();
}
