#include "pages/OpenProgress.h"

#include <QProgressDialog>

OpenProgress::OpenProgress(QWidget *parent, const QString &table, std::function<bool()> stillWanted)
    : m_parent(parent), m_table(table), m_stillWanted(std::move(stillWanted))
{
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
        m_dialog->setWindowTitle(QStringLiteral("Opening %1").arg(m_table));
        m_dialog->setLabelText(QStringLiteral("Waiting for the server to send the rows of %1...").arg(m_table));
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
