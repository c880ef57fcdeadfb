#include "frame/DelayedProgress.h"

#include "frame/HeldInput.h"

#include <QApplication>
#include <QProgressDialog>

DelayedProgress::DelayedProgress(QWidget *parent, int showAfterMs, const QString &objectName)
    : m_parent(parent), m_showAfterMs(showAfterMs), m_objectName(objectName)
{
    m_clock.start();
    m_due.setSingleShot(true);
    QObject::connect(&m_due, &QTimer::timeout, [this] { showIfDue(m_showAfterMs); });
}

DelayedProgress::~DelayedProgress() = default;

bool DelayedProgress::showIfDue(qint64 waitedMs)
{
    if (!m_dialog && !m_closed && waitedMs >= m_showAfterMs
        && qobject_cast<QApplication *>(QCoreApplication::instance()))
        show();
    return m_dialog != nullptr;
}

void DelayedProgress::showWhenDue()
{
    m_due.start(int(qMax<qint64>(0, m_showAfterMs - m_clock.elapsed())));
}

void DelayedProgress::show()
{
    m_dialog = std::make_unique<QProgressDialog>(m_parent);
    m_dialog->setObjectName(m_objectName);
    m_dialog->setWindowTitle(m_caption);
    m_dialog->setAccessibleName(m_caption);
    m_dialog->setLabelText(m_label);
    if (m_cancellable)
        m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    else
        m_dialog->setCancelButton(nullptr);
    m_dialog->setRange(0, 0); // no end known
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    if (m_modal)
        m_dialog->setWindowModality(Qt::WindowModal);
    if (m_passesHeldInput)
        letInputThroughWhileHolding(m_dialog.get());
    m_dialog->show();
}

bool DelayedProgress::wasCancelled() const
{
    return m_dialog && m_dialog->wasCanceled();
}

void DelayedProgress::close()
{
    m_closed = true;
    m_due.stop();
    m_dialog.reset();
}
