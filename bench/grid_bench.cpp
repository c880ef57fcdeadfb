// The editor's grid on a large table, driven as a user drives it: sign-in
// values, pick the table, "Next >"; then the first screen, the whole load,
// the process's peak memory, reading cells near the end and committing a
// one-cell edit.
//
// usage: corvane-bench HOST PORT USER PASSWORD DATABASE TABLE
// prints key=value lines.
#include "BenchSession.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/Desktop.h"
#include "grid/GridModel.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>

#include <cstdio>

namespace {

long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

qint64 status(Connection &c, const char *name)
{
    RowSet rs;
    rs.open(QStringLiteral("SHOW GLOBAL STATUS LIKE '%1'").arg(QLatin1String(name)), c);
    const RowStore::Cell cell = rs.rows().cell(0, 1);
    return QByteArray(cell.text().data(), qsizetype(cell.text().size())).toLongLong();
}

} // namespace

int run(Wizard &wizard, const QStringList &args)
{
    pickTable(wizard, args[6]);
    Form2 *picker = wizard.form2();

    const long baseRss = peakRssKb();
    QElapsedTimer clock;
    clock.start();
    Heartbeat heartbeat;
    picker->PushButton3_Click();
    Form3 *editor = wizard.form3();
    GridModel *model = editor->model();
    GridView *view = editor->DataGrid1;
    const int screen = view->viewport()->height() / view->verticalHeader()->defaultSectionSize() + 1;
    if (!waitForTable(editor, screen)) {
        std::fprintf(stderr, "the table was not opened\n");
        return 1;
    }
    view->viewport()->repaint();
    const double firstScreen = ms(clock);
    const qint64 firstRows = model->rowCount(QModelIndex());
    QElapsedTimer paint;
    paint.start();
    view->viewport()->repaint();
    const double repaint = ms(paint);
    heartbeat.reset(); // from here on the window is up: stalls during the load count

    if (!model->exportSource().waitUntilLoaded({}))
        std::fprintf(stderr, "the load did not finish\n");
    const double load = ms(clock);
    heartbeat.timer.stop();
    const qint64 maxStall = heartbeat.longest;
    const long rss = peakRssKb();
    const qint64 rows = model->exportSource().rowCount();

    // Every cell of 50 rows near the end, as the grid reads them to paint.
    QElapsedTimer tail;
    tail.start();
    qint64 chars = 0;
    for (qint64 r = rows - 100; r < rows - 50; ++r)
        for (int c = 0; c < model->columnCount(QModelIndex()); ++c)
            chars += model->data(model->index(int(r), c)).toString().size();
    const double tailRead = ms(tail);

    // One cell edited and committed, after a first commit has read the keys.
    auto admin = std::make_unique<Connection>();
    admin->open(model->connection()->params());
    const int column = 2; // qty
    const auto edit = [&](qint64 row) {
        const int now = model->index(int(row), column).data().toString().toInt();
        model->setData(model->index(int(row), column), QString::number(now + 1));
        QElapsedTimer t;
        t.start();
        const bool ok = model->commitRow() == GridModel::Outcome::Done;
        const double took = ms(t);
        return ok ? took : -1.0;
    };
    if (model->columnCount(QModelIndex()) <= column || rows < 100) {
        // A table of another shape: only the reading is measured.
        std::printf("first_screen_ms=%.1f\nrepaint_ms=%.2f\nload_ms=%.1f\nrows=%lld\nmax_stall_ms=%lld\n", firstScreen,
                    repaint, load, rows, maxStall);
        std::fflush(stdout);
        wizard.endProgram();
        return 0;
    }
    edit(rows - 10);
    const qint64 selectsBefore = status(*admin, "Com_select"), updatesBefore = status(*admin, "Com_update");
    const double commit = edit(rows - 5);
    const qint64 selects = status(*admin, "Com_select") - selectsBefore;
    const qint64 updates = status(*admin, "Com_update") - updatesBefore;

    std::printf("base_rss_kb=%ld\nfirst_screen_ms=%.1f\nfirst_screen_rows=%lld\nload_ms=%.1f\nrows=%lld\npeak_rss_kb=%ld\n"
                "tail_read_ms=%.3f\ntail_chars=%lld\ncommit_ms=%.2f\ncommit_selects=%lld\ncommit_updates=%lld\n"
                "repaint_ms=%.2f\nmax_stall_ms=%lld\n",
                baseRss, firstScreen, firstRows, load, rows, rss, tailRead, chars, commit, selects, updates, repaint,
                maxStall);
    std::fflush(stdout);
    wizard.endProgram();
    return commit < 0 ? 1 : 0;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-bench HOST PORT USER PASSWORD DATABASE TABLE", run);
}
