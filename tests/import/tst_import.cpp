#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/Identifier.h"
#include "db/ImportTarget.h"
#include "db/LocalInfile.h"
#include "db/RowSet.h"
#include "export/ExcelExport.h"
#include "export/Spreadsheet.h"
#include "export/TextExports.h"
#include "export/XlsxWorkbook.h"
#include "frame/ProgressDialog.h"
#include "grid/GridModel.h"
#include "import/DelimitedFormat.h"
#include "import/ImportJob.h"
#include "import/ValueCheck.h"
#include "pages/Form3.h"
#include "pages/ImportDialog.h"
#include "pages/TableSession.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/Modal.h"
#include "support/SignIn.h"
#include "support/TestDb.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_import");

ConnectParams params(quint16 port = 0)
{
    ConnectParams p = Connection::paramsFrom(ConnectionString(TestDb::fields(Db)));
    if (port) {
        p.host = "127.0.0.1";
        p.port = port;
        p.forceTcp = true;
    }
    return p;
}

// Writes workbooks to a chosen file, as the xlsx export writes them.
class FileSpreadsheet : public Spreadsheet
{
public:
    explicit FileSpreadsheet(QString path) : m_path(std::move(path)) { }
    bool isInstalled() override { return true; }
    std::unique_ptr<Workbook> newWorkbook(const QString &) override { return std::make_unique<XlsxWorkbook>(m_path); }

private:
    QString m_path;
};

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// Imports against the test server: what the exports write comes back
// unchanged, rows go in all or nothing, and a failing row is named.
class TestImport : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // Imports `path` into `table` with the settings guessed for it and its
    // fields mapped by name; `tweak` changes them first.
    ImportJob::Outcome import(const QString &table, const QString &path,
        const std::function<void(ImportSettings &)> &tweak = {}, quint16 port = 0)
    {
        Connection c;
        c.open(params());
        ImportTarget target = ImportTarget::read(c, table.toUtf8());
        QStringList columns;
        for (const TargetColumn &column : target.columns)
            columns << QString::fromUtf8(column.name);
        ImportSettings s = ImportSettings::guess(path, columns);
        QList<QByteArray> header;
        try {
            s.open(&header);
        } catch (const Failure &) {
            // the import itself reports it
        }
        s.sources = mapColumns(target, header, int(header.size()), false);
        if (tweak)
            tweak(s);
        ImportJob job(params(port), std::move(target), s);
        return job.run();
    }

    QString count(const QString &table) { return TestDb::scalar(Db, "SELECT COUNT(*) FROM " + table); }
    // How many statements of a kind the server has run so far.
    int ran(const QString &command)
    {
        return TestDb::scalar(Db,
            "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'COM_" + command + "'")
            .toInt();
    }
    int loads() { return ran("LOAD"); }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        // Empty texts sit in the NOT NULL column only: TXT and xlsx write
        // an empty text as they write NULL.
        TestDb::run(Db,
            {"CREATE TABLE src (id INT PRIMARY KEY, txt VARCHAR(100) NULL, "
             "word VARCHAR(100) NOT NULL DEFAULT '', amount DECIMAL(12,3) NULL, day DATE NULL, "
             "at DATETIME NULL, bin VARBINARY(20) NULL, flag TINYINT NULL, l1 VARCHAR(20) CHARACTER SET latin1 NULL) "
             "DEFAULT CHARSET=utf8mb4",
                "INSERT INTO src VALUES "
                "(1, 'plain', 'a', 10472.900, '2020-01-02', '2020-01-02 03:04:05', X'00FF10', 1, 'café'), "
                "(2, NULL, '', NULL, NULL, NULL, NULL, NULL, NULL), "
                "(3, 'say \"hi\", ok', 'line1\\nline2', -0.500, '1999-12-31', '1999-12-31 23:59:59', X'', 0, 'a b'), "
                "(4, 'Zoë ✓ 日本', 'crlf\\r\\nend', 123456789.123, '2038-01-19', NULL, X'41', -5, 'ÿ'), "
                "(5, '007', '  spaced ', 0.000, NULL, '2000-02-29 12:00:00', X'0D0A', 127, 'x'), "
                "(6, '12.50', 'NULL', 7.000, NULL, NULL, NULL, NULL, '\\\\N'), "
                "(7, 'a,b', '\\'quoted\\'', NULL, NULL, NULL, X'5C09', NULL, 'y')"});
    }

    void roundTripKeepsEveryValue_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("databaseCharset"); // of the database, while the session speaks utf8mb4
        QTest::newRow("CSV") << "csv" << QByteArray("utf8mb4");
        QTest::newRow("TXT") << "txt" << QByteArray("utf8mb4");
        QTest::newRow("xlsx") << "xlsx" << QByteArray("utf8mb4");
        QTest::newRow("CSV, latin1 database") << "csv" << QByteArray("latin1");
    }
    // Export, then import into an empty copy: the same table, byte for byte.
    void roundTripKeepsEveryValue()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, databaseCharset);
        Connection connection;
        connection.open(params());
        RowSet rows;
        rows.open(QStringLiteral("SELECT * FROM `src`"), connection);
        GridModel model;
        model.setRowSet(&rows, &connection);
        FakeDesktop desktop;
        const QString file = m_dir.filePath("roundtrip." + format);
        if (format == "csv")
            QVERIFY(SaveDataGridToCSVFile(model.exportSource(), file, desktop, nullptr, {}));
        else if (format == "txt")
            QVERIFY(SaveDataGridToFile(model.exportSource(), file, desktop, nullptr, {}));
        else {
            FileSpreadsheet spreadsheet(file);
            SaveDataGridToWorkbook(model.exportSource(), &spreadsheet, "src", desktop, nullptr, nullptr, {});
        }
        QCOMPARE(desktop.texts(), QStringList());

        TestDb::run(Db, {"DROP TABLE IF EXISTS dst", "CREATE TABLE dst LIKE src"});
        TestDb::run(Db, {"ALTER DATABASE " + Db + " CHARACTER SET " + databaseCharset});
        const auto restore = qScopeGuard([] { TestDb::run(Db, {"ALTER DATABASE " + Db + " CHARACTER SET utf8mb4"}); });
        const int loadsBefore = loads();
        const int undoneBefore = ran("ROLLBACK_TO_SAVEPOINT");
        const ImportJob::Outcome o = import("dst", file);
        // One LOAD DATA, taken clean: no row went again as INSERT.
        QCOMPARE(loads(), loadsBefore + 1);
        QCOMPARE(ran("ROLLBACK_TO_SAVEPOINT"), undoneBefore);
        QCOMPARE(o.reason, QString());
        QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Done));
        QCOMPARE(o.rows, 7);
        QCOMPARE(TestDb::rows(Db, "SELECT HEX(txt), HEX(l1), HEX(bin) FROM dst ORDER BY id"),
            TestDb::rows(Db, "SELECT HEX(txt), HEX(l1), HEX(bin) FROM src ORDER BY id"));
        QCOMPARE(TestDb::rows(Db, "SELECT * FROM dst ORDER BY id"), TestDb::rows(Db, "SELECT * FROM src ORDER BY id"));
        QCOMPARE(TestDb::rows(Db, "CHECKSUM TABLE dst").value(0).section('|', 1),
            TestDb::rows(Db, "CHECKSUM TABLE src").value(0).section('|', 1));
    }

    // Fields in another order than the columns go where their names say.
    void fieldsMappedByName()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE named (id INT PRIMARY KEY, name VARCHAR(20), n INT)"});
        const QString file = m_dir.filePath("named.csv");
        writeFile(file, "N;Name;ID\r\n5;five;1\r\n6;six;2\r\n");
        const ImportJob::Outcome o = import("named", file);
        QCOMPARE(o.reason, QString());
        QCOMPARE(TestDb::rows(Db, "SELECT * FROM named ORDER BY id"), QStringList({"1|five|5", "2|six|6"}));
    }

    void modes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("skip");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<qint64>("failedLine"); // the row that stopped it, or was skipped
        using M = ImportWriter::Mode;
        const QString innodb = QStringLiteral("InnoDB");
        QTest::newRow("insert") << int(M::Insert) << false << innodb << QStringList{"1|a", "2|b"} << qint64(2);
        QTest::newRow("insert, skip") << int(M::Insert) << true << innodb << QStringList{"1|a", "2|b", "3|C"}
                                      << qint64(2);
        QTest::newRow("update") << int(M::Update) << false << innodb << QStringList{"1|a", "2|b"} << qint64(3);
        QTest::newRow("update, skip") << int(M::Update) << true << innodb << QStringList{"1|a", "2|B"} << qint64(3);
        QTest::newRow("upsert") << int(M::Upsert) << false << innodb << QStringList{"1|a", "2|B", "3|C"} << qint64(0);
        // Without transactions: rows written before a failure stay, and
        // skipping writes each row alone so the failing one is known.
        QTest::newRow("MyISAM, insert") << int(M::Insert) << false << "MyISAM" << QStringList{"1|a", "2|b"}
                                        << qint64(2);
        QTest::newRow("MyISAM, insert, skip")
            << int(M::Insert) << true << "MyISAM" << QStringList{"1|a", "2|b", "3|C"} << qint64(2);
    }
    void modes()
    {
        QFETCH(int, mode);
        QFETCH(bool, skip);
        QFETCH(QStringList, rows);
        QFETCH(qint64, failedLine);
        QFETCH(QString, engine);
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE m (id INT PRIMARY KEY, v VARCHAR(10) NOT NULL) ENGINE=" + engine,
                "INSERT INTO m VALUES (1, 'a'), (2, 'b')"});
        const QString file = m_dir.filePath("modes.csv");
        writeFile(file, "id,v\r\n2,B\r\n3,C\r\n");
        const ImportJob::Outcome o = import("m", file, [&](ImportSettings &s) {
            s.mode = ImportWriter::Mode(mode);
            s.skipFailing = skip;
        });
        QCOMPARE(TestDb::rows(Db, "SELECT * FROM m ORDER BY id"), rows);
        QCOMPARE(skip ? (o.skipped.empty() ? 0 : o.skipped.front().line) : o.failedLine, failedLine);
        QCOMPARE(int(o.result),
            int(failedLine && !skip ? ImportJob::Outcome::Result::Failed : ImportJob::Outcome::Result::Done));
    }

    void failingRowInTheMiddle_data()
    {
        QTest::addColumn<bool>("skip");
        QTest::newRow("all or nothing") << false;
        QTest::newRow("skip failing rows") << true;
    }
    // Row 2,500 of 5,000 does not fit: all is rolled back and its line
    // named, or it goes to the file of failed rows and the rest is saved.
    void failingRowInTheMiddle()
    {
        QFETCH(bool, skip);
        // 5 MB: the rows go in several statements.
        TestDb::run(Db, {"CREATE OR REPLACE TABLE big (id INT PRIMARY KEY, n INT NOT NULL, pad TEXT) ENGINE=InnoDB"});
        QByteArray text = "id,n,pad\r\n";
        const QByteArray pad(1000, 'p');
        for (int i = 1; i <= 5000; ++i) {
            text += QByteArray::number(i) + ',' + (i == 2500 ? QByteArray("\"x,y\"") : QByteArray::number(i)) + ','
                + pad + "\r\n";
        }
        const QString file = m_dir.filePath("middle.csv");
        writeFile(file, text);
        QFile::remove(m_dir.filePath("middle-failed-rows.csv"));
        const ImportJob::Outcome o = import("big", file, [&](ImportSettings &s) { s.skipFailing = skip; });
        if (!skip) {
            QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Failed));
            QCOMPARE(o.failedLine, 2501);
            QVERIFY2(o.reason.contains("Incorrect integer value"), qPrintable(o.reason));
            QCOMPARE(count("big"), "0");
            QVERIFY(!QFile::exists(m_dir.filePath("middle-failed-rows.csv")));
            return;
        }
        QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Done));
        QCOMPARE(count("big"), "4999");
        QCOMPARE(o.failedRowsFile, m_dir.filePath("middle-failed-rows.csv"));
        const QList<QByteArray> lines = readAll(o.failedRowsFile).split('\n');
        QCOMPARE(lines.value(0), "line,reason,id,n,pad\r");
        QVERIFY2(lines.value(1).startsWith("2501,\"Incorrect integer value: 'x,y'"), lines.value(1).constData());
        QVERIFY2(lines.value(1).endsWith(",2500,\"x,y\"," + pad + '\r'), lines.value(1).constData());
        QCOMPARE(lines.size(), 3);
    }

    void badRowInALoadedBatch_data()
    {
        QTest::addColumn<QByteArray>("bad"); // the fields of line 10,001
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("skip");
        for (const bool skip : {false, true}) {
            const char *suffix = skip ? ", skip failing rows" : "";
            QTest::addRow("too long%s", suffix) << QByteArray("10000,toolong") << "Data too long" << skip;
            QTest::addRow("duplicate key%s", suffix) << QByteArray("1,dup") << "Duplicate entry '1'" << skip;
            QTest::addRow("not a date%s", suffix) << QByteArray("10000,v,2020-02-30") << "Incorrect date" << skip;
        }
    }
    // LOAD DATA takes such rows with a warning (cut, skipped, zero date):
    // strict as ever, the row fails with the server's reason and its line,
    // nothing is written, or with "skip" everything else is.
    void badRowInALoadedBatch()
    {
        QFETCH(QByteArray, bad);
        QFETCH(QString, reason);
        QFETCH(bool, skip);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE batch (id INT PRIMARY KEY, v VARCHAR(5) NOT NULL, d DATE NULL)"});
        QByteArray text = "id,v,d\r\n";
        for (int i = 1; i <= 20000; ++i)
            text += i == 10000 ? bad + "\r\n" : QByteArray::number(i) + ",v" + QByteArray::number(i % 1000) + ",\r\n";
        const QString file = m_dir.filePath("batch.csv");
        writeFile(file, text);
        const int loadsBefore = loads();
        const ImportJob::Outcome o = import("batch", file, [&](ImportSettings &s) { s.skipFailing = skip; });
        QVERIFY(loads() > loadsBefore);
        const QString why = skip && !o.skipped.empty() ? o.skipped.front().reason : o.reason;
        QVERIFY2(why.contains(reason), qPrintable(why));
        if (!skip) {
            QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Failed));
            QCOMPARE(o.failedLine, 10001);
            QCOMPARE(count("batch"), "0");
            return;
        }
        QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Done));
        QCOMPARE(o.skipped.size(), size_t(1));
        QCOMPARE(o.skipped.front().line, 10001);
        QCOMPARE(count("batch"), "19999");
        QCOMPARE(
            TestDb::scalar(Db, "SELECT COUNT(*) FROM batch WHERE v = CONCAT('v', id % 1000) AND d IS NULL"), "19999");
    }

    // Statements of a few rows each: the one with a bad row is undone to
    // its savepoint alone, and every other row is there once.
    void badRowInALaterStatement()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE later (id INT PRIMARY KEY, v VARCHAR(3))"});
        ConnectParams p = params();
        p.localInfile = true;
        Connection c;
        c.open(p);
        const ImportTarget target = ImportTarget::read(c, "later");
        ImportWriter writer(c, target, {0, 1}, ImportWriter::Mode::Insert, true);
        writer.setLoadBytes(100);
        writer.begin();
        const int loadsBefore = loads();
        int i = 0;
        QByteArray id;
        writer.addAll([&] {
            if (++i > 100)
                return false;
            id = QByteArray::number(i);
            const ImportValue values[2] = {{id}, {i == 55 ? "long" : "ok"}};
            writer.add(values, i);
            return true;
        });
        writer.finish();
        QVERIFY(loads() - loadsBefore > 3);
        QCOMPARE(writer.failures().size(), size_t(1));
        QCOMPARE(writer.failures().front().line, 55);
        QCOMPARE(
            TestDb::rows(Db, "SELECT COUNT(*), SUM(id) FROM later"), QStringList{"99|" + QString::number(5050 - 55)});
    }

    void hostileNamesWithAndWithoutLocalInfile_data()
    {
        QTest::addColumn<bool>("serverAllows");
        QTest::newRow("LOAD DATA LOCAL") << true;
        QTest::newRow("server's local_infile off") << false;
    }
    // Names are quoted in LOAD DATA as in INSERT; a server that refuses
    // LOAD DATA LOCAL gets the rows as INSERTs.
    void hostileNamesWithAndWithoutLocalInfile()
    {
        QFETCH(bool, serverAllows);
        const QString name = QStringLiteral("q'\"; DROP TABLE prices; --");
        const QString table = quoteIdentifier(name);
        TestDb::run(Db,
            {"CREATE OR REPLACE TABLE " + table + " (id INT PRIMARY KEY, " + quoteIdentifier(QStringLiteral("c`1'; --"))
                + " VARCHAR(10), " + quoteIdentifier(QStringLiteral("@x) SET id = 9 --"))
                + " VARBINARY(4), `SET` TEXT)"});
        const QString file = m_dir.filePath("hostile.csv");
        writeFile(file, "id,c,x,s\r\n1,a\\N,0x00FF,\"t\tab\"\r\n2,,,\\\r\n");
        TestDb::run(Db, {serverAllows ? "SET GLOBAL local_infile = 1" : "SET GLOBAL local_infile = 0"});
        const auto restore = qScopeGuard([] { TestDb::run(Db, {"SET GLOBAL local_infile = 1"}); });
        const int insertsBefore = ran("INSERT");
        const ImportJob::Outcome o = import(name, file, [](ImportSettings &s) { s.sources = {0, 1, 2, 3}; });
        QCOMPARE(o.reason, QString());
        QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Done));
        QCOMPARE(ran("INSERT") > insertsBefore, !serverAllows);
        QCOMPARE(
            TestDb::rows(Db, "SELECT id, `c``1'; --`, HEX(`@x) SET id = 9 --`), `SET` FROM " + table + " ORDER BY id"),
            QStringList({"1|a\\N|00FF|t\tab", "2|NULL|NULL|\\"}));
    }

    void serverCannotFetchFiles_data()
    {
        QTest::addColumn<bool>("importConnection");
        QTest::newRow("an ordinary connection") << false;
        QTest::newRow("the import's, no import under way") << true;
    }
    // A server may ask for any file, at any time: it gets none. Only the
    // import's connection offers LOAD DATA LOCAL, and it sends nothing but
    // the rows of its own statement.
    void serverCannotFetchFiles()
    {
        QFETCH(bool, importConnection);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE fetched (line TEXT)"});
        const QString file = m_dir.filePath("secret.txt");
        writeFile(file, "secret\n");
        ConnectParams p = params();
        p.localInfile = importConnection;
        Connection c;
        c.open(p);
        try {
            c.exec("LOAD DATA LOCAL INFILE " + c.quote(file.toUtf8()) + " INTO TABLE fetched");
            QFAIL("the file was sent");
        } catch (const Failure &f) {
            if (importConnection)
                QVERIFY2(f.description().contains(LocalInfile::refusal()), qPrintable(f.description()));
        }
        QCOMPARE(count("fetched"), "0");
    }

    // Cancel stops between rows and rolls everything back.
    void cancelRollsBack()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE c (id INT PRIMARY KEY, v VARCHAR(40))"});
        QByteArray text = "id,v\r\n";
        for (int i = 1; i <= 400000; ++i)
            text += QByteArray::number(i) + ",value number " + QByteArray::number(i) + "\r\n";
        const QString file = m_dir.filePath("cancel.csv");
        writeFile(file, text);
        Connection c;
        c.open(params());
        ImportTarget target = ImportTarget::read(c, "c");
        ImportSettings s = ImportSettings::guess(file, {"id", "v"});
        s.sources = {0, 1};
        ImportJob job(params(), std::move(target), s);
        job.start();
        QTRY_VERIFY_WITH_TIMEOUT(job.rows() > 0 || job.isFinished(), 60000);
        job.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 60000);
        QCOMPARE(int(job.outcome().result), int(ImportJob::Outcome::Result::Cancelled));
        QCOMPARE(count("c"), "0");
    }

    void brokenFileWritesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unclosed quote") << "broken.csv"
                                        << "Line 3 of the file: a quoted field that starts here is never closed.";
        QTest::newRow("truncated xlsx") << "broken.xlsx"
                                        << "is not a complete xlsx workbook";
    }
    void brokenFileWritesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        TestDb::run(Db, {"CREATE OR REPLACE TABLE broken (id INT PRIMARY KEY, v TEXT)"});
        const QString file = m_dir.filePath(name);
        if (name.endsWith(".csv")) {
            writeFile(file, "id,v\r\n1,one\r\n2,\"two\r\n");
        } else {
            QByteArray rows;
            for (int i = 0; i < 2000; ++i)
                rows += "row " + QByteArray::number(i);
            XlsxWorkbook book(file);
            book.setCell(1, 1, "id");
            book.setCell(1, 2, "v");
            for (int i = 2; i < 2000; ++i) {
                book.setCell(i, 1, std::to_string(i));
                book.setCell(i, 2, rows.toStdString().substr(size_t(i), 40));
            }
            book.save();
            const QByteArray whole = readAll(file);
            writeFile(file, whole.left(whole.size() / 2));
        }
        const ImportJob::Outcome o = import("broken", file, [](ImportSettings &s) { s.sources = {0, 1}; });
        QCOMPARE(int(o.result), int(ImportJob::Outcome::Result::Failed));
        QVERIFY2(o.reason.contains(reason), qPrintable(o.reason));
        QCOMPARE(count("broken"), "0");
    }

    void lostCommit_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("rows");
        using R = ImportJob::Outcome::Result;
        using F = FaultProxy::Fault;
        QTest::newRow("committed, reply lost") << int(F::CutBeforeReply) << true << int(R::Done) << "2";
        QTest::newRow("never reached the server") << int(F::DropAndCut) << true << int(R::Failed) << "0";
        QTest::newRow("no key to tell by") << int(F::CutBeforeReply) << false << int(R::CommitUnknown) << "2";
    }
    // A reply to COMMIT that never comes: the server is asked whether the
    // last row is there, and without a key to ask by the outcome is unknown.
    void lostCommit()
    {
        QFETCH(int, fault);
        QFETCH(bool, keyed);
        QFETCH(int, result);
        QFETCH(QString, rows);
        TestDb::run(Db,
            {keyed ? "CREATE OR REPLACE TABLE lost (id INT PRIMARY KEY)" : "CREATE OR REPLACE TABLE lost (id INT)"});
        const QString file = m_dir.filePath("lost.csv");
        writeFile(file, "id\r\n1\r\n2\r\n");
        FaultProxy proxy(
            TestDb::host().isEmpty() ? QStringLiteral("127.0.0.1") : TestDb::host(), TestDb::port().toUShort());
        proxy.arm(FaultProxy::Fault(fault), QStringLiteral("^COMMIT"));
        const ImportJob::Outcome o = import("lost", file, {}, proxy.port());
        QVERIFY(proxy.hasFired());
        QCOMPARE(int(o.result), result);
        QCOMPARE(count("lost"), rows);
    }

    void formatIsDetected_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<char>("separator");
        QTest::addColumn<bool>("tabTerminated");
        QTest::addColumn<bool>("header");
        using E = DelimitedFormat::Encoding;
        QTest::newRow("our csv") << QByteArray("id,name\r\n1,\"a,b\"\r\n") << int(E::Utf8) << ',' << false << true;
        QTest::newRow("our txt") << QByteArray("id\tname\t\r\n1\tx\t\r\n") << int(E::Utf8) << '\t' << true << true;
        QTest::newRow("semicolons, BOM") << QByteArray("\xEF\xBB\xBFnom;prix\r\nx;1,5\r\n") << int(E::Utf8) << ';'
                                         << false << true;
        QTest::newRow("no header") << QByteArray("1,2\n3,4\n") << int(E::Utf8) << ',' << false << false;
        QTest::newRow("latin-1") << QByteArray("id|n\xE9\n1|2\n") << int(E::Latin1) << '|' << false << true;
        QTest::newRow("utf-16") << QByteArray("\xFF\xFEi\0d\0\t\0n\0\n\0001\0\t\0x\0\n\0", 20) << int(E::Utf16) << '\t'
                                << false << true;
    }
    void formatIsDetected()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, encoding);
        QFETCH(char, separator);
        QFETCH(bool, tabTerminated);
        QFETCH(bool, header);
        const DelimitedFormat f = DelimitedFormat::detect(head, {"id"});
        QCOMPARE(int(f.encoding), encoding);
        QCOMPARE(f.separator, separator);
        QCOMPARE(f.tabTerminated, tabTerminated);
        QCOMPARE(f.header, header);
    }

    void previewCheckAgreesWithServer_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QByteArray>("value"); // a null QByteArray is NULL
        const QList<QPair<const char *, QList<const char *>>> cases = {
            {"ti", {"127", "128", "-129", "12a", " 12", "", "1e2"}},
            {"tu", {"255", "256", "-1", "0"}},
            {"bi", {"9223372036854775807", "9223372036854775808", "-9223372036854775808"}},
            {"de", {"999.99", "1000", "12.345", "-999.99", "abc", ".5", "999.995"}},
            {"da", {"2020-02-29", "2019-02-29", "2020-13-01", "20200101", "2020/01/02", "0000-00-00", "x"}},
            {"dt", {"2020-01-02 25:00:00", "2020-01-02 10:11:12.5", "2020-01-02 10:11"}},
            {"tm", {"838:59:59", "839:00:00", "-12:30", "10:61:00"}},
            {"yr", {"2155", "2156", "1901", "1900"}},
            {"vc", {"abc", "abcd", "ab   ", "日本語", "日本語x"}},
            {"en", {"a", "B", "c", "", "2", "3"}},
            {"st", {"x,y", "x,z", "y", ""}},
        };
        for (const auto &[column, values] : cases) {
            for (const char *value : values)
                QTest::newRow(qPrintable(QStringLiteral("%1 '%2'").arg(column, value))) << column << QByteArray(value);
        }
        QTest::newRow("NOT NULL, NULL") << "vc" << QByteArray();
        QTest::newRow("nullable, NULL") << "ti" << QByteArray();
    }
    // The preview marks a value as failing exactly when the server, in
    // strict mode, refuses it.
    void previewCheckAgreesWithServer()
    {
        QFETCH(QString, column);
        QFETCH(QByteArray, value);
        Connection c;
        c.open(params());
        c.exec("CREATE OR REPLACE TABLE vc (ti TINYINT NULL, tu TINYINT UNSIGNED, bi BIGINT, de DECIMAL(5,2), "
               "da DATE, dt DATETIME, tm TIME, yr YEAR, vc VARCHAR(3) NOT NULL DEFAULT '', en ENUM('a','b','c 1'), "
               "st SET('x','y'))");
        const ImportTarget target = ImportTarget::read(c, "vc");
        const auto it = std::find_if(target.columns.begin(), target.columns.end(),
            [&](const TargetColumn &t) { return t.name == column.toUtf8(); });
        QVERIFY(it != target.columns.end());
        const bool fails = ValueCheck::of(*it, value, value.isNull()).verdict == ValueCheck::Verdict::Fails;
        c.exec("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
        bool refused = false;
        try {
            c.exec("INSERT INTO vc (`" + column.toUtf8() + "`) VALUES (" + (value.isNull() ? "NULL" : c.quote(value))
                + ")");
        } catch (const Failure &) {
            refused = true;
        }
        QCOMPARE(fails, refused);
    }

    // Ctrl+I on the editor: the preview marks a value that does not fit,
    // failing rows are skipped into their file, and the grid reads the
    // table again.
    void menuImportsWithPreview()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE ui (id INT PRIMARY KEY, v VARCHAR(3))"});
        const QString file = m_dir.filePath("ui.csv");
        writeFile(file, "id,v\r\n1,one\r\n2,four\r\n3,six\r\n");
        FakeDesktop desktop;
        const std::unique_ptr<Wizard> wizard = signedInWizard(desktop, TestDb::fields(Db));
        wizard->CurrentTable = QStringLiteral("ui");
        Form3 *page = wizard->form3();
        page->show();
        page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page));
        QTRY_VERIFY(page->isLoaded() && !page->model()->isLoading());
        desktop.fileNames.enqueue(file);
        QString tip;
        QString accessible;
        onNextModal([&](QWidget *w) {
            auto *dialog = qobject_cast<ImportDialog *>(w);
            QVERIFY(dialog);
            const QTableWidgetItem *cell = dialog->preview->item(2, 1);
            tip = cell->toolTip();
            accessible = cell->data(Qt::AccessibleTextRole).toString();
            dialog->skipBox->setChecked(true);
            dialog->buttons->button(QDialogButtonBox::Ok)->click();
        });
        QTest::keyClick(page, Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(tip, QStringLiteral("Too long: 4 characters, the column holds 3."));
        QVERIFY2(accessible.startsWith("four: fails"), qPrintable(accessible));
        QCOMPARE(desktop.texts().value(0),
            QStringLiteral("2 rows were imported.\n1 row failed and was skipped; it is listed with the "
                           "reason in \"%1\".")
                .arg(m_dir.filePath("ui-failed-rows.csv")));
        QTRY_COMPARE(page->model()->rowCount(), 3); // two rows and the new-row line
    }
};

QTEST_MAIN(TestImport)
#include "tst_import.moc"
