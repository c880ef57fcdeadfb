#include "FakeSpreadsheet.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "export/TextExports.h"
#include "frame/PagePointer.h"
#include "frame/ProgressDialog.h"
#include "grid/GridModel.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/TestDb.h"

#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_exportgrid");
constexpr int Rows = 1000;

// The table's rows as the text export writes them.
QByteArray expectedText()
{
    QByteArray out = "id\tname\tprice\tnote\t\r\n";
    for (int i = 1; i <= Rows; ++i) {
        const QByteArray n = QByteArray::number(i);
        out += n + "\tname-" + n + '\t' + (i % 7 == 0 ? QByteArray() : QByteArray::number(i * 1.5, 'f', 2)) + '\t'
            + QByteArray("Zoë & <") + n + ">\t\r\n";
    }
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// The exports through the editor's own grid model, over rows read from
// the server, and the "Save As" menu's handlers.
class TestExportGrid : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<RowSet> m_rows;

    std::pair<std::unique_ptr<Connection>, std::unique_ptr<RowSet>> openTable()
    {
        auto connection = std::make_unique<Connection>();
        connection->open(ConnectionString(TestDb::fields(Db)));
        auto rows = std::make_unique<RowSet>();
        rows->open(QStringLiteral("SELECT * FROM `t`;"), *connection);
        return {std::move(connection), std::move(rows)};
    }

    // The editor page with the test table bound, over desktop doubles.
    struct Editor
    {
        explicit Editor(TestExportGrid &test)
        {
            wizard.CurrentTable = QStringLiteral("t");
            page = wizard.form3();
            auto [connection, rows] = test.openTable();
            page->session().open(wizard.CurrentTable, std::move(connection), std::move(rows));
        }
        FakeDesktop desktop;
        FakeSpreadsheet spreadsheet;
        Services services{&desktop, nullptr, &spreadsheet};
        Wizard wizard{services};
        Form3 *page = nullptr;
    };

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        TestDb::run(Db, {"CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, price DECIMAL(10,2) NULL, "
                         "note TEXT NOT NULL) DEFAULT CHARSET=utf8mb4",
                         "INSERT INTO t SELECT seq, CONCAT('name-', seq), IF(seq % 7 = 0, NULL, seq * 1.5), "
                         "CONCAT('Zoë & <', seq, '>') FROM seq_1_to_1000"});
    }

    // With the view scrolled to the middle and its current row there, the
    // export still holds every row once, from the first.
    void scrolledGridExportsEveryRow()
    {
        auto [connection, rows] = openTable();
        GridModel model;
        model.setRowSet(rows.get(), connection.get());
        QTableView view;
        view.setModel(&model);
        view.resize(500, 300);
        view.show();
        view.scrollTo(model.index(Rows / 2, 0), QAbstractItemView::PositionAtTop);
        view.setCurrentIndex(model.index(Rows / 2, 1));
        const int scrolled = view.verticalScrollBar()->value();
        QVERIFY(scrolled > 0);

        FakeDesktop desktop;
        const QString file = m_dir.filePath("scrolled.txt");
        QVERIFY(SaveDataGridToFile(model.exportSource(), file, desktop, &view, ProgressDialog(&view).function()));
        QCOMPARE(desktop.texts(), QStringList());
        QVERIFY(readAll(file) == expectedText());
        QCOMPARE(view.verticalScrollBar()->value(), scrolled);
        QCOMPARE(view.currentIndex().row(), Rows / 2);
    }

    void menuSavesFile_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("TXT") << "mnuTXT" << "Text Files (*.txt)|*.txt" << QByteArray("id\tname\tprice\tnote\t\r\n1\t");
        QTest::newRow("XML") << "mnuXML" << "XML Files (*.xml)|*.xml" << QByteArray("<xml>\r\n<row>\r\n<id>1</id>\r\n");
        QTest::newRow("CSV") << "mnuCSV" << "CSV Files (*.csv)|*.csv" << QByteArray("id,name,price,note\r\n1,name-1,");
    }
    // The Save dialog, the name kept as typed, and the pointer back to
    // default; cancelling writes nothing and leaves the pointer alone.
    void menuSavesFile()
    {
        QFETCH(QString, item);
        QFETCH(QString, filter);
        QFETCH(QByteArray, start);
        Editor editor(*this);
        FakeDesktop &desktop = editor.desktop;
        Form3 *page = editor.page;
        QAction *action = page->findChild<QAction *>(item);
        QVERIFY(action);

        page->pointer().setState(PagePointer::State::Custom);
        action->trigger(); // cancelled: no name
        QCOMPARE(desktop.saveDialogs.size(), 1);
        QCOMPARE(desktop.saveDialogs[0], qMakePair(QStringLiteral("Save"), filter));
        QCOMPARE(page->pointer().state(), PagePointer::State::Custom);

        const QString file = m_dir.filePath(item + "-no-extension");
        desktop.fileNames << file;
        action->trigger();
        QCOMPARE(desktop.texts(), QStringList());
        QVERIFY(readAll(file).startsWith(start));
        QVERIFY(readAll(file).contains("Zoë & <1000>"));
        QVERIFY(!QFile::exists(file + ".txt") && !QFile::exists(file + ".xml") && !QFile::exists(file + ".csv"));
        QCOMPARE(page->pointer().state(), PagePointer::State::Default);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(item).size(), 1);
    }

    void menuFillsWorkbook()
    {
        Editor editor(*this);
        FakeDesktop &desktop = editor.desktop;
        Form3 *page = editor.page;
        FakeSpreadsheet &spreadsheet = editor.spreadsheet;
        page->mnuXLS->trigger();
        QCOMPARE(desktop.texts(), QStringList());
        QCOMPARE(spreadsheet.bookName, QStringLiteral("t"));
        QCOMPARE(spreadsheet.sheets.size(), size_t(1));
        const FakeSpreadsheet::Sheet &sheet = spreadsheet.sheets[0];
        QCOMPARE(sheet.size(), size_t(Rows + 1));
        QCOMPARE(sheet[0], QList<QByteArray>({"id", "name", "price", "note"}));
        QCOMPARE(sheet[7], QList<QByteArray>({"7", "name-7", "", "Zoë & <7>"}));
        QCOMPARE(sheet[Rows], QList<QByteArray>({"1000", "name-1000", "1500.00", "Zoë & <1000>"}));
        QVERIFY(spreadsheet.visible);
        QCOMPARE(page->pointer().state(), PagePointer::State::Default);
    }
};

QTEST_MAIN(TestExportGrid)
#include "tst_exportgrid.moc"
