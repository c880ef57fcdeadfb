#pragma once

#include "export/Spreadsheet.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// A workbook written to an .xlsx file with libxlsxwriter, row by row in its
// constant-memory mode, so memory stays small however many rows there are.
// Row 1 of each sheet holds captions and stays text; other cells become
// numbers where XlsxNumber says they keep every digit. The file is written
// when the workbook is saved or made visible; a workbook dropped before that
// writes nothing and removes its folder when it was given one.
class XlsxWorkbook : public Spreadsheet::Workbook
{
public:
    using Opener = std::function<void(const QString &file)>;

    // The most rows a sheet holds, and the characters a cell holds.
    static constexpr qint64 SheetRows = 1048576;
    static constexpr qint64 CellChars = 32767;

    // `opener` shows the saved file (may be empty); `folder`, when given, is
    // a private folder holding only this file and a record of its name
    // (FolderRecord).
    static constexpr char FolderRecord[] = ".corvane-workbook";
    explicit XlsxWorkbook(const QString &file, Opener opener = {}, const QString &folder = QString(),
                          qint64 rowLimit = SheetRows);
    ~XlsxWorkbook() override;

    qint64 rowLimit() const override { return m_rowLimit; }
    void addSheet() override;
    void setCell(qint64 row, int column, std::string_view text) override;
    void autoFit() override;
    void makeVisible() override;

    // Writes the file. Throws Failure.
    void save();

    const QString &fileName() const { return m_file; }
    qint64 shortenedCells() const override { return m_shortened; }
    qint64 cellsCutAtNul() const override { return m_cutAtNul; }

private:
    lxw_format *numberFormat(int decimals);
    // Removes the file, and the folder when it was given one.
    void removeCopy();

    QString m_file;
    Opener m_opener;
    QString m_folder;
    qint64 m_rowLimit;
    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    std::vector<lxw_worksheet *> m_sheets;
    // Longest text per column, in characters, of each sheet.
    std::vector<std::vector<int>> m_widths;
    std::vector<lxw_format *> m_formats;
    std::string m_scratch;
    qint64 m_shortened = 0;
    qint64 m_cutAtNul = 0;
    bool m_saved = false;
};
