#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/MySQL.h"
#include "db/RowSet.h"
#include "support/TestDb.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("the test server is not running");
        TestDb::create("tst_connection");
    }

    void connectionText_data()
    {
        QTest::addColumn<ConnectionFields>("fields");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << ConnectionFields{"localhost", "root", "", "shop", "3306"}
                               << "DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;USER=root;PASSWORD=;DATABASE=shop;PORT=3306;";
        QTest::newRow("empty port") << ConnectionFields{"h", "u", "p", "d", ""}
                                    << "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=u;PASSWORD=p;DATABASE=d;PORT=;";
        QTest::newRow("blanks kept") << ConnectionFields{" h ", "u", "p", "d", "1"}
                                     << "DRIVER={MySQL ODBC 5.1 Driver};SERVER= h ;USER=u;PASSWORD=p;DATABASE=d;PORT=1;";
        QTest::newRow("semicolon braced") << ConnectionFields{"h", "u", "a;b}c", "d", "1"}
                                          << "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=u;PASSWORD={a;b}}c};DATABASE=d;PORT=1;";
        QTest::newRow("leading brace braced") << ConnectionFields{"h", "u", "{x}", "d", "1"}
                                              << "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=u;PASSWORD={{x}}};DATABASE=d;PORT=1;";
        QTest::newRow("close brace alone kept") << ConnectionFields{"h", "u", "x}y", "d", "1"}
                                                << "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=u;PASSWORD=x}y;DATABASE=d;PORT=1;";
    }
    void connectionText()
    {
        QFETCH(ConnectionFields, fields);
        QFETCH(QString, text);
        QCOMPARE(ConnectionString(fields), text);
        // Reading the text back gives every value exactly as typed.
        const auto attrs = parseConnectionString(text);
        QCOMPARE(attrs.value("SERVER"), fields.server);
        QCOMPARE(attrs.value("USER"), fields.user);
        QCOMPARE(attrs.value("PASSWORD"), fields.password);
        QCOMPARE(attrs.value("DATABASE"), fields.database);
        QCOMPARE(attrs.value("PORT"), fields.port);
        QCOMPARE(attrs.value("DRIVER"), QStringLiteral("MySQL ODBC 5.1 Driver"));
    }

    void openFailuresAreClear_data()
    {
        QTest::addColumn<ConnectionFields>("fields");
        QTest::addColumn<QString>("words");
        const QString h = TestDb::host(), p = TestDb::port(), u = TestDb::user(), pw = TestDb::password();
        QTest::newRow("wrong password") << ConnectionFields{h, u, "nope", "tst_connection", p} << "Access denied";
        QTest::newRow("unknown database") << ConnectionFields{h, u, pw, "no_such_db", p} << "Unknown database";
        QTest::newRow("port not a number") << ConnectionFields{h, u, pw, "tst_connection", "abc"} << "not a number";
        QTest::newRow("empty user") << ConnectionFields{h, "", "x", "tst_connection", p} << "Access denied";
        QTest::newRow("all empty") << ConnectionFields{"", "", "", "", ""} << "";
    }
    void openFailuresAreClear()
    {
        QFETCH(ConnectionFields, fields);
        QFETCH(QString, words);
        Connection c;
        try {
            c.open(ConnectionString(fields));
            QFAIL("opened");
        } catch (const Failure &f) {
            QVERIFY2(f.description().contains(words), qPrintable(f.description()));
        }
        QVERIFY(!c.isOpen());
        QVERIFY(!CanConnect(ConnectionString(fields)));
    }

    void closedPortFailsAtOnce()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        QElapsedTimer t;
        t.start();
        QVERIFY(!CanConnect(ConnectionString({"127.0.0.1", "u", "p", "d", port})));
        QVERIFY(t.elapsed() < 5000);
    }

    void silentListenerTimesOut()
    {
        // A host that accepts but never greets: the connect timeout bounds it.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QElapsedTimer t;
        t.start();
        Connection c;
        QVERIFY_THROWS_EXCEPTION(Failure, c.open(ConnectionString({"127.0.0.1", "u", "p", "d", QString::number(silent.serverPort())})));
        QVERIFY(t.elapsed() < (Connection::ConnectTimeoutSeconds + 5) * 1000);
    }

    void nonAsciiAndOdbcSpecialsSignIn()
    {
        const QString user = QStringLiteral("ünï_用户");
        const QString password = QStringLiteral("pä;ss}w{ord 🙂");
        auto admin = TestDb::admin();
        const QByteArray u = admin->quote(user.toUtf8()), p = admin->quote(password.toUtf8());
        admin->exec("DROP USER IF EXISTS " + u + "@'%'");
        admin->exec("CREATE USER " + u + "@'%' IDENTIFIED BY " + p);
        admin->exec("GRANT ALL ON tst_connection.* TO " + u + "@'%'");
        QVERIFY(CanConnect(ConnectionString({TestDb::host(), user, password, "tst_connection", TestDb::port()})));
        QVERIFY(!CanConnect(ConnectionString({TestDb::host(), user, "pä;ss", "tst_connection", TestDb::port()})));
    }

    void showTablesOnEmptyDatabase()
    {
        TestDb::create("tst_connection_empty");
        Connection c;
        c.open(ConnectionString(TestDb::fields("tst_connection_empty")));
        auto rows = c.select("SHOW TABLES;");
        QCOMPARE(rows->recordCount(), 0);
        QVERIFY(rows->eof());
    }

    void clientSettings()
    {
        Connection c;
        c.open(ConnectionString(TestDb::fields("tst_connection")));
        auto rows = c.select("SELECT @@character_set_client, @@character_set_results;");
        QCOMPARE(rows->value(0).toString(), QStringLiteral("utf8mb4"));
        QCOMPARE(rows->value(1).toString(), QStringLiteral("utf8mb4"));
        // One statement per call.
        QVERIFY_THROWS_EXCEPTION(Failure, c.select("SELECT 1; SELECT 2"));
        // UPDATE reports the rows it found, also when nothing changed.
        c.exec("CREATE TABLE found (a INT)");
        c.exec("INSERT INTO found VALUES (1),(1)");
        QCOMPARE(c.exec("UPDATE found SET a = 1"), quint64(2));
    }

    void rowSetReadsValuesExactly()
    {
        Connection c;
        c.open(ConnectionString(TestDb::fields("tst_connection")));
        c.exec("CREATE TABLE vals (d DECIMAL(10,2), t DATETIME, s VARCHAR(20), n INT, b BLOB)");
        c.exec("INSERT INTO vals VALUES (10472.90, '2020-01-01 02:11:47', '', NULL, x'00ff00')");
        RowSet rs;
        rs.open("SELECT * FROM `vals`;", c);
        QCOMPARE(rs.recordCount(), 1);
        QCOMPARE(rs.fieldCount(), 5);
        QCOMPARE(rs.field(0).name, QStringLiteral("d"));
        QCOMPARE(rs.value(0).toString(), QStringLiteral("10472.90"));
        QCOMPARE(rs.value(1).toString(), QStringLiteral("2020-01-01 02:11:47"));
        QVERIFY(!rs.value(2).isNull());
        QCOMPARE(rs.value(2).toString(), QString());
        QVERIFY(rs.value(3).isNull());
        QCOMPARE(QByteArray(rs.rows().cell(0, 4).text().data(), 3), QByteArray("\0\xff\0", 3));
        rs.moveNext();
        QVERIFY(rs.eof());
        QVERIFY_THROWS_EXCEPTION(Failure, rs.moveNext());
        c.exec("INSERT INTO vals (n) VALUES (2)");
        rs.requery();
        QCOMPARE(rs.recordCount(), 2);
    }

    void backQuotedNameFailsWithServerText()
    {
        Connection c;
        c.open(ConnectionString(TestDb::fields("tst_connection")));
        RowSet rs;
        try {
            rs.open("SELECT * FROM `we`ird`;", c);
            QFAIL("opened");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), long(Failure::ParseError));
            QVERIFY(f.description().contains("SQL syntax"));
        }
        QCOMPARE(rs.state(), 0);
    }
    void serverList_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("servers"); // empty: one host, as typed; "!": refused
        QTest::newRow("one host") << "db1"
                                  << "3307" << QStringList();
        QTest::newRow("IPv6 alone") << "fd00::5"
                                    << "" << QStringList();
        QTest::newRow("one host, own port") << "db1:3310"
                                            << "3307" << QStringList{"db1:3310"};
        QTest::newRow("list") << "db1,db2:3307,[fd00::5]:3306"
                              << "3308" << QStringList{"db1:3308", "db2:3307", "[fd00::5]:3306"};
        QTest::newRow("blanks") << " db1 , db2 "
                                << "" << QStringList{"db1", "db2"};
        QTest::newRow("IPv6 in brackets, no port") << "[::1],h"
                                                   << "9" << QStringList{"[::1]:9", "h:9"};
        QTest::newRow("empty entry") << "db1,,db2"
                                     << "" << QStringList{"!"};
        QTest::newRow("trailing comma") << "db1,"
                                        << "" << QStringList{"!"};
        QTest::newRow("port not a number") << "db1,db2:x"
                                           << "" << QStringList{"!"};
        QTest::newRow("port too large") << "db1:70000"
                                        << "" << QStringList{"!"};
        QTest::newRow("port empty") << "db1:,db2"
                                    << "" << QStringList{"!"};
        QTest::newRow("bracket not closed") << "[fd00::5,db2"
                                            << "" << QStringList{"!"};
        QTest::newRow("junk after bracket") << "[fd00::5]x,db2"
                                            << "" << QStringList{"!"};
        QTest::newRow("blank inside") << "db 1,db2"
                                      << "" << QStringList{"!"};
    }
    void serverList()
    {
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QStringList, servers);
        const QString text = ConnectionString({server, "u", "p", "d", port});
        if (servers == QStringList{"!"}) {
            QVERIFY_THROWS_EXCEPTION(Failure, Connection::paramsFrom(text));
            return;
        }
        const ConnectParams p = Connection::paramsFrom(text);
        QStringList got;
        for (const ServerAddress &a : p.servers)
            got << QString::fromUtf8(a.text());
        if (servers.size() == 1) {
            // One server with its own port is one host, as ever.
            QVERIFY(got.isEmpty());
            QCOMPARE(QString::fromUtf8(ServerAddress{p.host, p.port}.text()), servers.front());
        } else {
            QCOMPARE(got, servers);
            if (servers.isEmpty())
                QCOMPARE(QString::fromUtf8(p.host), server);
        }
    }

    // A first server that takes the connection but never answers, as a host
    // whose packets are dropped: the second is tried meanwhile and wins,
    // long before the first's connect timeout.
    void nextServerIsTriedWhileTheFirstIsSilent()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ConnectionFields f = TestDb::fields("tst_connection");
        const QString second = QStringLiteral("127.0.0.1:") + TestDb::port();
        f.server = QStringLiteral("127.0.0.1:%1, %2").arg(silent.serverPort()).arg(second);
        QElapsedTimer t;
        t.start();
        Connection c;
        c.open(ConnectionString(f));
        QVERIFY2(t.elapsed() < Connection::ConnectTimeoutSeconds * 1000 / 2, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(QString::fromUtf8(c.serverInUse()), second);
        QVERIFY(!c.isReadOnly());
        // None answering: each server's failure is told.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        f.server = QStringLiteral("127.0.0.1:%1,127.0.0.1:%2").arg(closed.serverPort()).arg(closed.serverPort() ^ 1);
        closed.close();
        try {
            c.open(ConnectionString(f));
            QFAIL("opened");
        } catch (const Failure &e) {
            QCOMPARE(e.description().count(QStringLiteral("127.0.0.1:")), 2);
        }
    }

    // A server with read_only on takes no writes from the editor; it is told
    // at sign-in, in the statement sent anyway.
    void readOnlyServerIsTold()
    {
        auto admin = TestDb::admin();
        admin->exec("SET GLOBAL read_only = ON");
        const auto back = qScopeGuard([&] { admin->exec("SET GLOBAL read_only = OFF"); });
        Connection c;
        c.open(ConnectionString(TestDb::fields("tst_connection")));
        QVERIFY(c.isReadOnly());
        QVERIFY2(c.readOnlyReason().contains("read_only"), qPrintable(c.readOnlyReason()));
        QVERIFY(c.clusterId().isEmpty());
        admin->exec("SET GLOBAL read_only = OFF");
        c.open(ConnectionString(TestDb::fields("tst_connection")));
        QVERIFY(!c.isReadOnly());
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
