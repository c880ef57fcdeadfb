#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "schema/SchemaStatements.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

// The statement that commits a write: COMMIT, or the one statement that
// writes and decides on the server; and the one that writes.
const QString Commits = QStringLiteral("^COMMIT|^BEGIN NOT ATOMIC .*COMMIT");
QString writes(const char *verb)
{
    return QStringLiteral("^(BEGIN NOT ATOMIC .*)?%1").arg(QLatin1String(verb));
}

const QString Db = QStringLiteral("tst_writesafety");

// A grid over one table, as the editor page holds it.
struct Grid
{
    std::unique_ptr<Connection> connection = std::make_unique<Connection>();
    RowSet rows;
    GridModel model;

    QString cell(int row, int column) const { return model.index(row, column).data().toString(); }
    // Reads the table again, as the page does after a write it cannot show.
    void reread()
    {
        model.setRowSet(nullptr, nullptr);
        rows.requery();
        model.setRowSet(&rows, connection.get());
    }
};

ConnectParams params(quint16 port = 0, const QByteArray &user = {}, const QByteArray &password = {})
{
    ConnectParams p;
    p.host = "127.0.0.1";
    p.user = user.isEmpty() ? TestDb::user().toUtf8() : user;
    p.password = user.isEmpty() ? TestDb::password().toUtf8() : password;
    p.database = Db.toUtf8();
    p.port = port ? port : TestDb::port().toUShort();
    p.forceTcp = true;
    return p;
}

std::unique_ptr<Grid> openGrid(const QString &table, const ConnectParams &p = params())
{
    auto grid = std::make_unique<Grid>();
    grid->connection->open(p);
    grid->rows.open(SelectAllRowsQuery(table), *grid->connection);
    grid->model.setRowSet(&grid->rows, grid->connection.get());
    return grid;
}

QStringList server(const QString &sql) { return TestDb::rows(Db, sql); }

// Every row of `sql` on `c`, cells joined by "|".
QStringList rowsOn(Connection &c, const QByteArray &sql)
{
    const std::unique_ptr<RowSet> rs = c.select(sql);
    QStringList out;
    for (qint64 r = 0; r < rs->recordCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < rs->fieldCount(); ++f) {
            const RowStore::Cell cell = rs->rows().cell(r, f);
            cells << QString::fromUtf8(cell.text().data(), qsizetype(cell.text().size()));
        }
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

// The session id the server at `port` gives the next connection: read from
// its greeting, with nothing signed in (so it costs no session).
unsigned long nextSessionId(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    QByteArray greeting;
    while (greeting.indexOf('\0', 5) < 0 && s.waitForReadyRead(5000))
        greeting += s.readAll();
    s.abort();
    const qsizetype end = greeting.indexOf('\0', 5); // after the server's version
    if (end < 0 || greeting.size() < end + 5)
        return 0;
    const auto *id = reinterpret_cast<const unsigned char *>(greeting.constData() + end + 1);
    return id[0] | (id[1] << 8) | (id[2] << 16) | (ulong(id[3]) << 24);
}

// What the user is told of a write: its outcome, or the failure's text.
struct Told
{
    GridModel::Outcome outcome = GridModel::Outcome::Done;
    QString failure;
};

template <class F> Told attempt(F &&f)
{
    Told told;
    try {
        told.outcome = f();
    } catch (const Failure &e) {
        told.failure = e.description();
    }
    return told;
}

} // namespace

// The grid's writes in an unfriendly world: lost replies, a server that
// changes the session's character set, hostile names, rows the server
// changes itself, binary and very large values.
class TestWriteSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
    }

    void lostReplyIsCheckedNeverRepeated_data();
    void lostReplyIsCheckedNeverRepeated();
    void lostReplyOutcomeIsNeverGuessed_data();
    void lostReplyOutcomeIsNeverGuessed();
    void keyedWriteMatchingTwoRowsIsRefused_data();
    void keyedWriteMatchingTwoRowsIsRefused();
    void keylessRowIsReadBackByItsBytes();
    void oddSessionSettingsChangeOneCellOnly_data();
    void oddSessionSettingsChangeOneCellOnly();
    void hostileNamesTouchOnlyTheirObject();
    void insertedRowIsCertainlyTheNewOne_data();
    void insertedRowIsCertainlyTheNewOne();
    void rowsTheServerChangesStayEditable_data();
    void rowsTheServerChangesStayEditable();
    void binaryValuesFindTheirRow();
    void stalledStatementStillArrives();
    void outcomeThatCannotBeToldIsSaidSo();
    void lostReplyOnAnotherServerIsUnknown_data();
    void lostReplyOnAnotherServerIsUnknown();
    void valuesTheServerChangesAreTold_data();
    void valuesTheServerChangesAreTold();
    void largeRowIsDeleted();
    void lostBatchTellsWhichRowsLanded_data();
    void lostBatchTellsWhichRowsLanded();
};

