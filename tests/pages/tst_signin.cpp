#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/SettingsStore.h"
#include "grid/GridModel.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/Modal.h"
#include "support/SignIn.h"
#include "support/TestDb.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

namespace {

const char *Db = "tst_signin";
const char *EmptyDb = "tst_signin_empty";

QStringList listEntries(QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

class TestSignIn : public QObject
{
    Q_OBJECT

    FakeDesktop desktop;
    std::unique_ptr<Wizard> wizard;

    Wizard &start()
    {
        Services services;
        services.desktop = &desktop;
        wizard = std::make_unique<Wizard>(services);
        wizard->start();
        return *wizard;
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("the test server is not running");
        TestDb::create(Db);
        TestDb::create(EmptyDb);
        // Created out of order: the list shows the server's order.
        TestDb::run(Db, {"CREATE TABLE orders (id INT PRIMARY KEY, total DECIMAL(10,2))",
                         "CREATE TABLE `Customers` (id INT)", "CREATE TABLE archive_2020 (x INT)",
                         "CREATE TABLE `we``ird` (x INT)", "INSERT INTO orders VALUES (1, 10472.90), (2, NULL)"});
    }

    void init()
    {
        QFile::remove(SettingsStore::fileName());
        desktop.clear();
    }

    void cleanup()
    {
        wizard.reset();
    }

    void firstStartWithEmptyStore()
    {
        Wizard &w = start();
        Form1 *f = w.form1();
        QCOMPARE(f->Text1->text(), QStringLiteral("localhost"));
        QCOMPARE(f->Text2->text(), QString());
        QCOMPARE(f->Text3->text(), QString());
        QCOMPARE(f->Text4->text(), QString());
        QCOMPARE(f->Text5->text(), QStringLiteral("3306"));
        QVERIFY(f->isVisible());
        QVERIFY(!w.hasForm2());
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(SettingsStore::read("MyServer", "?"), QStringLiteral("localhost"));
        QCOMPARE(SettingsStore::read("MyPort", "?"), QStringLiteral("3306"));
        QCOMPARE(SettingsStore::read("MyUser", "?"), QStringLiteral("?"));
        QCOMPARE(f->windowTitle(), QStringLiteral("Corvane Editor Software"));
        QCOMPARE(Main::appTitle(), QStringLiteral("Corvane Editor"));
    }

    void pageControlsKeyboardAndReaders()
    {
        Form1 *f = start().form1();
        QCOMPARE(f->Frame1->title(), QStringLiteral("MySQL Login"));
        const QList<QPair<QLabel *, QLineEdit *>> pairs{{f->Label2, f->Text1}, {f->Label9, f->Text5}, {f->Label1, f->Text2},
                                                        {f->Label4, f->Text3}, {f->Label3, f->Text4}};
        const QStringList captions{"Server:", "Port:", "Username:", "Password:", "Database:"};
        for (int i = 0; i < pairs.size(); ++i) {
            QCOMPARE(pairs[i].first->text(), captions[i]);
            QCOMPARE(pairs[i].first->buddy(), pairs[i].second);
            QVERIFY(!pairs[i].second->accessibleName().isEmpty());
        }
        QCOMPARE(f->Text3->echoMode(), QLineEdit::Password);
        QCOMPARE(f->PushButton5->text(), QStringLiteral("Test Connection"));
        QCOMPARE(f->PushButton2->text(), QStringLiteral("Help"));
        QCOMPARE(f->PushButton3->text(), QStringLiteral("Next >"));
        // Focus order.
        const QList<QWidget *> order{f->Text1, f->Text5, f->Text2, f->Text3, f->Text4, f->PushButton5, f->PushButton2, f->PushButton3};
        for (int i = 0; i + 1 < order.size(); ++i) {
            QWidget *next = order[i]->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i + 1]);
        }
    }

    void typingStoresEveryChangeAndFocusSelectsAll()
    {
        Form1 *f = start().form1();
        f->activateWindow();
        f->Text4->setFocus();
        QTest::keyClicks(f->Text4, "db1");
        QCOMPARE(SettingsStore::read("MyDatabase", "?"), QStringLiteral("db1"));
        f->Text4->clear();
        QCOMPARE(SettingsStore::read("MyDatabase", "?"), QString());
        QTest::keyClicks(f->Text3, "s;c}");
        f->Text3->insert(QStringLiteral("rét"));
        QCOMPARE(SettingsStore::read("MyPassword", "?"), QStringLiteral("s;c}rét"));
        QVERIFY(!f->Text3->displayText().contains(QLatin1Char('s')));
        f->Text1->setFocus();
        QTRY_COMPARE(f->Text1->selectedText(), QStringLiteral("localhost"));
    }

