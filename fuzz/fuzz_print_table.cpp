// The print program: any bytes are read as a table, and the layout of that
// table fits it to the paper without losing a column or a row.
#include "print/TablePrinter.h"
#include "print/TextTable.h"

#include <QGuiApplication>
#include <QPrinter>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, int line)
{
    if (!ok) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}
#define CHECK(x) check((x), __LINE__)

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
        CHECK(row.size() <= columns);
    CHECK(table.header.size() <= columns);

    TablePrinter layout(table);
    printer().setPageOrientation(QPageLayout::Portrait);
    layout.fit(printer());
    CHECK(layout.pointSize() >= TablePrinter::MinPointSize && layout.pointSize() <= TablePrinter::BasePointSize);
    CHECK(layout.rowsPerPage() >= 1);
    CHECK(layout.pageCount() >= 1);
    // The bands cover every column once, in order.
    int next = 0;
    for (const auto &[first, end] : layout.bands()) {
        CHECK(first == next && (end > first || columns == 0));
        next = end;
    }
    CHECK(next == columns);
    for (int c = 0; c < layout.columnChars().size(); ++c) {
        const int chars = layout.columnChars()[c];
        CHECK(chars >= 1);
        const QString sample = c < table.header.size() ? table.header[c] : QString();
        CHECK(TablePrinter::fitted(sample, chars).size() <= std::max(chars, int(sample.size())));
    }
    return 0;
}
