#pragma once

#include "import/ImportRecord.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <vector>

// The XML parts of an xlsx workbook, read with QXmlStreamReader. Plain
// functions of the parts' bytes, so the fuzzer reaches them without a zip.
namespace XlsxXml {

struct Sheet
{
    QString name;
    QString part; // its path in the zip, e.g. "xl/worksheets/sheet1.xml"
};
// The sheets in the workbook's order, from xl/workbook.xml and its
// relationships. Throws Failure when they do not parse.
std::vector<Sheet> sheets(const QByteArray &workbook, const QByteArray &relationships);
// Whether the workbook counts dates from 1904 rather than 1900.
bool dates1904(const QByteArray &workbook);
// Every string of xl/sharedStrings.xml as UTF-8, rich text runs joined.
std::vector<QByteArray> sharedStrings(const QByteArray &xml);

// How a number cell shows, by its style's number format.
struct Style
{
    enum class Form { General, Fixed, Date, Time, DateTime };
    Form form = Form::General;
    int decimals = 0; // for Fixed
};
// The cell styles (cellXfs) of xl/styles.xml, by index.
std::vector<Style> styles(const QByteArray &xml);
Style styleOfCode(const QString &formatCode);
Style builtInStyle(int numFmtId);

// The text a number cell shows: `value` as the sheet stores it, in `style`.
QByteArray numberText(QByteArrayView value, const Style &style, bool dates1904);

} // namespace XlsxXml

// Reads the rows of one sheet's XML as records, from data given in pieces
// (addData()), so a large sheet is never held whole. Cells are placed by
// their reference ("C7"); missing ones are empty, a row without a value in
// any cell is skipped. Shared strings, inline strings, formula results,
// booleans (1 or 0) and numbers (in their style's form, dates as
// "YYYY-MM-DD HH:MM:SS") come in as text.
class XlsxSheetParser
{
public:
    XlsxSheetParser(const std::vector<QByteArray> &shared, const std::vector<XlsxXml::Style> &styles, bool dates1904);

    void addData(const QByteArray &data) { m_xml.addData(data); }
    // Says no more data comes.
    void finish() { m_finished = true; }
    // The next row: true with `record` filled, false when the data given so
    // far is used up (more is needed, or the sheet ended: atEnd()). Throws
    // Failure on malformed XML or XML that ends too soon.
    bool next(ImportRecord &record);
    bool atEnd() const { return m_ended; }

private:
    void startCell(ImportRecord &record);
    void endCell(ImportRecord &record);
    [[noreturn]] void malformed(const QString &what) const;

    const std::vector<QByteArray> &m_shared;
    const std::vector<XlsxXml::Style> &m_styles;
    bool m_dates1904;
    QXmlStreamReader m_xml;
    bool m_finished = false;
    bool m_ended = false;
    bool m_inRow = false;
    bool m_inValue = false; // inside <v> or an inline string's <t>
    bool m_rowHasValue = false;
    qint64 m_rowNumber = 0;
    int m_column = -1;
    QByteArray m_type;
    int m_style = 0;
    QString m_text;
};