void TestWriteSafety::lostReplyIsCheckedNeverRepeated_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("write");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("key");
    const int before = int(FaultProxy::Fault::CutBeforeReply), after = int(FaultProxy::Fault::CutAfterReply);
    const QString autoKey = QStringLiteral("AUTO_INCREMENT PRIMARY KEY");
    for (const char *engine : {"InnoDB", "Aria"}) {
        for (const char *write : {"insert", "update", "delete"}) {
            const QString verb = QString::fromLatin1(write).toUpper();
            for (int fault : {before, after}) {
                const QString cut = fault == before ? QStringLiteral("before reply") : QStringLiteral("after reply");
                QTest::addRow("%s %s, cut %s", engine, write, qPrintable(cut))
                    << engine << write << writes(qPrintable(verb)) << fault << autoKey;
                // An UPDATE or DELETE commits in the statement that writes.
                if (QLatin1String(engine) == QLatin1String("InnoDB") && verb == QLatin1String("INSERT"))
                    QTest::addRow("%s %s, COMMIT cut %s", engine, write, qPrintable(cut))
                        << engine << write << QStringLiteral("^COMMIT") << fault << autoKey;
            }
        }
    }
    // A transactional insert starts, inserts and reads the new row in one
    // statement, and commits in the next.
    const int drop = int(FaultProxy::Fault::DropAndCut);
    for (const char *key : {"AUTO_INCREMENT PRIMARY KEY", ""}) {
        for (int fault : {before, drop}) {
            const char *cut = fault == before ? "cut before reply" : "dropped";
            for (const char *at : {"^BEGIN NOT ATOMIC .*INSERT", "^COMMIT"})
                QTest::addRow(
                    "InnoDB insert, %s, %s %s", *key ? "keyed" : "no key", at[1] == 'C' ? "COMMIT" : "compound", cut)
                    << "InnoDB"
                    << "insert" << at << fault << key;
        }
    }
}

void TestWriteSafety::lostReplyIsCheckedNeverRepeated()
{
    QFETCH(QString, engine);
    QFETCH(QString, write);
    QFETCH(QString, pattern);
    QFETCH(int, fault);
    QFETCH(QString, key);
    TestDb::run(Db,
        {"CREATE OR REPLACE TABLE lr (id INT " + key + ", v VARCHAR(20)) ENGINE=" + engine,
            "INSERT INTO lr VALUES (1, 'a'), (2, 'b')"});
    FaultProxy proxy(TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("lr"), params(proxy.port()));
    GridModel &m = grid->model;
    proxy.arm(FaultProxy::Fault(fault), pattern);
    const auto once = [&] {
        return attempt([&] {
            if (write == QLatin1String("delete"))
                return m.deleteRow(0);
            return m.commitRow();
        });
    };
    if (write == QLatin1String("insert"))
        QVERIFY(m.setData(m.index(m.newRowLine(), 1), QStringLiteral("new")));
    else if (write == QLatin1String("update"))
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("changed")));
    Told told = once();
    QVERIFY2(proxy.firedCount() == 1, "the fault never fired");
    QVERIFY2(told.outcome != GridModel::Outcome::Unknown, "the outcome should have been told for certain");
    if (!told.failure.isEmpty()) {
        // Not written, and said so; the user tries again, as people do.
        QVERIFY2(told.failure.contains(QStringLiteral("nothing was written")), qPrintable(told.failure));
        if (write != QLatin1String("delete"))
            QVERIFY(m.hasHeldRow());
        told = once();
        QVERIFY2(told.failure.isEmpty(), qPrintable(told.failure));
    } else {
        // Done: either the reply came before the cut, or the server was asked.
        QVERIFY2(m.notice().isEmpty() || m.notice().contains(QStringLiteral("the change was saved"))
                     || m.notice().contains(QStringLiteral("could not be identified")),
                 qPrintable(m.notice()));
    }
    QCOMPARE(told.outcome, GridModel::Outcome::Done);
    QVERIFY(!m.hasHeldRow());
    if (write == QLatin1String("insert")) {
        QCOMPARE(server("SELECT v FROM lr ORDER BY v"), QStringList({"a", "b", "new"}));
        QCOMPARE(grid->cell(2, 1), QStringLiteral("new"));
        if (engine == QLatin1String("InnoDB"))
            QVERIFY2(proxy.firedStatement().startsWith("BEGIN NOT ATOMIC") || pattern == QLatin1String("^COMMIT"),
                proxy.firedStatement().constData());
        // The stored row with its id, or what was typed, marked and read-only.
        if (m.isUnconfirmed(2))
            QVERIFY(!(m.flags(m.index(2, 1)) & Qt::ItemIsEditable));
        else if (!key.isEmpty())
            QCOMPARE(grid->cell(2, 0), server("SELECT id FROM lr WHERE v = 'new'").value(0));
    } else if (write == QLatin1String("update")) {
        QCOMPARE(server("SELECT * FROM lr ORDER BY id"), QStringList({"1|changed", "2|b"}));
        QCOMPARE(grid->cell(0, 1), QStringLiteral("changed"));
    } else {
        QCOMPARE(server("SELECT * FROM lr ORDER BY id"), QStringList({"2|b"}));
        QCOMPARE(grid->cell(0, 1), QStringLiteral("b"));
    }
}

