#include "pages/OpenProgress.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "frame/DelayedProgress.h"
#include "frame/KeptConnection.h"

#include <QProgressDialog>

OpenProgress::OpenProgress(QWidget *parent, const QString &table, std::function<bool()> stillWanted)
    : m_stillWanted(std::move(stillWanted)),
      m_progress(std::make_unique<DelayedProgress>(parent, ShowAfterMs, QStringLiteral("OpenProgress")))
{
    m_progress->setCaption(QStringLiteral("Opening %1").arg(table));
    m_progress->setLabel(QStringLiteral("Waiting for the server to send the rows of %1...").arg(table));
}

std::unique_ptr<OpenProgress> OpenProgress::connecting(QWidget *parent, const QString &connectionString,
                                                       std::function<bool()> stillWanted)
{
    QString host;
    try {
        host = parseConnectionString(connectionString).value(QStringLiteral("SERVER"));
    } catch (const Failure &) {
        // The connect itself says what is wrong with the text.
    }
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    auto progress = std::make_unique<OpenProgress>(parent, QString(), std::move(stillWanted));
    progress->m_progress->setCaption(QStringLiteral("Connecting to %1").arg(host));
    progress->m_progress->setLabel(QStringLiteral("Waiting for the server %1 to answer...").arg(host));
    return progress;
}

OpenProgress::~OpenProgress() = default;

std::function<bool(qint64 ms)> OpenProgress::waiting()
{
    return [this](qint64 ms) { return update(ms); };
}

bool OpenProgress::update(qint64 ms)
{
    if (m_cancelled)
        return false;
    if (m_progress->wasCancelled() || (m_stillWanted && !m_stillWanted())) {
        m_cancelled = true;
        m_progress->close();
        return false;
    }
    if (m_progress->showIfDue(ms))
        m_progress->dialog()->setValue(0);
    return true;
}

bool openConnection(QWidget *page, Connection &connection, const QString &connectionString,
                    std::function<bool()> stillWanted)
{
    const ConnectParams params = Connection::paramsFrom(connectionString);
    const std::unique_ptr<OpenProgress> progress =
        OpenProgress::connecting(page, connectionString, std::move(stillWanted));
    return connection.openWaiting(params, progress->waiting());
}

std::shared_ptr<Connection> shareConnection(
    QWidget *page, KeptConnection &kept, const QString &connectionString, std::function<bool()> stillWanted)
{
    return kept.share(Connection::paramsFrom(connectionString), [&](Connection &connection) {
        return openConnection(page, connection, connectionString, std::move(stillWanted));
    });
}
