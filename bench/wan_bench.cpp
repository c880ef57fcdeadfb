// The editor's actions over a far network: the pages driven as a user drives
// them, through the test proxy that holds every chunk ONE_WAY_MS each way.
// For each action, the round trips the program waited (the proxy's turns:
// the client sending after the server answered) and its time:
//   signin        "Next >" on the sign-in page to the filled table list
//   open          "Next >" on the picker to the first screen of `keyed`
//   commit        one cell edited, then the row left (the write); the first
//                 write of a table also reads its keys: commit_first
//   undo          the grid's undo of that write
//   insert        "Add New Row", four cells typed, the row left
//   delete        the grid's Delete Row, answered Yes
//   paste_1k_rows 1,000 rows x 3 columns pasted over rows 1..1,000
//   commit_keyless (and its _first) the same on `nokey`, opened after
//                 "< Back" (open_again)
//   connect       one connection opened and closed (each page opens its own)
// An action's turns are counted until the traffic it started has ended.
//
// usage: corvane-wan-bench HOST PORT USER PASSWORD DATABASE ONE_WAY_MS
// DATABASE holds the tables bench/wan.sh makes: keyed (id INT PRIMARY KEY,
// name, qty, price; InnoDB, 2,100 rows) and nokey (id, name, qty; no key).
// prints ACTION_rtts= and ACTION_ms= lines; exits 1 if an action failed.
#include "BenchSession.h"
#include "db/Connection.h"
#include "grid/GridView.h"
#include "pages/Form3.h"
#include "support/FaultProxy.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>

#include <chrono>
#include <functional>

namespace {

struct Wan
{
    FaultProxy &proxy;
    int oneWayMs;
    bool failed = false;

    // Lets the traffic of the last action end: no new turn for four one-way
    // delays (a reply on its way and a request it sets off).
    void settle()
    {
        int before = -1;
        while (before != proxy.turns()) {
            before = proxy.turns();
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < qMax(20, 4 * oneWayMs))
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    }
    // Runs `action`, which returns whether it did what it should; prints its
    // turns and its time (to when `action` returned).
    void measure(const char *name, const std::function<bool()> &action)
    {
        settle();
        proxy.resetTurns();
        QElapsedTimer t;
        t.start();
        const bool ok = action();
        const double took = ms(t);
        settle();
        std::printf("%s_rtts=%d\n%s_ms=%.1f\n", name, proxy.turns(), name, took);
        std::fflush(stdout);
        if (!ok) {
            std::fprintf(stderr, "%s: not done\n", name);
            failed = true;
        }
    }
};

bool openPicked(Wizard &wizard, const QString &table)
{
    Form2 *picker = wizard.form2();
    const QList<QListWidgetItem *> items = picker->List1->findItems(table, Qt::MatchExactly);
    if (items.isEmpty())
        return false;
    picker->List1->setCurrentItem(items.first());
    picker->PushButton3_Click();
    return waitForTable(wizard.form3(), 30);
}

// Types `value` into the cell of the shown row and column, then leaves the
// row for the next one: the row is written. True when it was.
bool editAndLeave(GridView *view, int row, int column, const QString &value)
{
    const QAbstractItemModel *shown = view->model();
    view->setCurrentIndex(shown->index(row, column));
    view->model()->setData(shown->index(row, column), value);
    view->setCurrentIndex(shown->index(row + 1, column));
    return !view->gridModel()->hasHeldRow() && shown->index(row, column).data().toString() == value;
}

} // namespace

int run(Wizard &wizard, const QStringList &args)
{
    static_cast<SilentDesktop &>(wizard.desktop()).answerYes = true;
    FaultProxy proxy(args[1], args[2].toUShort());
    Wan wan{proxy, args[6].toInt()};
    proxy.setDelay(std::chrono::milliseconds(wan.oneWayMs));
    wizard.form1()->Text1->setText(QStringLiteral("127.0.0.1"));
    wizard.form1()->Text5->setText(QString::number(proxy.port()));

    wan.measure("signin", [&] {
        wizard.form1()->PushButton3_Click();
        return wizard.form2()->isVisible() && wizard.form2()->List1->count() >= 2;
    });
    Form3 *editor = wizard.form3();
    GridView *view = editor->DataGrid1;
    wan.measure("open", [&] { return openPicked(wizard, QStringLiteral("keyed")); });
    if (wan.failed || !editor->model()->exportSource().waitUntilLoaded({}) || editor->model()->newRowLine() < 2000) {
        std::fprintf(stderr, "the table keyed did not open whole\n");
        return 1;
    }
    const QAbstractItemModel *shown = view->model();

    wan.measure("commit_first", [&] { return editAndLeave(view, 10, 2, QStringLiteral("7001")); });
    const QString was = shown->index(20, 2).data().toString();
    wan.measure("commit", [&] { return editAndLeave(view, 20, 2, QStringLiteral("7002")); });
    wan.measure("undo", [&] {
        view->actions().undo->trigger();
        return shown->index(20, 2).data().toString() == was;
    });

    const int rows = editor->model()->newRowLine();
    wan.measure("insert", [&] {
        editor->cmdAddNewRow_Click();
        const int line = view->currentIndex().row();
        const QStringList values{
            QStringLiteral("1000001"), QStringLiteral("added"), QStringLiteral("1"), QStringLiteral("2.50")};
        for (int c = 0; c < values.size(); ++c)
            view->model()->setData(shown->index(line, c), values[c]);
        view->setCurrentIndex(shown->index(0, 0));
        return editor->model()->newRowLine() == rows + 1 && !editor->model()->hasHeldRow();
    });
    wan.measure("delete", [&] {
        view->setCurrentIndex(shown->index(30, 0));
        view->selectionModel()->clearSelection();
        view->actions().deleteRow->trigger();
        return editor->model()->newRowLine() == rows;
    });

    // Paste: name, qty and price of rows 1,001..2,000 over rows 1..1,000.
    const int pasteRows = 1000;
    QString block;
    for (int r = pasteRows; r < 2 * pasteRows; ++r)
        block += shown->index(r, 1).data().toString() + '\t' + shown->index(r, 2).data().toString() + '\t'
            + shown->index(r, 3).data().toString() + '\n';
    QApplication::clipboard()->setText(block);
    view->selectionModel()->clearSelection();
    view->setCurrentIndex(shown->index(0, 1));
    wan.measure("paste_1k_rows", [&] {
        view->actions().paste->trigger();
        return shown->index(pasteRows - 1, 2).data() == shown->index(2 * pasteRows - 1, 2).data();
    });

    editor->PushButton1_Click(); // "< Back"
    wan.measure("open_again", [&] { return openPicked(wizard, QStringLiteral("nokey")); });
    editor->model()->exportSource().waitUntilLoaded({});
    wan.measure("commit_keyless_first", [&] { return editAndLeave(view, 10, 2, QStringLiteral("7001")); });
    wan.measure("commit_keyless", [&] { return editAndLeave(view, 20, 2, QStringLiteral("7002")); });

    // One connection opened and closed, as each page opens its own: what a
    // connection costs of the counts above.
    wan.measure("connect", [&] {
        Connection connection;
        connection.open(Connection::paramsFrom(wizard.connectionString()));
        return connection.isOpen();
    });

    wizard.endProgram();
    return wan.failed ? 1 : 0;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-wan-bench HOST PORT USER PASSWORD DATABASE ONE_WAY_MS", run);
}
