// The print program: any bytes are read as a table, and the layout of that
// table fits it to the paper without losing a column or a row.
#include "export/TablePrinter.h"
#include "export/TextTable.h"

#include <QGuiApplication>
#include <QPrinter>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

QPrinter &printer()
{
    static QPrinter *p = [] {
        auto *out = new QPrinter(QPrinter::HighResolution);
        out->setOutputFormat(QPrinter::PdfFormat);
        out->setOutputFileName(QStringLiteral("/dev/null"));
        return out;
    }();
    return *p;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TextTable table = TextTable::parse(TextTable::decode(bytes));
    const int columns = table.columnCount();
    for (const QStringList &row : table.rows)
        check(row.size() <= columns);
    check(table.header.size() <= columns);

    TablePrinter layout(table);
    printer().setPageOrientation(QPageLayout::Portrait);
    layout.fit(printer());
    check(layout.pointSize() >= TablePrinter::MinPointSize && layout.pointSize() <= TablePrinter::BasePointSize);
    check(layout.rowsPerPage() >= 1);
    check(layout.pageCount() >= 1);
    // The bands cover every column once, in order.
    int next = 0;
    for (const auto &[first, end] : layout.bands()) {
        check(first == next && end > first);
        next = end;
    }
    check(next == std::max(columns, 1) || (columns == 0 && next == 0));
    for (int c = 0; c < layout.columnChars().size(); ++c) {
        const int chars = layout.columnChars()[c];
        check(chars >= 1);
        const QString sample = c < table.header.size() ? table.header[c] : QString();
        check(TablePrinter::fitted(sample, chars).size() <= std::max(chars, int(sample.size())));
    }
    return 0;
}