void TestWriteSafety::lostReplyOutcomeIsNeverGuessed_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<int>("column"); // of row 0; the new-row line for an INSERT
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("pattern");
    // saved, not written, unknown; certain: one of the first two; empty:
    // whatever is true. Which of them is true may race with the cut.
    QTest::addColumn<QString>("expect");
    const int drop = int(FaultProxy::Fault::DropAndCut), cut = int(FaultProxy::Fault::CutBeforeReply);
    const auto keyed = [](const char *engine, const char *type, const char *value) {
        return QStringList{QStringLiteral("CREATE TABLE t (id INT PRIMARY KEY, v %1) ENGINE=%2").arg(type, engine),
            QStringLiteral("INSERT INTO t VALUES (1, %1)").arg(value)};
    };
    const QString ci = QStringLiteral("VARCHAR(10) COLLATE utf8mb4_general_ci");
    // An UPDATE that the server's comparison takes for done, or a stored
    // value it cannot find by what was typed.
    QTest::newRow("case, COMMIT dropped")
        << keyed("InnoDB", qPrintable(ci), "'abc'") << 1 << "ABC" << drop << Commits << "not written";
    QTest::newRow("accent, COMMIT dropped")
        << keyed("InnoDB", qPrintable(ci), "'e'") << 1 << "\u00e9" << drop << Commits << "not written";
    QTest::newRow("pad space, COMMIT dropped")
        << keyed("InnoDB", qPrintable(ci), "'a'") << 1 << "a " << drop << Commits << "not written";
    QTest::newRow("case, Aria UPDATE dropped")
        << keyed("Aria", qPrintable(ci), "'abc'") << 1 << "ABC" << drop << writes("UPDATE") << "not written";
    QTest::newRow("case, keyless, UPDATE dropped")
        << QStringList{"CREATE TABLE t (v VARCHAR(10)) ENGINE=Aria", "INSERT INTO t VALUES ('abc')"} << 0 << "ABC"
        << drop << writes("UPDATE") << "not written";
    QTest::newRow("date, COMMIT dropped")
        << keyed("InnoDB", "DATE", "'2020-01-01'") << 1 << "2020-1-1" << drop << Commits << "unknown";
    QTest::newRow("integer, COMMIT dropped")
        << keyed("InnoDB", "INT", "5") << 1 << "05" << drop << Commits << "unknown";
    // A note keeps the transaction open for it to be read: COMMIT comes apart.
    QTest::newRow("decimal rounded, COMMIT cut")
        << keyed("InnoDB", "DECIMAL(5,2)", "1") << 1 << "1.001" << cut << "^COMMIT"
        << "unknown";
    QTest::newRow("ENUM by index, COMMIT cut")
        << keyed("InnoDB", "ENUM('a','b')", "'b'") << 1 << "2" << cut << Commits << "unknown";
    QTest::newRow("float, COMMIT cut") << keyed("InnoDB", "FLOAT", "0.5") << 1 << "0.1" << cut << Commits << "certain";
    QTest::newRow("integer, keyless, UPDATE cut")
        << QStringList{"CREATE TABLE t (v INT) ENGINE=Aria", "INSERT INTO t VALUES (5)"} << 0 << "05" << cut
        << writes("UPDATE") << "unknown";
    // An INSERT whose row the count by what was typed does not find.
    QTest::newRow("float, AUTO_INCREMENT, INSERT cut")
        << QStringList{"CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, f FLOAT) ENGINE=MyISAM"} << 1 << "0.1" << cut
        << "^INSERT"
        << "certain";
    QTest::newRow("float, keyless, INSERT cut")
        << QStringList{"CREATE TABLE t (f FLOAT) ENGINE=MyISAM"} << 0 << "0.1" << cut << "^INSERT"
        << "certain";
    QTest::newRow("decimal rounded, keyless, INSERT cut")
        << QStringList{"CREATE TABLE t (d DECIMAL(5,2)) ENGINE=MyISAM"} << 0 << "1.505" << cut << "^INSERT"
        << "";
    QTest::newRow("float, keyless, COMMIT dropped")
        << QStringList{"CREATE TABLE t (f FLOAT) ENGINE=InnoDB"} << 0 << "0.1" << drop << Commits << "not written";
    QTest::newRow("decimal key rounded, COMMIT dropped")
        << QStringList{"CREATE TABLE t (k DECIMAL(5,2) PRIMARY KEY) ENGINE=InnoDB"} << 0 << "1.005" << drop << Commits
        << "unknown";
    // An INSERT that never reaches the server.
    for (const char *engine : {"InnoDB", "MyISAM"}) {
        QTest::addRow("%s INSERT dropped", engine)
            << QStringList{QStringLiteral("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10)) "
                                          "ENGINE=%1")
                               .arg(engine)}
            << 1 << "new" << drop << "^INSERT"
            << "not written";
        QTest::addRow("%s keyless INSERT dropped", engine)
            << QStringList{QStringLiteral("CREATE TABLE t (v VARCHAR(10)) ENGINE=%1").arg(engine)} << 0 << "new" << drop
            << "^INSERT"
            << "not written";
    }
}

// The user hears "saved" only when it was, "nothing was written" only when
// nothing was, and else that it cannot be told: never a guess from a
// comparison that a collation or a conversion can fool.
void TestWriteSafety::lostReplyOutcomeIsNeverGuessed()
{
    QFETCH(QStringList, setup);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(int, fault);
    QFETCH(QString, pattern);
    QFETCH(QString, expect);
    TestDb::run(Db, QStringList{"DROP TABLE IF EXISTS t"} + setup);
    const auto table = [] {
        QStringList rows = server("SELECT * FROM t");
        rows.sort();
        return rows;
    };
    const QStringList before = table();
    FaultProxy proxy(
        TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("t"), params(proxy.port()));
    grid->connection->setUseReturning(false);
    GridModel &m = grid->model;
    QVERIFY(m.setData(m.index(before.isEmpty() ? m.newRowLine() : 0, column), typed));
    proxy.arm(FaultProxy::Fault(fault), pattern);
    const Told told = attempt([&] { return m.commitRow(); });
    QCOMPARE(proxy.firedCount(), 1);
    const bool notWritten = told.failure.contains(QStringLiteral("nothing was written"));
    QVERIFY2(told.failure.isEmpty() || notWritten, qPrintable(told.failure));
    const QString said = notWritten                   ? QStringLiteral("not written")
        : told.outcome == GridModel::Outcome::Unknown ? QStringLiteral("unknown")
                                                      : QStringLiteral("saved");
    if (expect == QLatin1String("certain"))
        QVERIFY(said != QLatin1String("unknown"));
    else if (!expect.isEmpty())
        QCOMPARE(said, expect);
    const QStringList after = table();
    if (said == QLatin1String("not written"))
        QCOMPARE(after, before);
    else if (said == QLatin1String("saved"))
        QVERIFY(after != before);
}

