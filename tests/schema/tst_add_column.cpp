#include "SchemaSession.h"

#include "db/Connection.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "grid/GridModel.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "schema/SchemaStatements.h"
#include "schema/frmNewColumn.h"
#include "support/Modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString Db = QStringLiteral("tst_add_column");

void chooseType(frmNewColumn &d, const QString &type)
{
    const int index = d.cboDataType->findText(type);
    QVERIFY2(index >= 0, qPrintable(type));
    d.cboDataType->setCurrentIndex(index);
}

void choosePosition(frmNewColumn &d, int index)
{
    d.cboPosition->setCurrentIndex(index);
    d.cboPosition_Click();
}

QStringList entries(const QComboBox *c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

// "U", "Z", "A" tick Unsigned, Zero Fill, Auto Increment.
void describe(frmNewColumn &d, const QString &name, const QString &type, const QString &m = {},
              const QString &dd = {}, const QString &defaultValue = {}, const QString &flags = {})
{
    d.txtName->setText(name);
    chooseType(d, type);
    d.txtM->setText(m);
    d.txtD->setText(dd);
    d.txtDefault->setText(defaultValue);
    d.chkUnsigned->setChecked(flags.contains(QLatin1Char('U')));
    d.chkZeroFill->setChecked(flags.contains(QLatin1Char('Z')));
    d.chkAutoInc->setChecked(flags.contains(QLatin1Char('A')));
}

} // namespace

class TestAddColumn : public QObject
{
    Q_OBJECT

    ConnectionFields m_fields;

    // The dialog as the editor opens it, on table `table`.
    std::unique_ptr<frmNewColumn> openForEditor(SchemaSession &s, const QString &table = QStringLiteral("orders"))
    {
        s.wizard->CurrentTable = table;
        auto d = frmNewColumn::load(s.wizard->schemaOpener(), nullptr);
        d->cboPosition->setVisible(true);
        d->cboColumnName->setVisible(true);
        d->callingform = QStringLiteral("Form3");
        return d;
    }

    // The SQL report the dialog showed for `sql`, or an empty text.
    static QString sqlReportFor(const FakeDesktop &desktop, const QString &sql)
    {
        for (const FakeDesktop::Box &b : desktop.boxes)
            if (b.text.startsWith(QLatin1String("Error: ")) && b.text.endsWith(QStringLiteral("\r\nSQL: ") + sql))
                return b.text;
        return QString();
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        m_fields = TestDb::create(Db);
    }

