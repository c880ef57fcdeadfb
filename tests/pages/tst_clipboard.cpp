#include "EditorSession.h"
#include "db/Connection.h"
#include "grid/GridCopy.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"
#include "grid/GridView.h"
#include "grid/WriteHistory.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString Db = QStringLiteral("tst_clipboard");

} // namespace

// The grid and the clipboard over real tables: what is copied, in the order
// shown, in both forms spreadsheets read.
class TestClipboard : public QObject, private EditorPages
{
    Q_OBJECT

    void open(const QString &table) { openTable(Db, table); }

    void sortBy(int column, Qt::SortOrder o = Qt::AscendingOrder)
    {
        QVERIFY(view()->orderBy(column, o));
        order()->waitUntilSettled();
    }

    // Presses a key on the grid and waits for the copy to reach the clipboard.
    void copyWith(QKeyCombination key)
    {
        view()->setFocus();
        QTest::keyClick(view(), key.key(), key.keyboardModifiers());
        view()->copier()->waitUntilDone();
    }

    void pasteAt(int viewRow, int column, const QString &text = QString())
    {
        if (!text.isNull())
            QApplication::clipboard()->setText(text);
        view()->setCurrentIndex(view()->model()->index(viewRow, column));
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    }

    // Opens an empty table `many` (an INT key) and returns `lines` keys to paste.
    QString openManyFor(int lines)
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS many", "CREATE TABLE many (id INT PRIMARY KEY)"});
        open("many");
        QString text;
        for (int i = 1; i <= lines; ++i)
            text += QString::number(i) + '\n';
        return text;
    }

    static QString clipboardText() { return QApplication::clipboard()->mimeData()->text(); }
    static QString clipboardHtml() { return QApplication::clipboard()->mimeData()->html(); }

    void createOdd()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS odd",
                         "CREATE TABLE odd (id INT PRIMARY KEY, t TEXT CHARACTER SET utf8mb4, n INT) ",
                         "INSERT INTO odd VALUES (1, 'tab\\there', 10), (2, 'line\\nbreak', NULL), "
                         "(3, 'say \"hi\"', 30), (4, NULL, 40), (5, 'Grüße 日本 <b>&', 50), (6, '', 60)"});
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
    }

    void cleanup()
    {
        m_wizard.reset();
        m_desktop.clear();
    }

    void copiesEverythingInTheOrderShown()
    {
        createOdd();
        open("odd");
        sortBy(2, Qt::DescendingOrder); // NULL sorts last descending
        view()->selectAll();
        copyWith(Qt::CTRL | Qt::Key_C);
        QCOMPARE(clipboardText(), QStringLiteral("6\t\t60\n"
                                                 "5\tGrüße 日本 <b>&\t50\n"
                                                 "4\t\t40\n"
                                                 "3\t\"say \"\"hi\"\"\"\t30\n"
                                                 "1\t\"tab\there\"\t10\n"
                                                 "2\t\"line\nbreak\"\t\n"));
        const QString html = clipboardHtml();
        QVERIFY(html.contains("<tr><td>5</td><td>Grüße 日本 &lt;b&gt;&amp;</td><td>50</td></tr>"));
        QVERIFY(html.contains("<tr><td>2</td><td>line<br>break</td><td></td></tr>"));
    }

    void copiesWithNamesAndOnlyTheSelectedColumns()
    {
        createOdd();
        open("odd");
        sortBy(0, Qt::DescendingOrder);
        // Ctrl+click on a header selects the column and does not sort.
        QHeaderView *header = view()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(2) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QCOMPARE(order()->sortColumn(), 0);
        copyWith(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
        QCOMPARE(clipboardText(), QStringLiteral("n\n60\n50\n40\n30\n\n10\n"));
    }

    void copiesSelectedRowsAndAHeldEdit()
    {
        createOdd();
        open("odd");
        QItemSelectionModel *selection = view()->selectionModel();
        selection->select(view()->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selection->select(view()->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(model()->setData(model()->index(2, 1), "held"));
        copyWith(Qt::CTRL | Qt::Key_C);
        QCOMPARE(clipboardText(), QStringLiteral("1\t\"tab\there\"\t10\n3\theld\t30\n"));
        model()->revertRow();
    }

    void copiesBinaryAsItShows()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS bin", "CREATE TABLE bin (b VARBINARY(10))",
                         "INSERT INTO bin VALUES (0xFF00C3)"});
        open("bin");
        view()->selectAll();
        copyWith(Qt::CTRL | Qt::Key_C);
        QCOMPARE(clipboardText(), QStringLiteral("0xFF00C3\n"));
    }

    void roundTripKeepsTheBytes()
    {
        createOdd();
        TestDb::run(Db, {"DROP TABLE IF EXISTS copy", "CREATE TABLE copy LIKE odd"});
        open("odd");
        sortBy(1); // any order: the rows carry their keys
        view()->selectAll();
        copyWith(Qt::CTRL | Qt::Key_C);
        open("copy");
        pasteAt(0, 0);
        QCOMPARE(m_desktop.texts(), QStringList());
        const QString sum = "SELECT id, HEX(t), t IS NULL, n FROM %1 ORDER BY id";
        QCOMPARE(TestDb::rows(Db, sum.arg("copy")), TestDb::rows(Db, sum.arg("odd")));
        QCOMPARE(model()->rowCount(), 7); // six and the new-row line
    }

    void pastesSpreadsheetBlocksOverAndBeyondTheRows()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS sheet",
                         "CREATE TABLE sheet (id INT AUTO_INCREMENT PRIMARY KEY, a TEXT CHARACTER SET utf8mb4 NOT NULL, b TEXT)",
                         "INSERT INTO sheet VALUES (1, 'x', 'y'), (2, 'x', 'y')"});
        open("sheet");
        // From the second row, second column: one row over, one added, one column too many.
        pasteAt(1, 1, "\"two\r\nlines\"\t\"say \"\"hi\"\"\"\tdropped\r\n\t\"\"\t\r\n");
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY(m_desktop.texts().front().contains("1 column(s)"));
        QCOMPARE(TestDb::rows(Db, "SELECT id, HEX(a), b FROM sheet ORDER BY id"),
                 QStringList({"1|78|y", "2|" + QByteArray("two\r\nlines").toHex().toUpper() + "|say \"hi\"",
                              "3||NULL"}));
    }

    void aRefusedRowStopsThePaste()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS uniq", "CREATE TABLE uniq (id INT PRIMARY KEY, u INT UNIQUE)",
                         "INSERT INTO uniq VALUES (100, 7)"});
        open("uniq");
        sortBy(0, Qt::DescendingOrder);
        pasteAt(1, 0, "1\t1\n2\t2\n3\t7\n4\t4\n5\t5\n");
        QCOMPARE(TestDb::rows(Db, "SELECT id, u FROM uniq ORDER BY id"), QStringList({"1|1", "2|2", "100|7"}));
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY2(m_desktop.texts().front().contains("row 3"), qPrintable(m_desktop.texts().front()));
        QVERIFY(m_desktop.texts().front().contains("Duplicate"));
        QVERIFY(!model()->hasHeldRow());
    }

    void aLargePasteAsksFirst()
    {
        const QString text = openManyFor(1001);
        m_desktop.answers << Desktop::Answer::No;
        pasteAt(0, 0, text);
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY(m_desktop.texts().front().startsWith("Paste 1001 rows?"));
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM many"), QStringLiteral("0"));
    }

    void aSingleValueFillsTheSelection()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS fill", "CREATE TABLE fill (a INT, b INT)",
                         "INSERT INTO fill VALUES (1, 1), (1, 1), (1, 1)"});
        open("fill");
        view()->setCurrentIndex(view()->model()->index(0, 1));
        QItemSelectionModel *selection = view()->selectionModel();
        selection->select(view()->model()->index(0, 1), QItemSelectionModel::ClearAndSelect);
        selection->select(view()->model()->index(2, 0), QItemSelectionModel::Select);
        selection->select(view()->model()->index(2, 1), QItemSelectionModel::Select);
        QApplication::clipboard()->setText("9\n");
        QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_desktop.texts(), QStringList());
        // Identical rows are one as good as another: which of them the server changed cannot matter.
        QCOMPARE(TestDb::rows(Db, "SELECT a, b FROM fill ORDER BY a, b"), QStringList({"1|1", "1|9", "9|9"}));
    }

    void undoAndRedoEachKindOfWrite()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS hist", "CREATE TABLE hist (id INT PRIMARY KEY, t VARCHAR(20))",
                         "INSERT INTO hist VALUES (1, 'one'), (2, 'two')"});
        open("hist");
        sortBy(1, Qt::DescendingOrder); // two, one
        const QString all = "SELECT id, IFNULL(t, 'NULL') FROM hist ORDER BY id";
        const QStringList start{"1|one", "2|two"};
        const auto key = [&](QKeyCombination k) { QTest::keyClick(view(), k.key(), k.keyboardModifiers()); };
        view()->setFocus();

        // An edit.
        QVERIFY(model()->setData(model()->index(0, 1), "uno"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        key(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(TestDb::rows(Db, all), start);
        QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("one"));
        key(Qt::CTRL | Qt::Key_Y);
        QCOMPARE(TestDb::rows(Db, all), QStringList({"1|uno", "2|two"}));
        key(Qt::CTRL | Qt::Key_Z);

        // An insert.
        const int line = model()->newRowLine();
        QVERIFY(model()->setData(model()->index(line, 0), "3"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        key(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(TestDb::rows(Db, all), start);
        QCOMPARE(model()->rowCount(), 3);
        key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
        QCOMPARE(TestDb::rows(Db, all), QStringList({"1|one", "2|two", "3|NULL"}));
        key(Qt::CTRL | Qt::Key_Z);

        // A delete: the row comes back whole, key included.
        QCOMPARE(model()->deleteRow(1), GridModel::Outcome::Done);
        QCOMPARE(TestDb::rows(Db, all), QStringList({"1|one"}));
        key(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(TestDb::rows(Db, all), start);

        // A paste is one step.
        pasteAt(0, 1, "a\nb\n");
        QCOMPARE(TestDb::rows(Db, all).size(), 2);
        QVERIFY(TestDb::rows(Db, all) != start);
        key(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(TestDb::rows(Db, all), start);
        QCOMPARE(m_desktop.texts(), QStringList());
    }

    void anUndoNeverOverwritesAnotherConnectionsChange()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS hist", "CREATE TABLE hist (id INT PRIMARY KEY, t VARCHAR(20))",
                         "INSERT INTO hist VALUES (1, 'one'), (2, 'two')"});
        open("hist");
        QVERIFY(model()->setData(model()->index(0, 1), "mine"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        TestDb::run(Db, {"UPDATE hist SET t = 'theirs' WHERE id = 1"});
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TestDb::scalar(Db, "SELECT t FROM hist WHERE id = 1"), QStringLiteral("theirs"));
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY(m_desktop.texts().front().startsWith("The change was not undone."));
        // The history stays: once the row is as we wrote it again, the undo goes through.
        TestDb::run(Db, {"UPDATE hist SET t = 'mine' WHERE id = 1"});
        QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TestDb::scalar(Db, "SELECT t FROM hist WHERE id = 1"), QStringLiteral("one"));
    }

    // A step's undo refused midway puts back the rows it had undone; one that
    // someone else changed meanwhile cannot be: the page says which rows are
    // in which state and reads the table again.
    void aPutBackRefusedAfterARefusedUndoReadsTheTableAgain()
    {
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE putback (id INT PRIMARY KEY, t VARCHAR(20))",
                "INSERT INTO putback VALUES (1, 'one'), (2, 'two')"});
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        m_wizard = signedInWizard(m_desktop, Db, QString::number(proxy.port()));
        pickTable(*m_wizard, "putback");
        m_wizard->form2()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        pasteAt(0, 1, "a\nb\n");
        const QString all = "SELECT id, t FROM putback ORDER BY id";
        QCOMPARE(TestDb::rows(Db, all), QStringList({"1|a", "2|b"}));
        // Undo goes newest first: row 2 is undone, then, while row 1's undo
        // waits, another connection changes both rows.
        proxy.arm(FaultProxy::Fault::Stall, "^(BEGIN NOT ATOMIC .*)?UPDATE .*'one'", std::chrono::milliseconds(1000));
        QTimer during;
        connect(&during, &QTimer::timeout, [&] {
            if (proxy.hasFired() && during.isActive()) {
                during.stop();
                TestDb::run(Db, {"UPDATE putback SET t = CONCAT(t, '!')"});
            }
        });
        during.start(10);
        QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(proxy.hasFired());
        QCOMPARE(TestDb::rows(Db, all), QStringList({"1|a!", "2|two!"}));
        QCOMPARE(m_desktop.texts().size(), 1);
        QCOMPARE(m_desktop.texts().front().section("\n\n", -1),
            "Before that, 1 of the 2 rows of this change had been undone; of these, 1 was changed by someone "
            "else meanwhile. The table is read again: check these rows before you change them again.");
        QTRY_COMPARE(model()->index(1, 1).data().toString(), QStringLiteral("two!"));
        QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("a!"));
        QVERIFY(!editor()->session().history().canUndo());
    }

    void bulkDeleteTakesExactlyTheSelectedRows()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS same", "CREATE TABLE same (a INT, b INT)",
                         "INSERT INTO same VALUES (1, 1), (1, 1), (2, 2), (1, 1)"});
        open("same");
        sortBy(0, Qt::DescendingOrder); // (2,2) first
        QItemSelectionModel *selection = view()->selectionModel();
        const auto selectRows = [&] {
            selection->select(view()->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            selection->select(view()->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };
        selectRows();
        m_desktop.answers << Desktop::Answer::No;
        QTest::keyClick(view(), Qt::Key_Delete);
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM same"), QStringLiteral("4"));
        selectRows();
        m_desktop.answers << Desktop::Answer::Yes;
        QTest::keyClick(view(), Qt::Key_Delete);
        QCOMPARE(m_desktop.texts(), QStringList({"Delete these 2 rows?", "Delete these 2 rows?"}));
        QCOMPARE(TestDb::rows(Db, "SELECT a, b FROM same ORDER BY a"), QStringList({"1|1", "1|1"}));
        QCOMPARE(model()->rowCount(), 3);
    }

    void bulkNullSetsExactlyTheSelectedCells()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS same", "CREATE TABLE same (a INT, b INT)",
                         "INSERT INTO same VALUES (1, 1), (1, 1), (1, 1)"});
        open("same");
        QItemSelectionModel *selection = view()->selectionModel();
        selection->select(view()->model()->index(0, 1), QItemSelectionModel::ClearAndSelect);
        selection->select(view()->model()->index(1, 0), QItemSelectionModel::Select);
        selection->select(view()->model()->index(1, 1), QItemSelectionModel::Select);
        QTest::keyClick(view(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(m_desktop.texts(), QStringList());
        QCOMPARE(TestDb::rows(Db, "SELECT a, b FROM same ORDER BY a, b"),
                 QStringList({"NULL|NULL", "1|NULL", "1|1"}));
        QVERIFY(!model()->hasHeldRow());
        QVERIFY(model()->data(model()->index(1, 0), GridModel::NullRole).toBool());
        QVERIFY(!model()->data(model()->index(2, 0), GridModel::NullRole).toBool());
    }
    // A paste of many rows shows its progress; Cancel stops it between rows,
    // and what was written stays, as one step of the history.
    void aLargePasteCanBeCancelledMidway()
    {
        const QString text = openManyFor(1500);
        m_desktop.answers << Desktop::Answer::Yes;
        QTimer watch;
        int seen = 0;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto *progress = editor()->findChild<QProgressDialog *>(QStringLiteral("PasteProgress"));
            if (progress && progress->isVisible() && progress->value() > 0 && !progress->wasCanceled()) {
                seen = progress->value();
                progress->cancel();
            }
        });
        watch.start(20);
        pasteAt(0, 0, text);
        watch.stop();
        QVERIFY(seen > 0);
        const int written = TestDb::scalar(Db, "SELECT COUNT(*) FROM many").toInt();
        QVERIFY2(written > 0 && written < 1500, qPrintable(QString::number(written)));
        QCOMPARE(m_desktop.texts().size(), 2);
        QCOMPARE(m_desktop.texts().last(),
                 QStringLiteral("The paste was cancelled after %1 of its 1500 rows; those rows were saved.").arg(written));
        QCOMPARE(model()->rowCount(), written + 1);
        // The progress window had the keyboard; the page takes it back.
        editor()->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor()->window()));
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM many"), QStringLiteral("0"));
    }

    // An undo whose write the server changes (a trigger) is saved, but the
    // grid's copy is no handle on the row any more: the page says so and
    // reads the table again, which starts the history anew.
    void anUndoTheServerChangesReadsTheTableAgain()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE tr (v VARCHAR(10), n INT)", "INSERT INTO tr VALUES ('a', 0)"});
        open("tr");
        QVERIFY(model()->setData(model()->index(0, 0), "b"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        TestDb::run(Db, {"CREATE TRIGGER tr_bump BEFORE UPDATE ON tr FOR EACH ROW SET NEW.n = OLD.n + 1"});
        QVERIFY(editor()->session().history().canUndo());
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TestDb::rows(Db, "SELECT v, n FROM tr"), QStringList({"a|1"}));
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY2(m_desktop.texts().front().contains("read again"), qPrintable(m_desktop.texts().front()));
        QTRY_COMPARE(model()->index(0, 1).data().toString(), QStringLiteral("1"));
        QVERIFY(!editor()->session().history().canUndo());
        QVERIFY(!editor()->session().history().canRedo());
    }

    // The context menu offers the grid's shared actions with their
    // shortcuts, greys what cannot be done, and its entries act.
    void theContextMenuActs()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS ctx", "CREATE TABLE ctx (id INT PRIMARY KEY, n INT)",
                         "INSERT INTO ctx VALUES (1, 10), (2, 20)"});
        open("ctx");
        QStringList shown;
        QStringList greyed;
        const auto choose = [&](const QString &entry) {
            const QRect cell = view()->visualRect(view()->model()->index(0, 1));
            QTimer::singleShot(0, this, [&] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                QVERIFY(menu);
                shown.clear();
                greyed.clear();
                for (QAction *action : menu->actions()) {
                    if (action->isSeparator())
                        continue;
                    shown << action->text() + '|' + action->shortcut().toString();
                    if (!action->isEnabled())
                        greyed << action->text();
                    if (action->text() == entry)
                        menu->setActiveAction(action);
                }
                QTest::keyClick(menu, entry.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, cell.center(), view()->viewport()->mapToGlobal(cell.center()));
            QApplication::sendEvent(view()->viewport(), &event);
        };
        choose("Set to NULL");
        for (const char *entry : {"Undo|Ctrl+Z", "Redo|Ctrl+Shift+Z", "Copy|Ctrl+C", "Copy with Names|Ctrl+Shift+C",
                                  "Paste|Ctrl+V", "Set to NULL|Ctrl+0", "Delete Row|Del"})
            QVERIFY2(shown.contains(entry), entry);
        QCOMPARE(greyed,
            QStringList({"Server Order", "Undo", "Redo", "Go to Referenced Row", "Back", "Drop Changes to Row"}));
        QVERIFY(model()->data(model()->index(0, 1), GridModel::NullRole).toBool());
        QVERIFY(editor()->session().commitHeldRow());
        QCOMPARE(TestDb::scalar(Db, "SELECT IFNULL(n, 'NULL') FROM ctx WHERE id = 1"), QStringLiteral("NULL"));
        choose("Undo");
        QVERIFY(!greyed.contains("Undo"));
        QCOMPARE(TestDb::scalar(Db, "SELECT IFNULL(n, 'NULL') FROM ctx WHERE id = 1"), QStringLiteral("10"));
        QCOMPARE(m_desktop.texts(), QStringList());
    }
    // A row added that cannot be told apart on the server (no key, no
    // RETURNING, a twin already there) cannot be undone, and nothing before
    // it is undone past it either.
    void anUnidentifiedInsertStopsTheUndo()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS twins", "CREATE TABLE twins (a INT, b INT)",
                         "INSERT INTO twins VALUES (1, 1)"});
        open("twins");
        model()->connection()->setUseReturning(false);
        QVERIFY(model()->setData(model()->index(0, 1), "2"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        const int line = model()->newRowLine();
        QVERIFY(model()->setData(model()->index(line, 0), "1"));
        QVERIFY(model()->setData(model()->index(line, 1), "2"));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        QVERIFY(model()->isUnconfirmed(line));
        view()->setFocus();
        // Refused each time, with the reason, and not the insert's own notice.
        for (int press = 0; press < 2; ++press) {
            m_desktop.clear();
            QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(TestDb::rows(Db, "SELECT a, b FROM twins"), QStringList({"1|2", "1|2"}));
            QCOMPARE(m_desktop.texts().size(), 1);
            QVERIFY2(m_desktop.texts().front().contains("changes up to it cannot be undone"),
                qPrintable(m_desktop.texts().front()));
            QVERIFY(editor()->session().history().canUndo());
        }
    }
    // Rows the server changes as they are pasted (a trigger) are saved and
    // the paste goes on; then the page says so and reads the table again.
    void aPasteTheServerChangesIsReadAgain()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE trp (v VARCHAR(10), n INT)",
                         "CREATE TRIGGER trp_bump BEFORE UPDATE ON trp FOR EACH ROW SET NEW.n = OLD.n + 1",
                         "INSERT INTO trp VALUES ('a', 0), ('b', 0)"});
        open("trp");
        pasteAt(0, 0, "x\ny\n");
        QCOMPARE(TestDb::rows(Db, "SELECT v, n FROM trp ORDER BY v"), QStringList({"x|1", "y|1"}));
        QCOMPARE(m_desktop.texts().size(), 1);
        QVERIFY2(m_desktop.texts().front().contains("read again"), qPrintable(m_desktop.texts().front()));
        QTRY_COMPARE(model()->index(0, 1).data().toString(), QStringLiteral("1"));
        QCOMPARE(model()->index(1, 1).data().toString(), QStringLiteral("1"));
        QVERIFY(!editor()->session().history().canUndo());
    }
};

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