void TestWriteSafety::keyedWriteMatchingTwoRowsIsRefused_data()
{
    QTest::addColumn<bool>("remove");
    QTest::newRow("update") << false;
    QTest::newRow("delete") << true;
}

// The key the grid read is gone and another connection copied a row: a
// write by that key matches two rows, and is refused whole.
void TestWriteSafety::keyedWriteMatchingTwoRowsIsRefused()
{
    QFETCH(bool, remove);
    TestDb::run(Db,
        {"CREATE OR REPLACE TABLE two (id INT PRIMARY KEY, v VARCHAR(10))",
            "INSERT INTO two VALUES (1, 'a'), (2, 'b')"});
    auto grid = openGrid(QStringLiteral("two"));
    GridModel &m = grid->model;
    QVERIFY(m.setData(m.index(0, 1), QStringLiteral("a2")));
    QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
    TestDb::run(Db, {"ALTER TABLE two DROP PRIMARY KEY", "INSERT INTO two VALUES (2, 'b')"});
    if (!remove)
        QVERIFY(m.setData(m.index(1, 1), QStringLiteral("c")));
    const Told told = attempt([&] { return remove ? m.deleteRow(1) : m.commitRow(); });
    QVERIFY2(told.failure.contains(QStringLiteral("More than one row matched")), qPrintable(told.failure));
    QCOMPARE(server("SELECT * FROM two ORDER BY id"), QStringList({"1|a2", "2|b", "2|b"}));
}

// Another row equal under the collation is not shown in place of the one
// written.
void TestWriteSafety::keylessRowIsReadBackByItsBytes()
{
    TestDb::run(Db,
        {"CREATE OR REPLACE TABLE kl (v VARCHAR(10) COLLATE utf8mb4_general_ci, n INT)",
            "INSERT INTO kl VALUES ('abc', 1), ('x', 1)"});
    auto grid = openGrid(QStringLiteral("kl"));
    QVERIFY(grid->model.setData(grid->model.index(1, 0), QStringLiteral("ABC")));
    QCOMPARE(grid->model.commitRow(), GridModel::Outcome::Done);
    QCOMPARE(grid->cell(0, 0) + "," + grid->cell(1, 0), QStringLiteral("abc,ABC"));
}

void TestWriteSafety::oddSessionSettingsChangeOneCellOnly_data()
{
    QTest::addColumn<QString>("initConnect");
    QTest::addColumn<QString>("typed");
    QTest::newRow("session forced to GBK") << "SET NAMES gbk" << QStringLiteral("\u4e3f' -- ");
    QTest::newRow("backslash is no escape")
        << "SET sql_mode = 'NO_BACKSLASH_ESCAPES'" << QStringLiteral("\\' -- \u4e3f\\");
}

void TestWriteSafety::oddSessionSettingsChangeOneCellOnly()
{
    QFETCH(QString, initConnect);
    QFETCH(QString, typed);
    TestDb::run(Db, {"CREATE OR REPLACE TABLE g (id INT PRIMARY KEY, v VARCHAR(20)) CHARACTER SET utf8mb4",
                     "INSERT INTO g VALUES (1, 'one'), (2, 'two'), (3, 'three')",
                     "CREATE OR REPLACE USER 'plain'@'%' IDENTIFIED BY 'plain-pass'",
                     "GRANT SELECT, INSERT, UPDATE, DELETE ON `" + Db + "`.* TO 'plain'@'%'"});
    // init_connect applies to accounts without SUPER only; the server is
    // shared by the whole run, so it is put back whatever happens.
    TestDb::run(QString(), {"SET GLOBAL init_connect = '" + QString(initConnect).replace("'", "''") + "'"});
    const auto restore = qScopeGuard([] { TestDb::run(QString(), {"SET GLOBAL init_connect = ''"}); });
    auto grid = openGrid(QStringLiteral("g"), params(0, "plain", "plain-pass"));
    QVERIFY2(grid->connection->charsetProblem().isEmpty(), qPrintable(grid->connection->charsetProblem()));
    if (initConnect.contains(QLatin1String("sql_mode"))) {
        const auto mode = grid->connection->select("SELECT @@sql_mode");
        const RowStore::Cell c = mode->rows().cell(0, 0);
        QCOMPARE(QByteArray(c.text().data(), qsizetype(c.text().size())), QByteArray("NO_BACKSLASH_ESCAPES"));
    }
    QVERIFY(grid->model.setData(grid->model.index(1, 1), typed));
    const Told told = attempt([&] { return grid->model.commitRow(); });
    QVERIFY2(told.failure.isEmpty(), qPrintable(told.failure));
    QCOMPARE(told.outcome, GridModel::Outcome::Done);
    QCOMPARE(server("SELECT * FROM g ORDER BY id"), QStringList({"1|one", "2|" + typed, "3|three"}));
    QCOMPARE(grid->cell(1, 1), typed);
}

