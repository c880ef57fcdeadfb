#include "EditorSession.h"
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"
#include "db/RowStore.h"
#include "frame/HeldInput.h"
#include "frame/Main.h"
#include "grid/GridModel.h"
#include "grid/GridView.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/TestDb.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <thread>

namespace {

const QString Db = QStringLiteral("tst_gridscale");
constexpr int SlowMs = 5000;

} // namespace

// The pages with what is large or slow: a cell of many megabytes, a table
// whose rows are slow to come, a list fill with buttons pressed during it.
class TestGridScale : public QObject, private EditorPages
{
    Q_OBJECT

    void signIn()
    {
        m_wizard = signedInWizard(m_desktop, Db);
    }

    void pick(const QString &table)
    {
        pickTable(*m_wizard, table);
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
        // Room for a row of a 17 MB cell both ways.
        TestDb::admin()->exec("SET GLOBAL max_allowed_packet = 67108864");
        TestDb::run(Db, {"CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20))",
                         "INSERT INTO t SELECT seq, CONCAT('v', seq) FROM seq_1_to_1000",
                         QStringLiteral("CREATE VIEW slow AS SELECT id, v FROM t WHERE id <= 3 AND SLEEP(IF(id = 1, %1, 0)) = 0")
                             .arg(SlowMs / 1000)});
    }

    void cleanup()
    {
        m_wizard.reset();
        m_desktop.clear();
    }

    void cellOfSeventeenMegabytesShowsEditsAndSavesExactly()
    {
        // 1,800,000 times ten bytes, two of them one character.
        TestDb::run(Db, {"CREATE OR REPLACE TABLE big (id INT PRIMARY KEY, note LONGTEXT)",
                         "INSERT INTO big VALUES (1, REPEAT('abcdefgh\u00e9', 1800000)), (2, 'small')"});
        signIn();
        pick(QStringLiteral("big"));
        picker()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        const QModelIndex at = model()->index(0, 1);
        const QString shown = at.data(Qt::DisplayRole).toString();
        QVERIFY(shown.size() <= 4001);
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(shown.startsWith(QStringLiteral("abcdefgh\u00e9abc")));
        QVERIFY(model()->flags(at) & Qt::ItemIsEditable);
        editor()->DataGrid1->viewport()->repaint(); // paints the cut text
        const QString full = at.data(Qt::EditRole).toString();
        QCOMPARE(full.size(), qsizetype(9 * 1800000));

        const QString changed = full + QStringLiteral("\u00e9nd");
        QVERIFY(model()->setData(at, changed));
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        const QByteArray md5 = QCryptographicHash::hash(changed.toUtf8(), QCryptographicHash::Md5).toHex();
        QCOMPARE(TestDb::scalar(Db, "SELECT MD5(note) FROM big WHERE id = 1"), QString::fromLatin1(md5));
        QCOMPARE(model()->index(0, 1).data(Qt::EditRole).toString(), changed);
        QCOMPARE(model()->index(1, 1).data(Qt::DisplayRole).toString(), QStringLiteral("small"));
    }

