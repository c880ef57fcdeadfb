// How long the window stands still while the editor waits: the picker's
// fill, a table whose first row is slow to come, and cancelling a load.
//
// usage: corvane-wait-bench HOST PORT USER PASSWORD DATABASE MODE [TABLE]
//   picker        sign-in to a filled picker: picker_ms, tables
//   slow TABLE    "Next >" on a slow table, "< Back" after 1 s:
//                 slow_start_stall_ms, back_ms
//   cancel TABLE  "Next >", then the load stopped once 100,000 rows are in:
//                 cancel_ms, rows_at_cancel
// prints key=value lines.
#include "BenchSession.h"
#include "db/RowSet.h"
#include "frame/Desktop.h"
#include "grid/GridModel.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

void runFor(int milliseconds)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

} // namespace

int run(Wizard &wizard, const QStringList &args)
{
    const QString mode = args[6];
    Form2 *picker = wizard.form2();

    if (mode == QLatin1String("picker")) {
        QElapsedTimer clock;
        clock.start();
        wizard.form1()->PushButton3_Click();
        std::printf("picker_ms=%.1f\ntables=%d\n", ms(clock), picker->List1->count());
        wizard.endProgram();
        return picker->List1->count() > 0 ? 0 : 1;
    }
    if (args.size() < 8)
        return 2;
    pickTable(wizard, args[7]);
    Form3 *editor = wizard.form3();

    if (mode == QLatin1String("slow")) {
        Heartbeat beat;
        double backMs = -1;
        QTimer::singleShot(1000, editor, [&] {
            QElapsedTimer back;
            back.start();
            editor->PushButton1->click();
            backMs = ms(back);
        });
        picker->PushButton3_Click();
        runFor(1500); // the press, had the fields come at once
        std::printf("slow_start_stall_ms=%lld\nback_ms=%.1f\npicker_shown=%d\n", beat.longest, backMs,
                    int(picker->isVisible()));
        wizard.endProgram();
        return 0;
    }
    if (mode == QLatin1String("cancel")) {
        picker->PushButton3_Click();
        GridModel *model = editor->model();
        if (!model->rowSet())
            return 1;
        while (model->rowCount(QModelIndex()) < 100000 && model->isLoading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 rows = model->rowCount(QModelIndex());
        QElapsedTimer clock;
        clock.start();
        model->rowSet()->stopLoading();
        QCoreApplication::processEvents(); // the window is free again
        std::printf("cancel_ms=%.2f\nrows_at_cancel=%lld\n", ms(clock), rows);
        wizard.endProgram();
        return 0;
    }
    return 2;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-wait-bench HOST PORT USER PASSWORD DATABASE MODE [TABLE]", run);
}
