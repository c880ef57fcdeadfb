#include "export/TextExports.h"

#include "core/GridSource.h"
#include "export/CsvField.h"
#include "export/ExportText.h"
#include "frame/Locations.h"
#include "frame/Trap.h"

#include <QList>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char CrLf[] = "\r\n";

using Cells = std::vector<GridSource::CellText>;

void appendCrLf(ExportText &text)
{
    text.append(CrLf, 2);
}

QList<QByteArray> captions(const GridSource &grid)
{
    QList<QByteArray> out;
    for (int c = 0; c < grid.columnCount(); ++c)
        out << grid.caption(c).toUtf8();
    return out;
}

// Waits for the rows (step `waitLine`), then builds every row's text from
// its cells (step `rowLine`). False when the user cancelled or a step failed
// and was reported: the file is then not written. A failure to write the
// text is left for the final step to report.
template <class Row>
bool exportRows(Trap &trap, int waitLine, int rowLine, GridWalk &walk, ExportText &text, Row &&row)
{
    bool loaded = false;
    if (!trap.step(waitLine, [&] { loaded = walk.waitForRows(); }) || !loaded)
        return false;
    Cells cells;
    const bool built = trap.step(rowLine, [&] {
        walk.forEachRow([&](qint64 r) {
            walk.grid().rowText(r, cells);
            row(cells);
            return !text.failed();
        });
    });
    return built && !walk.cancelled();
}

} // namespace

bool SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                        const ExportProgress &progress)
{
    Trap trap(desktop, parent, QLatin1String(Location::Datagrid1_SaveDataGridToFile));
    ExportText text(path); // 100: the text starts empty
    GridWalk walk(grid, progress);
    const bool header = trap.step(102, [&] {
        for (const QByteArray &caption : captions(grid)) {
            text.append(caption);
            text.append('\t');
        }
    }) && trap.step(108, [&] { appendCrLf(text); });
    const bool rows = header && exportRows(trap, 110, 126, walk, text, [&](const Cells &cells) {
        for (const GridSource::CellText &cell : cells) {
            text.append(cell.text);
            text.append('\t');
        }
        appendCrLf(text);
    });
    return rows && trap.step(134, [&] { text.commit(); });
}

bool SaveDataGridToXMLFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                           const ExportProgress &progress)
{
    Trap trap(desktop, parent, QLatin1String(Location::Datagrid1_SaveDataGridToXMLFile));
    ExportText text(path);
    GridWalk walk(grid, progress);
    // Each cell's line is its start tag, its text and its end tag. A row is
    // written as its opening, then each cell's text followed by what comes
    // before the next text: the cell's end tag and the next start tag, or
    // the row's end after the last cell.
    const QList<QByteArray> names = captions(grid);
    QByteArray opening = "<row>\r\n" + (names.isEmpty() ? QByteArray("</row>\r\n") : '<' + names[0] + '>');
    QList<QByteArray> joints;
    for (qsizetype c = 0; c < names.size(); ++c) {
        const QByteArray next = c + 1 < names.size() ? '<' + names[c + 1] + '>' : QByteArray("</row>\r\n");
        joints << "</" + names[c] + ">\r\n" + next;
    }
    const bool start = trap.step(100, [&] {
        text.append("<xml>");
        appendCrLf(text);
    });
    const bool rows = start && exportRows(trap, 102, 120, walk, text, [&](const Cells &cells) {
        text.append(opening);
        for (size_t c = 0; c < cells.size(); ++c) {
            text.append(cells[c].text);
            text.append(joints[qsizetype(c)]);
        }
    });
    return rows && trap.step(128, [&] { text.append("</xml>"); })
        && trap.step(130, [&] { text.commit(); });
}

bool SaveDataGridToCSVFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                           const ExportProgress &progress)
{
    Trap trap(desktop, parent, QLatin1String(Location::Datagrid1_SaveDataGridToCSVFile));
    ExportText text(path);
    GridWalk walk(grid, progress);
    const bool header = trap.step(102, [&] {
        const QList<QByteArray> names = captions(grid);
        for (int c = 0; c < names.size(); ++c) {
            if (c > 0)
                text.append(',');
            appendCsvField(text, names[c], false);
        }
        appendCrLf(text);
    });
    const bool rows = header && exportRows(trap, 110, 126, walk, text, [&](const Cells &cells) {
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0)
                text.append(',');
            appendCsvField(text, cells[c].text, cells[c].text.isEmpty() && cells[c].isNull, cells[c].numeric);
        }
        appendCrLf(text);
    });
    return rows && trap.step(134, [&] { text.commit(); });
}
