// Sorting, filtering and finding in the editor's grid on a large table,
// driven as a user drives them: a header click (through the same call), the
// filter of the find bar, F3. Each time runs until the first screen shows
// the result; a timer that asks every 5 ms tells the longest the window
// stood still meanwhile.
//
// usage: corvane-sort-bench HOST PORT USER PASSWORD DATABASE TABLE
// prints key=value lines. The table is `big` (see the bench data set):
// column 1 name VARCHAR, 2 qty INT, 3 price DECIMAL, 6 note TEXT.
#include "BenchSession.h"
#include "frame/Desktop.h"
#include "grid/FindBar.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

namespace {

} // namespace

int run(Wizard &wizard, const QStringList &args)
{
    pickTable(wizard, args[6]);
    Form2 *picker = wizard.form2();
    picker->PushButton3_Click();
    Form3 *editor = wizard.form3();
    GridModel *model = editor->model();
    GridOrder *order = editor->order();
    GridView *view = editor->DataGrid1;
    if (!model->exportSource().waitUntilLoaded({})) {
        std::fprintf(stderr, "the load did not finish\n");
        return 1;
    }
    const qint64 rows = model->exportSource().rowCount();

    Heartbeat heartbeat;
    const auto settle = [&] {
        while (order->isBusy() || order->isFinding())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        view->viewport()->repaint();
    };
    const auto timeSort = [&](int column, Qt::SortOrder o) {
        QElapsedTimer t;
        t.start();
        view->orderBy(column, o);
        settle();
        return ms(t);
    };
    const double sortInt = timeSort(2, Qt::AscendingOrder);
    const double sortDecimal = timeSort(3, Qt::AscendingOrder);
    const double sortText = timeSort(1, Qt::AscendingOrder);
    const double extra = double(order->extraBytes()) / double(rows);

    // Filter in the server's order: "contains", every column, 3 characters.
    view->orderBy(-1);
    settle();
    QElapsedTimer t;
    t.start();
    order->setFilter({QStringLiteral("e4f"), false, false, -1});
    settle();
    const double filter = ms(t);
    const qint64 filtered = order->shownRowCount();
    order->setFilter({});
    settle();

    // The next match, 500,000 rows below the current cell: the find bar's
    // text typed, then F3.
    view->setCurrentIndex(view->model()->index(0, 0));
    editor->findBar->open();
    t.restart();
    editor->findBar->findChild<QLineEdit *>(QStringLiteral("findEdit"))
        ->setText(QStringLiteral("note %1 ").arg(500001));
    editor->findBar->step(false);
    while (view->currentIndex().row() != 500000 && (order->isFinding() || order->isBusy()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    view->viewport()->repaint();
    const double findAll = ms(t);
    const bool found = view->currentIndex().row() == 500000;
    // With the matches known, F3 again from the top.
    view->setCurrentIndex(view->model()->index(0, 0));
    t.restart();
    editor->findBar->step(false);
    view->viewport()->repaint();
    const double findNext = ms(t);
    heartbeat.timer.stop();
    const qint64 maxStall = heartbeat.longest;

    std::printf("rows=%lld\nsort_int_1m_ms=%.1f\nsort_decimal_1m_ms=%.1f\nsort_text_1m_ms=%.1f\nfilter_1m_ms=%.1f\n"
                "filter_rows=%lld\nfind_first_ms=%.1f\nfind_next_ms=%.2f\nfound=%d\nview_extra_bytes_per_row=%.2f\n"
                "sort_max_stall_ms=%lld\n",
                rows, sortInt, sortDecimal, sortText, filter, filtered, findAll, findNext, found ? 1 : 0, extra,
                maxStall);
    std::fflush(stdout);
    wizard.endProgram();
    return found ? 0 : 1;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-sort-bench HOST PORT USER PASSWORD DATABASE TABLE", run);
}