void TestWriteSafety::hostileNamesTouchOnlyTheirObject()
{
    const QStringList names = {QStringLiteral("prices DROP COLUMN cost,"), QStringLiteral("a`b"),
                               QStringLiteral("q'\"; DROP TABLE prices; --"), QStringLiteral("\u00fcn\u00ef c\u00f6d\u00e9 \u2713")};
    const QString column = QStringLiteral("c`1'; --");
    for (const QString &name : names) {
        const QString table = quoteIdentifier(name), col = quoteIdentifier(column);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE prices (id INT PRIMARY KEY, cost INT)", "INSERT INTO prices VALUES (1, 5)",
                         "CREATE OR REPLACE TABLE " + table + " (id INT PRIMARY KEY, " + col + " VARCHAR(10))",
                         "INSERT INTO " + table + " VALUES (1, 'x'), (2, 'y')"});
        {
            auto grid = openGrid(name);
            GridModel &m = grid->model;
            QVERIFY(m.setData(m.index(0, 1), QStringLiteral("edited")));
            QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
            QVERIFY(m.setData(m.index(m.newRowLine(), 0), QStringLiteral("3")));
            QVERIFY(m.setData(m.index(m.newRowLine(), 1), QStringLiteral("z")));
            QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
            QCOMPARE(m.deleteRow(1), GridModel::Outcome::Done);
        }
        QCOMPARE(server("SELECT * FROM " + table + " ORDER BY id"), QStringList({"1|edited", "3|z"}));
        // Add Column, FIRST and AFTER the hostile column, with a default.
        ColumnDefinition first;
        first.name = column + QStringLiteral(" new");
        first.dataType = QStringLiteral("INT");
        ColumnDefinition after = first;
        after.name = QStringLiteral("x`; y");
        const QStringList statements = {AddColumnStatement(name, first, ColumnPosition::First, QString()),
                                        SetDefaultStatement(name, first.name, QStringLiteral("7")),
                                        AddColumnStatement(name, after, ColumnPosition::After, column)};
        TestDb::run(Db, statements);
        QCOMPARE(server("SELECT COLUMN_NAME, IFNULL(COLUMN_DEFAULT, 'NULL') FROM information_schema.COLUMNS WHERE "
                        "TABLE_SCHEMA = '" + Db + "' AND TABLE_NAME = '" + QString(name).replace("'", "''")
                        + "' ORDER BY ORDINAL_POSITION"),
                 QStringList({first.name + "|7", "id|NULL", column + "|NULL", after.name + "|NULL"}));
        QCOMPARE(server("SELECT * FROM prices"), QStringList({"1|5"}));
        // New Table with the hostile name and column.
        TestDb::run(Db, {"DROP TABLE " + table});
        TestDb::run(Db, {CreateTableStatement(name, {FieldRow::from(first)})});
        QCOMPARE(server("SHOW COLUMNS FROM " + table).value(0).section(QLatin1Char('|'), 0, 0), first.name);
        QCOMPARE(server("SELECT * FROM prices"), QStringList({"1|5"}));
    }
}

void TestWriteSafety::insertedRowIsCertainlyTheNewOne_data()
{
    QTest::addColumn<QString>("create");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<int>("typedColumn");
    QTest::addColumn<int>("editColumn");
    QTest::addColumn<bool>("returning");
    QTest::addColumn<bool>("confirmed");
    const QString keyless = QStringLiteral("CREATE OR REPLACE TABLE n (a INT, b VARCHAR(10) DEFAULT 'x')");
    const QString uuid = QStringLiteral("CREATE OR REPLACE TABLE n (k CHAR(36) DEFAULT (UUID()) PRIMARY KEY, a INT, "
                                        "b VARCHAR(10))");
    const QString autoInc = QStringLiteral("CREATE OR REPLACE TABLE n (k INT AUTO_INCREMENT PRIMARY KEY, a INT, "
                                           "b VARCHAR(10))");
    const QString typedKey = QStringLiteral("CREATE OR REPLACE TABLE n (k INT PRIMARY KEY, a INT, b VARCHAR(10))");
    for (bool returning : {true, false}) {
        const char *how = returning ? "RETURNING" : "no RETURNING";
        QTest::addRow("keyless with a default, %s", how)
            << keyless << "INSERT INTO n VALUES (1, 'old')" << 0 << 1 << returning << returning;
        QTest::addRow("UUID default key, %s", how)
            << uuid << "INSERT INTO n VALUES ('existing', 1, 'old')" << 1 << 2 << returning << returning;
        QTest::addRow("AUTO_INCREMENT, %s", how)
            << autoInc << "INSERT INTO n VALUES (1, 1, 'old')" << 1 << 2 << returning << true;
        QTest::addRow("key typed in full, %s", how)
            << typedKey << "INSERT INTO n VALUES (2, 1, 'old')" << 0 << 2 << returning << true;
    }
}

