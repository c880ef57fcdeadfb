#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/StoredForm.h"
#include "grid/GridModel.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QTest>

#include <functional>
#include <memory>
#include <numeric>

namespace {

const QString Db = QStringLiteral("tst_roundtrips");

ConnectParams viaProxy(quint16 port)
{
    ConnectParams p;
    p.host = "127.0.0.1";
    p.user = TestDb::user().toUtf8();
    p.password = TestDb::password().toUtf8();
    p.database = Db.toUtf8();
    p.port = port;
    p.forceTcp = true;
    return p;
}

} // namespace

// How often each action of the grid waits for the server: the turns the
// proxy counts (the client sending after the server answered). A far server
// costs 10 to 100 ms for each, so the counts are the goals, not the times.
class TestRoundTrips : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
    }

    void eachActionWaitsAtMost_data();
    void eachActionWaitsAtMost();
};

void TestRoundTrips::eachActionWaitsAtMost_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("goal");
    const QString keyed = QStringLiteral("(id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB");
    QTest::newRow("sign in") << keyed << "connect" << 2;
    QTest::newRow("commit, keyed") << keyed << "update" << 1;
    QTest::newRow("commit, keyed, no transactions") << "(id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=Aria"
                                                    << "update" << 1;
    QTest::newRow("commit, no key") << "(id INT, v VARCHAR(20)) ENGINE=InnoDB"
                                    << "update" << 2;
    QTest::newRow("delete, keyed") << keyed << "delete" << 1;
    QTest::newRow("undo, keyed") << keyed << "undo" << 1;
    // Inserted, read back and committed once the new row is known.
    QTest::newRow("insert, AUTO_INCREMENT key") << "(id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB"
                                                << "insert" << 2;
    QTest::newRow("insert, no key") << "(id INT, v VARCHAR(20)) ENGINE=InnoDB"
                                    << "insert" << 2;
    // 250 rows: at most N/100 + 3.
    QTest::newRow("paste of 250 rows, keyed") << keyed << "batch" << 250 / 100 + 3;
    QTest::newRow("delete of 250 rows, keyed") << keyed << "delete batch" << 250 / 100 + 3;
}

void TestRoundTrips::eachActionWaitsAtMost()
{
    QFETCH(QString, table);
    QFETCH(QString, action);
    QFETCH(int, goal);
    TestDb::run(Db,
        {"CREATE OR REPLACE TABLE rt " + table, "INSERT INTO rt VALUES (1, 'a'), (2, 'b')",
            "INSERT INTO rt SELECT seq, 'c' FROM seq_3_to_250"});
    FaultProxy proxy(QStringLiteral("127.0.0.1"), TestDb::port().toUShort());
    Connection connection;
    connection.open(viaProxy(proxy.port()));
    RowSet rows;
    rows.open(QStringLiteral("SELECT * FROM `rt`"), connection);
    GridModel model;
    model.setRowSet(&rows, &connection);
    const RowValues first = storedValues(rows.rows(), 0);
    RowValues changed = first;
    changed[1] = CellValue::of("changed");

    // The table's keys are read once, at the first write.
    if (action != QLatin1String("connect")) {
        const RowValues second = storedValues(rows.rows(), 1);
        RowValues warmed = second;
        warmed[1] = CellValue::of("b2");
        QCOMPARE(model.rewriteValues(second, warmed, 1), GridModel::Outcome::Done);
    }
    proxy.resetTurns();
    GridModel::Outcome outcome = GridModel::Outcome::Done;
    Connection another;
    if (action == QLatin1String("connect"))
        another.open(viaProxy(proxy.port()));
    else if (action == QLatin1String("update") && model.setData(model.index(0, 1), QStringLiteral("changed")))
        outcome = model.commitRow();
    else if (action == QLatin1String("delete"))
        outcome = model.deleteRow(1);
    else if (action == QLatin1String("undo"))
        outcome = model.rewriteValues(first, changed, 0);
    else if (action == QLatin1String("insert") && model.setData(model.index(model.newRowLine(), 1), "new"))
        outcome = model.commitRow();
    std::vector<std::pair<int, CellChanges>> batch;
    for (int row = 0; action == QLatin1String("batch") && row < 250; ++row)
        batch.push_back({row, {{1, CellValue::of(row == 0 ? "changed" : "p")}}});
    if (action == QLatin1String("delete batch")) {
        std::vector<int> last(250); // from the last row to the first
        std::iota(last.rbegin(), last.rend(), 0);
        const GridModel::Written written = model.deleteRows(last);
        QCOMPARE(written.written, 250);
        outcome = written.outcome;
    }
    if (!batch.empty()) {
        const GridModel::Written written = model.commitRows(batch);
        QCOMPARE(written.written, 250);
        outcome = written.outcome;
    }
    QCOMPARE(outcome, GridModel::Outcome::Done);
    qInfo("%s: %d turns", QTest::currentDataTag(), proxy.turns());
    QVERIFY2(proxy.turns() <= goal, qPrintable(QStringLiteral("%1 turns").arg(proxy.turns())));
    const QStringList rest = TestDb::rows(Db, "SELECT v FROM rt WHERE id > 2 GROUP BY v");
    const QStringList firstTwo = TestDb::rows(Db, "SELECT v FROM rt WHERE id <= 2 ORDER BY id");
    if (action == QLatin1String("delete"))
        QCOMPARE(firstTwo, QStringList({"a"}));
    else if (action == QLatin1String("delete batch"))
        QCOMPARE(firstTwo + rest, QStringList());
    else if (action == QLatin1String("batch"))
        QCOMPARE(firstTwo + rest, QStringList({"changed", "p", "p"}));
    else if (action == QLatin1String("insert"))
        QCOMPARE(TestDb::rows(Db, "SELECT v FROM rt WHERE v IN ('a', 'b2', 'new') ORDER BY v"),
            QStringList({"a", "b2", "new"}));
    else if (action != QLatin1String("connect"))
        QCOMPARE(firstTwo, QStringList({"changed", "b2"}));
}

QTEST_GUILESS_MAIN(TestRoundTrips)
#include "tst_roundtrips.moc"
