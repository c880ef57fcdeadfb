// Copy, paste and undo in the editor's grid on a large table, driven
// through the grid's own actions (what Ctrl+C, Ctrl+V and Ctrl+Z run):
//   - copy of the first 100,000 rows x every column, until the text is on
//     the clipboard, with the longest window stall meanwhile;
//   - paste of 1,000 rows x 3 columns over rows 1..1,000 (each row written
//     as one row write), then its undo, which puts the rows back;
//   - undo of a one-cell edit near the last row, written (median of 5).
//
// usage: corvane-clip-bench HOST PORT USER PASSWORD DATABASE TABLE
// prints key=value lines. The table is `big` (see the bench data set).
#include "BenchSession.h"
#include "grid/GridCopy.h"
#include "grid/GridModel.h"
#include "grid/GridView.h"
#include "grid/WriteHistory.h"
#include "pages/Form3.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTimer>

#include <algorithm>
#include <vector>

int run(Wizard &wizard, const QStringList &args)
{
    pickTable(wizard, args[6]);
    wizard.form2()->PushButton3_Click();
    Form3 *editor = wizard.form3();
    GridModel *model = editor->model();
    GridView *view = editor->DataGrid1;
    if (!model->exportSource().waitUntilLoaded({}) || model->exportSource().rowCount() < 100000
        || model->columnCount() < 4) {
        std::fprintf(stderr, "the table is not loaded, or too small\n");
        return 1;
    }
    const QAbstractItemModel *shown = view->model();
    const int columns = shown->columnCount();

    Heartbeat heartbeat;

    // Copy.
    const int copyRows = 100000;
    view->setCurrentIndex(shown->index(0, 0));
    view->selectionModel()->select(QItemSelection(shown->index(0, 0), shown->index(copyRows - 1, columns - 1)),
                                   QItemSelectionModel::ClearAndSelect);
    QCoreApplication::processEvents();
    heartbeat.reset();
    QElapsedTimer t;
    t.start();
    view->actions().copy->trigger();
    const double copyStart = ms(t);
    while (view->copier()->isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double copy = ms(t);
    const qint64 copyStall = heartbeat.longest;
    const qint64 copied = QApplication::clipboard()->mimeData()->text().count(QLatin1Char('\n'));

    // Paste: name, qty and price of rows 1,001..2,000 over rows 1..1,000.
    const int pasteRows = 1000;
    QString block;
    for (int r = pasteRows; r < 2 * pasteRows; ++r)
        block += shown->index(r, 1).data().toString() + '\t' + shown->index(r, 2).data().toString() + '\t'
                 + shown->index(r, 3).data().toString() + '\n';
    const QVariant before = shown->index(pasteRows - 1, 2).data();
    QApplication::clipboard()->setText(block);
    view->selectionModel()->clearSelection();
    view->setCurrentIndex(shown->index(0, 1));
    t.restart();
    view->actions().paste->trigger();
    const double paste = ms(t);
    const bool pasted = shown->index(pasteRows - 1, 2).data() == shown->index(2 * pasteRows - 1, 2).data()
                        && editor->session().history().canUndo();
    t.restart();
    view->actions().undo->trigger();
    const double pasteUndo = ms(t);
    const bool pasteUndone = shown->index(pasteRows - 1, 2).data() == before;

    // Undo of a one-cell edit.
    std::vector<double> undos;
    for (int i = 0; i < 5; ++i) {
        // Near the end: the row is found where it was written, not by a
        // walk of a million rows.
        const QModelIndex qty = model->index(model->newRowLine() - 20 + i, 2);
        const QVariant was = qty.data();
        model->setData(qty, QString::number(was.toLongLong() + 1));
        if (model->commitRow() != GridModel::Outcome::Done)
            break;
        t.restart();
        view->actions().undo->trigger();
        const double took = ms(t);
        if (qty.data() != was)
            break;
        undos.push_back(took);
    }
    heartbeat.timer.stop();
    std::sort(undos.begin(), undos.end());
    const double undo = undos.size() == 5 ? undos[2] : -1;

    std::printf("copy_100k_ms=%.1f\ncopy_start_ms=%.1f\ncopy_rows=%lld\ncopy_max_stall_ms=%lld\npaste_1k_rows_ms=%.1f\npasted=%d\n"
                "paste_undo_ms=%.1f\npaste_undone=%d\nundo_ms=%.2f\n",
                copy, copyStart, copied, copyStall, paste, pasted ? 1 : 0, pasteUndo, pasteUndone ? 1 : 0, undo);
    std::fflush(stdout);
    wizard.endProgram();
    return pasted && pasteUndone && undo >= 0 ? 0 : 1;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-clip-bench HOST PORT USER PASSWORD DATABASE TABLE", run);
}
