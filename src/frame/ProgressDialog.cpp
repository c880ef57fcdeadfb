#include "frame/ProgressDialog.h"

#include "core/Wait.h"
#include "frame/Main.h"

#include <QProgressDialog>

ProgressDialog::ProgressDialog(QWidget *parent, int showAfterMs, const QString &objectName)
    : m_progress(parent, showAfterMs, objectName)
{
    m_progress.setCaption(Main::appTitle());
    m_progress.setPassesHeldInput(true); // Cancel stops between rows
}

ProgressDialog::~ProgressDialog() = default;

ExportProgress ProgressDialog::function()
{
    return [this](qint64 done, qint64 total) { return update(done, total); };
}

bool ProgressDialog::update(qint64 done, qint64 total)
{
    if (!m_progress.dialog()) {
        if (!m_progress.showIfDue())
            return true;
    } else if (total == m_shownTotal && m_sinceShown.elapsed() < RefreshMs) {
        // Callers report each row; painting the dialog for each would
        // cost more than the rows.
        return !m_progress.wasCancelled();
    }
    QProgressDialog *dialog = m_progress.dialog();
    m_sinceShown.start();
    m_shownTotal = total;
    if (total > 0) {
        // The bar counts in thousandths, so tables beyond int's range fit.
        dialog->setRange(0, 1000);
        dialog->setLabelText(m_rowLabel.arg(done).arg(total));
        dialog->setValue(int(done * 1000 / total));
    } else {
        dialog->setRange(0, 0);
        dialog->setLabelText(QStringLiteral("Reading the table: %L1 rows so far").arg(done));
    }
    // Lets the window paint and take the Cancel press: a wait that a zero
    // timeout ends once the events pending now have been handled.
    Wait().timeout(0).run();
    return !m_progress.wasCancelled();
}
