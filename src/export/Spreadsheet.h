#pragma once

#include <QString>

#include <memory>
#include <string_view>

// The spreadsheet program the "XLS" export fills a workbook in. The real one
// (XlsxSpreadsheet) writes an .xlsx file and opens it in the desktop's
// spreadsheet program; tests use a recording double.
class Spreadsheet
{
public:
    // A new workbook; its active sheet takes the cells. Rows and columns
    // count from 1. A sheet holds rowLimit() rows; addSheet() makes a new
    // sheet the active one. Rows are given in order, each row's cells from
    // left to right. Every call may throw Failure.
    class Workbook
    {
    public:
        virtual ~Workbook() = default;

        virtual qint64 rowLimit() const = 0;
        virtual void addSheet() = 0;
        // Gives a cell a text value (UTF-8). What the program makes of it,
        // a number or text, is its own affair.
        virtual void setCell(qint64 row, int column, std::string_view text) = 0;
        // Fits every column of every sheet to its longest text.
        virtual void autoFit() = 0;
        // Shows the workbook to the user, who saves it from the program.
        virtual void makeVisible() = 0;
        // Cells whose text was longer than a cell holds and was cut.
        virtual qint64 shortenedCells() const { return 0; }
        // Cells whose text held a NUL character, which a cell cannot hold:
        // their text was cut there.
        virtual qint64 cellsCutAtNul() const { return 0; }
    };

    virtual ~Spreadsheet() = default;

    // Whether the program is there to be started. Silent.
    virtual bool isInstalled() = 0;
    // Starts a new workbook; `name` suggests what to call it. Throws Failure.
    virtual std::unique_ptr<Workbook> newWorkbook(const QString &name) = 0;
};
