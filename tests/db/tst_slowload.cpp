#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/TableLoader.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

namespace {

const QString Db = QStringLiteral("tst_slowload");

// How long the slow view takes to send its first row. The assertions only
// say "before the view would have answered".
constexpr int SlowMs = 5000;

// Counts the event loop's turns and the longest time between two, as a
// window would see it while the user moves the mouse.
class Heartbeat
{
public:
    Heartbeat()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = qMax(m_longest, m_since.restart());
            ++m_beats;
        });
        m_since.start();
        m_timer.start(5);
    }
    int beats() const { return m_beats; }
    qint64 longestGapMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    int m_beats = 0;
};

// Waits without running the event loop, so whatever the worker posts stays queued.
bool waitWithoutEvents(const std::function<bool()> &done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

} // namespace

// Loads that are slow, cancelled, restarted or too large: the window's
// thread never waits on the server, and no row of an old load reaches a new one.
class TestSlowLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        TestDb::run(Db, {"CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(40) NULL)",
                         "INSERT INTO t SELECT seq, CONCAT('old ', seq) FROM seq_1_to_200000",
                         QStringLiteral("CREATE VIEW slow AS SELECT id, v FROM t WHERE id <= 3 AND SLEEP(IF(id = 1, %1, 0)) = 0")
                             .arg(SlowMs / 1000.0),
                         "ANALYZE TABLE t"});
    }

    void cleanup()
    {
        RowStore::setAllocationLimitForTesting(-1);
        TableLoader::setMemoryAvailableForTesting(-1);
    }

    // Chunks posted before a cancel or a new start are still in the queue
    // when the event loop next runs; none may land in the rows.
    void chunksOfAnOldLoadNeverArrive()
    {
        auto c = TestDb::admin(Db);
        RowStore target;
        TableLoader loader(target);
        loader.start(c->params(), "SELECT id, v FROM t ORDER BY id");
        QVERIFY(waitWithoutEvents([&] { return loader.rowsRead() >= 20000; }));
        loader.cancel();
        QTest::qWait(200);
        QCOMPARE(target.rowCount(), 0);

        loader.start(c->params(), "SELECT id, v FROM t ORDER BY id");
        QVERIFY(waitWithoutEvents([&] { return loader.rowsRead() >= 20000; }));
        loader.start(c->params(), "SELECT id, 'new' FROM t WHERE id <= 10");
        QSignalSpy finished(&loader, &TableLoader::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(target.rowCount(), 10);
        for (qint64 r = 0; r < target.rowCount(); ++r)
            QCOMPARE(target.cell(r, 1).text(), std::string_view("new"));
    }

    // A result slow to begin: the start returns at once, the wait for it
    // runs the event loop, and giving up returns before the server answers.
    void slowStartKeepsTheWindowAliveAndCanBeGivenUp()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        Heartbeat heartbeat;
        QElapsedTimer clock;
        clock.start();
        int asked = 0;
        rows.openInBackground(QStringLiteral("SELECT * FROM slow"), *c, [&](qint64 ms) {
            ++asked;
            return ms < 300;
        });
        const bool gaveUp = rows.state() == 0;
        qInfo("fields came %s the first row", gaveUp ? "with" : "before");
        if (gaveUp) {
            QVERIFY(asked > 0);
        } else {
            // The server sent the fields first; the rows are what is slow.
            QVERIFY(rows.isLoading());
            QTest::qWait(300);
            rows.stopLoading();
        }
        QVERIFY(!rows.isLoading());
        QVERIFY2(clock.elapsed() < SlowMs, "the wait was not given up");
        QVERIFY(heartbeat.beats() > 0);
        qInfo("longest event loop gap: %lld ms", heartbeat.longestGapMs());
        // The statement is ended on the server too.
        QTRY_VERIFY_WITH_TIMEOUT(TestDb::scalar(Db, "SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                                    "WHERE INFO LIKE 'SELECT * FROM slow%'")
                                     == QStringLiteral("0"),
                                 SlowMs - 500);
    }

    // A result slower than the sign-in's read timeout is no failure: the
    // reader waits as long as the statement takes.
    void slowRowsOutlastTheReadTimeout()
    {
        auto c = TestDb::admin(Db);
        ConnectParams params = c->params();
        params.readTimeoutSeconds = 1;
        RowStore target;
        TableLoader loader(target);
        QSignalSpy finished(&loader, &TableLoader::finished);
        loader.start(params, "SELECT * FROM slow");
        QVERIFY(loader.waitForFields());
        QVERIFY(finished.count() > 0 || finished.wait(SlowMs * 4));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(target.rowCount(), 3);
    }

    void cancelOfABlockedReadReturnsAtOnce()
    {
        auto c = TestDb::admin(Db);
        RowStore target;
        TableLoader loader(target);
        Heartbeat heartbeat;
        QElapsedTimer clock;
        clock.start();
        loader.start(c->params(), "SELECT * FROM slow");
        QTest::qWait(500); // the worker is in the middle of its read
        loader.cancel();
        QVERIFY2(clock.elapsed() < SlowMs, "cancel waited for the server");
        QVERIFY(!loader.isLoading());
        QVERIFY(heartbeat.beats() > 0);
        // A load started at once after works.
        loader.start(c->params(), "SELECT id FROM t WHERE id <= 5");
        QSignalSpy finished(&loader, &TableLoader::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(target.rowCount(), 5);
    }

    // The network cuts the load's own connection as its statement is sent,
    // or just after the server took it: the load ends as a failure that says
    // the connection was lost.
    void aLoadWhoseConnectionIsCutSaysSo_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("before the reply") << int(FaultProxy::Fault::CutBeforeReply);
        QTest::newRow("after the first reply") << int(FaultProxy::Fault::CutAfterReply);
    }
    void aLoadWhoseConnectionIsCutSaysSo()
    {
        QFETCH(int, fault);
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        auto c = TestDb::admin(Db);
        ConnectParams params = c->params();
        params.host = "127.0.0.1";
        params.port = proxy.port();
        params.forceTcp = true;
        proxy.arm(FaultProxy::Fault(fault), QStringLiteral("^SELECT id, v FROM t"));
        RowStore target;
        TableLoader loader(target);
        QSignalSpy finished(&loader, &TableLoader::finished);
        loader.start(params, "SELECT id, v FROM t ORDER BY id");
        try {
            loader.waitForFields();
        } catch (const Failure &) {
            // the statement's own answer was lost: the same failure, sooner
        }
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        QVERIFY(proxy.hasFired());
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY2(loader.failure().isConnectionLost(), qPrintable(loader.failure().description()));
        QVERIFY(target.rowCount() < 200000);
    }

    // The network goes down while the rows of a load come through the
    // binary protocol: the failure is the connection's, which the client
    // library leaves on the connection rather than on the statement.
    void aLoadCutAfterItsFirstRowsSaysTheConnectionWasLost()
    {
        auto proxy = std::make_unique<FaultProxy>(TestDb::host(), TestDb::port().toUShort());
        auto c = TestDb::admin(Db);
        ConnectParams params = c->params();
        params.host = "127.0.0.1";
        params.port = proxy->port();
        params.forceTcp = true;
        RowStore target;
        TableLoader loader(target);
        QSignalSpy finished(&loader, &TableLoader::finished);
        loader.start(params, "SELECT a.id, a.v FROM t a, t b"); // far more rows than ever arrive
        QTRY_VERIFY_WITH_TIMEOUT(target.rowCount() >= TableLoader::FirstChunkRows, 20000);
        proxy.reset(); // closes both ends of every connection through it
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        const Failure &f = loader.failure();
        const QString said = QStringLiteral("\"%1\" (%2)").arg(f.description()).arg(f.number());
        QVERIFY2(!f.description().isEmpty() && f.number() != 0, qPrintable(said));
        QVERIFY2(f.isConnectionLost(), qPrintable(said));
    }

    void outOfMemoryStopsTheLoadAndSaysHowFar()
    {
        auto c = TestDb::admin(Db);
        RowSet rows;
        RowStore::setAllocationLimitForTesting(2 << 20); // the third block fails
        rows.openInBackground(QStringLiteral("SELECT * FROM t"), *c, {}, QStringLiteral("t"));
        QSignalSpy finished(rows.loader(), &TableLoader::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        const Failure &f = rows.loader()->failure();
        QCOMPARE(f.number(), long(Failure::OutOfMemory));
        const qint64 read = rows.recordCount();
        QVERIFY(read > 0 && read < 200000);
        QVERIFY2(f.description().startsWith(QStringLiteral("Out of memory: %1 of about ").arg(read)),
                 qPrintable(f.description()));
        QVERIFY(f.description().endsWith(QStringLiteral(" rows were read.")));
        QCOMPARE(rows.state(), 1); // the rows read so far stay
    }

    void tableLargerThanTheMemoryFreeIsRefusedBeforeReading()
    {
        auto c = TestDb::admin(Db);
        TableLoader::setMemoryAvailableForTesting(1000);
        RowSet rows;
        try {
            rows.openInBackground(QStringLiteral("SELECT * FROM t"), *c, {}, QStringLiteral("t"));
            QFAIL("no failure");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), long(Failure::OutOfMemory));
            QVERIFY2(f.description().contains(QStringLiteral("It was not read.")), qPrintable(f.description()));
        }
        QCOMPARE(rows.state(), 0);
        QCOMPARE(rows.recordCount(), 0);
        TableLoader::setMemoryAvailableForTesting(-1);
        rows.openInBackground(QStringLiteral("SELECT * FROM t WHERE id <= 3"), *c, {}, QStringLiteral("t"));
        QCOMPARE(rows.state(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSlowLoad)
#include "tst_slowload.moc"
