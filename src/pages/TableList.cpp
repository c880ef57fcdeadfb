#include "pages/TableList.h"

#include "db/Connection.h"
#include "db/MySQL.h"
#include "db/RowSet.h"
#include "frame/Desktop.h"
#include "frame/HeldInput.h"
#include "frame/Trap.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QScopeGuard>

#include <memory>

namespace {

const char FillingProperty[] = "corvaneFilling";
constexpr qint64 EventsEveryMs = 20;

} // namespace

bool isFillingTableList(const QListWidget *list)
{
    return list && list->property(FillingProperty).toBool();
}

void FillTableList(Trap &trap, std::shared_ptr<Connection> connection, QListWidget *list, Desktop &desktop)
{
    if (isFillingTableList(list))
        return;
    list->setProperty(FillingProperty, true);
    const auto done = qScopeGuard([list] { list->setProperty(FillingProperty, false); });
    std::unique_ptr<RowSet> rows;
    const bool listed = trap.step(
        112, [&] { runHoldingInput(list->window(), *connection, [&] { rows = listTables(*connection); }); });
    trap.step(114, [&] { list->clear(); });
    qint64 n = 0;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    if (listed && trap.step(116, [&] { n = rows->recordCount(); })) {
        for (qint64 i = 1; i <= n; ++i) {
            if (!trap.step(118, [&] {
                    // Window events run now and then, not after every entry:
                    // each run lays the whole list out again.
                    if (i == 1 || sinceEvents.elapsed() >= EventsEveryMs) {
                        desktop.processEvents();
                        sinceEvents.restart();
                    }
                })
                || !trap.step(120, [&] {
                       const QVariant v = rows->value(0);
                       list->addItem(v.isNull() ? QString() : v.toString());
                   })
                || !trap.step(122, [&] { rows->moveNext(); }))
                break;
        }
    }
    if (rows)
        trap.step(126, [&] { rows->close(); });
    trap.step(128, [&] { connection.reset(); });
    trap.step(130, [&] {
        if (list->count() > 0)
            list->setCurrentRow(0);
    });
}
