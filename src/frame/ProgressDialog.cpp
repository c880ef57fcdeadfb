#include "frame/ProgressDialog.h"

#include "frame/HeldConnect.h"
#include "frame/Main.h"

#include <QApplication>
#include <QProgressDialog>

ProgressDialog::ProgressDialog(QWidget *parent, int showAfterMs, const QString &objectName)
    : m_parent(parent), m_showAfterMs(showAfterMs), m_objectName(objectName)
{
    m_clock.start();
}

ProgressDialog::~ProgressDialog() = default;

ExportProgress ProgressDialog::function()
{
    return [this](qint64 done, qint64 total) { return update(done, total); };
}

void ProgressDialog::create()
{
    m_dialog = std::make_unique<QProgressDialog>(m_parent);
    m_dialog->setObjectName(m_objectName);
    m_dialog->setWindowTitle(Main::appTitle());
    m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    letInputThroughWhileHolding(m_dialog.get()); // Cancel stops between rows
    m_dialog->show();
}

bool ProgressDialog::update(qint64 done, qint64 total)
{
    if (!m_dialog) {
        if (m_clock.elapsed() < m_showAfterMs || !qobject_cast<QApplication *>(QCoreApplication::instance()))
            return true;
        create();
    } else if (total == m_shownTotal && m_sinceShown.elapsed() < RefreshMs) {
        // Callers report each row; painting the dialog for each would
        // cost more than the rows.
        return !m_dialog->wasCanceled();
    }
    m_sinceShown.start();
    m_shownTotal = total;
    if (total > 0) {
        // The bar counts in thousandths, so tables beyond int's range fit.
        m_dialog->setRange(0, 1000);
        m_dialog->setLabelText(m_rowLabel.arg(done).arg(total));
        m_dialog->setValue(int(done * 1000 / total));
    } else {
        m_dialog->setRange(0, 0);
        m_dialog->setLabelText(QStringLiteral("Reading the table: %L1 rows so far").arg(done));
    }
    QCoreApplication::processEvents();
    return !m_dialog->wasCanceled();
}
