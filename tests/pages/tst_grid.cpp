#include "EditorSession.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "export/TextExports.h"
#include "frame/Main.h"
#include "grid/FindBar.h"
#include "grid/GridModel.h"
#include "grid/GridOrder.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Db = QStringLiteral("tst_grid");

} // namespace

// The editor page over a real table: open, edit, insert, delete, and the
// faults a write-back must never make.
class TestGrid : public QObject, private EditorPages
{
    Q_OBJECT

    // Signs in, picks `table` and waits until every row has arrived.
    void open(const QString &table, const QString &port = QString())
    {
        m_wizard = signedInWizard(m_desktop, Db, port);
        pickTable(*m_wizard, table);
        m_wizard->form2()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        m_desktop.clear();
    }

    QStringList server(const QString &sql) { return TestDb::rows(Db, sql); }
    // The cell's whole text (what is painted may be cut).
    QString cell(int row, int column) { return model()->index(row, column).data(Qt::EditRole).toString(); }

    // Types `text` into a cell through the grid, as a user would.
    void type(int row, int column, const QString &text)
    {
        const QModelIndex at = view()->model()->index(row, column);
        view()->setCurrentIndex(at);
        view()->edit(at);
        auto *line = qobject_cast<QLineEdit *>(view()->cellEditor());
        QVERIFY(line);
        line->selectAll();
        QTest::keyClicks(line, text);
        view()->commitEditor();
    }

    // Leaves the held row for another one, which writes it.
    void leaveRow(int to = 0) { view()->setCurrentIndex(view()->model()->index(to, 0)); }

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

