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

void XlsxSpreadsheet::openWithDesktop(const QString &file)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (tool.isEmpty() || !QProcess::startDetached(tool, {file}))
        throw Failure(QStringLiteral("Cannot open \"%1\" in the spreadsheet program.").arg(file));
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
