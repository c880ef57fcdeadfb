#include "frame/HeldConnect.h"

#include "db/Connection.h"

#include <QScopeGuard>
#include <QWidget>

void openHoldingPage(QWidget *page, Connection &connection, const QString &connectionString)
{
    const bool wasEnabled = page && page->isEnabled();
    if (page)
        page->setEnabled(false);
    const auto release = qScopeGuard([page, wasEnabled] {
        if (page)
            page->setEnabled(wasEnabled);
    });
    connection.openWaiting(Connection::paramsFrom(connectionString), {});
}
