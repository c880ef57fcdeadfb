#include "export/DataGrid1.h"

#include "export/ExportText.h"
#include "export/GridSource.h"
#include "export/ProgressDialog.h"
#include "frame/Locations.h"
#include "frame/Trap.h"

#include <QList>

#include <array>

namespace {

constexpr char CrLf[] = "\r\n";

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

// Waits for the rows (step `waitLine`), then builds every row's text (step
// `rowLine`). False when the user cancelled or a step failed and was
// reported: the file is then not written. A failure to write the text is
// left for the final step to report.
template <class Row>
bool exportRows(Trap &trap, int waitLine, int rowLine, GridWalk &walk, ExportText &text, Row &&row)
{
    bool loaded = false;
    if (!trap.step(waitLine, [&] { loaded = walk.waitForRows(); }) || !loaded)
        return false;
    const bool built = trap.step(rowLine, [&] {
        walk.forEachRow([&](qint64 r) {
            row(r);
            return !text.failed();
        });
    });
    return built && !walk.cancelled();
}

// The export's own progress dialog, for callers that hand in none.
template <class Save>
bool withProgressDialog(QWidget *parent, Save &&save)
{
    ProgressDialog dialog(parent);
    return save(dialog.function());
}

// CSV quoting: a field is quoted when it holds a comma, a double quote, CR
// or LF. A table lookup keeps the scan to one test per byte.
bool needsQuotes(QByteArrayView field)
{
    static constexpr auto special = [] {
        std::array<bool, 256> t{};
        t[size_t(',')] = t[size_t('"')] = t[size_t('\r')] = t[size_t('\n')] = true;
        return t;
    }();
    for (const char ch : field) {
        if (special[static_cast<unsigned char>(ch)])
            return true;
    }
    return false;
}

void appendCsvField(ExportText &text, QByteArrayView field, bool isNull)
{
    if (isNull)
        return;
    if (!field.isEmpty() && !needsQuotes(field)) {
        text.append(field);
        return;
    }
    text.append('"');
    qsizetype from = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '"') {
            text.append(field.sliced(from, i + 1 - from));
            text.append('"');
            from = i + 1;
        }
    }
    text.append(field.sliced(from));
    text.append('"');
}

} // namespace

bool SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                        const ExportProgress &progress)
{
    Trap trap(desktop, parent, QLatin1String(Location::Datagrid1_SaveDataGridToFile));
    ExportText text(path); // 100: the text starts empty
    GridWalk walk(grid, progress);
    QByteArray scratch; // reused for cells the grid cannot share
    const int columns = grid.columnCount();
    const bool header = trap.step(102, [&] {
        for (const QByteArray &caption : captions(grid)) {
            text.append(caption);
            text.append('\t');
        }
    }) && trap.step(108, [&] { appendCrLf(text); });
    const bool rows = header && exportRows(trap, 110, 126, walk, text, [&](qint64 r) {
        for (int c = 0; c < columns; ++c) {
            text.append(grid.cellBytes(r, c, scratch));
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
    QByteArray scratch;
    // Each cell's line is its start tag, its text and its end tag.
    QList<QByteArray> starts, ends;
    for (const QByteArray &name : captions(grid)) {
        starts << '<' + name + '>';
        ends << "</" + name + ">\r\n";
    }
    const bool start = trap.step(100, [&] {
        text.append("<xml>");
        appendCrLf(text);
    });
    const bool rows = start && exportRows(trap, 102, 120, walk, text, [&](qint64 r) {
        text.append("<row>\r\n", 7);
        for (int c = 0; c < starts.size(); ++c) {
            text.append(starts[c]);
            text.append(grid.cellBytes(r, c, scratch));
            text.append(ends[c]);
        }
        text.append("</row>\r\n", 8);
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
    QByteArray scratch;
    const int columns = grid.columnCount();
    const bool header = trap.step(102, [&] {
        const QList<QByteArray> names = captions(grid);
        for (int c = 0; c < names.size(); ++c) {
            if (c > 0)
                text.append(',');
            appendCsvField(text, names[c], false);
        }
        appendCrLf(text);
    });
    const bool rows = header && exportRows(trap, 110, 126, walk, text, [&](qint64 r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                text.append(',');
            const QByteArrayView cell = grid.cellBytes(r, c, scratch);
            appendCsvField(text, cell, cell.isEmpty() && grid.isNull(r, c));
        }
        appendCrLf(text);
    });
    return rows && trap.step(134, [&] { text.commit(); });
}

bool SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent)
{
    return withProgressDialog(parent, [&](const ExportProgress &p) { return SaveDataGridToFile(grid, path, desktop, parent, p); });
}

bool SaveDataGridToXMLFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent)
{
    return withProgressDialog(parent, [&](const ExportProgress &p) { return SaveDataGridToXMLFile(grid, path, desktop, parent, p); });
}

bool SaveDataGridToCSVFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent)
{
    return withProgressDialog(parent, [&](const ExportProgress &p) { return SaveDataGridToCSVFile(grid, path, desktop, parent, p); });
}