    void automaticSignInShowsThePicker()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        QVERIFY(w.hasForm2());
        QVERIFY(w.form2()->isVisible());
        QVERIFY(!w.form1()->isVisible());
        QVERIFY(desktop.boxes.isEmpty());
        const QStringList expected = TestDb::rows(Db, "SHOW TABLES;");
        QCOMPARE(listEntries(w.form2()->List1), expected);
        QCOMPARE(w.form2()->List1->currentRow(), 0);
        QCOMPARE(w.form2()->List1->selectedItems().size(), 1);
        QCOMPARE(w.form2()->windowTitle(), QStringLiteral("Corvane Editor Software"));
    }

    void wrongStoredPasswordIsSilent()
    {
        ConnectionFields f = TestDb::fields(Db);
        f.password = "wrong";
        storeSignIn(f);
        Wizard &w = start();
        QVERIFY(w.form1()->isVisible());
        QVERIFY(!w.hasForm2());
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(w.form1()->Text3->text(), QStringLiteral("wrong"));
        // "Next >" with the wrong password: nothing shown, page unchanged.
        w.form1()->PushButton3->click();
        QVERIFY(desktop.boxes.isEmpty());
        QVERIFY(w.form1()->isVisible());
        QCOMPARE(w.form1()->pointer().state(), PagePointer::State::Default);
    }

    void testConnectionMessages()
    {
        ConnectionFields f = TestDb::fields(Db);
        f.password = "wrong";
        storeSignIn(f);
        Form1 *page = start().form1();
        page->PushButton5->click();
        QCOMPARE(desktop.boxes.size(), 1);
        QCOMPARE(desktop.boxes[0].text,
                 QStringLiteral("Could not connect. Please check with your administrator. Make sure you are allowed to connect to your database remotely and not just through web-based control panels."));
        QCOMPARE(desktop.boxes[0].caption, QStringLiteral("Corvane Editor"));
        QCOMPARE(desktop.boxes[0].icon, Desktop::Icon::None);
        desktop.clear();
        page->Text3->setText(TestDb::password());
        page->PushButton5->click();
        // The server offers no TLS: "Preferred" fell back to a plain connection.
        QCOMPARE(desktop.texts(),
            QStringList{"Connection successful.\r\rThe connection is not encrypted: the server did not offer "
                        "TLS, so the sign-in and the data cross the network in the clear."});
        QCOMPARE(page->pointer().state(), PagePointer::State::Default);
    }

    void helpMessage()
    {
        Form1 *page = start().form1();
        page->PushButton2->click();
        QCOMPARE(desktop.boxes.size(), 1);
        const QStringList paragraphs = desktop.boxes[0].text.split("\r\r");
        QCOMPARE(paragraphs.size(), 4);
        QCOMPARE(paragraphs[0], QStringLiteral("If you cannot establish connection to your database with this program, please go to: "));
        QVERIFY(paragraphs[1].startsWith("https://dev.mysql.com/downloads/workbench"));
        QVERIFY(!desktop.boxes[0].text.contains('\n'));
    }

    void emptyDatabaseAndNoSelection()
    {
        storeSignIn(TestDb::fields(EmptyDb));
        Wizard &w = start();
        QVERIFY(w.form2()->isVisible());
        QCOMPARE(w.form2()->List1->count(), 0);
        QVERIFY(w.form2()->List1->selectedItems().isEmpty());
        w.form2()->PushButton3->click();
        QCOMPARE(desktop.texts(), QStringList{"Please select a table"});
        QVERIFY(!w.hasForm3());
        QVERIFY(w.form2()->isVisible());
    }

    void openTableThenGoBackAndChangeServer()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        Form2 *picker = w.form2();
        picker->List1->setCurrentRow(int(listEntries(picker->List1).indexOf("orders")));
        picker->PushButton3->click();
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(w.CurrentTable, QStringLiteral("orders"));
        Form3 *editor = w.form3();
        QVERIFY(editor->isVisible());
        QVERIFY(!picker->isVisible());
        QCOMPARE(editor->Label2->text(), QStringLiteral(" Now Editing: orders"));
        QTRY_COMPARE(editor->model()->exportSource().rowCount(), qint64(2));
        QCOMPARE(editor->DataGrid1->model()->index(0, 1).data().toString(), QStringLiteral("10472.90"));
        QCOMPARE(editor->DataGrid1->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("total"));
        // A plain connection says so in words, not only by a grey lock.
        QVERIFY(editor->securityLabel->isVisible());
        QCOMPARE(editor->securityLabel->text(), QStringLiteral("Not encrypted"));
        QCOMPARE(editor->securityLabel->accessibleName(), QStringLiteral("Not encrypted"));
        QVERIFY(editor->securityLabel->width() >= editor->securityLabel->sizeHint().width());

        editor->PushButton1->click(); // "< Back"
        QVERIFY(picker->isVisible());
        picker->PushButton2->click(); // "< Back"
        QVERIFY(w.form1()->isVisible());
        // A server the private server does not listen on: "Next >" does nothing.
        w.form1()->Text1->setText("127.0.0.2");
        w.form1()->PushButton3->click();
        QVERIFY(w.form1()->isVisible());
        QVERIFY(desktop.boxes.isEmpty());
        // Another server name for the same server, and another database.
        w.form1()->Text1->setText("localhost");
        w.form1()->Text4->setText(EmptyDb);
        w.form1()->PushButton3->click();
        QVERIFY(picker->isVisible());
        QCOMPARE(picker->List1->count(), 0);
        QCOMPARE(SettingsStore::read("MyServer", "?"), QStringLiteral("localhost"));
    }

    void backQuoteInTableNameOpens()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        Form2 *picker = w.form2();
        picker->List1->setCurrentRow(int(listEntries(picker->List1).indexOf("we`ird")));
        picker->PushButton3->click();
        // The name is quoted with its back quote doubled: the table opens.
        QVERIFY2(desktop.boxes.isEmpty(), qPrintable(desktop.texts().join("\n")));
        QVERIFY(w.form3()->isVisible());
        QVERIFY(w.form3()->model()->exportSource().waitUntilLoaded({}));
        QCOMPARE(w.form3()->model()->columnCount(QModelIndex()), 1);
        QCOMPARE(w.form3()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("x"));
        QCOMPARE(picker->pointer().state(), PagePointer::State::Default);
    }

    void serverGoneBetweenSignInAndPicker()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        Form2 *picker = w.form2();
        picker->List1->setCurrentRow(0);
        TestDb::stopServer();
        picker->PushButton3->click();
        TestDb::startServer();
        QVERIFY(!desktop.boxes.isEmpty());
        QVERIFY(desktop.boxes[0].text.contains("PushButton3_Click at line 110") || desktop.boxes[0].text.contains("Form_Load at line 108"));
        for (const FakeDesktop::Box &b : desktop.boxes)
            QCOMPARE(b.caption, QStringLiteral("Application Error"));
        QVERIFY(w.form3()->isVisible());
        QCOMPARE(w.form3()->model()->exportSource().rowCount(), qint64(0));
        QCOMPARE(picker->pointer().state(), PagePointer::State::Default);
    }

    void newTableRefillSelectsFirst()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        Form2 *picker = w.form2();
        picker->List1->setCurrentRow(2);
        TestDb::run(Db, {"CREATE TABLE aaa_first (x INT)"});
        // The New Table dialog is cancelled; the list is read again anyway.
        onNextModal([](QWidget *dialog) { dialog->close(); });
        picker->PushButton4->click();
        QCOMPARE(listEntries(picker->List1), TestDb::rows(Db, "SHOW TABLES;"));
        QCOMPARE(picker->List1->currentRow(), 0);
        QCOMPARE(picker->pointer().state(), PagePointer::State::Default);
        TestDb::run(Db, {"DROP TABLE aaa_first"});
    }

    void closingAnyPageEndsTheProgram()
    {
        storeSignIn(TestDb::fields(Db));
        Wizard &w = start();
        QSignalSpy ended(&w, &Wizard::ended);
        w.form2()->close();
        QCOMPARE(ended.count(), 1);
        QVERIFY(w.hasEnded());
        QVERIFY(!w.form1()->isVisible());
    }
};

QTEST_MAIN(TestSignIn)
#include "tst_signin.moc"
