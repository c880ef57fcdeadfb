#pragma once

#include "export/Spreadsheet.h"
#include "export/XlsxWorkbook.h"

// The desktop's spreadsheet program, reached through files: a workbook is
// written as .xlsx into a private temporary folder (readable by the user
// alone) and opened with the program the desktop has for .xlsx files. The
// folder stays after the program ends, since the spreadsheet program may
// still have the file open; the system's cleaning of TMPDIR removes it.
class XlsxSpreadsheet : public Spreadsheet
{
public:
    static constexpr char MimeType[] = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

    // `opener` shows a saved workbook; by default the desktop's program.
    explicit XlsxSpreadsheet(XlsxWorkbook::Opener opener = {});

    // True when the desktop names a program for .xlsx files.
    bool isInstalled() override;
    std::unique_ptr<Workbook> newWorkbook(const QString &name) override;

    // The desktop file of the program for .xlsx files, or empty.
    static QString defaultProgram();
    // Opens `file` with that program, detached. Throws Failure.
    static void openWithDesktop(const QString &file);
    // `name` made fit for a file name.
    static QString fileName(const QString &name);

private:
    XlsxWorkbook::Opener m_opener;
};
