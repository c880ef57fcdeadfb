#include "export/XlsxSpreadsheet.h"

#include "frame/Failure.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>

XlsxSpreadsheet::XlsxSpreadsheet(XlsxWorkbook::Opener opener)
    : m_opener(opener ? std::move(opener) : XlsxWorkbook::Opener(&XlsxSpreadsheet::openWithDesktop))
{
}

QString XlsxSpreadsheet::defaultProgram()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty())
        return {};
    QProcess query;
    query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), QLatin1String(MimeType)});
    if (!query.waitForFinished(10000)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    // An empty line, with success, is the answer for "none".
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

bool XlsxSpreadsheet::isInstalled()
{
    return !defaultProgram().isEmpty();
}

namespace {

// Runs gio with `arguments`; returns its error text, empty on success.
QString runGio(const QString &gio, const QStringList &arguments)
{
    QProcess run;
    run.setStandardOutputFile(QProcess::nullDevice());
    run.start(gio, arguments);
    if (run.waitForFinished(30000) && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
        return {};
    const QString reason = QString::fromLocal8Bit(run.readAllStandardError()).trimmed();
    if (run.state() != QProcess::NotRunning) {
        run.kill();
        run.waitForFinished();
    }
    return reason.isEmpty() ? QStringLiteral("gio failed.") : reason;
}

} // namespace

void XlsxSpreadsheet::openWithDesktop(const QString &file)
{
    // The program xdg-mime named is launched by its desktop file, so the
    // program checked for is the one started. xdg-open is no help here:
    // without a known desktop it goes by content, sees a zip file and falls
    // back to a browser.
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        throw Failure(QStringLiteral("Cannot open \"%1\": the program gio is missing.").arg(file));
    const QString program = defaultProgram();
    const QString desktopFile = program.isEmpty()
        ? QString()
        : QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("applications/") + program);
    const QString reason = desktopFile.isEmpty() ? runGio(gio, {QStringLiteral("open"), file})
                                                 : runGio(gio, {QStringLiteral("launch"), desktopFile, file});
    if (!reason.isEmpty())
        throw Failure(QStringLiteral("Cannot open \"%1\" in the spreadsheet program: %2").arg(file, reason));
}

QString XlsxSpreadsheet::fileName(const QString &name)
{
    QString out = name;
    out.replace(QLatin1Char('/'), QLatin1Char('_')).remove(QChar(0));
    if (out.isEmpty() || out.startsWith(QLatin1Char('.')))
        out.prepend(QStringLiteral("Book"));
    return out.left(200) + QStringLiteral(".xlsx");
}

std::unique_ptr<Spreadsheet::Workbook> XlsxSpreadsheet::newWorkbook(const QString &name)
{
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/corvane-xlsx-XXXXXX"));
    if (!::mkdtemp(folder.data())) {
        throw Failure(QStringLiteral("Cannot make a folder in \"%1\": %2")
                          .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno))));
    }
    const QString dir = QFile::decodeName(folder);
    try {
        return std::make_unique<XlsxWorkbook>(dir + QLatin1Char('/') + fileName(name), m_opener, dir);
    } catch (...) {
        QDir().rmdir(dir);
        throw;
    }
}
