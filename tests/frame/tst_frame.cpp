#include "core/Wait.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/SettingsStore.h"
#include "frame/Trap.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QFile::remove(SettingsStore::fileName());
    }

    void appTitle_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("product name loses its last word") << "Corvane Editor Software" << "Corvane Editor";
        QTest::newRow("long name cut to 40") << "One Two Three Four Five Six Seven Eight Nine Ten"
                                             << "One Two Three Four Five Six Seven Eight";
        QTest::newRow("one word") << "Corvane" << "Corvane";
    }
    void appTitle()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(Main::shortenedTitle(name), title);
        QVERIFY(Main::shortenedTitle(name).size() <= 40);
    }

    void reportTextHasFourLinesExactly()
    {
        const QString text = applicationErrorText(QStringLiteral("Boom"), QLatin1String(Location::Form1_Form_Load), 136);
        QCOMPARE(text, QStringLiteral("Boom\r\nin Corvane2020/08/02.Form1.Form_Load at line 136\r\r"
                                      "Please email screenshot of this message to ")
                     + QLatin1String(Location::SupportAddress));
    }

    void trapReportsEachFailingStepAndGoesOn()
    {
        FakeDesktop desktop;
        Trap trap(desktop, nullptr, QLatin1String(Location::Form3_mnuXLS_Click));
        QStringList ran;
        trap.step(100, [&] { throw Failure(QStringLiteral("first")); });
        trap.step(102, [&] { ran << "102"; });
        trap.step(104, [&] { throw Failure(QStringLiteral("second"), Failure::NoSuchTable); });
        trap.step(106, [&] { ran << "106"; });
        QCOMPARE(ran, QStringList({"102", "106"}));
        QCOMPARE(desktop.boxes.size(), 2);
        QCOMPARE(desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QCOMPARE(desktop.boxes[0].icon, Desktop::Icon::Warning);
        QCOMPARE(desktop.boxes[0].buttons, Desktop::Buttons::Ok);
        QVERIFY(desktop.boxes[0].text.startsWith("first\r\nin Corvane.Form3.mnuXLS_Click at line 100\r\r"));
        QVERIFY(desktop.boxes[1].text.startsWith("second\r\nin Corvane.Form3.mnuXLS_Click at line 104\r\r"));
    }

    void failingDecisionRunsGuardedSteps()
    {
        FakeDesktop desktop;
        Trap trap(desktop, nullptr, QStringLiteral("in X.Y "));
        bool guarded = false;
        if (trap.test(110, []() -> bool { throw std::runtime_error("cannot decide"); }))
            guarded = true;
        QVERIFY(guarded);
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY(desktop.boxes[0].text.startsWith("cannot decide\r\nin X.Y at line 110"));
    }

    void failingLoopReportsOnce()
    {
        FakeDesktop desktop;
        Trap trap(desktop, nullptr, QStringLiteral("in X.Y "));
        int rounds = 0;
        for (int i = 0; i < 1000; ++i) {
            ++rounds;
            if (!trap.step(120, [] { throw Failure(QStringLiteral("read failed")); }))
                break;
        }
        QCOMPARE(rounds, 1);
        QCOMPARE(desktop.boxes.size(), 1);
    }

    void settingsDefaultsAndRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "db1";
        QTest::newRow("blanks kept") << "  spaced  ";
        QTest::newRow("odbc specials") << "p;w}d{x=\"y\",z";
        QTest::newRow("non-ascii") << QStringLiteral("pässwörd-数据-🙂");
        QTest::newRow("variant-looking") << "@Variant(junk)";
        QTest::newRow("empty") << "";
    }
    void settingsDefaultsAndRoundTrip()
    {
        QFETCH(QString, value);
        QCOMPARE(SettingsStore::read("MyPassword", "dflt"), QStringLiteral("dflt"));
        SettingsStore::write("MyPassword", value);
        QCOMPARE(SettingsStore::read("MyPassword", "dflt"), value);
    }

    void settingsFileIsPrivateAndInItsPlace()
    {
        SettingsStore::write("MyServer", "localhost");
        const QString file = SettingsStore::fileName();
        QCOMPARE(file, qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quillmark.ini");
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        SettingsStore::write("MyUser", "someone"); // rewrites keep the mode
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray ini = f.readAll();
        QVERIFY(ini.contains("[Corvane%20Editor%20Software]"));
        QVERIFY(ini.contains("MyUser=someone"));
    }

    void fileExistsAndCursor()
    {
        QTemporaryDir dir;
        QVERIFY(!Main::FileExists(dir.path() + "/HAND-M.CUR"));
        QVERIFY(!Main::FileExists(dir.path())); // a folder is not a file
        const QString cur = qEnvironmentVariable("CORVANE_SOURCE_DIR") + "/resources/HAND-M.CUR";
        QVERIFY(Main::FileExists(cur));
        const QCursor c = Main::loadCursor(cur);
        QVERIFY(!c.pixmap().isNull());
        QVERIFY(c.hotSpot().x() >= 0 && c.hotSpot().x() < 32);
        QVERIFY_THROWS_EXCEPTION(Failure, Main::loadCursor(dir.path() + "/none.cur"));
    }

    void skinOnlyWhenFilePresent()
    {
        QTemporaryDir dir;
        Main::setProgramFolder(dir.path());
        QWidget page;
        auto *label = new QLabel("x", &page);
        Main::setBackgrounds(&page, Qt::white);
        QVERIFY(!Main::ApplySkin(&page));
        QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::white));
        QDir(dir.path()).mkpath("x");
        QFile skin(dir.path() + "/x/o.cjs");
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QPushButton { font-weight: bold; }");
        skin.close();
        QVERIFY(Main::ApplySkin(&page));
        QCOMPARE(label->palette().color(QPalette::Window), Main::standardColour());
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QPushButton { font-weight: bold; }"));
        qApp->setStyleSheet(QString());
        Main::setProgramFolder(QString());
    }

    // An installed program lives in PREFIX/bin with its files in
    // PREFIX/share/corvane-editor; a build keeps them beside the program.
    void optionalFilesBesideTheProgramElseInTheDataFolder()
    {
        QTemporaryDir prefix;
        const QString bin = prefix.filePath("bin"), data = prefix.filePath("share/corvane-editor");
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(data + "/x"));
        Main::setProgramFolder(bin);
        QCOMPARE(Main::handCursorPath(), bin + "/HAND-M.CUR"); // neither: the usual place
        QVERIFY(!Main::FileExists(Main::handCursorPath()));

        const QString cur = qEnvironmentVariable("CORVANE_SOURCE_DIR") + "/resources/HAND-M.CUR";
        QVERIFY(QFile::copy(cur, data + "/HAND-M.CUR"));
        QFile skin(data + "/x/o.cjs");
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QLabel { color: navy; }");
        skin.close();
        QCOMPARE(Main::handCursorPath(), data + "/HAND-M.CUR");
        QVERIFY(!Main::loadCursor(Main::handCursorPath()).pixmap().isNull());
        QWidget page;
        QVERIFY(Main::ApplySkin(&page));
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: navy; }"));
        qApp->setStyleSheet(QString());

        QVERIFY(QFile::copy(cur, bin + "/HAND-M.CUR")); // beside the program wins
        QCOMPARE(Main::handCursorPath(), bin + "/HAND-M.CUR");
        Main::setProgramFolder(QString());
    }

    void hoverNeverOverridesBusy()
    {
        QWidget page;
        auto *button = new QPushButton("b", &page);
        auto *label = new QLabel("l", &page);
        PagePointer pointer(&page);
        pointer.setCustomCursor(QCursor(Qt::PointingHandCursor));
        pointer.watchButton(button);
        pointer.watchArea(label);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(button, &enter);
        QCOMPARE(pointer.state(), PagePointer::State::Custom);
        QCOMPARE(page.cursor().shape(), Qt::PointingHandCursor);
        QApplication::sendEvent(label, &enter);
        QCOMPARE(pointer.state(), PagePointer::State::Default);
        pointer.setState(PagePointer::State::Busy);
        QApplication::sendEvent(button, &enter);
        QCOMPARE(pointer.state(), PagePointer::State::Busy);
        QCOMPARE(page.cursor().shape(), Qt::WaitCursor);
    }

    // A worker's wake comes whenever it ends: during the wait it ends the
    // wait at once (the tick is far too slow to); before run() or after the
    // wait is gone it must not reach a dead wait.
    void aWorkersWakeEndsTheWaitAndMayOutliveIt()
    {
        std::function<void()> wake;
        std::atomic<bool> done{false};
        std::thread worker;
        {
            Wait early;
            early.waker()(); // posted, then dropped with the wait
        }
        {
            Wait wait;
            wake = wait.waker();
            wait.until([&] { return done.load(); }).every(600000).timeout(60000);
            worker = std::thread([&done, wake] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                done = true;
                wake();
            });
            QCOMPARE(wait.run(), Wait::Result::Done);
            worker.join();
            wake();
        }
        wake();
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestFrame)
#include "tst_frame.moc"
