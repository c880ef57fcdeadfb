#pragma once

#include "export/Spreadsheet.h"
#include "export/XlsxWorkbook.h"

// The desktop's spreadsheet program, reached through files: a workbook is
// written as .xlsx into a private temporary folder (readable by the user
// alone) and opened with the program the desktop has for .xlsx files. The
// folder stays while the spreadsheet program may still need the file; each
// new workbook first removes the user's folders that are no longer needed
// (see removeStaleFolders), and a folder whose file could not be opened goes
// at once.
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
    // Removes from the current user's workbook folders in `tempDir` that
    // are older than a day, or older than an hour and not marked open by a
    // spreadsheet program's lock file, the files the program wrote, by name;
    // a folder goes when that leaves it empty. Returns how many went.
    static int removeStaleFolders(const QString &tempDir, qint64 nowSeconds);

    static constexpr char FolderPrefix[] = "corvane-xlsx-";

private:
    XlsxWorkbook::Opener m_opener;
};
