#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/Identifier.h"
#include "db/ResultRows.h"
#include "db/RowSet.h"
#include "db/RowWriter.h"
#include "db/TableLoader.h"
#include "support/TestDb.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_tableloader");

// Every row of `sql` as ResultRows reads it: cells as bytes, NULL as "<null>".
QList<QByteArrayList> readAll(Connection &c, const QByteArray &sql, bool &binary)
{
    const std::unique_ptr<ResultRows> rows = ResultRows::run(c, sql, QString::fromUtf8(sql));
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

// The same rows through the prepared statement and through the text
// protocol, byte for byte; `kinds` name the columns in a difference.
void compareProtocols(Connection &c, const QByteArray &sql, bool expectBinary, const QStringList &kinds = {})
{
    bool binary = false;
    const QList<QByteArrayList> got = readAll(c, sql, binary);
    ResultRows::setTextOnlyForTesting(true);
    bool text = true;
    const QList<QByteArrayList> expected = readAll(c, sql, text);
    ResultRows::setTextOnlyForTesting(false);
    QVERIFY(!text);
    QCOMPARE(got.size(), expected.size());
    for (qsizetype r = 0; r < expected.size(); ++r)
        for (qsizetype i = 0; i < expected[r].size(); ++i)
            if (got[r].value(i) != expected[r][i])
                QFAIL(qPrintable(QStringLiteral("%1, row %2, column %3 %4: read \"%5\", the server wrote \"%6\"")
                                     .arg(QString::fromUtf8(sql.left(60)))
                                     .arg(r)
                                     .arg(i)
                                     .arg(kinds.value(i), QString::fromUtf8(got[r].value(i).left(80)),
                                         QString::fromUtf8(expected[r][i].left(80)))));
    QCOMPARE(binary, expectBinary);
}

// Every kind crossed with every suffix (width, fraction) and flag.
QStringList crossed(const QStringList &kinds, const QStringList &suffixes, const QStringList &flags = {QString()})
{
    QStringList out;
    for (const QString &k : kinds)
        for (const QString &s : suffixes)
            for (const QString &f : flags)
                out << k + s + f;
    return out;
}

QString randomDigits(QRandomGenerator &rng, int n)
{
    QString s(n, Qt::Uninitialized);
    for (QChar &c : s)
        c = QChar(u'0' + rng.bounded(10));
    return s;
}

// A value for row `row` of a generated table: the first rows hold the same
// fixed value in every column, the others random ones.
using Value = QString (*)(int row, QRandomGenerator &rng);

// The kinds' limits, nines that fill each width and pass it, random numbers.
QString numberValue(int row, QRandomGenerator &rng)
{
    static const QStringList edges = [] {
        QStringList out{"NULL", "0", "-0", "0.5", "-0.5", "0.005", "0.1", "12.5", "1e-45", "1.17549435e-38",
            "3.402823466e38", "1e15", "1e16", "123456789012345678", "2.2250738585072014e-308", "4.9e-324",
            "-1.7976931348623157e308", "1.7976931348623157e308", "-9223372036854775808", "18446744073709551616"};
        for (const int n :
            {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 17, 19, 20, 21, 24, 30, 39, 65, 66, 225, 226, 300})
            for (const char *sign : {"", "-"})
                out << sign + QString(n, u'9') << sign + QString(n, u'9') + "." + QString(31, u'9');
        return out;
    }();
    if (row < edges.size())
        return edges[row];
    // One draw a statement, so that the values do not hang on the compiler.
    QString v = rng.bounded(2) ? "-" : "";
    v += randomDigits(rng, rng.bounded(1, 20));
    if (rng.bounded(2))
        v += "." + randomDigits(rng, rng.bounded(1, 35));
    if (rng.bounded(4) == 0)
        v += QStringLiteral("e%1").arg(rng.bounded(-300, 280));
    return v;
}

// Dates and times at their edges, impossible ones, times past a day, years.
QString timeValue(int row, QRandomGenerator &rng)
{
    static const QStringList fixed{"NULL", "0", "69", "70", "1901", "2155", "'0000-00-00 00:00:00'", "'0000-00-00'",
        "'1000-01-01 00:00:00'", "'1970-01-01 00:00:01'", "'2038-01-19 03:14:07.999999'",
        "'9999-12-31 23:59:59.999999'", "'9999-12-31 23:59:59.9999999'", "'2020-02-30 12:00:00.5'",
        "'-838:59:59.999999'", "'838:59:59.999999'", "'839:00:00'", "'-00:00:00.000001'", "'34 22:59:59.1'",
        "'00:00:00.000001'"};
    if (row < fixed.size())
        return fixed[row];
    const int form = rng.bounded(3), negative = rng.bounded(2), hours = rng.bounded(900), year = rng.bounded(10000),
              month = rng.bounded(13), day = rng.bounded(32), hour = rng.bounded(24), minute = rng.bounded(60),
              second = rng.bounded(60);
    const QByteArray fraction = randomDigits(rng, rng.bounded(8)).toLatin1();
    if (form == 0)
        return QString::asprintf(
            "'%04d-%02d-%02d %02d:%02d:%02d.%s'", year, month, day, hour, minute, second, fraction.data());
    if (form == 1)
        return QString::asprintf("'%s%d:%02d:%02d.%s'", negative ? "-" : "", hours, minute, second, fraction.data());
    return QString::number(year % 2200);
}

QString bitsValue(int row, QRandomGenerator &rng)
{
    static const QStringList fixed{
        "NULL", "0", "1", "127", "128", "255", "256", "511", "512", "9223372036854775807", "18446744073709551615"};
    if (row < fixed.size())
        return fixed[row];
    const quint64 bits = rng.generate64();
    return QString::number(bits >> rng.bounded(64));
}

QString textValue(int row, QRandomGenerator &rng)
{
    static const QStringList fixed{"NULL", "''", "' '", "'a  '", "'x\\0y'", "REPEAT('é', 300)", "REPEAT('y', 70000)"};
    static const QStringList letters{"a", "Z", "9", " ", "é", "€", "\\'", "\\\\", "\\0"};
    if (row < fixed.size())
        return fixed[row];
    QString v;
    for (int n = rng.bounded(40); n > 0; --n)
        v += letters[rng.bounded(int(letters.size()))];
    return "'" + v + "'";
}

// Creates `table` with a column of each kind and fills it (see Value).
void generate(const QString &table, const QStringList &kinds, Value value)
{
    QStringList columns, rows;
    for (qsizetype i = 0; i < kinds.size(); ++i)
        columns << QStringLiteral("c%1 %2").arg(i).arg(kinds[i]);
    QRandomGenerator rng(20261209);
    for (int r = 0; r < 300; ++r) {
        QStringList cells;
        for (qsizetype i = 0; i < kinds.size(); ++i)
            cells << value(r, rng);
        rows << "(" + cells.join(u',') + ")";
    }
    TestDb::run(Db,
        {"SET SESSION sql_mode = ''", "CREATE OR REPLACE TABLE " + table + " (" + columns.join(", ") + ")",
            "INSERT INTO " + table + " VALUES " + rows.join(", ")});
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
            QCOMPARE(f.number(), long(Failure::NoSuchTable));
        }
        QCOMPARE(rows.state(), 0);
    }

    // Named, a table's size, collations and rows come in one statement;
    // with a column read as text, the rows come by the text protocol next.
    void namedTableReadsItsFactsAndRows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("x");
        QTest::newRow("plain") << "plain"
                               << "INT";
        QTest::newRow("quote, read as text") << "a'b"
                                             << "DOUBLE(10,2)";
        QTest::newRow("statement in a name") << "x'); DROP TABLE t; --"
                                             << "INT";
        QTest::newRow("backtick and backslash") << "a`b\\"
                                                << "DOUBLE(10,2)";
    }

    void namedTableReadsItsFactsAndRows()
    {
        QFETCH(QString, name);
        QFETCH(QString, x);
        const QString quoted = quoteIdentifier(name);
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE " + quoted + " (v VARCHAR(10) COLLATE utf8mb4_bin, x " + x + ")",
                "INSERT INTO " + quoted + " VALUES ('a', 1), ('b', 2)"});
        auto c = TestDb::admin(Db);
        QVERIFY(c->canRunCompound());
        RowSet rows;
        rows.openInBackground("SELECT * FROM " + quoted + ";", *c, {}, name);
        QTRY_COMPARE(rows.recordCount(), 2);
        QCOMPARE(rows.field(0).collation, QByteArray("utf8mb4_bin"));
        QCOMPARE(rows.rows().cell(1, 0).text(), std::string_view("b"));
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM t"), QStringLiteral("50000"));
        try {
            rows.openInBackground("SELECT * FROM " + quoteIdentifier(name + "x") + ";", *c, {}, name + "x");
            QFAIL("no failure");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), long(Failure::NoSuchTable));
        }
        TestDb::run(Db, {"DROP TABLE " + quoted});
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
        compareProtocols(*c,
            "SELECT ti, tu, si, su, mi, mu, i, iu, bi, bu, f, f2, d, de, dt, dt6, dt3, ts, da, tm, tm4, y, b, e, s, j, "
            "g, bl, i6, u, bin, vb, lt, c FROM kinds",
            true);
        compareProtocols(*c, "SELECT * FROM kinds", false); // d2 DOUBLE(12,4) is read as text
        // A cell longer than any before it, after short ones, and back.
        compareProtocols(*c, "SELECT id, IF(id % 1000 = 0, REPEAT('y', id * 10), v) FROM t", true);
        // Under another character set of the results, converted alike.
        c->exec("SET character_set_results = latin1");
        compareProtocols(*c, "SELECT c, lt FROM kinds", true);
        c->exec("SET character_set_results = utf8mb4");
        // A name that would be a placeholder outside its quotes.
        TestDb::run(Db, {"CREATE OR REPLACE TABLE `q?``x` (`?` INT, `'?'` DATE)", "INSERT INTO `q?``x` VALUES (1, '2001-02-03')"});
        compareProtocols(*c, "SELECT * FROM `q?``x`", true);
        // A kind not known to format alike keeps the text protocol.
        compareProtocols(*c, "SELECT NULL AS nothing, ti FROM kinds", false);
        // So does a DOUBLE with fixed decimals, which no width bounds.
        compareProtocols(*c, "SELECT TRUNCATE(d, 20) FROM kinds", false);
        compareProtocols(*c, "SELECT * FROM (SELECT TRUNCATE(d, 20) AS x FROM kinds) AS derived", false);

        // Every kind with every flag, width and fraction. FLOAT and DOUBLE
        // with ZEROFILL are read as text (the client library drops a value
        // wider than the display width), and so is DOUBLE(M,D).
        const QStringList flags{"", " UNSIGNED", " ZEROFILL", " UNSIGNED ZEROFILL"};
        const QStringList numbers
            = crossed({"TINYINT", "SMALLINT", "MEDIUMINT", "INT", "BIGINT"}, {"", "(1)", "(4)", "(12)", "(255)"}, flags)
            + crossed(
                {"FLOAT", "DOUBLE"}, {"", "(1,0)", "(5,2)", "(7,0)", "(12,4)", "(24,12)", "(30,30)", "(255,30)"}, flags)
            + crossed({"FLOAT"}, {"(10)", "(30)"}, flags)
            + crossed({"DECIMAL"}, {"(1,0)", "(2,2)", "(5,2)", "(10,0)", "(30,10)", "(65,0)", "(65,30)"}, flags);
        const QStringList times
            = crossed({"DATETIME", "TIMESTAMP", "TIME"}, {"", "(1)", "(2)", "(3)", "(4)", "(5)", "(6)"}, {" NULL"})
            + QStringList{"DATE", "YEAR", "YEAR(2)"};
        const QStringList bits = crossed({"BIT"}, {"(1)", "(7)", "(8)", "(9)", "(63)", "(64)"});
        const QStringList texts{"CHAR(1)", "CHAR(255)", "VARCHAR(5)", "VARCHAR(300)", "BINARY(3)", "VARBINARY(300)",
            "TINYTEXT", "TEXT", "MEDIUMBLOB", "ENUM('', 'a', 'é')", "SET('a', 'b')"};
        const struct
        {
            const char *table;
            const QStringList &kinds;
            Value value;
        } families[] = {{"gen_numbers", numbers, numberValue}, {"gen_times", times, timeValue},
            {"gen_bits", bits, bitsValue}, {"gen_texts", texts, textValue}};
        for (const auto &family : families) {
            generate(family.table, family.kinds, family.value);
            QStringList columns[2], kinds[2]; // read as text, through the statement
            for (qsizetype i = 0; i < family.kinds.size(); ++i) {
                const QString &kind = family.kinds[i];
                const bool real = kind.startsWith("FLOAT") || kind.startsWith("DOUBLE");
                const bool binary = !(real && kind.contains("ZEROFILL")) && !kind.startsWith("DOUBLE(");
                columns[binary] << QStringLiteral("c%1").arg(i);
                kinds[binary] << kind;
            }
            for (const bool binary : {false, true})
                if (!columns[binary].isEmpty())
                    compareProtocols(*c, ("SELECT " + columns[binary].join(", ") + " FROM " + family.table).toUtf8(),
                        binary, kinds[binary]);
        }
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
            QCOMPARE(f.number(), long(Failure::NoSuchTable));
        }
    }

    // The loader sends its statement before it has read the session (a
    // round trip less); a session that sends other than utf8mb4 must show in
    // the result's fields and have it read again on a corrected session.
    void loadsReadTextAsStoredWhateverTheSession_data()
    {
        QTest::addColumn<QString>("initConnect");
        QTest::newRow("as asked") << QString();
        QTest::newRow("names gbk") << "SET NAMES gbk";
        QTest::newRow("results latin1") << "SET character_set_results = latin1";
        QTest::newRow("results as stored") << "SET character_set_results = binary";
        QTest::newRow("results unconverted") << "SET character_set_results = NULL";
    }

    void loadsReadTextAsStoredWhateverTheSession()
    {
        QFETCH(QString, initConnect);
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE odd (id INT, `n\u00e4me` VARCHAR(10) CHARACTER SET utf8mb4, "
             "l VARCHAR(10) CHARACTER SET latin1, d DOUBLE(12,4))",
                "INSERT INTO odd VALUES (1, '\u00fc\u20ac', '\u00e4', 1.5)",
                "CREATE OR REPLACE TABLE nums (`n\u00fc` INT, b BIGINT)", "INSERT INTO nums VALUES (7, 8)",
                "CREATE OR REPLACE USER 'plain'@'%' IDENTIFIED BY 'plain-pass'",
                "GRANT SELECT ON `" + Db + "`.* TO 'plain'@'%'"});
        // init_connect applies to accounts without SUPER only.
        TestDb::run(QString(), {"SET GLOBAL init_connect = '" + initConnect + "'"});
        const auto restore = qScopeGuard([] { TestDb::run(QString(), {"SET GLOBAL init_connect = ''"}); });
        ConnectParams params = Connection::paramsFrom(ConnectionString(TestDb::fields(Db)));
        params.user = "plain";
        params.password = "plain-pass";
        Connection c;
        c.open(params);
        const QList<std::pair<QString, QStringList>> tables
            = {{"odd", {"n\u00e4me", "1", "\u00fc\u20ac", "\u00e4", "1.5000"}}, {"nums", {"n\u00fc", "7", "8"}}};
        for (const auto &[table, expected] : tables) {
            RowSet rows;
            rows.openInBackground("SELECT * FROM `" + table + "`", c, {}, table);
            QTRY_COMPARE(rows.recordCount(), 1);
            QStringList got = {rows.field(table == "odd" ? 1 : 0).name};
            for (int i = 0; i < rows.fieldCount(); ++i)
                got << rows.value(i).toString();
            QCOMPARE(got, expected);
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
