#include "pages/OpenProgress.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"

#include <QProgressDialog>

OpenProgress::OpenProgress(QWidget *parent, const QString &table, std::function<bool()> stillWanted)
    : m_parent(parent),
      m_title(QStringLiteral("Opening %1").arg(table)),
      m_label(QStringLiteral("Waiting for the server to send the rows of %1...").arg(table)),
      m_stillWanted(std::move(stillWanted))
{
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
    progress->m_title = QStringLiteral("Connecting to %1").arg(host);
    progress->m_label = QStringLiteral("Waiting for the server %1 to answer...").arg(host);
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
    if ((m_dialog && m_dialog->wasCanceled()) || (m_stillWanted && !m_stillWanted())) {
        m_cancelled = true;
        m_dialog.reset();
        return false;
    }
    if (!m_dialog && ms >= ShowAfterMs) {
        m_dialog = std::make_unique<QProgressDialog>(m_parent);
        m_dialog->setObjectName(QStringLiteral("OpenProgress"));
        m_dialog->setWindowTitle(m_title);
        m_dialog->setLabelText(m_label);
        m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
        m_dialog->setAccessibleName(m_dialog->windowTitle());
        m_dialog->setRange(0, 0); // no end known
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->show();
    }
    if (m_dialog)
        m_dialog->setValue(0);
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
