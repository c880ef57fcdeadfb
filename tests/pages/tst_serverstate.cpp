#include "EditorSession.h"
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowStatements.h"
#include "grid/GridModel.h"
#include "pages/TableSession.h"
#include "support/TestDb.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <thread>

namespace {

const QString Db = QStringLiteral("tst_serverstate");

} // namespace

// What the editor does with a server that takes no writes now, and with a
// write that loses against another session's change to the same row.
class TestServerState : public QObject, private EditorPages
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("the test server is not running");
        TestDb::create(Db);
        TestDb::run(Db, {"CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))", "INSERT INTO t VALUES (1, 'a')"});
    }

    // read_only on (a replica): the table opens read-only, says why, and
    // offers nothing that writes; off again, the next opening can write.
    void readOnlyServerOpensReadOnly()
    {
        auto admin = TestDb::admin();
        admin->exec("SET GLOBAL read_only = ON");
        auto back = qScopeGuard([&] { admin->exec("SET GLOBAL read_only = OFF"); });
        openTable(Db, QStringLiteral("t"));
        auto *note = editor()->findChild<QLabel *>(QStringLiteral("readOnlyNote"));
        QVERIFY(note);
        QVERIFY(note->isVisible());
        QVERIFY2(note->text().contains(QStringLiteral("read_only")), qPrintable(note->text()));
        QVERIFY(!editor()->PushButton5->isEnabled());
        QVERIFY(!editor()->PushButton2->isEnabled());
        QCOMPARE(model()->newRowLine(), -1);
        QVERIFY(!(model()->flags(model()->index(0, 1)) & Qt::ItemIsEditable));
        QCOMPARE(model()->rowCount(), 1);
        back.dismiss();
        admin->exec("SET GLOBAL read_only = OFF");
        openTable(Db, QStringLiteral("t"));
        note = editor()->findChild<QLabel *>(QStringLiteral("readOnlyNote"));
        QVERIFY(!note->isVisible());
        QVERIFY(editor()->PushButton5->isEnabled());
        QCOMPARE(model()->newRowLine(), 1);
    }

    // Grants are the server's to give: a user who may only read gets a
    // read-only table with its note; one who may change a single column
    // gets that column and no new rows, and a write of another column is
    // refused here, not sent.
    void rightsOfTheUser()
    {
        auto admin = TestDb::admin();
        const QByteArray table = "`" + Db.toUtf8() + "`.t";
        admin->exec("CREATE OR REPLACE USER 'looker'@'%' IDENTIFIED BY 'l'");
        admin->exec("GRANT SELECT ON " + table + " TO 'looker'@'%'");
        admin->exec("CREATE OR REPLACE USER 'fixer'@'%' IDENTIFIED BY 'f'");
        admin->exec("GRANT SELECT, UPDATE (v) ON " + table + " TO 'fixer'@'%'");
        const auto drop = qScopeGuard([&] { admin->exec("DROP USER 'looker'@'%', 'fixer'@'%'"); });
        ConnectionFields as = TestDb::fields(Db);
        as.user = QStringLiteral("looker");
        as.password = QStringLiteral("l");
        openTable(as, QStringLiteral("t"));
        auto *note = editor()->findChild<QLabel *>(QStringLiteral("readOnlyNote"));
        QVERIFY2(note->isVisible() && note->text().contains(QStringLiteral("no right to add or change rows of `t`")),
            qPrintable(note->text()));
        QVERIFY(!editor()->PushButton5->isEnabled());
        QCOMPARE(model()->newRowLine(), -1);

        as.user = QStringLiteral("fixer");
        as.password = QStringLiteral("f");
        openTable(as, QStringLiteral("t"));
        note = editor()->findChild<QLabel *>(QStringLiteral("readOnlyNote"));
        QVERIFY(!note->isVisible());
        QVERIFY(!editor()->PushButton5->isEnabled());
        QVERIFY(model()->flags(model()->index(0, 1)) & Qt::ItemIsEditable);
        QVERIFY(!(model()->flags(model()->index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(!(model()->flags(model()->index(model()->newRowLine(), 1)) & Qt::ItemIsEditable));
        const GridModel::Written refused = model()->commitRows({{0, {{0, CellValue::of("7")}}}});
        QCOMPARE(refused.written, 0);
        QVERIFY(refused.failure);
        QVERIFY2(refused.failure->description().contains(QStringLiteral("change the column `id`")),
            qPrintable(refused.failure->description()));
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("b")));
        QVERIFY(editor()->session().commitHeldRow());
        QCOMPARE(TestDb::rows(Db, "SELECT id, v FROM t"), QStringList{QStringLiteral("1|b")});
    }

    // Another session holds the row until ours gives up waiting: not
    // saved, told that another change won, and the typed value stays.
    void writeThatLosesIsNotSavedAndKept()
    {
        auto admin = TestDb::admin();
        admin->exec("SET GLOBAL innodb_lock_wait_timeout = 1");
        const auto back = qScopeGuard([&] { admin->exec("SET GLOBAL innodb_lock_wait_timeout = 50"); });
        openTable(Db, QStringLiteral("t"));
        auto rival = TestDb::admin(Db);
        rival->exec("START TRANSACTION");
        rival->exec("UPDATE t SET v = 'theirs' WHERE id = 1");
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("ours")));
        m_desktop.boxes.clear();
        QVERIFY(!editor()->session().commitHeldRow());
        rival->exec("COMMIT");
        QCOMPARE(m_desktop.boxes.size(), 1);
        const QString told = m_desktop.boxes.front().text;
        QVERIFY2(told.contains(QStringLiteral("The row was not saved")), qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("Another change to the same row won")), qPrintable(told));
        QVERIFY(model()->hasHeldRow());
        QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("ours"));
        QCOMPARE(TestDb::scalar(Db, "SELECT v FROM t"), QStringLiteral("theirs"));
        model()->revertRow();
    }
};

QTEST_MAIN(TestServerState)
#include "tst_serverstate.moc"