void TestWriteSafety::insertedRowIsCertainlyTheNewOne()
{
    QFETCH(QString, create);
    QFETCH(QString, existing);
    QFETCH(int, typedColumn);
    QFETCH(int, editColumn);
    QFETCH(bool, returning);
    QFETCH(bool, confirmed);
    TestDb::run(Db, {create, existing});
    auto grid = openGrid(QStringLiteral("n"));
    grid->connection->setUseReturning(returning);
    GridModel &m = grid->model;
    QVERIFY(m.setData(m.index(m.newRowLine(), typedColumn), QStringLiteral("1")));
    QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
    if (!confirmed) {
        // What was typed shows, and the row is left alone until read again.
        QVERIFY(m.isUnconfirmed(1));
        QCOMPARE(m.headerData(1, Qt::Vertical).toString(), QStringLiteral("? 2"));
        QVERIFY(m.notice().contains(QStringLiteral("could not be identified")));
        QCOMPARE(grid->cell(1, typedColumn), QStringLiteral("1"));
        QVERIFY(!m.setData(m.index(1, editColumn), QStringLiteral("mine")));
        QVERIFY_THROWS_EXCEPTION(Failure, m.deleteRow(1));
        QCOMPARE(server("SELECT COUNT(*), SUM(b = 'old') FROM n"), QStringList({"2|1"}));
        grid->reread();
        QVERIFY(!m.isUnconfirmed(1));
        return;
    }
    // The new row, as stored (defaults included), and never the old one.
    QVERIFY(!m.isUnconfirmed(1));
    QCOMPARE(grid->cell(1, typedColumn), QStringLiteral("1"));
    QVERIFY(grid->cell(1, editColumn) != QStringLiteral("old"));
    QVERIFY(m.setData(m.index(1, editColumn), QStringLiteral("mine")));
    QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
    QCOMPARE(server("SELECT b FROM n ORDER BY b = 'old' DESC"), QStringList({"old", "mine"}));
    QCOMPARE(m.deleteRow(1), GridModel::Outcome::Done);
    QCOMPARE(server("SELECT b FROM n"), QStringList({"old"}));
}

void TestWriteSafety::rowsTheServerChangesStayEditable_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::newRow("ON UPDATE timestamp")
        << QStringList{"CREATE OR REPLACE TABLE s (v VARCHAR(10), t TIMESTAMP(6) NOT NULL DEFAULT CURRENT_TIMESTAMP(6) "
                       "ON UPDATE CURRENT_TIMESTAMP(6))",
                       "INSERT INTO s (v, t) VALUES ('a', '2001-01-01 00:00:00'), ('b', '2001-01-01 00:00:00')"};
    QTest::newRow("trigger") << QStringList{"CREATE OR REPLACE TABLE s (v VARCHAR(10), n INT)",
                                            "CREATE TRIGGER s_bump BEFORE UPDATE ON s FOR EACH ROW SET NEW.n = OLD.n + 1",
                                            "INSERT INTO s VALUES ('a', 0), ('b', 0)"};
}

void TestWriteSafety::rowsTheServerChangesStayEditable()
{
    QFETCH(QStringList, setup);
    TestDb::run(Db, setup);
    auto grid = openGrid(QStringLiteral("s"));
    for (const QString &value : {QStringLiteral("first"), QStringLiteral("second")}) {
        const int row = grid->cell(0, 0) == QLatin1String("b") ? 1 : 0;
        QVERIFY(grid->model.setData(grid->model.index(row, 0), value));
        // Saved, and the grid's copy, no longer the server's, is read again.
        QCOMPARE(grid->model.commitRow(), GridModel::Outcome::Reread);
        grid->reread();
        QCOMPARE(server("SELECT v FROM s ORDER BY v = 'b'"), QStringList({value, "b"}));
    }
}

void TestWriteSafety::binaryValuesFindTheirRow()
{
    TestDb::run(Db, {"CREATE OR REPLACE TABLE bk (k VARBINARY(4) PRIMARY KEY, v INT)",
                     "INSERT INTO bk VALUES (X'FF00FE27', 1), (X'FF01', 2)",
                     "CREATE OR REPLACE TABLE bl (b BLOB, v INT)",
                     "INSERT INTO bl VALUES (X'FF0080C3', 1), (X'FF0080C4', 2)"});
    for (const char *table : {"bk", "bl"}) {
        auto grid = openGrid(QString::fromLatin1(table));
        GridModel &m = grid->model;
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("10")));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        QCOMPARE(grid->cell(0, 1), QStringLiteral("10"));
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("11")));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        QCOMPARE(server(QStringLiteral("SELECT v FROM %1 ORDER BY v").arg(table)), QStringList({"2", "11"}));
        QCOMPARE(m.deleteRow(0), GridModel::Outcome::Done);
        QCOMPARE(server(QStringLiteral("SELECT v FROM %1").arg(table)), QStringList({"2"}));
    }
}

void TestWriteSafety::largeRowIsDeleted()
{
    TestDb::run(Db, {"CREATE OR REPLACE TABLE big (id INT PRIMARY KEY, b LONGBLOB, t LONGTEXT)",
                     "INSERT INTO big VALUES (1, REPEAT('x', 7500000), REPEAT('\u00e9', 3750000)), (2, 'small', 's')",
                     "CREATE OR REPLACE TABLE bigkl (b LONGBLOB)",
                     "INSERT INTO bigkl VALUES (REPEAT('y', 15000000)), ('small')"});
    for (const char *table : {"big", "bigkl"}) {
        auto grid = openGrid(QString::fromLatin1(table));
        const Told told = attempt([&] { return grid->model.deleteRow(0); });
        QVERIFY2(told.failure.isEmpty(), qPrintable(told.failure));
        QCOMPARE(told.outcome, GridModel::Outcome::Done);
        QCOMPARE(server(QStringLiteral("SELECT COUNT(*), MAX(LENGTH(b)) FROM %1").arg(table)),
                 QStringList({"1|5"}));
    }
}

// The proxy's stall mode holds a statement and then lets it through: the
// connection stays usable (slow-server tests build on this).
void TestWriteSafety::stalledStatementStillArrives()
{
    TestDb::run(Db, {"CREATE OR REPLACE TABLE st (id INT PRIMARY KEY, v VARCHAR(10))", "INSERT INTO st VALUES (1, 'a')"});
    FaultProxy proxy(TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("st"), params(proxy.port()));
    proxy.arm(FaultProxy::Fault::Stall, QStringLiteral("UPDATE `st`"), std::chrono::milliseconds(300));
    QVERIFY(grid->model.setData(grid->model.index(0, 1), QStringLiteral("late")));
    QCOMPARE(grid->model.commitRow(), GridModel::Outcome::Done);
    QVERIFY(proxy.hasFired());
    QVERIFY(proxy.firedStatement().contains("UPDATE `st`"));
    QVERIFY(grid->model.notice().isEmpty());
    QCOMPARE(server("SELECT v FROM st"), QStringList({"late"}));
}