    // Memory running out during the load: the user is told how far it
    // came, the rows read stay, and an edit held in them is written.
    void outOfMemoryDuringTheLoadIsToldAndEditsSurvive()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE many_rows (id INT PRIMARY KEY, v VARCHAR(60))",
                         "INSERT INTO many_rows SELECT seq, CONCAT('value ', seq, ' ', MD5(seq)) FROM seq_1_to_300000",
                         "ANALYZE TABLE many_rows"});
        signIn();
        pick(QStringLiteral("many_rows"));
        // The limit counts every row store's blocks, the small results read
        // after connecting (character set, keys) too: leave room for those
        // and for part of the table, but not for all of its ~16 MB.
        RowStore::setAllocationLimitForTesting(8 << 20);
        picker()->PushButton3_Click();
        QVERIFY(model()->rowSet());
        // Row 0 is the new-row line until the first rows arrive.
        QTRY_VERIFY(model()->exportSource().rowCount() > 0);
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("kept")));
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isLoading(), 20000);
        RowStore::setAllocationLimitForTesting(-1);
        QCOMPARE(m_desktop.boxes.size(), qsizetype(1));
        const QString told = m_desktop.texts().constFirst();
        const qint64 read = model()->rowSet()->recordCount();
        QVERIFY2(read > 0 && read < 300000, qPrintable(QString::number(read)));
        QVERIFY2(told.contains(QStringLiteral("Out of memory: %1 of about ").arg(read)), qPrintable(told));
        QVERIFY(editor()->isVisible());
        QVERIFY(model()->hasHeldRow());
        QCOMPARE(model()->commitRow(), GridModel::Outcome::Done);
        QCOMPARE(TestDb::scalar(Db, "SELECT v FROM many_rows WHERE id = 1"), QStringLiteral("kept"));
    }

    // "< Back" while the picker waits for a slow table returns at once and
    // gives the wait up; the picker is usable again.
    void backDuringASlowOpenReturnsAtOnce()
    {
        signIn();
        pick(QStringLiteral("slow"));
        int beats = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
        heartbeat.start(5);
        QTimer::singleShot(800, editor()->PushButton1, &QPushButton::click);
        QElapsedTimer clock;
        clock.start();
        picker()->PushButton3_Click();
        QTest::qWait(1000); // the press, had the table come at once
        QVERIFY2(clock.elapsed() < SlowMs, "the window waited for the server");
        QVERIFY(beats > 0);
        QVERIFY(picker()->isVisible());
        QVERIFY(!editor()->isVisible());
        QCOMPARE(m_desktop.texts(), QStringList());
        // Another table opens at once after.
        pick(QStringLiteral("t"));
        picker()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        QCOMPARE(model()->rowSet()->recordCount(), qint64(1000));
        QVERIFY2(clock.elapsed() < SlowMs, "opening the next table waited for the slow one");
    }

    // Rows that arrive below the screen repaint nothing at once, but the
    // scroll bar catches up with them, the row header paints again, and the
    // end of the table can be scrolled to; rows that arrive on screen show.
    void rowsArrivingBelowTheScreenCanBeReached()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE long_rows (id INT PRIMARY KEY, v VARCHAR(20))",
                         "INSERT INTO long_rows SELECT seq, CONCAT('r', seq) FROM seq_1_to_200000"});
        signIn();
        pick(QStringLiteral("long_rows"));
        picker()->PushButton3_Click();
        GridView *view = editor()->DataGrid1;
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        const int rows = model()->rowCount(QModelIndex()); // and the new-row line
        QCOMPARE(rows, 200001);
        QCOMPARE(view->verticalHeader()->count(), rows);
        QVERIFY(view->verticalHeader()->viewport()->updatesEnabled());
        // The first rows arrived on screen.
        const QRect screen = view->viewport()->rect();
        QVERIFY(screen.intersects(view->visualRect(view->model()->index(0, 0))));
        QScrollBar *bar = view->verticalScrollBar();
        QTRY_VERIFY2(bar->maximum() > rows - 100, qPrintable(QString::number(bar->maximum())));
        bar->setValue(bar->maximum());
        QVERIFY(screen.intersects(view->visualRect(view->model()->index(rows - 1, 0))));
        QCOMPARE(view->model()->index(rows - 2, 1).data().toString(), QStringLiteral("r200000"));
    }

    // A slow start shows a dialog whose Cancel gives the table up.
    void cancelOfTheWaitDialogGivesTheTableUp()
    {
        signIn();
        pick(QStringLiteral("slow"));
        bool sawDialog = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *d = qobject_cast<QProgressDialog *>(w);
                if (d && d->objectName() == QStringLiteral("OpenProgress") && d->isVisible()) {
                    sawDialog = true;
                    d->cancel();
                }
            }
        });
        poll.start(50);
        QElapsedTimer clock;
        clock.start();
        picker()->PushButton3_Click();
        poll.stop();
        QVERIFY2(clock.elapsed() < SlowMs, "the wait was not given up");
        QVERIFY(sawDialog);
        QVERIFY(picker()->isVisible());
        QVERIFY(!editor()->isVisible());
        QCOMPARE(m_desktop.texts(), QStringList());
    }

    // A server that does not answer a sign-in or a table's connect: the
    // window keeps handling events, the wait dialog's Cancel gives up at
    // once, and the page stays where it was.
    void slowConnectsCanBeGivenUp()
    {
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        m_wizard = signedInWizard(m_desktop, Db, QString::number(proxy.port()));
        Form1 *signInPage = m_wizard->form1();
        // The stored values may have signed in at start, straight to the server.
        if (m_wizard->hasForm2())
            picker()->hide();
        signInPage->show();
        int beats = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
        heartbeat.start(5);
        int cancelled = 0;
        QStringList titles;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *d = qobject_cast<QProgressDialog *>(w);
                if (d && d->objectName() == QStringLiteral("OpenProgress") && d->isVisible() && !d->wasCanceled()) {
                    titles << d->windowTitle();
                    ++cancelled;
                    d->cancel();
                }
            }
        });
        poll.start(50);
        const auto stall = std::chrono::milliseconds(SlowMs + 3000);

        proxy.stallAll(stall);
        QElapsedTimer clock;
        clock.start();
        signInPage->PushButton3_Click();
        QVERIFY2(clock.elapsed() < SlowMs, "the sign-in was not given up");
        QCOMPARE(cancelled, 1);
        QVERIFY2(titles.last().startsWith(QStringLiteral("Connecting to ")), qPrintable(titles.last()));
        QVERIFY(beats > 20);
        QVERIFY(signInPage->isVisible());
        QVERIFY(!m_wizard->hasForm2() || !picker()->isVisible());
        QCOMPARE(m_desktop.texts(), QStringList());

        // Once the server answers, the same press signs in.
        proxy.stallAll(std::chrono::milliseconds(0));
        signInPage->PushButton3_Click();
        QVERIFY(picker()->isVisible());
        pick(QStringLiteral("t"));
        proxy.stallAll(stall);
        clock.restart();
        picker()->PushButton3_Click();
        QVERIFY2(clock.elapsed() < SlowMs, "the table's connect was not given up");
        QCOMPARE(cancelled, 2);
        // The picker's connection is the sign-in's: what waits is the
        // table's own reader.
        QCOMPARE(titles.last(), QStringLiteral("Opening t"));
        QVERIFY(picker()->isVisible());
        QVERIFY(!m_wizard->hasForm3() || !editor()->isVisible());
        QCOMPARE(m_desktop.texts(), QStringList());
    }

    // A row write the server is slow to answer: the window keeps painting,
    // says after a moment who it waits for, and takes no input meanwhile; the
    // row is then saved as usual.
    void aSlowWriteKeepsTheWindowAlive()
    {
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        m_wizard = signedInWizard(m_desktop, Db, QString::number(proxy.port()));
        m_wizard->form1()->PushButton3_Click();
        pick(QStringLiteral("t"));
        picker()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        view()->setCurrentIndex(model()->index(0, 1));
        QVERIFY(model()->setData(model()->index(0, 1), QStringLiteral("slow")));

        int beats = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
        heartbeat.start(5);
        QString said;
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QProgressDialog *>(w); d && d->objectName() == QStringLiteral("ServerWait") && d->isVisible())
                    said = d->labelText();
        });
        look.start(50);
        // Keys pressed during the wait would move to another row, which
        // commits and writes again.
        QTimer::singleShot(100, [&] { QTest::keyClick(view(), Qt::Key_Down); });

        proxy.arm(
            FaultProxy::Fault::Stall, QStringLiteral("^(BEGIN NOT ATOMIC .*)?UPDATE"), std::chrono::milliseconds(1500));
        QVERIFY(editor()->session().commitHeldRow());
        QVERIFY(proxy.hasFired());
        QVERIFY2(beats > 20, qPrintable(QString::number(beats)));
        QCOMPARE(said, QStringLiteral("Waiting for the server at %1").arg(TestDb::host()));
        QCOMPARE(view()->currentIndex().row(), 0);
        QCOMPARE(TestDb::scalar(Db, "SELECT v FROM t WHERE id = 1"), QStringLiteral("slow"));
        QCOMPARE(m_desktop.texts(), QStringList());
        QTRY_VERIFY(said.isEmpty() || [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("ServerWait") && w->isVisible())
                    return false;
            return true;
        }());
        TestDb::run(Db, {"UPDATE t SET v = 'v1' WHERE id = 1"});
    }

    // During such a wait, input reaches only windows that let it through
    // (a long job's progress window, whose Cancel stops between steps).
    void aWaitHoldsInputBackButFromProgressWindows()
    {
        QWidget page;
        auto *edit = new QLineEdit(&page);
        page.show();
        QWidget progress;
        auto *cancel = new QPushButton(QStringLiteral("Cancel"), &progress);
        letInputThroughWhileHolding(&progress);
        progress.show();
        int cancelled = 0;
        connect(cancel, &QPushButton::clicked, [&] { ++cancelled; });
        bool during = false;
        QTimer::singleShot(100, [&] {
            during = isHoldingInput();
            QTest::keyClicks(edit, QStringLiteral("typed"));
            QTest::mouseClick(cancel, Qt::LeftButton);
        });
        // A message opened by something that runs during the wait can be
        // answered: otherwise the wait would never end.
        bool answered = false;
        bool forced = false;
        QTimer::singleShot(150, [&] {
            QDialog box(&page);
            auto *ok = new QPushButton(QStringLiteral("OK"), &box);
            connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
            QTimer::singleShot(100, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
            QTimer::singleShot(5000, &box, [&] {
                forced = true;
                box.hide(); // ends exec() without a close the hold could keep back
            });
            answered = box.exec() == QDialog::Accepted;
        });
        runHoldingInput(&page, QStringLiteral("here"), [] { std::this_thread::sleep_for(std::chrono::milliseconds(600)); });
        QVERIFY(answered);
        QVERIFY(!forced);
        QVERIFY(during);
        QVERIFY(!isHoldingInput());
        QCOMPARE(edit->text(), QString());
        QCOMPARE(cancelled, 1);
        // What the work throws reaches the caller.
        try {
            runHoldingInput(
                &page, QStringLiteral("here"), [] { throw Failure(QStringLiteral("gone"), Failure::ServerLost); });
            QFAIL("no failure");
        } catch (const Failure &f) {
            QCOMPARE(f.number(), long(Failure::ServerLost));
        }
    }

    // Rows of a running load that come while an added row waits for the
    // server: the added row goes after them, where the store puts it.
    void anAddedRowGoesAfterRowsThatCameDuringItsWrite()
    {
        TestDb::run(Db, {"CREATE OR REPLACE TABLE grow (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20))",
                         "INSERT INTO grow (v) SELECT CONCAT('v', seq) FROM seq_1_to_300000"});
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        m_wizard = signedInWizard(m_desktop, Db, QString::number(proxy.port()));
        m_wizard->form1()->PushButton3_Click();
        pick(QStringLiteral("grow"));
        // The load's first rows hold it back a little, so the write starts
        // before it ends.
        proxy.arm(FaultProxy::Fault::Stall, QStringLiteral("^(BEGIN NOT ATOMIC .*)?SELECT \\* FROM `grow`"),
            std::chrono::milliseconds(300));
        picker()->PushButton3_Click();
        QTRY_VERIFY(model()->exportSource().rowCount() > 0);
        QVERIFY(model()->isLoading());
        const qint64 before = model()->rowSet()->recordCount();
        QSignalSpy written(model(), &GridModel::rowWritten);
        proxy.arm(
            FaultProxy::Fault::Stall, QStringLiteral("^(BEGIN NOT ATOMIC .*)?INSERT"), std::chrono::milliseconds(1500));
        QCOMPARE(model()->insertValues({CellValue::null(), CellValue::of("added")}), GridModel::Outcome::Done);
        QVERIFY(proxy.hasFired());
        const qint64 after = model()->rowSet()->recordCount();
        QVERIFY2(after > before + 1, "no rows came during the write");
        QCOMPARE(written.count(), 1);
        const int row = written.first().at(2).toInt();
        QCOMPARE(row, int(after - 1));
        QCOMPARE(model()->index(row, 1).data().toString(), QStringLiteral("added"));
        QCOMPARE(model()->rowCount({}), int(after + 1)); // and the new-row line
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isLoading(), 20000);
    }

    void badTableNameIsReportedAtItsLine()
    {
        signIn();
        pick(QStringLiteral("no such"));
        picker()->PushButton3_Click();
        QCOMPARE(m_desktop.boxes.size(), qsizetype(1));
        QVERIFY2(m_desktop.texts().constFirst().contains(QStringLiteral("at line 122")), qPrintable(m_desktop.texts().join('\n')));
    }

    // Buttons pressed while the list fills (it lets events run after each
    // table) neither open a table nor start a second fill.
    void pressesDuringTheListFillAreIgnored()
    {
        QStringList create;
        for (int i = 1; i <= 40; ++i)
            create << QStringLiteral("CREATE OR REPLACE TABLE l%1 (id INT)").arg(i);
        TestDb::run(Db, create);
        const int tables = TestDb::scalar(Db, "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()").toInt();
        signIn();
        int presses = 0;
        QTimer presser;
        connect(&presser, &QTimer::timeout, [&] {
            ++presses;
            picker()->PushButton3->click();
            picker()->PushButton4->click();
        });
        presser.start(0);
        m_wizard->form1()->PushButton3_Click();
        presser.stop();
        QVERIFY(presses > 0);
        QCOMPARE(m_desktop.texts(), QStringList());
        QCOMPARE(picker()->List1->count(), tables);
        QSet<QString> names;
        for (int i = 0; i < picker()->List1->count(); ++i)
            names << picker()->List1->item(i)->text();
        QCOMPARE(names.size(), tables);
        QVERIFY(!editor()->isVisible());
    }

    // The table left while its re-read waits for the server: the user's Back
    // is held back; left and another table opened meanwhile by calls that are
    // not input, the re-read is given up, and its rows outlive its wait.
    void leavingTheTableDuringAStalledRereadIsSafe()
    {
        FaultProxy proxy(TestDb::host(), TestDb::port().toUShort());
        m_wizard = signedInWizard(m_desktop, Db, QString::number(proxy.port()));
        m_wizard->form1()->PushButton3_Click();
        pick(QStringLiteral("t"));
        picker()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        const RowSet *before = model()->rowSet();
        // Ends a wait that nothing else would end, as quitting the program does.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        watchdog.start(15000);
        bool backHeld = false;
        QTimer during;
        connect(&during, &QTimer::timeout, [&] {
            if (!proxy.hasFired() || !during.isActive())
                return;
            during.stop();
            QTest::mouseClick(editor()->PushButton1, Qt::LeftButton);
            backHeld = editor()->isVisible() && !picker()->isVisible();
            // Calls of the program's own are not held.
            editor()->PushButton1_Click();
            pick(QStringLiteral("t"));
            picker()->PushButton3_Click();
        });
        during.start(10);
        proxy.arm(FaultProxy::Fault::Stall, QStringLiteral("^(BEGIN NOT ATOMIC .*)?SELECT \\* FROM `t`"),
            std::chrono::milliseconds(2000));
        editor()->requeryGrid();
        watchdog.stop();
        QVERIFY(proxy.hasFired());
        QVERIFY(backHeld);
        QVERIFY(editor()->isVisible());
        QVERIFY(!picker()->isVisible());
        QVERIFY(model()->rowSet() && model()->rowSet() != before);
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        QCOMPARE(model()->rowSet()->recordCount(), qint64(1000));
        QCOMPARE(m_desktop.texts(), QStringList());

        // The wait dialog's Cancel gets through the hold and gives the re-read up.
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("OpenProgress") && w->isVisible())
                    QTest::mouseClick(w->findChild<QPushButton *>(), Qt::LeftButton);
        });
        cancel.start(50);
        proxy.arm(FaultProxy::Fault::Stall, QStringLiteral("^(BEGIN NOT ATOMIC .*)?SELECT \\* FROM `t`"),
            std::chrono::milliseconds(4000));
        QElapsedTimer clock;
        clock.start();
        editor()->requeryGrid();
        QVERIFY2(clock.elapsed() < 3000, "the wait was not given up");
        QCOMPARE(model()->rowSet()->state(), 0);
        editor()->PushButton3_Click();
        QVERIFY(!editor()->isVisible());
    }
};

QTEST_MAIN(TestGridScale)
#include "tst_gridscale.moc"
