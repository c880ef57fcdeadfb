#include "print/PrintTextFile.h"

#include "core/Failure.h"
#include "core/Version.h"
#include "print/CupsPrinters.h"
#include "print/TablePrinter.h"
#include "print/TextTable.h"

#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>

namespace {

TextTable readTable(const QString &textPath)
{
    QFile file(textPath);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read %1: %2").arg(textPath, file.errorString()));
    return TextTable::parse(TextTable::decode(file.readAll()));
}

QString documentTitle(const QString &textPath, const QString &title)
{
    return title.isEmpty() ? QFileInfo(textPath).fileName() : title;
}

void render(const TextTable &table, const QString &title, const QString &pdfPath, const QPageSize &pageSize)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    printer.setPageSize(pageSize);
    printer.setDocName(title);
    printer.setCreator(QString::fromLatin1(CorvaneProductName));
    TablePrinter layout(table);
    layout.fit(printer);
    layout.print(printer);
    if (!QFileInfo(pdfPath).isFile())
        throw Failure(QStringLiteral("Cannot write %1").arg(pdfPath));
}

} // namespace

void renderTextFileToPdf(const QString &textPath, const QString &pdfPath, const QPageSize &pageSize,
                         const QString &title)
{
    render(readTable(textPath), documentTitle(textPath, title), pdfPath, pageSize);
}

void printTextFile(const QString &textPath, const QString &title)
{
    const TextTable table = readTable(textPath);
    QString whyNone;
    const QString queue = CupsPrinters::defaultQueue(&whyNone);
    if (queue.isEmpty())
        throw Failure(QStringLiteral("There is no default printer (%1)").arg(whyNone));
    QPageSize pageSize(QPageSize::A4);
    const QPrinterInfo info = QPrinterInfo::printerInfo(queue);
    if (!info.isNull() && info.defaultPageSize().isValid())
        pageSize = info.defaultPageSize();

    // Laid out here, so the printer gets pages, not text it would lay out
    // its own way.
    QTemporaryDir folder;
    if (!folder.isValid())
        throw Failure(QStringLiteral("Cannot create a temporary folder: %1").arg(folder.errorString()));
    const QString pdf = folder.filePath(QStringLiteral("print.pdf"));
    const QString name = documentTitle(textPath, title);
    render(table, name, pdf, pageSize);
    CupsPrinters::printPdf(queue, pdf, name);
}
