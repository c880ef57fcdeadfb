#pragma once

#include <QString>
#include <QStringList>

class Desktop;
class GridSource;
class Printers;
class QWidget;

// The printer that turns a print job into a PDF document.
inline constexpr char PdfPrinterName[] = "Quillmark PDF Writer";

// The set-up instructions CheckPDFPrinter shows.
QString pdfPrinterMissingText();

// Shows the set-up instructions (a plain box with the application title)
// unless a printer is installed under exactly PdfPrinterName.
void CheckPDFPrinter(Printers &printers, Desktop &desktop, QWidget *parent);

// The user's temporary folder: TEMP, else TMPDIR, else /tmp.
QString tempFolder();

// The "PDF" export: writes the grid as tab-separated text to tmp.txt in a
// private folder made under tempFolder(), makes the PDF printer the default,
// has the print program print the file and waits for it to end, then
// removes the file and its folder and gives the default printer back. Steps
// that fail are reported under the editor's mnuPDF location; a missing PDF
// printer ends the export silently. The print job is named `title` (the
// table's name), so the PDF is named after the table, not the temporary file.
void ExportPdf(GridSource &grid, Printers &printers, Desktop &desktop, QWidget *parent,
               const QString &title = QString());

// Runs `program` with `arguments` and waits up to `timeoutMs` for it to end.
// Throws Failure when it cannot start, does not end in time, crashes or ends
// with a non-zero code (its standard error is the description).
void runPrintProgram(const QString &program, const QStringList &arguments, int timeoutMs);
