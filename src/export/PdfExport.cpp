#include "export/PdfExport.h"

#include "core/Failure.h"
#include "core/Wait.h"
#include "export/GetSetPrinter.h"
#include "export/PrintableGrid.h"
#include "export/RemoveFile.h"
#include "export/TextExports.h"
#include "export/Wordpad1.h"
#include "frame/Desktop.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/ProgressDialog.h"
#include "frame/Trap.h"
#include "print/Printers.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Printing 10,000 rows takes seconds; a print program that hangs (a printing
// system that never answers) must not hold the editor for ever.
constexpr int PrintTimeoutMs = 10 * 60 * 1000;

// A folder only this user can enter, so nobody can plant a link where the
// export writes its file.
QString makePrivateFolder(const QString &parent)
{
    QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/corvane-pdf-XXXXXX"));
    if (!mkdtemp(pattern.data()))
        throw Failure(QStringLiteral("Cannot create a temporary folder in %1: %2")
                          .arg(parent, QString::fromLocal8Bit(std::strerror(errno))),
                      errno);
    return QFile::decodeName(pattern);
}

} // namespace

QString pdfPrinterMissingText()
{
    const QString name = QLatin1String(PdfPrinterName);
    return name + QStringLiteral(" is not installed. Please follow these instructions:\r\n\r\n")
        + QStringLiteral("1) Go to Control Panel -> Printers and Faxes to add a local printer.\r\n")
        + QStringLiteral("2) Choose ''CPW2: (") + name
        + QStringLiteral(")'' on Select a Printer Port dialog box, click Next.\r\n")
        + QStringLiteral("3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.\r\n")
        + QStringLiteral("4) Enter ") + name + QStringLiteral(" as Printer name, click Next -> Finish.");
}

void CheckPDFPrinter(Printers &printers, Desktop &desktop, QWidget *parent)
{
    if (printers.deviceNames().contains(QLatin1String(PdfPrinterName), Qt::CaseSensitive))
        return;
    desktop.message(parent, Main::appTitle(), pdfPrinterMissingText());
}

QString tempFolder()
{
    for (const char *name : {"TEMP", "TMPDIR"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("/tmp");
}

void ExportPdf(GridSource &grid, Printers &printers, Desktop &desktop, QWidget *parent, const QString &title)
{
    Trap trap(desktop, parent, QLatin1String(Location::Form3_mnuPDF_Click));
    QString folder, file;
    if (!trap.step(100, [&] {
            folder = makePrivateFolder(tempFolder());
            file = folder + QStringLiteral("/tmp.txt");
        }))
        return;
    trap.step(102, [&] {
        // Each cell stays in its cell of the printed table.
        PrintableGrid printable(grid);
        ProgressDialog progress(parent);
        SaveDataGridToFile(printable, file, desktop, parent, progress.function());
    });
    if (trap.test(104, [&] { return !QFileInfo::exists(file); })) {
        QDir(folder).removeRecursively();
        return;
    }
    QString remembered;
    bool rememberedOk = false;
    bool changed = false;
    trap.step(106, [&] { remembered = GetDefaultPrinter(printers, desktop, parent, &rememberedOk); });
    if (trap.test(108, [&] {
            changed = SetDefaultPrinterByName(printers, QLatin1String(PdfPrinterName));
            return changed;
        })) {
        QString program;
        QStringList arguments;
        trap.step(110, [&] {
            program = GetWordPadPath();
            arguments = {QStringLiteral("/p"), file};
            // One argument, so a name that starts with "-" stays the title.
            if (!title.isEmpty())
                arguments << QStringLiteral("--title=") + title;
        });
        trap.step(112, [&] { runPrintProgram(program, arguments, PrintTimeoutMs); });
    }
    trap.step(114, [&] {
        RemoveFile(desktop, file);
        QDir(folder).removeRecursively();
    });
    trap.step(116, [&] {
        // With no default before, none again; an unread one cannot be restored.
        if (rememberedOk && remembered.isEmpty()) {
            if (!changed)
                return;
            try {
                printers.clearDefaultPrinter();
            } catch (const std::exception &) {
            }
        } else {
            SetDefaultPrinterByName(printers, remembered);
        }
    });
}

void runPrintProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    if (program.isEmpty() || !QFileInfo(program).isFile())
        throw Failure(QStringLiteral("File not found"), Failure::FileNotFound);
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    // The window keeps painting while the program prints; input waits: a
    // second export must not start in the middle of this one.
    Wait wait;
    wait.until([&] { return process.state() == QProcess::NotRunning; })
        .endOn(&process, &QProcess::finished)
        .timeout(timeoutMs)
        .input(Wait::Input::Defer);
    bool startFailed = false;
    QObject::connect(
        &process, &QProcess::errorOccurred, [&startFailed, wake = wait.waker()](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                startFailed = true;
                wake();
            }
        });
    process.start(program, arguments);
    wait.run();
    if (startFailed)
        throw Failure(process.errorString());
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        throw Failure(QStringLiteral("The print program did not finish within %1 minutes").arg(timeoutMs / 60000));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        throw Failure(QStringLiteral("The print program stopped unexpectedly"));
    if (process.exitCode() != 0) {
        const QString error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        throw Failure(error.isEmpty() ? QStringLiteral("The print program ended with code %1").arg(process.exitCode())
                                      : error,
                      process.exitCode());
    }
}
