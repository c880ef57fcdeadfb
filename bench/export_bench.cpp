// Times the exports of a table already loaded in the editor's grid model,
// and a plain libxlsxwriter program writing the same strings, and prints
// one "name=value" line per figure for bench/exports.sh.
//
//   corvane-export-bench SERVER PORT USER PASSWORD DATABASE TABLE OUTDIR [RUNS]

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "export/ExcelExport.h"
#include "export/Spreadsheet.h"
#include "export/TextExports.h"
#include "export/XlsxWorkbook.h"
#include "frame/Desktop.h"
#include "grid/GridModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <xlsxwriter.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include <string>

namespace {

// Any box during a run is a failure of that run.
class BenchDesktop : public Desktop
{
public:
    Answer message(QWidget *, const QString &caption, const QString &text, Icon, Buttons, Answer answer) override
    {
        ++boxes;
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return answer;
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    void processEvents() override {}
    int boxes = 0;
};

class FileSpreadsheet : public Spreadsheet
{
public:
    explicit FileSpreadsheet(QString file) : m_file(std::move(file)) {}
    bool isInstalled() override { return true; }
    std::unique_ptr<Workbook> newWorkbook(const QString &) override { return std::make_unique<XlsxWorkbook>(m_file); }

private:
    QString m_file;
};

qint64 statusKib(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Best of `runs` timings, in milliseconds.
double best(int runs, const std::function<void()> &work)
{
    double out = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        out = std::min(out, double(t.nsecsElapsed()) / 1e6);
    }
    return out;
}

// The same strings written by libxlsxwriter alone: constant memory, every
// cell a string, no widths, no number rule.
void plainXlsx(const GridSource &grid, const QString &file)
{
    lxw_workbook_options options{};
    options.constant_memory = 1;
    QByteArray tmp = QFile::encodeName(QDir::tempPath());
    options.tmpdir = tmp.data();
    lxw_workbook *book = workbook_new_opt(QFile::encodeName(file).constData(), &options);
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    std::string scratch;
    for (int c = 0; c < grid.columnCount(); ++c)
        worksheet_write_string(sheet, 0, lxw_col_t(c), grid.caption(c).toUtf8().constData(), nullptr);
    for (qint64 r = 0; r < grid.rowCount(); ++r) {
        for (int c = 0; c < grid.columnCount(); ++c) {
            const QByteArray text = grid.cellText(r, c);
            scratch.assign(text.constData(), size_t(text.size()));
            worksheet_write_string(sheet, lxw_row_t(r + 1), lxw_col_t(c), scratch.c_str(), nullptr);
        }
    }
    if (workbook_close(book) != LXW_NO_ERROR)
        throw Failure(QStringLiteral("plain workbook failed"));
}

void print(const char *name, double value)
{
    std::printf("%s=%.3f\n", name, value);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 8) {
        std::fprintf(stderr, "usage: %s SERVER PORT USER PASSWORD DATABASE TABLE OUTDIR [RUNS]\n", argv[0]);
        return 2;
    }
    const QString table = args[6];
    const QDir out(args[7]);
    const int runs = args.size() > 8 ? args[8].toInt() : 3;
    try {
        Connection connection;
        connection.open(ConnectionString({args[1], args[3], args[4], args[5], args[2]}));
        QElapsedTimer load;
        load.start();
        RowSet rows;
        rows.open(QStringLiteral("SELECT * FROM `") + table + QStringLiteral("`;"), connection);
        GridModel model;
        model.setRowSet(&rows, &connection);
        GridSource &grid = model.exportSource();
        grid.waitUntilLoaded([](qint64) { return true; });
        print("rows", double(grid.rowCount()));
        print("load_ms", double(load.nsecsElapsed()) / 1e6);
        print("grid_rss_mib", double(statusKib("VmRSS:")) / 1024);

        BenchDesktop desktop;
        // The three text formats take turns, so a busy machine slows each
        // of them alike; the best run of each counts.
        // Each turn's XML and CSV are also set against that turn's TXT: the
        // median of those ratios holds still on a shared machine.
        double txt = 1e300, xml = 1e300, csv = 1e300;
        std::vector<double> xmlRatios, csvRatios;
        // Each export starts with the files before it written out, so none
        // pays for another's writeback.
        for (int i = 0; i < runs; ++i) {
            ::sync();
            const double t = best(1, [&] { SaveDataGridToFile(grid, out.filePath("export.txt"), desktop, nullptr, {}); });
            ::sync();
            const double x = best(1, [&] { SaveDataGridToXMLFile(grid, out.filePath("export.xml"), desktop, nullptr, {}); });
            ::sync();
            const double c = best(1, [&] { SaveDataGridToCSVFile(grid, out.filePath("export.csv"), desktop, nullptr, {}); });
            txt = std::min(txt, t);
            xml = std::min(xml, x);
            csv = std::min(csv, c);
            xmlRatios.push_back(x / t);
            csvRatios.push_back(c / t);
        }
        print("txt_ms", txt);
        print("xml_ms", xml);
        print("csv_ms", csv);
        for (auto [name, ratios] : {std::pair{"xml", &xmlRatios}, std::pair{"csv", &csvRatios}}) {
            std::sort(ratios->begin(), ratios->end());
            const size_t n = ratios->size();
            const double median = n % 2 ? (*ratios)[n / 2] : ((*ratios)[n / 2 - 1] + (*ratios)[n / 2]) / 2;
            print((std::string(name) + "_ratio_median").c_str(), median);
            print((std::string(name) + "_ratio_min").c_str(), ratios->front());
            print((std::string(name) + "_ratio_max").c_str(), ratios->back());
        }
        if (qEnvironmentVariableIsSet("CORVANE_BENCH_TEXT_ONLY"))
            return 0;
        print("plain_xlsx_ms", best(1, [&] { plainXlsx(grid, out.filePath("plain.xlsx")); }));

        FileSpreadsheet spreadsheet(out.filePath("export.xlsx"));
        resetPeak();
        const qint64 before = statusKib("VmRSS:");
        print("xlsx_ms", best(1, [&] {
            SaveDataGridToWorkbook(grid, &spreadsheet, table, desktop, nullptr, nullptr, {});
        }));
        print("xlsx_extra_mib", double(statusKib("VmHWM:") - before) / 1024);
        print("boxes", desktop.boxes);
        return desktop.boxes == 0 ? 0 : 1;
    } catch (const Failure &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
}
