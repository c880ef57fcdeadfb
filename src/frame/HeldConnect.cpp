#include "frame/HeldConnect.h"

#include "db/Connection.h"

#include <QScopeGuard>
#include <QWidget>

void openHoldingPage(QWidget *page, Connection &connection, const QString &connectionString)
{
    openHoldingPage(page, connection, Connection::paramsFrom(connectionString));
}

void openHoldingPage(QWidget *page, Connection &connection, const ConnectParams &params)
{
    const bool wasEnabled = page && page->isEnabled();
    if (page)
        page->setEnabled(false);
    const auto release = qScopeGuard([page, wasEnabled] {
        if (page)
            page->setEnabled(wasEnabled);
    });
    connection.openWaiting(params, {});
}
