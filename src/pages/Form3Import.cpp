#include "pages/Form3.h"

#include "core/Failure.h"
#include "core/Wait.h"
#include "db/Connection.h"
#include "db/ImportTarget.h"
#include "frame/Desktop.h"
#include "frame/HeldInput.h"
#include "frame/Main.h"
#include "frame/ProgressDialog.h"
#include "import/ImportJob.h"
#include "pages/ImportDialog.h"
#include "pages/Wizard.h"

#include <QProgressDialog>

// "Import...": the file, the preview, then the import on a worker thread of
// its own with a progress window whose Cancel rolls back, and the table read
// again.
namespace {

// "1 row", "2 rows", ...
QString rowCount(qint64 n)
{
    return n == 1 ? QStringLiteral("1 row") : QStringLiteral("%L1 rows").arg(n);
}

// What a failed or cancelled import leaves in a table without transactions.
QString writtenBeforeStays(qint64 rows)
{
    return QStringLiteral("The table has no transactions: what was written before stays (%1).")
        .arg(rows == 0 ? QStringLiteral("no row") : rowCount(rows));
}

QString outcomeText(const ImportJob::Outcome &o)
{
    using Result = ImportJob::Outcome::Result;
    switch (o.result) {
    case Result::Done: {
        QString text
            = rowCount(o.rows) + (o.rows == 1 ? QStringLiteral(" was imported.") : QStringLiteral(" were imported."));
        if (!o.skipped.empty()) {
            const qint64 skipped = qint64(o.skipped.size());
            text += QLatin1Char('\n') + rowCount(skipped)
                + (skipped == 1 ? QStringLiteral(" failed and was skipped")
                                : QStringLiteral(" failed and were skipped"));
            text += o.failedRowsFile.isEmpty() ? QStringLiteral(".\n") + o.reason
                : skipped == 1 ? QStringLiteral("; it is listed with the reason in \"%1\".").arg(o.failedRowsFile)
                               : QStringLiteral("; they are listed with the reasons in \"%1\".").arg(o.failedRowsFile);
        }
        return text;
    }
    case Result::CommitUnknown:
        return QStringLiteral("The connection to the server was lost while it committed the import, so whether "
                              "the rows were saved cannot be told. The table is read again: look whether they "
                              "are there.\n%1")
            .arg(o.reason);
    case Result::Cancelled:
        return o.transactional ? QStringLiteral("The import was cancelled; nothing was imported.")
                               : QStringLiteral("The import was cancelled. ") + writtenBeforeStays(o.rows);
    case Result::Failed:
        break;
    }
    QString text = o.failedLine > 0
        ? QStringLiteral("The row on line %L1 of the file failed: %2").arg(o.failedLine).arg(o.reason)
        : o.reason;
    if (o.lost)
        text = QStringLiteral("The connection to the server was lost during the import.\n") + text;
    if (o.transactional)
        return QStringLiteral("Nothing was imported. ") + text;
    return text + QLatin1Char('\n') + writtenBeforeStays(o.rows);
}

} // namespace

void Form3::mnuImport_Click()
{
    Desktop &desktop = m_wizard.desktop();
    if (!m_session->commitHeldRow())
        return;
    const QString path = desktop.openFileName(this, QStringLiteral("Import"), QString(),
        QStringLiteral("Importable Files (*.csv;*.txt;*.tsv;*.xlsx)|*.csv *.txt *.tsv *.xlsx|All Files (*)|*"));
    if (path.isEmpty())
        return;
    const QByteArray table = m_wizard.CurrentTable.toUtf8();
    ConnectParams params;
    ImportTarget target;
    try {
        params = Connection::paramsFrom(m_wizard.connectionString());
        runHoldingInput(this, QString::fromUtf8(params.host), [&] {
            Connection connection;
            connection.open(params);
            target = ImportTarget::read(connection, table);
        });
    } catch (const Failure &f) {
        tell(f.description());
        return;
    }
    QStringList columns;
    for (const TargetColumn &c : target.columns)
        columns << QString::fromUtf8(c.name);
    ImportDialog dialog(this, target, ImportSettings::guess(path, columns));
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!target.transactional
        && desktop.message(this, Main::appTitle(),
               QStringLiteral("The table %1 has no transactions: if the import fails or is cancelled "
                              "midway, the rows written until then stay. Import anyway?")
                   .arg(m_wizard.CurrentTable),
               Desktop::Icon::Question, Desktop::Buttons::YesNo, Desktop::Answer::No)
            != Desktop::Answer::Yes)
        return;

    ImportJob job(params, std::move(target), dialog.settings());
    {
        ProgressDialog progress(this, 300, QStringLiteral("ImportProgress"));
        progress.setRowLabel(QStringLiteral("Importing: %L1 of %L2 bytes read"));
        job.start();
        holdInputDuring([&] {
            Wait()
                .until([&] { return job.isFinished(); })
                .every(30,
                    [&](qint64) {
                        if (!progress.update(job.done(), job.total()))
                            job.cancel();
                        return true;
                    })
                .run();
        });
    }
    desktop.message(this, Main::appTitle(), outcomeText(job.outcome()),
        job.outcome().result == ImportJob::Outcome::Result::Done && job.outcome().skipped.empty()
            ? Desktop::Icon::Information
            : Desktop::Icon::Warning);
    try {
        requeryGrid();
    } catch (const Failure &f) {
        tell(f.description());
    }
}
