// Foreign keys in the editor over a parent of millions of rows, driven as a
// user drives them: the labels of a screen of keys, keystrokes in a key's
// picker, Go to Referenced Row. A timer that asks every 5 ms tells the
// longest the window stood still meanwhile.
//
// usage: corvane-fk-bench HOST PORT USER PASSWORD DATABASE
// The database holds `town` (id INT key, name VARCHAR indexed, region) and
// `shop` (id, town referring to town.id, note); see bench/fk.sh. Prints
// key=value lines.
#include "BenchSession.h"
#include "grid/KeyPicker.h"
#include "grid/LabelCache.h"

#include <QKeyEvent>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void waitFor(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

} // namespace

int run(Wizard &wizard, const QStringList &)
{
    pickTable(wizard, QStringLiteral("shop"));
    wizard.form2()->PushButton3_Click();
    Form3 *editor = wizard.form3();
    GridModel *model = editor->model();
    GridView *view = editor->DataGrid1;
    if (!model->exportSource().waitUntilLoaded({})) {
        std::fprintf(stderr, "the load did not finish\n");
        return 1;
    }
    LabelCache &labels = model->labels();
    waitFor([&] { return labels.showsLabels(1); });
    Heartbeat heartbeat;
    // The longest stall of each step, the bench's own work between steps left out.
    std::vector<std::pair<const char *, qint64>> stalls;
    const auto endStep = [&](const char *name) {
        stalls.emplace_back(name, heartbeat.longest);
        heartbeat.reset();
    };

    // A screen of 50 keys not read before, from asking to all labels in.
    std::vector<double> screens;
    for (int first = 1000; first < 11000; first += 1000) {
        QElapsedTimer t;
        t.start();
        for (int r = first; r < first + 50; ++r)
            labels.labelAt(r, 1);
        waitFor([&] {
            for (int r = first; r < first + 50; ++r)
                if (labels.labelAt(r, 1).isEmpty())
                    return false;
            return true;
        });
        screens.push_back(ms(t));
    }
    endStep("labels");

    // Keystrokes in the picker: a key's digits, then a label's letters.
    view->setCurrentIndex(view->fromModel(model->index(0, 1)));
    view->edit(view->currentIndex());
    auto *picker = qobject_cast<KeyPicker *>(view->cellEditor());
    if (!picker) {
        std::fprintf(stderr, "no picker in the key's cell\n");
        return 1;
    }
    std::vector<double> keys;
    const auto typeText = [&](const QString &text) {
        picker->clear();
        for (const QChar c : text) {
            picker->list()->clear();
            QElapsedTimer t;
            t.start();
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(picker, &press);
            waitFor([&] { return picker->list()->topLevelItemCount() > 0; });
            view->viewport()->repaint();
            keys.push_back(ms(t));
        }
    };
    typeText(QStringLiteral("4711"));
    typeText(QStringLiteral("town 4711"));
    picker->hideList();
    view->closePersistentEditor(view->currentIndex());
    model->revertRow();
    endStep("picker");

    // Go to the town in the middle of the 10,000,000 rows of town that a
    // shop refers to: the one nearest to the 5,000,000th.
    int from = 0;
    for (int r = 0, rows = int(model->rowSet()->recordCount()); r < rows; ++r)
        if (std::abs(model->index(r, 1).data().toLongLong() - 5000000)
            < std::abs(model->index(from, 1).data().toLongLong() - 5000000))
            from = r;
    const QString key = model->index(from, 1).data().toString();
    const auto atKey = [&] {
        const QModelIndex at = view->toModel(view->currentIndex());
        return editor->model()->index(at.row(), 0).data().toString() == key;
    };
    heartbeat.reset();
    QElapsedTimer t;
    t.start();
    editor->goToReferencedRow(from, 1);
    waitFor(atKey);
    view->viewport()->repaint();
    const double goTo = ms(t);
    const int reached = view->toModel(view->currentIndex()).row();
    endStep("goto");
    // The rest of the table, with the row kept current and on screen.
    if (!editor->model()->exportSource().waitUntilLoaded({})) {
        std::fprintf(stderr, "the load after the jump did not finish\n");
        return 1;
    }
    const double loaded = ms(t);
    endStep("goto_rest");
    const QModelIndex current = view->currentIndex();
    const bool kept = atKey() && view->viewport()->rect().contains(view->visualRect(current).center());

    std::printf("fk_labels_screen_ms=%.1f\n", median(screens));
    std::printf("fk_picker_first_ms=%.1f\n", *std::max_element(keys.begin(), keys.end()));
    std::printf("fk_picker_median_ms=%.1f\n", median(keys));
    std::printf("fk_goto_ms=%.1f\n", goTo);
    std::printf("fk_goto_key=%s\n", qPrintable(key));
    std::printf("fk_goto_row=%d\n", reached);
    std::printf("fk_goto_loaded_ms=%.1f\n", loaded);
    std::printf("fk_goto_row_loaded=%d\n", view->toModel(view->currentIndex()).row());
    std::printf("fk_goto_kept=%d\n", kept ? 1 : 0);
    qint64 longest = 0;
    for (const auto &[name, stall] : stalls) {
        std::printf("fk_stall_%s_ms=%lld\n", name, stall);
        longest = std::max(longest, stall);
    }
    std::printf("fk_max_stall_ms=%lld\n", longest);
    return 0;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-fk-bench HOST PORT USER PASSWORD DATABASE", run);
}