    void pageHasItsControlsInOrder()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))"});
        open(QStringLiteral("t"));
        QCOMPARE(editor()->Label2->text(), QStringLiteral(" Now Editing: t"));
        QCOMPARE(view()->toolTip(), QStringLiteral("Changes you make are automatically saved as you make them."));
        QStringList captions;
        for (QAction *a : editor()->mnuSaveAs->actions())
            captions << a->text();
        QCOMPARE(captions, QStringList({"TXT", "XLS", "CSV", "PDF", "XML", "", "Import..."}));
        // The find bar, hidden until asked for, is skipped by Tab.
        QVERIFY(!editor()->findBar->isVisible());
        QWidget *w = view();
        for (QWidget *next : {editor()->PushButton1, editor()->PushButton4, editor()->PushButton5,
                              editor()->PushButton2, editor()->PushButton6, editor()->PushButton3}) {
            do
                w = w->nextInFocusChain();
            while (view()->isAncestorOf(w) || w == editor()->findBar || editor()->findBar->isAncestorOf(w));
            QCOMPARE(w, static_cast<QWidget *>(next));
        }
        editor()->PushButton4_Click();
        QCOMPARE(m_desktop.texts(), QStringList{Form3::helpText()});
        QVERIFY(Form3::helpText().contains(QStringLiteral("etc.\r\rError: 'Too many rows affected'")));
    }

    void modelPassesQtsTesterWhileLoadingAndEditing()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE m (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20))",
                         "INSERT INTO m (v) SELECT CONCAT('v', seq) FROM seq_1_to_20000"});
        Services services;
        services.desktop = &m_desktop;
        auto connection = TestDb::admin(Db);
        RowSet rows;
        rows.openInBackground(QStringLiteral("SELECT * FROM `m`;"), *connection);
        GridModel grid;
        QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::QtTest);
        grid.setRowSet(&rows, connection.get());
        QVERIFY(grid.exportSource().waitUntilLoaded({}));
        QCOMPARE(grid.rowCount(QModelIndex()), 20001); // and the new-row line
        QVERIFY(grid.setData(grid.index(3, 1), QStringLiteral("changed")));
        QCOMPARE(grid.commitRow(), GridModel::Outcome::Done);
        QVERIFY(grid.setData(grid.index(grid.newRowLine(), 1), QStringLiteral("new")));
        QCOMPARE(grid.commitRow(), GridModel::Outcome::Done);
        QCOMPARE(grid.deleteRow(0), GridModel::Outcome::Done);
        QCOMPARE(grid.rowCount(QModelIndex()), 20001);
        grid.setRowSet(nullptr, nullptr);
    }

    void editInsertAndDeleteReachTheServer()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE e (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20) NOT NULL, "
                         "qty INT NOT NULL DEFAULT 7, price DECIMAL(10,2), note VARCHAR(5))",
                         "INSERT INTO e (name, qty, price) VALUES ('a', 1, 10472.90), ('b', 2, 0.5)"});
        open(QStringLiteral("e"));
        QCOMPARE(cell(0, 3), QStringLiteral("10472.90"));

        type(0, 1, QStringLiteral("alpha"));
        QVERIFY(model()->hasHeldRow());
        QCOMPARE(server("SELECT name FROM e WHERE id = 1"), QStringList{"a"});
        leaveRow(1);
        QTRY_COMPARE(server("SELECT name FROM e WHERE id = 1"), QStringList{"alpha"});
        QVERIFY(!model()->hasHeldRow());

        // The server's version of a value is what the grid shows.
        type(1, 3, QStringLiteral("3.456"));
        leaveRow(0);
        QTRY_COMPARE(cell(1, 3), QStringLiteral("3.46"));

        const int line = model()->newRowLine();
        type(line, 1, QStringLiteral("carol"));
        type(line, 4, QStringLiteral("x"));
        QTest::keyClick(view(), Qt::Key_Return); // Enter on the last cell ends the row
        QTRY_COMPARE(server("SELECT id, name, qty, price, note FROM e WHERE name = 'carol'"),
                     QStringList{"3|carol|7|NULL|x"});
        QCOMPARE(cell(line, 0), QStringLiteral("3")); // AUTO_INCREMENT and DEFAULT read back
        QCOMPARE(cell(line, 2), QStringLiteral("7"));
        QCOMPARE(model()->newRowLine(), line + 1);

        m_desktop.answers << Desktop::Answer::Yes;
        view()->setCurrentIndex(view()->model()->index(0, 0));
        QTest::keyClick(view(), Qt::Key_Delete);
        QCOMPARE(server("SELECT id FROM e ORDER BY id"), QStringList({"2", "3"}));
        QCOMPARE(cell(0, 1), QStringLiteral("b"));
    }

    void deleteQuestionKeepsTheRowUnlessYes_data()
    {
        QTest::addColumn<bool>("answerNo");
        QTest::newRow("No") << true;
        QTest::newRow("Enter takes the default") << false;
    }
    void deleteQuestionKeepsTheRowUnlessYes()
    {
        QFETCH(bool, answerNo);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE d (id INT PRIMARY KEY)", "INSERT INTO d VALUES (1), (2)"});
        open(QStringLiteral("d"));
        if (answerNo)
            m_desktop.answers << Desktop::Answer::No;
        view()->setCurrentIndex(view()->model()->index(1, 0));
        QTest::keyClick(view(), Qt::Key_Delete);
        QCOMPARE(m_desktop.boxes.size(), 1);
        const FakeDesktop::Box box = m_desktop.boxes.first();
        QCOMPARE(box.text, QStringLiteral("Delete this row?"));
        QCOMPARE(box.caption, Main::appTitle());
        QCOMPARE(box.buttons, Desktop::Buttons::YesNo);
        QCOMPARE(box.defaultButton, Desktop::Answer::No);
        QCOMPARE(server("SELECT id FROM d"), QStringList({"1", "2"}));
        QCOMPARE(model()->rowCount(QModelIndex()), 3);
    }

    void identicalRowsInATableWithoutKey()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE n (k INT NOT NULL, name VARCHAR(10), price DECIMAL(6,2), f FLOAT)",
                         "INSERT INTO n VALUES (1,'x',1.10,0.1), (1,'x',1.10,0.1), (2,'y',NULL,NULL)"});
        open(QStringLiteral("n"));
        QVERIFY(model()->setData(model()->index(1, 1), QStringLiteral("changed")));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        QCOMPARE(server("SELECT k, name, price, f FROM n ORDER BY name"),
                 QStringList({"1|changed|1.10|0.1", "1|x|1.10|0.1", "2|y|NULL|NULL"}));
        QCOMPARE(model()->deleteRow(0), GridModel::Outcome::Done);
        QCOMPARE(server("SELECT k, name FROM n ORDER BY name"), QStringList({"1|changed", "2|y"}));
        QCOMPARE(model()->deleteRow(1), GridModel::Outcome::Done); // NULLs matched too
        QCOMPARE(server("SELECT k, name FROM n"), QStringList({"1|changed"}));
    }

    void rowChangedByAnotherUserIsNotOverwritten_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<bool>("deleting");
        QTest::addColumn<QStringList>("after");
        const QString keyed = QStringLiteral("CREATE OR REPLACE TABLE c (id INT PRIMARY KEY, v VARCHAR(10), w DOUBLE)");
        const QString keyless = QStringLiteral("CREATE OR REPLACE TABLE c (id INT, v VARCHAR(10), w DOUBLE)");
        QTest::newRow("key, changed") << keyed << "UPDATE c SET v = 'theirs'" << false << QStringList{"1|theirs|0.5"};
        QTest::newRow("key, deleted") << keyed << "DELETE FROM c" << false << QStringList{};
        QTest::newRow("key, delete after change") << keyed << "UPDATE c SET w = 2" << true << QStringList{"1|mine0|2"};
        QTest::newRow("no key, changed") << keyless << "UPDATE c SET v = 'theirs'" << false << QStringList{"1|theirs|0.5"};
        QTest::newRow("no key, deleted") << keyless << "DELETE FROM c" << true << QStringList{};
    }
    void rowChangedByAnotherUserIsNotOverwritten()
    {
        QFETCH(QString, table);
        QFETCH(QString, meanwhile);
        QFETCH(bool, deleting);
        QFETCH(QStringList, after);
        TestDb::run(Db, {table, "INSERT INTO c VALUES (1, 'mine0', 0.5)"});
        open(QStringLiteral("c"));
        TestDb::run(Db, {meanwhile});
        if (deleting) {
            m_desktop.answers << Desktop::Answer::Yes;
            editor()->session().deleteRow(0);
        } else {
            type(0, 1, QStringLiteral("mine"));
            leaveRow(1);
            QTRY_COMPARE(view()->currentIndex().row(), 0); // kept on the row
            QVERIFY(model()->hasHeldRow());
            QCOMPARE(cell(0, 1), QStringLiteral("mine"));
        }
        QCOMPARE(m_desktop.boxes.size(), deleting ? 2 : 1);
        QVERIFY(m_desktop.boxes.last().text.contains(QStringLiteral("changed or deleted by someone else")));
        QCOMPARE(server("SELECT * FROM c"), after);
        if (!deleting) {
            QTest::keyClick(view(), Qt::Key_Escape); // drops the row's edits
            QVERIFY(!model()->hasHeldRow());
            QCOMPARE(cell(0, 1), QStringLiteral("mine0"));
        }
    }

    // Ctrl+0 holds NULL for the current cell and Escape drops it again; keys
    // typed into an open cell editor stay the editor's, so Delete there never
    // asks to delete the row.
    void keysReachTheGridOrTheCellEditor()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE k (id INT PRIMARY KEY, v VARCHAR(10))",
                         "INSERT INTO k VALUES (1, 'abc')"});
        open(QStringLiteral("k"));
        const QModelIndex v = view()->model()->index(0, 1);
        view()->setCurrentIndex(v);
        QTest::keyClick(view(), Qt::Key_0, Qt::ControlModifier);
        QVERIFY(v.data(GridModel::NullRole).toBool());
        QTest::keyClick(view(), Qt::Key_Escape);
        QVERIFY(!model()->hasHeldRow());
        QCOMPARE(cell(0, 1), QStringLiteral("abc"));
        view()->edit(v);
        QWidget *cellEditor = view()->cellEditor();
        QVERIFY(cellEditor);
        QTest::keyClick(cellEditor, Qt::Key_Home);
        QTest::keyClick(cellEditor, Qt::Key_Delete);
        view()->commitEditor();
        QCOMPARE(m_desktop.boxes.size(), qsizetype(0));
        QCOMPARE(cell(0, 1), QStringLiteral("bc"));
        QCOMPARE(model()->rowCount(QModelIndex()), 2); // the row and the new-row line
    }

    void awkwardValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("typed");
        QTest::addColumn<QString>("stored"); // hex of the server's text of the value, or NULL
        QTest::addColumn<QString>("shown");
        const auto hex = [](const QByteArray &b) { return QString::fromLatin1(b.toHex().toUpper()); };
        const QString quotes = QStringLiteral("O'Brien said \"hi\" \\ back\\");
        QTest::newRow("quotes and backslashes") << "VARCHAR(100)" << QVariant(quotes) << hex(quotes.toUtf8()) << quotes;
        const QString inject = QStringLiteral("'; DROP TABLE x; --");
        QTest::newRow("injection") << "VARCHAR(100)" << QVariant(inject) << hex(inject.toUtf8()) << inject;
        const QString emoji = QStringLiteral("smile \U0001F600 ok");
        QTest::newRow("4-byte UTF-8") << "VARCHAR(20)" << QVariant(emoji) << hex(emoji.toUtf8()) << emoji;
        const QString big(1 << 20, QLatin1Char('z'));
        QTest::newRow("1 MB TEXT") << "MEDIUMTEXT" << QVariant(big) << hex(big.toUtf8()) << big;
        const QString dec = QStringLiteral("12345678901234567890123456789012345.123456789012345678901234567891");
        QTest::newRow("DECIMAL(65,30)") << "DECIMAL(65,30)" << QVariant(dec.left(66)) << hex(dec.left(66).toUtf8())
                                        << dec.left(66);
        QTest::newRow("FLOAT") << "FLOAT" << QVariant(QStringLiteral("0.1")) << hex("0.1") << "0.1";
        QTest::newRow("zero date") << "DATETIME" << QVariant(QStringLiteral("0000-00-00 00:00:00"))
                                   << hex("0000-00-00 00:00:00") << "0000-00-00 00:00:00";
        QTest::newRow("empty string") << "VARCHAR(5)" << QVariant(QString(QLatin1String(""))) << "" << "";
        QTest::newRow("NULL") << "VARCHAR(5)" << QVariant() << "NULL" << "";
    }
    void awkwardValuesRoundTrip()
    {
        QFETCH(QString, type);
        QFETCH(QVariant, typed);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        // The zero date needs a mode without NO_ZERO_DATE; the fixture's is.
        TestDb::run(Db, {"CREATE OR REPLACE TABLE a (id INT PRIMARY KEY, v " + type + " NULL, b BLOB)",
                         "INSERT INTO a VALUES (1, NULL, X'00FF0027'), (2, NULL, NULL)"});
        open(QStringLiteral("a"));
        QVERIFY(model()->setData(model()->index(0, 1), typed));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        QCOMPARE(TestDb::scalar(Db, "SELECT IFNULL(HEX(CAST(v AS BINARY)), 'NULL') FROM a WHERE id = 1"), stored);
        QCOMPARE(cell(0, 1), shown);
        QCOMPARE(model()->index(0, 1).data(GridModel::NullRole).toBool(), !typed.isValid());
        // The binary cell beside it was left alone, shows as hex and takes only hex.
        QCOMPARE(TestDb::scalar(Db, "SELECT HEX(b) FROM a WHERE id = 1"), QStringLiteral("00FF0027"));
        QCOMPARE(cell(0, 2), QStringLiteral("0x00FF0027"));
        QVERIFY(!model()->setData(model()->index(0, 2), QStringLiteral("typed text")));
        QCOMPARE(model()->exportSource().cellText(0, 2), QByteArray("0x00FF0027"));
        // Whole rows, as the exports read them, give the same cells.
        std::vector<GridSource::CellText> cells;
        for (int r = 0; r < 2; ++r) {
            model()->exportSource().rowText(r, cells);
            QCOMPARE(cells.size(), size_t(3));
            for (int c = 0; c < 3; ++c) {
                QCOMPARE(cells[size_t(c)].text.toByteArray(), model()->exportSource().cellText(r, c));
                QCOMPARE(cells[size_t(c)].isNull, model()->exportSource().isNull(r, c));
            }
        }
        // The edited row is found again by its stored value: a second edit works.
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("again")));
        if (type != QLatin1String("FLOAT") && type != QLatin1String("DATETIME") && !type.startsWith(QLatin1String("DECIMAL")))
            QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        else
            model()->revertRow();
    }

    // Bytes never show as text, even where they happen to be UTF-8
    // (POINT(0 0), '12', 'text', b'1000001'): one form in every row, in the grid and the
    // exports; a shape is never edited, and a write to another column of a
    // keyless row still finds the row by the shape's exact bytes.
    void bytesShowAsHexInEveryRow_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("editable");
        QTest::newRow("GEOMETRY") << 1 << false;
        QTest::newRow("BLOB") << 2 << true;
        QTest::newRow("VARBINARY") << 3 << true;
        QTest::newRow("BIT") << 4 << true;
    }
    void bytesShowAsHexInEveryRow()
    {
        QFETCH(int, column);
        QFETCH(bool, editable);
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE g (name VARCHAR(5), location GEOMETRY NOT NULL, b BLOB, "
             "vb VARBINARY(8), bits BIT(8))",
                "INSERT INTO g VALUES ('a', ST_GeomFromText('POINT(0 0)'), 'text', '12', b'1000001'), "
                "('a', ST_GeomFromText('POINT(1 2)'), X'00FF', X'FF', b'11111111')"});
        const QString all = QStringLiteral("SELECT CONCAT_WS('|', name, HEX(location), HEX(b), HEX(vb), HEX(bits)) "
                                           "FROM g ORDER BY ST_X(location)");
        const QStringList before = server(all);
        open(QStringLiteral("g"));
        QStringList hex;
        for (const QString &row : before)
            hex << "0x" + row.split(QLatin1Char('|')).at(column);
        QTemporaryDir dir;
        const QString txt = dir.filePath(QStringLiteral("g.txt")), csv = dir.filePath(QStringLiteral("g.csv"));
        QVERIFY(SaveDataGridToFile(model()->exportSource(), txt, m_desktop, nullptr, {}));
        QVERIFY(SaveDataGridToCSVFile(model()->exportSource(), csv, m_desktop, nullptr, {}));
        const auto fields = [](const QString &path, char separator, int r, int c) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly)
                ? f.readAll().split('\n').value(r + 1).split(separator).value(c).trimmed()
                : QByteArray();
        };
        std::vector<GridSource::CellText> cells;
        for (int r = 0; r < 2; ++r) {
            model()->exportSource().rowText(r, cells);
            QVERIFY(!cells[size_t(column)].numeric); // hex is text in a workbook, digits or not
            QCOMPARE(model()->index(r, column).data().toString(), hex[r]);
            QCOMPARE(cell(r, column), hex[r]);
            QCOMPARE(QString::fromLatin1(fields(txt, '\t', r, column)), hex[r]);
            QCOMPARE(QString::fromLatin1(fields(csv, ',', r, column)), hex[r]);
        }
        // Find looks for what shows.
        editor()->findBar->open(false);
        auto *findEdit = editor()->findBar->findChild<QLineEdit *>(QStringLiteral("findEdit"));
        QVERIFY(findEdit);
        findEdit->setText(hex[1]);
        QTRY_COMPARE(order()->found(), std::vector<int32_t>{1});
        QTest::keyClick(findEdit, Qt::Key_Escape);

        view()->setCurrentIndex(view()->model()->index(0, column));
        if (editable) {
            type(0, column, QStringLiteral("0x7e"));
        } else {
            for (int key : {int(Qt::Key_F2), int(Qt::Key_X)}) {
                QTest::keyClick(view(), Qt::Key(key));
                QVERIFY(!view()->cellEditor());
            }
            QTest::keyClick(view(), Qt::Key_0, Qt::ControlModifier);
            QCOMPARE(m_desktop.texts(), QStringList{"The cell in column location cannot be changed here."});
            QVERIFY(!model()->setData(model()->index(0, column), hex[1]));
            type(0, 0, QStringLiteral("c"));
        }
        leaveRow(1);
        QTRY_VERIFY(!model()->hasHeldRow());
        QStringList after = before;
        QStringList first = after[0].split(QLatin1Char('|'));
        first[editable ? column : 0] = editable ? QStringLiteral("7E") : QStringLiteral("c");
        after[0] = first.join(QLatin1Char('|'));
        QCOMPARE(server(all), after);
        QCOMPARE(cell(0, column), "0x" + first[column]);
    }

    void floatOriginalValueStillMatches()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE fl (id INT PRIMARY KEY, f FLOAT, d DOUBLE)",
                         "INSERT INTO fl VALUES (1, 0.1, 0.1e0 + 0.2e0)"});
        open(QStringLiteral("fl"));
        QCOMPARE(cell(0, 2), QStringLiteral("0.30000000000000004"));
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("2.5")));
        QVERIFY(model()->setData(model()->index(0, 2), QStringLiteral("1.5")));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        QCOMPARE(server("SELECT f, d FROM fl"), QStringList{"2.5|1.5"});
    }

    void refusedWriteKeepsTheValues_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("serverSays");
        QTest::newRow("text in INT") << 1 << "abc" << "Incorrect integer value";
        QTest::newRow("duplicate key") << 0 << "2" << "Duplicate entry";
    }
    void refusedWriteKeepsTheValues()
    {
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QString, serverSays);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE r (id INT PRIMARY KEY, n INT)", "INSERT INTO r VALUES (1, 1), (2, 2)"});
        open(QStringLiteral("r"));
        type(0, column, typed);
        leaveRow(1);
        QCOMPARE(m_desktop.boxes.size(), 1);
        QVERIFY2(m_desktop.boxes.first().text.contains(serverSays), qPrintable(m_desktop.boxes.first().text));
        QCOMPARE(m_desktop.boxes.first().caption, Main::appTitle());
        QCOMPARE(cell(0, column), typed);
        QTRY_COMPARE(view()->currentIndex().row(), 0);
        QCOMPARE(server("SELECT * FROM r"), QStringList({"1|1", "2|2"}));
    }

    // Edits held in the current row were lost when the page was left.
    void editsLostAtQuit_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Quit") << "quit";
        QTest::newRow("< Back") << "back";
        QTest::newRow("close box") << "close";
    }
    void editsLostAtQuit()
    {
        QFETCH(QString, how);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE q (id INT PRIMARY KEY, n INT)", "INSERT INTO q VALUES (1, 1)"});
        const auto leave = [&] {
            if (how == QLatin1String("quit")) {
                editor()->PushButton3_Click();
            } else if (how == QLatin1String("back")) {
                editor()->PushButton1_Click();
            } else {
                QCloseEvent e;
                QApplication::sendEvent(editor(), &e);
            }
        };
        open(QStringLiteral("q"));
        editor()->show();
        type(0, 1, QStringLiteral("oops")); // refused: stays
        leave();
        QVERIFY(!m_wizard->hasEnded());
        QVERIFY(editor()->isVisible());
        QVERIFY(model()->hasHeldRow());
        QCOMPARE(m_desktop.boxes.size(), 1);
        type(0, 1, QStringLiteral("5")); // a good value: written, then gone
        leave();
        QCOMPARE(server("SELECT n FROM q"), QStringList{"5"});
        QCOMPARE(m_wizard->hasEnded(), how != QLatin1String("back"));
        QVERIFY(!editor()->isVisible());
    }

    // A trigger changes the row as it is written: the grid's copy is no
    // handle on it any more, so the page says so and reads the table again.
    void rowTheServerChangedIsReadAgain()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE tr (v VARCHAR(10), n INT)",
                         "CREATE TRIGGER tr_bump BEFORE UPDATE ON tr FOR EACH ROW SET NEW.n = OLD.n + 1",
                         "INSERT INTO tr VALUES ('a', 0)"});
        open(QStringLiteral("tr"));
        for (const QString &value : {QStringLiteral("first"), QStringLiteral("second")}) {
            m_desktop.clear();
            QVERIFY(editor()->session().commitHeldRow());
            type(0, 0, value);
            QVERIFY(editor()->session().commitHeldRow());
            QCOMPARE(m_desktop.boxes.size(), 1);
            QVERIFY(m_desktop.boxes.first().text.contains(QStringLiteral("read again")));
            QTRY_COMPARE(cell(0, 1), value == QLatin1String("first") ? QStringLiteral("1") : QStringLiteral("2"));
            QVERIFY(model()->exportSource().waitUntilLoaded({}));
        }
        QCOMPARE(server("SELECT * FROM tr"), QStringList{"second|2"});
    }

    // What the page says after a reply lost on the way back: the server is
    // asked, and the user hears what it holds. The write (and its commit,
    // decided on the server in the same statement) usually lands, but the
    // KILL of the lost session may stop it first on a busy server: either way
    // the words must match the server.
    void lostReplyIsToldTruthfully_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("no transaction") << "Aria";
        QTest::newRow("committed in the same statement") << "InnoDB";
    }
    void lostReplyIsToldTruthfully()
    {
        QFETCH(QString, engine);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE lost (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=" + engine,
                         "INSERT INTO lost VALUES (1, 'a'), (2, 'b')"});
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        open(QStringLiteral("lost"), QString::number(proxy.port()));
        proxy.arm(FaultProxy::Fault::CutBeforeReply, QStringLiteral("^(BEGIN NOT ATOMIC .*)?UPDATE"));
        type(0, 1, QStringLiteral("lost"));
        const bool saved = editor()->session().commitHeldRow();
        QVERIFY(proxy.hasFired());
        const QString stored = server("SELECT v FROM lost WHERE id = 1").value(0);
        QCOMPARE(saved, stored == QLatin1String("lost"));
        QCOMPARE(m_desktop.boxes.size(), 1);
        const QString told = saved ? QStringLiteral("the change was saved") : QStringLiteral("nothing was written");
        QVERIFY2(m_desktop.boxes.first().text.contains(told), qPrintable(m_desktop.boxes.first().text));
        if (!saved) {
            QVERIFY(editor()->session().commitHeldRow()); // the retry goes through once
            QCOMPARE(server("SELECT v FROM lost WHERE id = 1"), QStringList{"lost"});
        }
        QCOMPARE(cell(0, 1), QStringLiteral("lost"));
    }

    void serverStopsDuringEditing()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE s (id INT PRIMARY KEY, v VARCHAR(10))", "INSERT INTO s VALUES (1, 'a')"});
        open(QStringLiteral("s"));
        type(0, 1, QStringLiteral("kept"));
        TestDb::stopServer();
        // The tests after this one need the server, also when this one fails.
        auto restart = qScopeGuard([] { TestDb::startServer(); });
        QVERIFY(!editor()->session().commitHeldRow());
        QCOMPARE(m_desktop.boxes.size(), 1);
        QVERIFY(m_desktop.boxes.first().text.contains(QStringLiteral("server")));
        QCOMPARE(cell(0, 1), QStringLiteral("kept"));
        QVERIFY(!editor()->session().commitHeldRow()); // still down: told again, no hang
        restart.dismiss();
        TestDb::startServer();
        QVERIFY(editor()->session().commitHeldRow()); // the retry signs in again
        QCOMPARE(server("SELECT v FROM s"), QStringList{"kept"});
    }

    // "Add New Row" set a 16-bit row relative to the page and failed on any
    // table longer than a page.
    void addNewRowPastSixteenBits_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("empty table") << 0;
        QTest::newRow("100,000 rows") << 100000;
    }
    void addNewRowPastSixteenBits()
    {
        QFETCH(int, rows);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE big (v VARCHAR(10), id INT AUTO_INCREMENT PRIMARY KEY)"});
        if (rows)
            TestDb::run(Db, {QStringLiteral("INSERT INTO big (v) SELECT CONCAT('v', seq) FROM seq_1_to_%1").arg(rows)});
        open(QStringLiteral("big"));
        editor()->show();
        QCOMPARE(model()->rowCount(QModelIndex()), rows + 1);
        editor()->cmdAddNewRow_Click();
        QVERIFY(m_desktop.boxes.isEmpty());
        QCOMPARE(view()->currentIndex().row(), rows);
        QVERIFY(view()->selectionModel()->isRowSelected(rows, QModelIndex()));
        QVERIFY(view()->viewport()->rect().intersects(view()->visualRect(view()->currentIndex())));
        QTest::keyClick(view(), Qt::Key_A); // ready to type: the key opens the cell
        auto *line = qobject_cast<QLineEdit *>(view()->cellEditor());
        QVERIFY(line);
        QTest::keyClicks(line, QStringLiteral("dded"));
        QTest::keyClick(line, Qt::Key_Tab);
        QCOMPARE(model()->index(rows, 0).data().toString(), QStringLiteral("added"));
        editor()->cmdAddNewRow_Click(); // leaves the row: it is written
        QTRY_COMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM big WHERE v = 'added'"), QStringLiteral("1"));
        QCOMPARE(model()->rowCount(QModelIndex()), rows + 2);
        QCOMPARE(view()->currentIndex().row(), rows + 1);
        QVERIFY(m_desktop.boxes.isEmpty());
    }
};

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
