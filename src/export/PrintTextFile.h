#pragma once

#include <QPageSize>
#include <QString>

// The work of the print program (corvane-print). Both throw Failure with a
// message for the user.

// Lays the tab-separated text file out as a table (TablePrinter) into a PDF
// file on paper of `pageSize`.
void renderTextFileToPdf(const QString &textPath, const QString &pdfPath,
                         const QPageSize &pageSize = QPageSize(QPageSize::A4));

// Prints the text file, laid out the same way, to the default printer as
// libcups picks it (LPDEST, lpoptions, the server's default).
void printTextFile(const QString &textPath);
