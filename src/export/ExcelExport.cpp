#include "export/ExcelExport.h"

#include "core/GridSource.h"
#include "export/Spreadsheet.h"
#include "frame/Desktop.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/Trap.h"

#include <QList>

#include <optional>

namespace {

void setHeader(Spreadsheet::Workbook &book, const QList<QByteArray> &captions)
{
    int i = 1; // 110
    for (const QByteArray &caption : captions) {
        book.setCell(1, i, std::string_view(caption.constData(), size_t(caption.size())));
        ++i;
    }
}

QString continuedText(int sheets, qint64 rowsPerSheet)
{
    return QStringLiteral("The table has more rows than one sheet holds (%L1 under the captions). "
                          "The rows go on in sheets 2 to %2, each starting with the captions again.")
        .arg(rowsPerSheet)
        .arg(sheets);
}

} // namespace

bool IsExcelInstalled(Spreadsheet *spreadsheet, Desktop &desktop, QWidget *parent)
{
    bool installed = false;
    try {
        installed = spreadsheet && spreadsheet->isInstalled();
    } catch (...) {
        return false;
    }
    if (!installed) {
        desktop.message(parent, Main::appTitle(),
                        QStringLiteral("Excel is not installed on this computer. "
                                       "You need to have it installed to use this feature."),
                        Desktop::Icon::None, Desktop::Buttons::Ok, Desktop::Answer::Ok);
    }
    return installed;
}

void SaveDataGridToWorkbook(GridSource &grid, Spreadsheet *spreadsheet, const QString &name, Desktop &desktop,
                            QWidget *parent, PagePointer *pointer, const ExportProgress &progress)
{
    Trap trap(desktop, parent, QLatin1String(Location::Form3_mnuXLS_Click));
    GridWalk walk(grid, progress);
    bool loaded = false;
    if (!trap.step(100, [&] { loaded = walk.waitForRows(); }) || !loaded || grid.rowCount() <= 0)
        return;
    if (!IsExcelInstalled(spreadsheet, desktop, parent)) // 102
        return;
    std::optional<BusyPointer> busy;
    if (pointer)
        busy.emplace(*pointer); // 104; back to default (154) however this ends
    std::unique_ptr<Spreadsheet::Workbook> book;
    // Without a workbook every later step would fail: one report is enough.
    if (!trap.step(108, [&] { book = spreadsheet->newWorkbook(name); }))
        return;

    QList<QByteArray> captions;
    for (int c = 0; c < grid.columnCount(); ++c)
        captions << grid.caption(c).toUtf8();
    trap.step(112, [&] { setHeader(*book, captions); });

    const int columns = int(captions.size());
    int sheets = 1;
    qint64 j = 2; // 120
    trap.step(140, [&] {
        walk.forEachRow([&](qint64 r) {
            if (j > book->rowLimit()) {
                book->addSheet();
                setHeader(*book, captions);
                ++sheets;
                j = 2;
            }
            for (int i = 1; i <= columns; ++i) {
                const QByteArray text = grid.cellText(r, i - 1);
                book->setCell(j, i, std::string_view(text.constData(), size_t(text.size())));
            }
            ++j; // 146
            return true;
        });
    });
    if (walk.cancelled())
        return; // the workbook goes unseen
    trap.step(150, [&] { book->autoFit(); });
    if (!trap.step(152, [&] { book->makeVisible(); }))
        return;
    if (sheets > 1)
        desktop.message(parent, Main::appTitle(), continuedText(sheets, book->rowLimit() - 1));
    if (const qint64 cut = book->shortenedCells(); cut > 0) {
        desktop.message(parent, Main::appTitle(),
                        QStringLiteral("%L1 cells held more text than a sheet's cell takes; "
                                       "they were cut to fit.").arg(cut));
    }
    if (const qint64 cut = book->cellsCutAtNul(); cut > 0) {
        desktop.message(parent, Main::appTitle(),
                        QStringLiteral("%L1 cells held a NUL character, which a sheet's cell cannot take; "
                                       "their text was cut there.").arg(cut));
    }
}
