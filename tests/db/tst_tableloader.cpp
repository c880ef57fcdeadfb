#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/ResultRows.h"
#include "db/RowWriter.h"
#include "db/TableLoader.h"
#include "db/Failure.h"
#include "support/TestDb.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_tableloader");

// Every row of `sql` as ResultRows reads it: cells as bytes, NULL as "<null>".
QList<QByteArrayList> readAll(Connection &c, const QByteArray &sql, bool &binary)
{
    const std::unique_ptr<ResultRows> rows = ResultRows::run(c.handle(), sql, QString::fromUtf8(sql));
    binary = rows->isBinary();
    QList<QByteArrayList> out;
    const char *const *cells = nullptr;
    const unsigned long *lengths = nullptr;
    while (rows->next(cells, lengths)) {
        QByteArrayList row;
        for (int i = 0; i < rows->columnCount(); ++i)
            row << (cells[i] ? QByteArray(cells[i], qsizetype(lengths[i])) : QByteArray("<null>"));
        out << row;
    }
    if (const auto f = rows->failure())
        throw *f;
    return out;
}

// The same rows through the prepared statement and through the text protocol.
void compareProtocols(Connection &c, const QByteArray &sql, bool expectBinary)
{
    bool binary = false;
    const QList<QByteArrayList> got = readAll(c, sql, binary);
    QCOMPARE(binary, expectBinary);
    ResultRows::setTextOnlyForTesting(true);
    const QList<QByteArrayList> text = readAll(c, sql, binary);
    ResultRows::setTextOnlyForTesting(false);
    QVERIFY(!binary);
    QCOMPARE(got.size(), text.size());
    for (qsizetype r = 0; r < text.size(); ++r)
        QCOMPARE(got[r], text[r]);
}

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

    // Loads go through a prepared statement, whose binary rows are turned
    // into text here and in the client library: each kind of column, at its
    // edges, must read exactly as the server writes it as text.
    void everyKindReadsAsTheServerWritesIt()
    {
        TestDb::run(Db, {"SET SESSION sql_mode = ''",
                         "CREATE OR REPLACE TABLE kinds (ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT ZEROFILL, "
                         "su SMALLINT UNSIGNED, mi MEDIUMINT, mu MEDIUMINT UNSIGNED, i INT(5) ZEROFILL, iu INT UNSIGNED, "
                         "bi BIGINT, bu BIGINT UNSIGNED, f FLOAT, f2 FLOAT(7,3), d DOUBLE, d2 DOUBLE(12,4), "
                         "de DECIMAL(30,10), dt DATETIME, dt6 DATETIME(6), dt3 DATETIME(3), ts TIMESTAMP(2) NULL, "
                         "da DATE, tm TIME, tm4 TIME(4), y YEAR, b BIT(10), e ENUM('a','b'), s SET('x','y'), "
                         "j JSON, g GEOMETRY, bl BLOB, i6 INET6, u UUID, bin BINARY(4), vb VARBINARY(10), "
                         "lt LONGTEXT, c CHAR(3) CHARACTER SET latin1)",
                         "INSERT INTO kinds VALUES (-128, 255, 7, 65535, -8388608, 16777215, 42, 4294967295, "
                         "-9223372036854775808, 18446744073709551615, 3.14159265, 1.5, 2.718281828459045, 1.23456, "
                         "12345678901234567890.0123456789, '0000-00-00 00:00:00', '2020-02-29 23:59:59.123456', "
                         "'1999-12-31 23:59:59.5', '2020-01-01 00:00:00.99', '0000-00-00', '-838:59:59', '-00:00:01.5', "
                         "0, b'1010101010', 'b', 'x,y', '{\"a\": 1}', POINT(1, 2), 0x00FF00, '::1', "
                         "'123e4567-e89b-12d3-a456-426655440000', 'ab', 'x\\0y', REPEAT('long ', 20000), 'é')",
                         "INSERT INTO kinds VALUES (127, 0, 0, 0, 8388607, 0, 0, 0, 9223372036854775807, 0, 1e38, "
                         "-999.999, 1e308, -0.0001, -0.0000000001, '2020-02-31 01:02:03', '0001-01-01 00:00:00.000001', "
                         "NULL, NULL, '2020-00-00', '838:59:59', '12:00:00', 2155, b'0', '', '', NULL, NULL, '', NULL, "
                         "NULL, '', '', 'short', '')",
                         "INSERT INTO kinds VALUES (1, 1, 1, 1, -1, 1, 1, 1, -1, 1, -1.17549e-38, 0, 1.7976931348623157e308, "
                         "0, 0, '9999-12-31 23:59:59', '9999-12-31 23:59:59.999999', '2000-01-01 00:00:00.000', "
                         "'2038-01-19 03:14:07.01', '9999-12-31', '00:00:00', '00:00:00.0001', 1901, b'1111111111', 'a', "
                         "'y', '[]', NULL, NULL, 'ffff::ffff', NULL, 'abcd', 'x', REPEAT('x', 300000), NULL)",
                         "INSERT INTO kinds (f, f2, d, d2) VALUES (1234567, 123.4, 0.1, 0.1), (1e-10, 0.001, 1e-300, 1e15), "
                         "(123456789, -0.5, 123456789012345678, 99999999.9999)"});
        auto c = TestDb::admin(Db);
        compareProtocols(*c, "SELECT * FROM kinds", true);
        // A cell longer than any before it, after short ones, and back.
        compareProtocols(*c, "SELECT id, IF(id % 1000 = 0, REPEAT('y', id * 10), v) FROM t", true);
        // Under another character set of the results, converted alike.
        c->query("SET character_set_results = latin1");
        compareProtocols(*c, "SELECT c, lt FROM kinds", true);
        c->query("SET character_set_results = utf8mb4");
        // A name that would be a placeholder outside its quotes.
        TestDb::run(Db, {"CREATE OR REPLACE TABLE `q?``x` (`?` INT, `'?'` DATE)", "INSERT INTO `q?``x` VALUES (1, '2001-02-03')"});
        compareProtocols(*c, "SELECT * FROM `q?``x`", true);
        // A kind not known to format alike keeps the text protocol.
        compareProtocols(*c, "SELECT NULL AS nothing, ti FROM kinds", false);
    }

    // A server that will not prepare the statement still gets it run, as text.
    void statementsAreRunAsTextWhenTheyCannotBePrepared()
    {
        auto c = TestDb::admin(Db);
        const QString was = TestDb::scalar(QString(), "SELECT @@GLOBAL.max_prepared_stmt_count");
        TestDb::run(QString(), {"SET GLOBAL max_prepared_stmt_count = 0"});
        bool binary = true;
        QList<QByteArrayList> rows;
        try {
            rows = readAll(*c, "SELECT id, v FROM t WHERE id <= 7 ORDER BY id", binary);
        } catch (const Failure &f) {
            TestDb::run(QString(), {"SET GLOBAL max_prepared_stmt_count = " + was});
            QFAIL(f.what());
        }
        TestDb::run(QString(), {"SET GLOBAL max_prepared_stmt_count = " + was});
        QVERIFY(!binary);
        QCOMPARE(rows.size(), 7);
        QCOMPARE(rows.last(), (QByteArrayList{"7", "<null>"}));
        // A statement the server refuses says why, as it did before.
        try {
            readAll(*c, "SELECT * FROM `no``such`", binary);
            QFAIL("no failure");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), 1146L);
        }
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
