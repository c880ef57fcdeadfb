// The value panel on large cells, driven as a user drives it: the table
// opened from the picker, the panel shown, then the current cell moved to a
// 16 MB text, a 1 MB one-line JSON document and a 16 MB binary value, each
// timed until the panel has painted (the text's first screen; *_whole_ms
// until all of it is in the view, *_load_stall_ms the longest the window
// stood still meanwhile); and typing into the 16 MB text, with a timer
// telling the longest the window stood still.
//
// usage: corvane-panel-bench HOST PORT USER PASSWORD DATABASE TABLE
// TABLE: (id, a 16 MB text, a 1 MB JSON, a 16 MB blob) in its first row,
// small values in its second. Prints key=value lines.
#include "BenchSession.h"
#include "grid/GridView.h"
#include "grid/HexView.h"
#include "grid/TextValueView.h"
#include "pages/ValuePanel.h"

#include <QKeyEvent>
#include <QStackedWidget>

namespace {

// Moves the grid's current cell to (row, column) and returns the time until
// the panel has painted it.
double showCell(Form3 *editor, int row, int column)
{
    GridView *view = editor->DataGrid1;
    ValuePanel *panel = editor->valuePanel;
    QElapsedTimer clock;
    clock.start();
    view->setCurrentIndex(view->model()->index(row, column));
    panel->repaint();
    panel->pages->currentWidget()->repaint();
    if (auto *text = qobject_cast<TextValueView *>(panel->pages->currentWidget()))
        text->viewport()->repaint();
    if (auto *hex = qobject_cast<HexView *>(panel->pages->currentWidget()))
        hex->viewport()->repaint();
    return ms(clock);
}

// Waits until the text view holds the whole value; returns the longest the
// window stood still meanwhile.
qint64 waitLoaded(ValuePanel *panel)
{
    Heartbeat heartbeat;
    while (panel->textView->isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return heartbeat.longest;
}

} // namespace

int run(Wizard &wizard, const QStringList &args)
{
    pickTable(wizard, args[6]);
    wizard.form2()->PushButton3_Click();
    Form3 *editor = wizard.form3();
    if (!waitForTable(editor, 2) || !editor->model()->exportSource().waitUntilLoaded({})) {
        std::fprintf(stderr, "the table was not opened\n");
        return 1;
    }
    ValuePanel *panel = editor->valuePanel;
    editor->resize(1200, 800);
    panel->show();
    showCell(editor, 1, 1);
    QElapsedTimer whole;
    whole.start();
    const double text16 = showCell(editor, 0, 1);
    const qint64 text16Stall = waitLoaded(panel);
    const double text16Whole = ms(whole);
    const qsizetype characters = panel->textView->characterCount();
    showCell(editor, 1, 2);
    whole.restart();
    const double json1 = showCell(editor, 0, 2);
    const qint64 json1Stall = waitLoaded(panel);
    const double json1Whole = ms(whole);
    const bool pretty = panel->mode() == ValuePanel::Mode::Json && panel->textView->blockCount() > 1000;
    showCell(editor, 1, 3);
    const double hex16 = showCell(editor, 0, 3);
    const qsizetype hexBytes = panel->hexView->bytes().size();

    // Typing in the middle of the 16 MB text: a key every 25 ms for two
    // seconds, then a pause that lets the character count run.
    showCell(editor, 0, 1);
    waitLoaded(panel);
    TextValueView *text = panel->textView;
    QTextCursor cursor = text->textCursor();
    cursor.setPosition(text->document()->characterCount() / 2);
    text->setTextCursor(cursor);
    text->setFocus();
    Heartbeat heartbeat;
    int keys = 0;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QCoreApplication::sendEvent(text, &press);
        QCoreApplication::sendEvent(text, &release);
        if (++keys == 80)
            typist.stop();
    });
    typist.start(25);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2600)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 stall = heartbeat.longest;

    std::printf("panel_16mb_whole_ms=%.1f\npanel_16mb_load_stall_ms=%lld\npanel_json_1mb_whole_ms=%.1f\n"
                "panel_json_1mb_load_stall_ms=%lld\n",
        text16Whole, text16Stall, json1Whole, json1Stall);
    std::printf("panel_16mb_show_ms=%.1f\npanel_16mb_characters=%lld\npanel_json_1mb_pretty_ms=%.1f\n"
                "panel_json_pretty=%d\npanel_hex_16mb_show_ms=%.1f\npanel_hex_bytes=%lld\n"
                "panel_typing_stall_ms=%lld\npanel_typed_characters=%lld\n",
        text16, static_cast<long long>(characters), json1, pretty ? 1 : 0, hex16, static_cast<long long>(hexBytes),
        stall, static_cast<long long>(text->characterCount()));
    std::fflush(stdout);
    panel->textView->document()->setModified(false);
    editor->model()->revertRow();
    wizard.endProgram();
    return 0;
}

int main(int argc, char *argv[])
{
    return runBench(argc, argv, "corvane-panel-bench HOST PORT USER PASSWORD DATABASE TABLE", run);
}