    void init()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS orders",
                         "CREATE TABLE orders (id INT PRIMARY KEY, item VARCHAR(20), price DECIMAL(10,2))",
                         "INSERT INTO orders VALUES (1,'pen',1.50),(2,'ink',2.25),(3,'pad',3.00)"});
    }

    void openedFromEditorOffersPositions()
    {
        SchemaSession s(m_fields);
        s.wizard->CurrentTable = QStringLiteral("orders");
        Form3 *editor = s.wizard->form3();
        // The pages' signed-in connection.
        const ConnectParams params = Connection::paramsFrom(s.wizard->connectionString());
        const std::shared_ptr<Connection> kept = s.wizard->keptConnection().share(params, [&](Connection &c) {
            c.open(params);
            return true;
        });
        QStringList seen;
        onNextModal([&](QWidget *w) {
            auto *d = qobject_cast<frmNewColumn *>(w);
            QVERIFY(d);
            seen << d->windowTitle() << d->callingform << d->txtName->text() << d->cboDataType->currentText()
                 << d->cboPosition->currentText() << QString::number(d->cboColumnName->count());
            QVERIFY(!d->cboPosition->isHidden());
            QVERIFY(!d->cboColumnName->isHidden());
            QVERIFY(!d->cboColumnName->isEnabled());
            QVERIFY(!d->chkUnsigned->isChecked() && !d->chkZeroFill->isChecked() && !d->chkAutoInc->isChecked());
            QCOMPARE(entries(d->cboPosition), QStringList({"LAST", "FIRST", "AFTER"}));
            QCOMPARE(d->cboDataType->count(), 25);
            QVERIFY(d->connection() && d->connection()->isOpen());
            QCOMPARE(d->connection(), kept.get()); // no sign-in of its own
            d->reject();
        });
        editor->chkNewColumn_Click();
        QCOMPARE(seen, QStringList({"Add a New Column", "Form3", "", "TINYINT", "LAST", "0"}));
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    void afterReadsTheColumnsOnEveryChoice()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        choosePosition(*d, 2);
        QVERIFY(d->cboColumnName->isEnabled());
        QCOMPARE(entries(d->cboColumnName), QStringList({"id", "item", "price"}));
        QCOMPARE(d->cboColumnName->currentIndex(), -1);
        d->cboColumnName->setCurrentIndex(1);

        choosePosition(*d, 1);
        QVERIFY(!d->cboColumnName->isEnabled());
        QCOMPARE(entries(d->cboColumnName), QStringList({"id", "item", "price"}));
        QCOMPARE(d->cboColumnName->currentIndex(), 1);

        TestDb::run(Db, {"ALTER TABLE orders ADD extra INT FIRST"});
        choosePosition(*d, 2);
        QCOMPARE(entries(d->cboColumnName), QStringList({"extra", "id", "item", "price"}));
        QCOMPARE(d->cboColumnName->currentIndex(), -1);
        choosePosition(*d, 0);
        QVERIFY(!d->cboColumnName->isEnabled());
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    void addsColumnInPlace_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("m");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("columns"); // name|type|default, table order

        QTest::newRow("last, no default") << "qty" << "INT" << "" << "" << "" << 0 << ""
            << QStringList{"id|int(11)|NULL", "item|varchar(20)|NULL", "price|decimal(10,2)|NULL", "qty|int(11)|NULL"};
        QTest::newRow("first, sized") << "qty" << "INT" << "11" << "" << "" << 1 << ""
            << QStringList{"qty|int(11)|NULL", "id|int(11)|NULL", "item|varchar(20)|NULL", "price|decimal(10,2)|NULL"};
        QTest::newRow("after item, unsigned") << "qty" << "INT" << "11" << "U" << "" << 2 << "item"
            << QStringList{"id|int(11)|NULL", "item|varchar(20)|NULL", "qty|int(11) unsigned|NULL", "price|decimal(10,2)|NULL"};
        QTest::newRow("last, text default typed with quotes") << "note" << "VARCHAR" << "40" << "" << "'none'" << 0 << ""
            << QStringList{"id|int(11)|NULL", "item|varchar(20)|NULL", "price|decimal(10,2)|NULL", "note|varchar(40)|none"};
        QTest::newRow("first, number default") << "flag" << "TINYINT" << "" << "" << "1" << 1 << ""
            << QStringList{"flag|tinyint(4)|1", "id|int(11)|NULL", "item|varchar(20)|NULL", "price|decimal(10,2)|NULL"};
        QTest::newRow("after id, default with spaces around") << "qty" << "INT" << "" << "" << " 5 " << 2 << "id"
            << QStringList{"id|int(11)|NULL", "qty|int(11)|5", "item|varchar(20)|NULL", "price|decimal(10,2)|NULL"};
    }
    void addsColumnInPlace()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QString, m);
        QFETCH(QString, flags);
        QFETCH(QString, defaultValue);
        QFETCH(int, position);
        QFETCH(QString, after);
        QFETCH(QStringList, columns);

        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        describe(*d, name, type, m, {}, defaultValue, flags);
        choosePosition(*d, position);
        if (!after.isEmpty())
            d->cboColumnName->setCurrentIndex(d->cboColumnName->findText(after));
        d->PushButton1_Click();

        QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
        QCOMPARE(s.desktop.boxes[0].caption, Main::appTitle());
        QCOMPARE(s.desktop.boxes[0].icon, Desktop::Icon::None);
        QCOMPARE(s.desktop.boxes[0].buttons, Desktop::Buttons::Ok);
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(columnsOf(Db, "orders"), columns);
    }

    // The server's log shows the statements exactly as built, the listing
    // query for AFTER included (the server logs it without its final ";").
    void serverLogShowsTheStatements()
    {
        TestDb::run(Db, {"CREATE TABLE IF NOT EXISTS logged (id INT PRIMARY KEY, b INT)",
                         "SET GLOBAL log_output = 'TABLE'", "SET GLOBAL general_log = 1"});
        SchemaSession s(m_fields);
        auto d = openForEditor(s, QStringLiteral("logged"));
        describe(*d, "c", "INT", "", "", "7");
        choosePosition(*d, 2);
        d->cboColumnName->setCurrentIndex(0);
        d->PushButton1_Click();
        QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
        const QStringList log = TestDb::rows(
            Db, "SELECT command_type, argument FROM mysql.general_log WHERE argument LIKE '%logged%'"
                " AND argument NOT LIKE '%general_log%' AND command_type IN ('Query','Prepare','Execute')"
                " ORDER BY event_time");
        QCOMPARE(log, QStringList({"Query|SELECT * FROM `logged`", "Query|ALTER TABLE `logged` ADD `c` INT AFTER `id`",
                                   "Query|ALTER TABLE `logged` ALTER `c` SET DEFAULT 7"}));
        TestDb::run(Db, {"DROP TABLE logged"});
    }

    void refusedAddShowsTheStatement()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        describe(*d, "item", "INT");
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        const FakeDesktop::Box box = s.desktop.boxes[0];
        QCOMPARE(box.text, QStringLiteral("Error: Duplicate column name 'item'\r\nSQL: ALTER TABLE `orders` ADD `item` INT"));
        QCOMPARE(box.caption, Main::appTitle());
        QCOMPARE(box.icon, Desktop::Icon::None);
        QCOMPARE(box.buttons, Desktop::Buttons::Ok);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(d->txtName->text(), QStringLiteral("item"));
        QCOMPARE(d->cboDataType->currentText(), QStringLiteral("INT"));
        QVERIFY(d->PushButton1->isEnabled());
        QCOMPARE(d->pointer().state(), PagePointer::State::Default);
    }

    void refusedDefaultLeavesTheColumnWithoutIt()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        describe(*d, "qty", "INT", "", "", "'abc'");
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        QVERIFY2(!sqlReportFor(s.desktop, "ALTER TABLE `orders` ALTER `qty` SET DEFAULT 'abc'").isEmpty(),
                 qPrintable(s.desktop.boxes[0].text));
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(d->txtDefault->text(), QStringLiteral("'abc'"));
        QCOMPARE(columnsOf(Db, "orders").last(), QStringLiteral("qty|int(11)|NULL"));

        // Again: the column exists now, so the ADD itself is refused.
        s.desktop.clear();
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        QVERIFY(!sqlReportFor(s.desktop, "ALTER TABLE `orders` ADD `qty` INT").isEmpty());
    }

    void afterWithNoColumnChosenIsRefused()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        describe(*d, "qty", "INT");
        choosePosition(*d, 2);
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        QVERIFY(!sqlReportFor(s.desktop, "ALTER TABLE `orders` ADD `qty` INT AFTER ``").isEmpty());
        QCOMPARE(namesOf(Db, "orders"), QStringList({"id", "item", "price"}));
    }

    void secondPressSendsNothing()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        describe(*d, "qty", "INT", "", "", "3");
        int pressesDuringAdd = 0;
        s.desktop.onMessage = [&](const FakeDesktop::Box &) {
            if (++pressesDuringAdd > 1)
                return;
            QVERIFY(!d->PushButton1->isEnabled());
            d->PushButton1->click();
            d->PushButton1_Click();
        };
        d->PushButton1_Click();
        s.desktop.onMessage = nullptr;
        d->PushButton1_Click(); // after the dialog closed
        QTest::keyClick(d->txtName, Qt::Key_Return);
        QCOMPARE(pressesDuringAdd, 1);
        QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
        QCOMPARE(namesOf(Db, "orders"), QStringList({"id", "item", "price", "qty"}));
    }

    void nameOfSpacesDoesNothing_data()
    {
        QTest::addColumn<QString>("caller");
        QTest::newRow("editor") << "Form3";
        QTest::newRow("new table") << "frmNewTable";
    }
    void nameOfSpacesDoesNothing()
    {
        QFETCH(QString, caller);
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        d->callingform = caller;
        QTreeWidget list;
        d->setFieldList(&list);
        describe(*d, "   ", "INT", "", "", "1");
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 0);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(list.topLevelItemCount(), 0);
        QCOMPARE(namesOf(Db, "orders"), QStringList({"id", "item", "price"}));
    }

    // Nothing the user types may crash or hang the dialog: the server
    // accepts it or the SQL report shows the statement as sent.
    void awkwardInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("m");
        QTest::addColumn<QString>("d");
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<bool>("added");
        QTest::newRow("semicolon and quote in the name") << "a;b'c\"d" << "" << "" << "" << true;
        QTest::newRow("non-ASCII name") << QString::fromUtf8("größe_名") << "" << "" << "" << true;
        QTest::newRow("back-quote in the name is kept") << "a`b" << "" << "" << "" << true;
        QTest::newRow("1000-character name") << QString(1000, QLatin1Char('n')) << "" << "" << "" << false;
        QTest::newRow("M not a number") << "q" << "ten" << "" << "" << false;
        QTest::newRow("D not a number") << "q" << "10" << "two" << "" << false;
        QTest::newRow("second statement in the default") << "q" << "" << "" << "1; DROP TABLE orders" << false;
        QTest::newRow("1000-character default") << "q" << "" << "" << "'" + QString(998, QLatin1Char('x')) + "'" << false;
    }
    void awkwardInput()
    {
        QFETCH(QString, name);
        QFETCH(QString, m);
        QFETCH(QString, d);
        QFETCH(QString, defaultValue);
        QFETCH(bool, added);
        SchemaSession s(m_fields);
        auto dialog = openForEditor(s);
        describe(*dialog, name, "INT", m, d, defaultValue);
        ColumnDefinition column = dialog->definition();
        dialog->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        if (added) {
            QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
            QCOMPARE(namesOf(Db, "orders").last(), name);
        } else {
            const QString sent = isFilled(defaultValue) && !namesOf(Db, "orders").contains(name)
                ? QString()
                : isFilled(defaultValue) ? SetDefaultStatement("orders", name, defaultValue)
                                         : AddColumnStatement("orders", column, ColumnPosition::Last, {});
            if (!sent.isEmpty())
                QVERIFY2(!sqlReportFor(s.desktop, sent).isEmpty(), qPrintable(s.desktop.boxes[0].text.left(200)));
            QVERIFY(s.desktop.boxes[0].text.startsWith(QLatin1String("Error: ")));
            QCOMPARE(dialog->result(), int(QDialog::Rejected));
        }
        QCOMPARE(TestDb::scalar(Db, "SELECT COUNT(*) FROM orders"), QStringLiteral("3"));
    }

    void columnNamesThatCannotBeReadAreReported()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s, QStringLiteral("missing"));
        choosePosition(*d, 2);
        QCOMPARE(s.desktop.boxes.size(), 1);
        QCOMPARE(s.desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(s.desktop.boxes[0].text.contains(
                     "\r\nin Corvane2020/08/02.frmNewColumn.cboPosition_Click at line 104\r\r"),
                 qPrintable(s.desktop.boxes[0].text));
        QVERIFY(d->cboColumnName->isEnabled());
        QCOMPARE(d->pointer().state(), PagePointer::State::Default);

        s.wizard->CurrentTable = QStringLiteral("orders");
        choosePosition(*d, 2);
        QCOMPARE(entries(d->cboColumnName), QStringList({"id", "item", "price"}));
        QCOMPARE(s.desktop.boxes.size(), 1);
    }

    void unreachableServerAtLoad()
    {
        SchemaSession s(m_fields);
        s.wizard->form1()->Text5->setText(QStringLiteral("1")); // nothing listens on port 1
        auto d = openForEditor(s);
        QCOMPARE(s.desktop.boxes.size(), 1);
        QVERIFY(s.desktop.boxes[0].text.contains("frmNewColumn.Form_Load at line 116\r\r"));
        QCOMPARE(d->pointer().state(), PagePointer::State::Default);
        s.desktop.clear();
        describe(*d, "qty", "INT");
        d->PushButton1_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        QVERIFY(!sqlReportFor(s.desktop, "ALTER TABLE `orders` ADD `qty` INT").isEmpty());
    }

    void newTableUseAppendsFieldRow()
    {
        SchemaSession s(m_fields);
        auto d = frmNewColumn::load(s.wizard->schemaOpener(), nullptr);
        d->callingform = QStringLiteral("frmNewTable");
        QTreeWidget list;
        list.setColumnCount(8);
        new QTreeWidgetItem(&list, QStringList{"first"});
        d->setFieldList(&list);
        describe(*d, " id ", "INT", "11", "2", "'ignored'", "UA");
        d->PushButton1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(s.desktop.boxes.size(), 0);
        QCOMPARE(list.topLevelItemCount(), 2);
        QStringList cells;
        for (int c = 0; c < 8; ++c)
            cells << list.topLevelItem(1)->text(c);
        QCOMPARE(cells, QStringList({" id ", "INT", "(11, 2)", "UNSIGNED", "", "NOT NULL AUTO_INCREMENT PRIMARY KEY", "", ""}));
        QCOMPARE(namesOf(Db, "orders"), QStringList({"id", "item", "price"}));
    }

    void unknownCallerJustCloses()
    {
        SchemaSession s(m_fields);
        auto d = openForEditor(s);
        d->callingform = QStringLiteral("form3");
        describe(*d, "qty", "INT");
        d->PushButton1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(s.desktop.boxes.size(), 0);
        QCOMPARE(namesOf(Db, "orders"), QStringList({"id", "item", "price"}));
    }

    // Through the picker's "Next >" and the editor's "Add New Column": the
    // grid shows the new column beside the rows it had.
    void editorGridShowsTheNewColumn()
    {
        SchemaSession s(m_fields);
        Form2 *picker = s.wizard->form2();
        picker->show(); // a hidden picker gives a slow connect up
        picker->List1->addItem(QStringLiteral("orders"));
        picker->List1->setCurrentRow(0);
        picker->PushButton3_Click();
        Form3 *editor = s.wizard->form3();
        QTRY_COMPARE(editor->DataGrid1->model()->columnCount(), 3);
        s.desktop.clear();

        onNextModal([&](QWidget *w) {
            auto *d = qobject_cast<frmNewColumn *>(w);
            QVERIFY(d);
            describe(*d, "qty", "INT", "", "", "4");
            choosePosition(*d, 2);
            d->cboColumnName->setCurrentIndex(d->cboColumnName->findText("item"));
            d->PushButton1->click();
        });
        editor->chkNewColumn_Click();
        QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
        // Through the view's model, which may fill its rows in the background.
        QAbstractItemModel *model = editor->DataGrid1->model();
        QTRY_COMPARE(model->columnCount(), 4);
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("qty"));
        QTRY_COMPARE(model->rowCount(), 3 + 1); // and the blank new-row line
        QCOMPARE(model->data(model->index(1, 1)).toString(), QStringLiteral("ink"));
        QCOMPARE(model->data(model->index(1, 2)).toString(), QString()); // rows before the default
        QCOMPARE(model->data(model->index(1, 3)).toString(), QStringLiteral("2.25"));
        // An edit after the new column reaches the row it was made on.
        GridModel *grid = editor->model();
        QVERIFY(grid->setData(grid->index(1, 2), QStringLiteral("17")));
        QCOMPARE(grid->commitRow(), GridModel::Outcome::Done);
        QCOMPARE(TestDb::rows(Db, "SELECT id, item, qty FROM orders ORDER BY id"),
                 QStringList({"1|pen|NULL", "2|ink|17", "3|pad|NULL"}));

        // Closing the dialog without adding still reads the table again.
        TestDb::run(Db, {"INSERT INTO orders (id, item) VALUES (4, 'cap')"});
        onNextModal([](QWidget *w) { w->close(); });
        editor->chkNewColumn_Click();
        QCOMPARE(s.desktop.texts(), QStringList({"Column added."}));
        QTRY_COMPARE(model->rowCount(), 4 + 1);
        QCOMPARE(model->data(model->index(3, 2)).toString(), QStringLiteral("4"));
    }
};

QTEST_MAIN(TestAddColumn)
#include "tst_add_column.moc"