// COMMIT sent, its reply lost, and the server out of reach to ask: the user
// hears that it is unknown, never "failed" nor "saved".
void TestWriteSafety::outcomeThatCannotBeToldIsSaidSo()
{
    TestDb::run(Db, {"CREATE OR REPLACE TABLE u (id INT PRIMARY KEY, v VARCHAR(10))", "INSERT INTO u VALUES (1, 'a')"});
    FaultProxy proxy(TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("u"), params(proxy.port()));
    proxy.arm(FaultProxy::Fault::CutBeforeReply, Commits);
    proxy.setRefusing(true);
    const QString old = QString::number(grid->connection->sessionId());
    QVERIFY(grid->model.setData(grid->model.index(0, 1), QStringLiteral("b")));
    QCOMPARE(grid->model.commitRow(), GridModel::Outcome::Unknown);
    QVERIFY(!grid->model.hasHeldRow());
    proxy.setRefusing(false);
    // Whatever the server did, it did once; the retry of the page's re-read
    // signs in again.
    QVERIFY(!grid->connection->isOpen());
    // The lost session may still be finishing its COMMIT: the table is read
    // once it has gone, as the server then holds whatever it did.
    QTRY_COMPARE_WITH_TIMEOUT(TestDb::scalar(Db, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + old),
                              QStringLiteral("0"), 20000);
    grid->connection->open(params(proxy.port()));
    grid->reread();
    QCOMPARE(grid->cell(0, 1), server("SELECT v FROM u").value(0));
}

void TestWriteSafety::lostReplyOnAnotherServerIsUnknown_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("InnoDB update, COMMIT cut") << "InnoDB" << Commits;
    QTest::newRow("Aria delete, DELETE cut") << "Aria" << writes("DELETE");
}

// The reply to a write is lost and the new connection reaches another server
// (a load balancer): the old session id there is someone else's, and its
// rows are not the ones written.
void TestWriteSafety::lostReplyOnAnotherServerIsUnknown()
{
    QFETCH(QString, engine);
    QFETCH(QString, pattern);
    const quint16 second = TestDb::secondPort().toUShort();
    if (!second)
        QSKIP("no second test server");
    const QString setup[] = {"CREATE OR REPLACE TABLE lb (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=" + engine,
        "INSERT INTO lb VALUES (1, 'a'), (2, 'b')"};
    TestDb::run(Db, {setup[0], setup[1]});
    ConnectParams atB = params(second);
    atB.database.clear();
    Connection b;
    b.open(atB);
    // Both servers keep the default server id and share the host name.
    QCOMPARE(rowsOn(b, "SELECT @@server_id, @@hostname"), server("SELECT @@server_id, @@hostname"));
    for (const QString &sql : QStringList{"SET GLOBAL max_connect_errors = 1000000", "SET GLOBAL log_output = 'TABLE'",
             "SET GLOBAL general_log = 1", "TRUNCATE mysql.general_log", "CREATE DATABASE IF NOT EXISTS " + Db,
             "USE " + Db, setup[0], setup[1]})
        b.exec(sql.toUtf8());
    FaultProxy proxy(QStringLiteral("127.0.0.1"), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("lb"), params(proxy.port()));
    const unsigned long ours = grid->connection->sessionId();
    // An unrelated session on B with our id on A, where B's ids allow it.
    for (unsigned long next = nextSessionId(second); next && next + 1 < ours;)
        next = nextSessionId(second);
    Connection bystander;
    bystander.open(atB);
    const bool sameId = bystander.sessionId() == ours;
    proxy.setServer(QStringLiteral("127.0.0.1"), second);
    proxy.arm(FaultProxy::Fault::CutBeforeReply, pattern);
    GridModel &m = grid->model;
    const Told told = attempt([&] {
        if (engine == QLatin1String("Aria"))
            return m.deleteRow(0);
        m.setData(m.index(0, 1), QStringLiteral("changed"));
        return m.commitRow();
    });
    QVERIFY(proxy.hasFired());
    QVERIFY2(told.failure.isEmpty(), qPrintable(told.failure));
    QCOMPARE(told.outcome, GridModel::Outcome::Unknown);
    QCOMPARE(rowsOn(b, "SELECT COUNT(*) FROM mysql.general_log WHERE argument LIKE 'KILL%'"), QStringList{"0"});
    if (sameId)
        QCOMPARE(rowsOn(bystander, "SELECT CONNECTION_ID()"), QStringList{QString::number(ours)});
    b.exec("SET GLOBAL general_log = 0");
    // The write landed on A, where it was sent.
    QTRY_COMPARE(server("SELECT COUNT(*) FROM lb WHERE v = 'a'"), QStringList{"0"});
}

void TestWriteSafety::valuesTheServerChangesAreTold_data()
{
    QTest::addColumn<bool>("keyed");
    QTest::addColumn<bool>("insert");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    const struct
    {
        const char *name;
        int column;
        const char *typed, *stored;
    } values[] = {{"VARCHAR(3) cut", 0, "abcdef", "abc"}, {"INT from text", 1, "12x", "12"},
        {"TINYINT clipped", 2, "300", "127"}};
    for (bool keyed : {true, false})
        for (bool insert : {false, true})
            for (const auto &v : values)
                QTest::addRow("%s, %s, %s", keyed ? "keyed" : "keyless", insert ? "insert" : "update", v.name)
                    << keyed << insert << v.column << v.typed << v.stored;
}

