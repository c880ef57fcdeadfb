// The import on the table `big` (see the bench data set): its 1,000,000
// rows written by our CSV export, and its first 100,000 by our xlsx export,
// each imported into an empty copy (CREATE TABLE ... LIKE) the way the
// editor runs it: a worker thread of its own while the window thread waits
// with its event loop, which a timer asking every 5 ms watches for stalls.
//
// usage: corvane-import-bench HOST PORT USER PASSWORD DATABASE OUTFOLDER
// prints key=value lines; leaves OUTFOLDER/big.csv for a LOAD DATA peer.
#include "BenchSession.h"
#include "core/Wait.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/ImportTarget.h"
#include "db/RowSet.h"
#include "export/ExcelExport.h"
#include "export/TextExports.h"
#include "export/XlsxWorkbook.h"
#include "import/ImportJob.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

class FileSpreadsheet : public Spreadsheet
{
public:
    explicit FileSpreadsheet(QString path) : m_path(std::move(path)) { }
    bool isInstalled() override { return true; }
    std::unique_ptr<Workbook> newWorkbook(const QString &) override { return std::make_unique<XlsxWorkbook>(m_path); }

private:
    QString m_path;
};

void exportRows(const ConnectParams &params, const char *query, const QString &path, bool workbook)
{
    Connection connection;
    connection.open(params);
    RowSet rows;
    rows.open(QString::fromLatin1(query), connection);
    GridModel model;
    model.setRowSet(&rows, &connection);
    SilentDesktop desktop;
    if (workbook) {
        FileSpreadsheet spreadsheet(path);
        SaveDataGridToWorkbook(
            model.exportSource(), &spreadsheet, QStringLiteral("big"), desktop, nullptr, nullptr, {});
    } else {
        SaveDataGridToCSVFile(model.exportSource(), path, desktop, nullptr, {});
    }
}

// Imports `path` into a new empty copy of big; the time and the longest stall.
std::pair<double, qint64> importInto(const ConnectParams &params, const QByteArray &table, const QString &path)
{
    Connection connection;
    connection.open(params);
    connection.exec("DROP TABLE IF EXISTS " + table);
    connection.exec("CREATE TABLE " + table + " LIKE big");
    ImportTarget target = ImportTarget::read(connection, table);
    QStringList columns;
    for (const TargetColumn &c : target.columns)
        columns << QString::fromUtf8(c.name);
    ImportSettings settings = ImportSettings::guess(path, columns);
    QList<QByteArray> header;
    settings.open(&header);
    settings.sources = mapColumns(target, header, int(header.size()), false);
    Heartbeat heartbeat;
    QElapsedTimer t;
    t.start();
    ImportJob job(params, std::move(target), settings);
    job.start();
    heartbeat.reset();
    Wait().until([&] { return job.isFinished(); }).every(30).run();
    const double elapsed = ms(t);
    if (job.outcome().result != ImportJob::Outcome::Result::Done)
        std::fprintf(stderr, "import failed: %s\n", qPrintable(job.outcome().reason));
    std::fprintf(stderr, "%s: %lld rows\n", table.constData(), job.outcome().rows);
    return {elapsed, heartbeat.longest};
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 7) {
        std::fprintf(stderr, "usage: corvane-import-bench HOST PORT USER PASSWORD DATABASE OUTFOLDER\n");
        return 2;
    }
    ConnectionFields fields;
    fields.server = args[1];
    fields.port = args[2];
    fields.user = args[3];
    fields.password = args[4];
    fields.database = args[5];
    const ConnectParams params = Connection::paramsFrom(ConnectionString(fields));
    const QString csv = args[6] + QStringLiteral("/big.csv");
    const QString xlsx = args[6] + QStringLiteral("/big100k.xlsx");
    try {
        exportRows(params, "SELECT * FROM `big`", csv, false);
        exportRows(params, "SELECT * FROM `big` LIMIT 100000", xlsx, true);
        const auto [csvMs, csvStall] = importInto(params, "big_import", csv);
        const auto [xlsxMs, xlsxStall] = importInto(params, "big_xlsx", xlsx);
        std::printf("import_csv_ms=%.0f\nimport_xlsx_100k_ms=%.0f\nimport_max_stall_ms=%lld\n", csvMs, xlsxMs,
            std::max(csvStall, xlsxStall));
    } catch (const Failure &f) {
        std::fprintf(stderr, "%s\n", qPrintable(f.description()));
        return 1;
    }
    return 0;
}
