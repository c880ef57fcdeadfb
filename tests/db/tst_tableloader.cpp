#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/RowWriter.h"
#include "db/TableLoader.h"
#include "db/Failure.h"
#include "support/TestDb.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_tableloader");

} // namespace

// The background read of a table, and the row writer on a real server.
class TestTableLoader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        TestDb::run(Db, {"CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(40) NULL)",
                         "INSERT INTO t SELECT seq, IF(seq % 7 = 0, NULL, CONCAT('row ', seq)) FROM seq_1_to_50000"});
    }

    void rowsArriveInChunksInOrder()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        rows.openInBackground(QStringLiteral("SELECT * FROM t ORDER BY id"), *c);
        QCOMPARE(rows.fieldCount(), 2);
        QSignalSpy appended(rows.loader(), &TableLoader::rowsAppended);
        QSignalSpy finished(rows.loader(), &TableLoader::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(appended.count() >= 1); // the first may come while the fields are awaited
        QCOMPARE(rows.recordCount(), 50000);
        QVERIFY(!rows.isLoading());
        QCOMPARE(rows.rows().cell(49999, 1).text(), std::string_view("row 50000"));
        QVERIFY(rows.rows().cell(6, 1).isNull());
        QCOMPARE(rows.rows().cell(0, 0).text(), std::string_view("1"));
    }

    void badStatementFailsAtOnce()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        try {
            rows.openInBackground(QStringLiteral("SELECT * FROM `no``such`;"), *c);
            QFAIL("no failure");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), 1146L);
        }
        QCOMPARE(rows.state(), 0);
    }

    void cancelStopsPromptlyAndKeepsTheRowsSoFar()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        rows.openInBackground(QStringLiteral("SELECT a.id, a.v FROM t a, (SELECT 1 UNION SELECT 2 UNION SELECT 3) b"), *c);
        QSignalSpy appended(rows.loader(), &TableLoader::rowsAppended);
        QVERIFY(appended.wait(10000));
        rows.stopLoading();
        const qint64 kept = rows.recordCount();
        QVERIFY(!rows.isLoading());
        QTest::qWait(100); // chunks posted before the cancel are dropped
        QCOMPARE(rows.recordCount(), kept);
        QVERIFY(kept < 150000);
        QVERIFY(rows.state() == 1);
        // The connection of the grid is free and the server is fine.
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM t"), QStringLiteral("50000"));
    }

    void requeryReadsAgainInTheBackground()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        rows.openInBackground(QStringLiteral("SELECT * FROM t WHERE id <= 10"), *c);
        QTRY_COMPARE(rows.recordCount(), 10);
        TestDb::run(Db, {"INSERT INTO t VALUES (0, 'zero')"});
        rows.requery();
        QTRY_COMPARE(rows.recordCount(), 11);
        TestDb::run(Db, {"DELETE FROM t WHERE id = 0"});
    }

    void writerReadsTheKeysOfTheTable_data()
    {
        QTest::addColumn<QString>("create");
        QTest::addColumn<int>("kind");
        QTest::newRow("primary") << "CREATE OR REPLACE TABLE k (a INT, b INT NOT NULL, PRIMARY KEY (b, a))" << 0;
        QTest::newRow("unique not null") << "CREATE OR REPLACE TABLE k (a INT NULL UNIQUE, b INT NOT NULL UNIQUE)" << 1;
        QTest::newRow("nullable unique only") << "CREATE OR REPLACE TABLE k (a INT NULL UNIQUE, b INT)" << 2;
    }
    void writerReadsTheKeysOfTheTable()
    {
        QFETCH(QString, create);
        QFETCH(int, kind);
        TestDb::run(Db, {create});
        auto c = TestDb::admin(Db);
        RowSet rows;
        rows.open(QStringLiteral("SELECT * FROM k"), *c);
        RowWriter writer(*c, "k", rows.fields());
        QCOMPARE(int(writer.identity().kind), kind);
        if (kind == 0)
            QCOMPARE(writer.identity().columns, (std::vector<int>{1, 0}));
        if (kind == 1)
            QCOMPARE(writer.identity().columns, std::vector<int>{1});
    }
};

QTEST_GUILESS_MAIN(TestTableLoader)
#include "tst_tableloader.moc"