// A server that is not strict stores what it can and only warns: the user
// hears which value changed, and the grid shows what was stored.
void TestWriteSafety::valuesTheServerChangesAreTold()
{
    QFETCH(bool, keyed);
    QFETCH(bool, insert);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    TestDb::run(Db,
        {QStringLiteral("CREATE OR REPLACE TABLE w (s VARCHAR(3), i INT, t TINYINT%1)")
                .arg(keyed ? ", id INT AUTO_INCREMENT PRIMARY KEY" : ""),
            "INSERT INTO w (s, i, t) VALUES ('x', 1, 1), ('y', 2, 2)",
            "CREATE OR REPLACE USER 'plain'@'%' IDENTIFIED BY 'plain-pass'",
            "GRANT SELECT, INSERT, UPDATE, DELETE ON `" + Db + "`.* TO 'plain'@'%'"});
    TestDb::run(QString(), {"SET GLOBAL init_connect = 'SET sql_mode = '''''"});
    const auto restore = qScopeGuard([] { TestDb::run(QString(), {"SET GLOBAL init_connect = ''"}); });
    auto grid = openGrid(QStringLiteral("w"), params(0, "plain", "plain-pass"));
    GridModel &m = grid->model;
    const int row = insert ? m.newRowLine() : 0;
    QVERIFY(m.setData(m.index(row, column), typed));
    const Told told = attempt([&] { return m.commitRow(); });
    QVERIFY2(told.failure.isEmpty(), qPrintable(told.failure));
    const QString name = m.headerData(column, Qt::Horizontal).toString();
    const QString said = QStringLiteral("%1: \"%2\" was saved as \"%3\"").arg(name, typed, stored);
    QVERIFY2(m.notice().contains(said) && m.notice().contains(QLatin1String("(warning 1")), qPrintable(m.notice()));
    QCOMPARE(server(QStringLiteral("SELECT COUNT(*) FROM w WHERE %1 = '%2'").arg(name, stored)), QStringList{"1"});
    if (told.outcome == GridModel::Outcome::Reread)
        grid->reread();
    else
        QCOMPARE(told.outcome, GridModel::Outcome::Done);
    QCOMPARE(grid->cell(row, column), stored);
}

void TestWriteSafety::lostBatchTellsWhichRowsLanded_data()
{
    QTest::addColumn<int>("locked"); // the row another session holds: the batch waits there when cut
    QTest::newRow("first") << 1;
    QTest::newRow("middle") << 3;
    QTest::newRow("last") << 5;
}

// Five rows written in one statement, the reply lost while the server waits
// for a row another session holds: the rows before it landed, and the user is
// told exactly those, each written once; the rest were not written.
void TestWriteSafety::lostBatchTellsWhichRowsLanded()
{
    QFETCH(int, locked);
    TestDb::run(Db,
        {"CREATE OR REPLACE TABLE bt (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=InnoDB",
            "INSERT INTO bt SELECT seq, 'old' FROM seq_1_to_5",
            "CREATE OR REPLACE TABLE bt_audit (id INT) ENGINE=InnoDB",
            "CREATE TRIGGER bt_written AFTER UPDATE ON bt FOR EACH ROW INSERT INTO bt_audit VALUES (NEW.id)"});
    FaultProxy proxy(
        TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
    auto grid = openGrid(QStringLiteral("bt"), params(proxy.port()));
    GridModel &m = grid->model;
    QVERIFY(m.setData(m.index(0, 1), QStringLiteral("warm")));
    QCOMPARE(m.commitRow(), GridModel::Outcome::Done); // the table's keys are read
    TestDb::run(Db, {"UPDATE bt SET v = 'old'", "DELETE FROM bt_audit"});
    grid->reread();
    Connection locker;
    locker.open(params());
    locker.exec("START TRANSACTION");
    locker.select("SELECT * FROM bt WHERE id = " + QByteArray::number(locked) + " FOR UPDATE");
    std::vector<std::pair<int, CellChanges>> rows;
    for (int r = 0; r < 5; ++r)
        rows.push_back({r, {{1, CellValue::of("new")}}});
    proxy.arm(FaultProxy::Fault::CutBeforeReply, writes("UPDATE"));
    const GridModel::Written written = m.commitRows(rows);
    locker.exec("ROLLBACK");
    QVERIFY(proxy.hasFired());
    const QStringList landed = server("SELECT id FROM bt WHERE v = 'new' ORDER BY id");
    QCOMPARE(written.written, landed.size());
    QVERIFY2(landed.size() <= locked - 1, qPrintable(landed.join(QLatin1Char(','))));
    for (int r = 0; r < landed.size(); ++r)
        QCOMPARE(landed[r], QString::number(r + 1));
    QVERIFY(written.failure);
    QVERIFY2(written.failure->description().contains(QStringLiteral("nothing was written")),
        qPrintable(written.failure->description()));
    QCOMPARE(server("SELECT id FROM bt_audit GROUP BY id HAVING COUNT(*) > 1"), QStringList());
    for (int r = 0; r < 5; ++r)
        QCOMPARE(grid->cell(r, 1), r < landed.size() ? QStringLiteral("new") : QStringLiteral("old"));
}

QTEST_GUILESS_MAIN(TestWriteSafety)
#include "tst_writesafety.moc"
