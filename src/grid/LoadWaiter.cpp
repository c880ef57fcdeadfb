#include "grid/LoadWaiter.h"

#include "db/RowSet.h"
#include "db/TableLoader.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

bool LoadWaiter::wait(const std::function<bool(qint64 rows)> &progress)
{
    QPointer<TableLoader> loader = m_rows ? m_rows->loader() : nullptr;
    if (!loader)
        return true;
    bool cancelled = false;
    if (loader->isLoading()) {
        QEventLoop loop;
        QObject::connect(loader, &TableLoader::finished, &loop, &QEventLoop::quit);
        QObject::connect(loader, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (!loader || !loader->isLoading())
                loop.quit();
            else if (progress && !progress(m_rows->recordCount())) {
                cancelled = true;
                loop.quit();
            }
        });
        tick.start(100);
        loop.exec();
    }
    return !cancelled && loader && !loader->isLoading() && !loader->hasFailed();
}
