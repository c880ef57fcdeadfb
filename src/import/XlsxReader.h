#pragma once

#include "import/ImportRecord.h"
#include "import/XlsxXml.h"

#include <QString>
#include <QStringList>

#include <memory>

// Reads one sheet of an xlsx workbook (a zip of XML parts, opened with
// libzip) as records, streaming the sheet's XML in pieces. The header row,
// when asked for, is the first row with a value.
class XlsxReader : public ImportReader
{
public:
    // Opens sheet `sheet` (0 is the first) of the workbook at `path`; throws
    // Failure when the file is no complete workbook or has no such sheet.
    XlsxReader(const QString &path, int sheet, bool header);
    ~XlsxReader() override;

    // The workbook's sheet names, in order; throws Failure as above.
    static QStringList sheetNames(const QString &path);

    const QList<QByteArray> &header() const { return m_header; }

    bool next(ImportRecord &record) override;
    qint64 done() const override { return m_done; }
    qint64 total() const override { return m_total; }

private:
    struct Zip;
    // Reads the next piece of the sheet into the parser; false at its end.
    bool feed();

    std::unique_ptr<Zip> m_zip;
    std::vector<QByteArray> m_shared;
    std::vector<XlsxXml::Style> m_styles;
    std::unique_ptr<XlsxSheetParser> m_parser;
    QList<QByteArray> m_header;
    qint64 m_done = 0;
    qint64 m_total = 0;
};
