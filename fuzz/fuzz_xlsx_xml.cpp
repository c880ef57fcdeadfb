// The xlsx reader's XML side: the workbook's parts as arbitrary bytes. The
// first byte says where the sheet's data is cut into two pieces; each part
// either reads or fails with a Failure, never crashes or hangs.
#include "core/Failure.h"
#include "import/XlsxXml.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray xml(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    std::vector<QByteArray> shared;
    std::vector<XlsxXml::Style> styles;
    try {
        shared = XlsxXml::sharedStrings(xml);
    } catch (const Failure &) { }
    try {
        styles = XlsxXml::styles(xml);
    } catch (const Failure &) { }
    try {
        XlsxXml::sheets(xml, xml);
    } catch (const Failure &) { }
    XlsxXml::dates1904(xml);
    XlsxXml::numberText(xml.left(32), XlsxXml::Style{XlsxXml::Style::Form(data[0] % 5), data[0] % 20}, data[0] & 1);
    try {
        XlsxSheetParser parser(shared, styles, false);
        const qsizetype cut = std::min<qsizetype>(xml.size(), qsizetype(data[0]) * 4);
        parser.addData(xml.left(cut));
        ImportRecord record;
        while (parser.next(record)) { }
        parser.addData(xml.mid(cut));
        parser.finish();
        while (parser.next(record)) { }
    } catch (const Failure &) { }
    return 0;
}
