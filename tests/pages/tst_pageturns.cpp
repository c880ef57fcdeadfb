#include "frame/SettingsStore.h"
#include "grid/GridModel.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/SignIn.h"
#include "support/TestDb.h"

#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

const QString Db = QStringLiteral("tst_pageturns");

} // namespace

// How often the pages wait for a far server: the turns the proxy counts (the
// client sending after the server answered, on any connection). Each costs
// the user one round trip, 10 to 100 ms on a far network.
class TestPageTurns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        // The last row comes late, so the load still runs at the first
        // screen: what the reader sends after its last row is no wait.
        TestDb::run(Db,
            {"CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(200), d DATE)",
                "INSERT INTO t SELECT seq, REPEAT('v', 200), '2020-01-02' FROM seq_1_to_1000",
                "CREATE VIEW rt AS SELECT id, v, d, IF(id = 1000, SLEEP(60), 0) AS late FROM t",
                // DOUBLE(10,2) comes as text, through the text protocol.
                "CREATE TABLE d (id INT PRIMARY KEY, x DOUBLE(10,2))",
                "INSERT INTO d SELECT seq, seq / 4 FROM seq_1_to_1000",
                "CREATE VIEW rd AS SELECT id, x, IF(id = 1000, SLEEP(60), 0) AS late FROM d"});
    }

    void pagesWaitAtMost_data();
    void pagesWaitAtMost();
};

void TestPageTurns::pagesWaitAtMost_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("goal");
    QTest::newRow("automatic sign-in to the table list") << "sign in" << QString() << 3;
    // The loader's handshake, then its size, columns and rows in one statement.
    QTest::newRow("picker's Next to the first screen") << "open"
                                                       << "rt" << 2;
    QTest::newRow("picker's Next, a column read as text") << "open"
                                                          << "rd" << 3;
}

void TestPageTurns::pagesWaitAtMost()
{
    QFETCH(QString, action);
    QFETCH(QString, table);
    QFETCH(int, goal);
    FaultProxy proxy(QStringLiteral("127.0.0.1"), TestDb::port().toUShort());
    QFile::remove(SettingsStore::fileName());
    ConnectionFields f = TestDb::fields(Db);
    f.server = QStringLiteral("127.0.0.1");
    f.port = QString::number(proxy.port());
    storeSignIn(f);
    FakeDesktop desktop;
    Services services;
    services.desktop = &desktop;
    Wizard wizard(services);

    wizard.start();
    QVERIFY2(wizard.hasForm2() && wizard.form2()->isVisible(), qPrintable(desktop.texts().join('\n')));
    QCOMPARE(wizard.form2()->List1->count(), 4);
    const QList<QListWidgetItem *> items = wizard.form2()->List1->findItems(table, Qt::MatchExactly);
    wizard.form2()->List1->setCurrentItem(items.value(0));
    if (action == QLatin1String("open")) {
        proxy.resetTurns();
        wizard.form2()->PushButton3->click();
        QVERIFY2(desktop.boxes.isEmpty(), qPrintable(desktop.texts().join('\n')));
        QTRY_VERIFY(wizard.form3()->model()->rowCount(QModelIndex()) >= 200);
    }
    qInfo("%s: %d turns", QTest::currentDataTag(), proxy.turns());
    QVERIFY2(proxy.turns() <= goal, qPrintable(QStringLiteral("%1 turns").arg(proxy.turns())));
}

QTEST_MAIN(TestPageTurns)
#include "tst_pageturns.moc"
