#pragma once

#include <QPageSize>
#include <QString>

// The work of the print program (corvane-print). Both throw Failure with a
// message for the user.

// Both name the document `title`, or after the text file when it is empty.

// Lays the tab-separated text file out as a table (TablePrinter) into a PDF
// file on paper of `pageSize`.
void renderTextFileToPdf(const QString &textPath, const QString &pdfPath,
                         const QPageSize &pageSize = QPageSize(QPageSize::A4), const QString &title = QString());

// Prints the text file, laid out the same way, to the default printer as
// libcups picks it (LPDEST, lpoptions, the server's default). The print job
// carries the title, which PDF printers use to name the file.
void printTextFile(const QString &textPath, const QString &title = QString());
