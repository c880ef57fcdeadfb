#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <memory>
#include <thread>

namespace {

const QString Db = QStringLiteral("tst_cluster");
const QString Commits = QStringLiteral("^COMMIT|^BEGIN NOT ATOMIC .*COMMIT");

// The three-node cluster that tests/galera-fixture.sh started.
QMap<QString, QString> galera()
{
    QMap<QString, QString> out;
    QFile f(qEnvironmentVariable("CORVANE_GALERA_ENV"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.indexOf('=') > 0)
                out.insert(QString::fromUtf8(line.left(line.indexOf('='))),
                    QString::fromUtf8(line.mid(line.indexOf('=') + 1)));
    return out;
}

QString nodeText(int n)
{
    return QStringLiteral("127.0.0.1:") + galera().value(QStringLiteral("CORVANE_GALERA_PORT%1").arg(n));
}

ConnectParams through(const QStringList &servers)
{
    return Connection::paramsFrom(
        ConnectionString({servers.join(QLatin1Char(',')), TestDb::user(), TestDb::password(), Db, QString()}));
}

std::unique_ptr<Connection> node(int n)
{
    auto c = std::make_unique<Connection>();
    c->open(through({nodeText(n)}));
    return c;
}

QString scalarOn(Connection &c, const QByteArray &sql)
{
    const std::unique_ptr<RowSet> rows = c.select(sql);
    const RowStore::Cell v = rows->rows().cell(0, 0);
    return rows->recordCount() ? QString::fromUtf8(v.text().data(), qsizetype(v.text().size())) : QString();
}

// Ends node `n` at once, as a crash or a power cut would; false when it
// was not running. Safe on any thread.
bool killNode(int n)
{
    QFile pidFile(galera().value(QStringLiteral("CORVANE_GALERA_DIR")) + QStringLiteral("/n%1/pid").arg(n));
    const pid_t pid = pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toLong()) : 0;
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
        return false;
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

void startNode(int n)
{
    QProcess p;
    p.start(QStringLiteral("bash"),
        {qEnvironmentVariable("CORVANE_SOURCE_DIR") + QStringLiteral("/tests/galera-fixture.sh"),
            QStringLiteral("node"), qEnvironmentVariable("CORVANE_GALERA_ENV"), QString::number(n),
            QStringLiteral("start")});
    QVERIFY(p.waitForFinished(240000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

// A grid over one table of the cluster, as the editor page holds it.
struct Grid
{
    Connection connection;
    RowSet rows;
    GridModel model;

    QString cell(int row, int column) const { return model.index(row, column).data().toString(); }
};

std::unique_ptr<Grid> openGrid(const QString &table, const ConnectParams &params)
{
    auto grid = std::make_unique<Grid>();
    grid->connection.open(params);
    grid->rows.open("SELECT * FROM `" + table + "`;", grid->connection);
    grid->model.setRowSet(&grid->rows, &grid->connection);
    return grid;
}

} // namespace

// The editor on a Galera cluster: nodes that go away, nodes not ready for
// writes, and writes that lose against another node's.
class TestCluster : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!galera().contains(QStringLiteral("CORVANE_GALERA_PORT3")))
            QSKIP("the Galera cluster is not running");
        ConnectParams p = through({nodeText(1)});
        p.database.clear();
        Connection c;
        c.open(p);
        c.exec("DROP DATABASE IF EXISTS " + Db.toUtf8());
        c.exec("CREATE DATABASE " + Db.toUtf8());
    }

    // A desynced node is passed over for a synced one; alone, it is used
    // read-only and says why.
    void nodeNotSyncedIsPassedOver()
    {
        auto first = node(1);
        QVERIFY(!first->clusterId().isEmpty());
        first->exec("SET GLOBAL wsrep_desync = ON");
        const auto back = qScopeGuard([&] { first->exec("SET GLOBAL wsrep_desync = OFF"); });
        QTRY_VERIFY(node(1)->isReadOnly());
        Connection c;
        c.open(through({nodeText(1), nodeText(2), nodeText(3)}));
        QVERIFY(!c.isReadOnly());
        QCOMPARE(QString::fromUtf8(c.serverInUse()), nodeText(2));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString nowhere = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        c.open(through({nodeText(1), nowhere}));
        QCOMPARE(QString::fromUtf8(c.serverInUse()), nodeText(1));
        QVERIFY2(c.readOnlyReason().contains(QStringLiteral("not synced")), qPrintable(c.readOnlyReason()));
        QVERIFY(c.clusterId().isEmpty());
    }

    // Another node changes the row while our transaction holds it: ours
    // loses certification. Not saved, told why, the typed value kept.
    void conflictWithAnotherNodeIsNotSaved()
    {
        auto n1 = node(1);
        n1->exec("CREATE OR REPLACE TABLE c (id INT PRIMARY KEY, v VARCHAR(10))");
        n1->exec("INSERT INTO c VALUES (1, 'a')");
        // Our write holds the row for a moment.
        n1->exec("CREATE TRIGGER c_slow BEFORE UPDATE ON c FOR EACH ROW SET @s = IF(NEW.v = 'ours', SLEEP(3), 0)");
        auto grid = openGrid(QStringLiteral("c"), through({nodeText(1), nodeText(2), nodeText(3)}));
        QCOMPARE(QString::fromUtf8(grid->connection.serverInUse()), nodeText(1));
        auto rival = node(2);
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            rival->exec("UPDATE c SET v = 'theirs' WHERE id = 1");
        });
        QVERIFY(grid->model.setData(grid->model.index(0, 1), QStringLiteral("ours")));
        QString told;
        try {
            grid->model.commitRow();
        } catch (const Failure &e) {
            QVERIFY2(e.isConflict(), qPrintable(e.description()));
            told = e.explanation();
        }
        other.join();
        QVERIFY2(told.contains(QStringLiteral("Another change to the same row won")), qPrintable(told));
        QVERIFY(grid->model.hasHeldRow());
        QCOMPARE(grid->cell(0, 1), QStringLiteral("ours"));
        QCOMPARE(scalarOn(*n1, "SELECT v FROM c"), QStringLiteral("theirs"));
    }

    // The node in use dies between edits: the next edit signs in to the
    // next node and is written there, once.
    void editAfterNodeDiedLandsOnceElsewhere()
    {
        node(1)->exec("CREATE OR REPLACE TABLE k (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10))");
        node(1)->exec("INSERT INTO k VALUES (1, 'a')");
        auto grid = openGrid(QStringLiteral("k"), through({nodeText(1), nodeText(2), nodeText(3)}));
        QCOMPARE(QString::fromUtf8(grid->connection.serverInUse()), nodeText(1));
        QVERIFY(killNode(1));
        const auto restart = qScopeGuard([] { startNode(1); });
        GridModel &m = grid->model;
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("after")));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        QCOMPARE(QString::fromUtf8(grid->connection.serverInUse()), nodeText(2));
        QVERIFY(m.setData(m.index(m.newRowLine(), 1), QStringLiteral("new")));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        auto n3 = node(3);
        n3->exec("SET SESSION wsrep_sync_wait = 1");
        QCOMPARE(scalarOn(*n3, "SELECT GROUP_CONCAT(v ORDER BY id) FROM k"), QStringLiteral("after,new"));
    }

    void nodeDiesWhileReplyIsOnItsWay_data()
    {
        QTest::addColumn<bool>("cut"); // else the statement is held back
        QTest::newRow("reply cut, then the node dies") << true;
        QTest::newRow("statement held, the node dies") << false;
    }
    // The write's reply is lost and its node dies: another node of the
    // cluster is asked once the dead one has left, and what it holds is
    // what the user is told.
    void nodeDiesWhileReplyIsOnItsWay()
    {
        QFETCH(bool, cut);
        const FaultProxy::Fault fault = cut ? FaultProxy::Fault::CutBeforeReply : FaultProxy::Fault::Stall;
        auto n3 = node(3);
        n3->exec("CREATE OR REPLACE TABLE r (id INT PRIMARY KEY, v VARCHAR(10))");
        n3->exec("INSERT INTO r VALUES (1, 'a')");
        // Node 2 (just back, for the second case) applies it a moment later.
        const auto rowsOn2 = [] {
            try {
                return scalarOn(*node(2), "SELECT COUNT(*) FROM r");
            } catch (const Failure &) {
                return QString(); // not there yet
            }
        };
        QTRY_COMPARE(rowsOn2(), QStringLiteral("1"));
        const quint16 port2 = galera().value(QStringLiteral("CORVANE_GALERA_PORT2")).toUShort();
        FaultProxy proxy(QStringLiteral("127.0.0.1"), port2);
        const QString viaProxy = QStringLiteral("127.0.0.1:%1").arg(proxy.port());
        auto grid = openGrid(QStringLiteral("r"), through({viaProxy, nodeText(3)}));
        QCOMPARE(QString::fromUtf8(grid->connection.serverInUse()), viaProxy);
        proxy.arm(fault, Commits, std::chrono::milliseconds(3000));
        proxy.setRefusing(true);
        bool killed = false;
        std::thread killer([&] {
            for (int i = 0; i < 100 && cut && !proxy.hasFired(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            killed = killNode(2);
        });
        const auto restart = qScopeGuard([] { startNode(2); });
        QVERIFY(grid->model.setData(grid->model.index(0, 1), QStringLiteral("b")));
        GridModel::Outcome outcome = GridModel::Outcome::Unknown;
        QString failure;
        try {
            outcome = grid->model.commitRow();
        } catch (const Failure &e) {
            failure = e.description();
        }
        killer.join();
        QVERIFY(killed);
        n3->exec("SET SESSION wsrep_sync_wait = 1");
        const QString held = scalarOn(*n3, "SELECT v FROM r");
        QVERIFY2(outcome != GridModel::Outcome::Unknown || !failure.isEmpty(), "told: could not tell");
        if (failure.isEmpty()) {
            QCOMPARE(outcome, GridModel::Outcome::Done);
            QCOMPARE(held, QStringLiteral("b"));
        } else {
            QVERIFY2(failure.contains(QStringLiteral("nothing was written")), qPrintable(failure));
            QCOMPARE(held, QStringLiteral("a"));
        }
        if (!cut)
            QCOMPARE(held, QStringLiteral("a"));
    }

    // A node cut off from the others answers every statement "not ready":
    // the edit is told as not written, its value stays, and the next try
    // goes to another node.
    void nodeCutOffIsLeftForAnother()
    {
        auto n1 = node(1);
        n1->exec("CREATE OR REPLACE TABLE i (id INT PRIMARY KEY, v VARCHAR(10))");
        n1->exec("INSERT INTO i VALUES (1, 'a')");
        auto grid = openGrid(QStringLiteral("i"), through({nodeText(1), nodeText(2), nodeText(3)}));
        GridModel &m = grid->model;
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("b")));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        const auto status = [&] {
            const std::unique_ptr<RowSet> r = n1->select("SHOW STATUS LIKE 'wsrep_local_state_comment'");
            const std::string_view v = r->rows().cell(0, 1).text();
            return QString::fromUtf8(v.data(), qsizetype(v.size()));
        };
        n1->exec("SET GLOBAL wsrep_provider_options = 'gmcast.isolate=1'");
        const auto back = qScopeGuard([&] {
            n1->exec("SET GLOBAL wsrep_provider_options = 'gmcast.isolate=0'");
            QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Synced"), 60000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(status() != QStringLiteral("Synced"), 20000);
        QVERIFY(m.setData(m.index(0, 1), QStringLiteral("c")));
        QString told;
        try {
            m.commitRow();
        } catch (const Failure &e) {
            QVERIFY2(e.isNodeNotReady(), qPrintable(e.description()));
            told = e.explanation();
        }
        QVERIFY2(told.contains(QStringLiteral("nothing of this change was written")), qPrintable(told));
        QCOMPARE(grid->cell(0, 1), QStringLiteral("c"));
        QCOMPARE(m.commitRow(), GridModel::Outcome::Done);
        QVERIFY(QString::fromUtf8(grid->connection.serverInUse()) != nodeText(1));
        auto n3 = node(3);
        n3->exec("SET SESSION wsrep_sync_wait = 1");
        QCOMPARE(scalarOn(*n3, "SELECT v FROM i"), QStringLiteral("c"));
    }
};

QTEST_GUILESS_MAIN(TestCluster)
#include "tst_cluster.moc"
