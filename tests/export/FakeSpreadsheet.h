#pragma once

#include "core/Failure.h"
#include "export/Spreadsheet.h"

#include <QByteArray>
#include <QList>

#include <vector>

// A spreadsheet program that records the workbook it is given: each sheet
// as rows of cells, in the order they came. Checks that rows come in order.
class FakeSpreadsheet : public Spreadsheet
{
public:
    using Sheet = std::vector<QList<QByteArray>>;

    class Book : public Workbook
    {
    public:
        explicit Book(FakeSpreadsheet &owner) : m_owner(owner) { addSheet(); }
        qint64 rowLimit() const override { return m_owner.rowLimit; }
        void addSheet() override { m_owner.sheets.emplace_back(); }
        void setCell(qint64 row, int column, std::string_view text) override
        {
            if (row == m_owner.failAtRow)
                throw Failure(QStringLiteral("cell refused"));
            Sheet &sheet = m_owner.sheets.back();
            if (row > rowLimit() || row < qint64(sheet.size()) || row > qint64(sheet.size()) + 1)
                throw Failure(QStringLiteral("row out of order"));
            if (row == qint64(sheet.size()) + 1)
                sheet.emplace_back();
            QList<QByteArray> &cells = sheet.back();
            if (column != cells.size() + 1)
                throw Failure(QStringLiteral("column out of order"));
            cells << QByteArray(text.data(), qsizetype(text.size()));
        }
        void autoFit() override { m_owner.autoFitted = true; }
        void makeVisible() override { m_owner.visible = true; }

    private:
        FakeSpreadsheet &m_owner;
    };

    bool isInstalled() override
    {
        ++installedChecks;
        if (checkThrows)
            throw Failure(QStringLiteral("cannot tell"));
        return installed;
    }
    std::unique_ptr<Workbook> newWorkbook(const QString &name) override
    {
        if (failNew)
            throw Failure(QStringLiteral("no workbook"));
        ++books;
        bookName = name;
        return std::make_unique<Book>(*this);
    }

    bool installed = true;
    bool checkThrows = false;
    bool failNew = false;
    qint64 failAtRow = -1;
    qint64 rowLimit = 1048576;

    int installedChecks = 0;
    int books = 0;
    QString bookName;
    std::vector<Sheet> sheets;
    bool autoFitted = false;
    bool visible = false;
};
