#include "SchemaSession.h"

#include "db/Connection.h"
#include "db/RowSet.h"
#include "frame/KeptConnection.h"
#include "frame/PagePointer.h"
#include "pages/Form2.h"
#include "schema/frmNewColumn.h"
#include "schema/frmNewTable.h"
#include "support/Modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString Db = QStringLiteral("tst_new_table");

struct Field
{
    QString name, type, m, d, defaultValue, flags;
};

// Fills the Add Column dialog and presses "Add".
void addThrough(frmNewColumn &d, const Field &f)
{
    d.txtName->setText(f.name);
    d.cboDataType->setCurrentIndex(d.cboDataType->findText(f.type));
    d.txtM->setText(f.m);
    d.txtD->setText(f.d);
    d.txtDefault->setText(f.defaultValue);
    d.chkUnsigned->setChecked(f.flags.contains(QLatin1Char('U')));
    d.chkZeroFill->setChecked(f.flags.contains(QLatin1Char('Z')));
    d.chkAutoInc->setChecked(f.flags.contains(QLatin1Char('A')));
    d.PushButton1->click();
}

// Adds a field row the way the dialog's "Add" does, without the modal show.
void addRow(Wizard &wizard, frmNewTable &table, const Field &f)
{
    auto d = frmNewColumn::load(wizard.schemaOpener(), &table);
    d->callingform = QStringLiteral("frmNewTable");
    d->setFieldList(table.ListView1);
    addThrough(*d, f);
}

QStringList rowNames(const QTreeWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0);
    return out;
}

bool tableExists(const QString &name)
{
    return !TestDb::scalar(Db, "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '" + Db
                                   + "' AND table_name = '" + name + "'")
                .startsWith(QLatin1Char('0'));
}

} // namespace

class TestNewTable : public QObject
{
    Q_OBJECT

    ConnectionFields m_fields;

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        m_fields = TestDb::create(Db);
    }

    void init()
    {
        TestDb::run(Db, {"DROP TABLE IF EXISTS t", "DROP TABLE IF EXISTS made"});
    }

    void loadSetsUpTheList()
    {
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        QCOMPARE(d->windowTitle(), QStringLiteral("Add New Table"));
        QCOMPARE(d->Frame2->title(), QStringLiteral("Table Name"));
        QCOMPARE(d->Frame1->title(), QStringLiteral("Field(s)"));
        QCOMPARE(d->txtName->text(), QString());
        QCOMPARE(d->ListView1->topLevelItemCount(), 0);
        const QStringList captions = {"Field Name", "Data Type", "M", "D", "Default", "Unsigned", "Autoincrement", "Zero Fill"};
        const int twips[] = {1500, 1500, 700, 700, 1500, 1500, 1500, 1500};
        QCOMPARE(d->ListView1->columnCount(), 8);
        const int dpi = d->ListView1->logicalDpiX();
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(d->ListView1->headerItem()->text(i), captions.at(i));
            QCOMPARE(d->ListView1->columnWidth(i), frmNewTable::twipsToPixels(twips[i], dpi));
        }
        QCOMPARE(d->ListView1->toolTip(), QStringLiteral("Drag and drop files here. Double-click item to remove it. "
                                                         "Move | line to right and out of window to reveal full names."));
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    // "Add" opens the Add Column dialog without its position lists; each
    // "Add" there appends one row in the order the fields were described.
    void addOpensTheColumnDialogForTheList()
    {
        SchemaSession s(m_fields);
        auto table = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        QStringList seen;
        onNextModal([&](QWidget *w) {
            auto *d = qobject_cast<frmNewColumn *>(w);
            QVERIFY(d);
            seen << d->callingform << d->txtName->text() << d->cboDataType->currentText() << d->cboPosition->currentText();
            QVERIFY(d->cboPosition->isHidden());
            QVERIFY(d->cboColumnName->isHidden());
            QVERIFY(d->isVisible());
            addThrough(*d, {"price", "DECIMAL", "10", "2", "'0'", "U"});
        });
        table->cmdAdd_Click();
        QCOMPARE(seen, QStringList({"frmNewTable", "", "TINYINT", "LAST"}));
        QCOMPARE(table->ListView1->topLevelItemCount(), 1);
        QStringList cells;
        for (int c = 0; c < 8; ++c)
            cells << table->ListView1->topLevelItem(0)->text(c);
        QCOMPARE(cells, QStringList({"price", "DECIMAL", "(10, 2)", "UNSIGNED", "", "", "", ""}));

        onNextModal([](QWidget *w) { w->close(); }); // closed without "Add"
        table->cmdAdd_Click();
        QCOMPARE(table->ListView1->topLevelItemCount(), 1);
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    void savesRowsInListOrderWithoutDeletedOnes()
    {
        SchemaSession s(m_fields);
        const ConnectParams params = Connection::paramsFrom(s.wizard->connectionString());
        const std::shared_ptr<Connection> kept = s.wizard->keptConnection().share(params, [&](Connection &c) {
            c.open(params);
            return true;
        });
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->txtName->setText(QStringLiteral("made"));
        addRow(*s.wizard, *d, {"id", "INT", "11", "", "", "UA"});
        addRow(*s.wizard, *d, {"name", "VARCHAR", "40", "", "'nobody'", ""});
        addRow(*s.wizard, *d, {"gone", "DATE", "", "", "", ""});
        addRow(*s.wizard, *d, {"price", "DECIMAL", "10", "2", "", "Z"});
        d->ListView1->topLevelItem(2)->setSelected(true);
        d->PushButton1_Click();
        QCOMPARE(rowNames(d->ListView1), QStringList({"id", "name", "price"}));

        d->PushButton2_Click();
        d->PushButton2->click(); // a second press: the table exists, nothing is sent again
        QCOMPARE(s.desktop.boxes.size(), 0);
        QCOMPARE(d->result(), int(QDialog::Accepted));
        // Made on the pages' kept session, which stays open; no sign-in of its own.
        QVERIFY(kept->isOpen());
        QCOMPARE(kept->select("SHOW SESSION STATUS LIKE 'Com_create_table'")->value(1).toString(), QStringLiteral("1"));
        // The default typed for "name" never reaches the table.
        QCOMPARE(columnsOf(Db, "made"), QStringList({"id|int(11) unsigned|NULL", "name|varchar(40)|NULL",
                                                     "price|decimal(10,2) unsigned zerofill|NULL"}));
        QCOMPARE(TestDb::scalar(Db, "SELECT COLUMN_KEY FROM information_schema.columns WHERE table_schema='" + Db
                                        + "' AND table_name='made' AND column_name='id'"),
                 QStringLiteral("PRI"));
    }

    void saveWithoutNameOrRowsSendsNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withRow");
        QTest::newRow("rows, empty name") << "" << true;
        QTest::newRow("name, no rows") << "t" << false;
    }
    void saveWithoutNameOrRowsSendsNothing()
    {
        QFETCH(QString, name);
        QFETCH(bool, withRow);
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->txtName->setText(name);
        if (withRow)
            addRow(*s.wizard, *d, {"n", "INT", "", "", "", ""});
        d->PushButton2_Click();
        QCOMPARE(s.desktop.boxes.size(), 0);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(d->txtName->text(), name);
        QCOMPARE(d->ListView1->topLevelItemCount(), withRow ? 1 : 0);
        QVERIFY(!tableExists("t"));
    }

    void refusedCreateIsReportedAndCloses()
    {
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->txtName->setText(QStringLiteral("t"));
        addRow(*s.wizard, *d, {"a", "INT", "", "", "", ""});
        addRow(*s.wizard, *d, {"a", "INT", "", "", "", ""});
        d->PushButton2_Click();
        QCOMPARE(s.desktop.boxes.size(), 1);
        QCOMPARE(s.desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(s.desktop.boxes[0].text.startsWith(
                     "Duplicate column name 'a'\r\nin Corvane2020/08/02.frmNewTable.PushButton2_Click at line 122\r\r"),
                 qPrintable(s.desktop.boxes[0].text));
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(d->pointer().state(), PagePointer::State::Default);
        QVERIFY(!tableExists("t"));
    }

    void unreachableServerAtSaveReportsEachStepAndCloses()
    {
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->txtName->setText(QStringLiteral("t"));
        addRow(*s.wizard, *d, {"a", "INT", "", "", "", ""});
        s.wizard->form1()->Text5->setText(QStringLiteral("1")); // nothing listens on port 1
        s.desktop.clear();
        d->PushButton2_Click();
        QCOMPARE(s.desktop.boxes.size(), 2);
        QVERIFY(s.desktop.boxes[0].text.contains("PushButton2_Click at line 120\r\r"));
        QVERIFY(s.desktop.boxes[1].text.contains("PushButton2_Click at line 122\r\r"));
        QCOMPARE(d->result(), int(QDialog::Accepted));
    }

    void deleteSelectedRemovesOnlyTheSelectedRow()
    {
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->PushButton1_Click(); // empty list
        addRow(*s.wizard, *d, {"a", "INT", "", "", "", ""});
        addRow(*s.wizard, *d, {"b", "INT", "", "", "", ""});
        d->ListView1->clearSelection();
        d->PushButton1_Click(); // nothing selected
        QCOMPARE(rowNames(d->ListView1), QStringList({"a", "b"}));

        d->ListView1->topLevelItem(0)->setSelected(true);
        d->pointer().setState(PagePointer::State::Busy);
        d->PushButton1_Click(); // busy
        QCOMPARE(rowNames(d->ListView1), QStringList({"a", "b"}));

        d->pointer().setState(PagePointer::State::Default);
        d->PushButton1->click();
        QCOMPARE(rowNames(d->ListView1), QStringList({"b"}));
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    void cancelSendsNothing()
    {
        SchemaSession s(m_fields);
        auto d = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
        d->txtName->setText(QStringLiteral("t"));
        addRow(*s.wizard, *d, {"a", "INT", "", "", "", ""});
        d->PushButton3->click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(!tableExists("t"));
        QCOMPARE(s.desktop.boxes.size(), 0);
    }

    // The picker's "New Table": the dialog, then the list read again with
    // the first entry selected.
    void pickerRefillsItsListAfterwards()
    {
        TestDb::run(Db, {"CREATE TABLE IF NOT EXISTS zzz (a INT)"});
        SchemaSession s(m_fields);
        Form2 *picker = s.wizard->form2();
        picker->List1->addItems({"old", "zzz"});
        picker->List1->setCurrentRow(1);
        onNextModal([&](QWidget *w) {
            auto *table = qobject_cast<frmNewTable *>(w);
            QVERIFY(table);
            table->txtName->setText(QStringLiteral("made"));
            onNextModal([](QWidget *c) {
                auto *d = qobject_cast<frmNewColumn *>(c);
                QVERIFY(d);
                addThrough(*d, {"n", "INT", "", "", "", ""});
            });
            table->PushButton4->click();
            QCOMPARE(table->ListView1->topLevelItemCount(), 1);
            table->PushButton2->click();
        });
        picker->PushButton4_Click();
        QCOMPARE(s.desktop.boxes.size(), 0);
        QStringList listed;
        for (int i = 0; i < picker->List1->count(); ++i)
            listed << picker->List1->item(i)->text();
        QCOMPARE(listed, TestDb::rows(Db, "SHOW TABLES"));
        QVERIFY(listed.contains("made"));
        QCOMPARE(picker->List1->currentRow(), 0);
        QVERIFY(picker->List1->item(0)->isSelected());
        TestDb::run(Db, {"DROP TABLE zzz"});
    }

    void hoverPointer_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QStringList>("areas");
        QTest::newRow("frmNewColumn") << "frmNewColumn" << QStringList{"PushButton1"} << QStringList{"frmNewColumn"};
        QTest::newRow("frmNewTable") << "frmNewTable"
                                     << QStringList{"PushButton1", "PushButton2", "PushButton3", "PushButton4"}
                                     << QStringList{"frmNewTable", "ListView1", "Frame1", "Frame2"};
    }
    void hoverPointer()
    {
        QFETCH(QString, dialog);
        QFETCH(QStringList, buttons);
        QFETCH(QStringList, areas);
        SchemaSession s(m_fields);
        std::unique_ptr<QDialog> d;
        PagePointer *pointer = nullptr;
        if (dialog == "frmNewColumn") {
            auto c = frmNewColumn::load(s.wizard->schemaOpener(), nullptr);
            pointer = &c->pointer();
            d = std::move(c);
        } else {
            auto t = frmNewTable::load(s.wizard->schemaOpener(), nullptr);
            pointer = &t->pointer();
            d = std::move(t);
        }
        const auto widget = [&](const QString &name) -> QWidget * {
            return name == dialog ? d.get() : d->findChild<QWidget *>(name);
        };
        const auto hover = [&](QWidget *w) {
            QEvent enter(QEvent::Enter);
            QCoreApplication::sendEvent(w, &enter);
        };
        for (const QString &b : buttons) {
            for (const QString &a : areas) {
                hover(widget(a));
                QCOMPARE(pointer->state(), PagePointer::State::Default);
                hover(widget(b));
                QVERIFY2(pointer->state() == PagePointer::State::Custom, qPrintable(b));
            }
        }
        pointer->setState(PagePointer::State::Busy);
        hover(widget(areas.first()));
        hover(widget(buttons.first()));
        QCOMPARE(pointer->state(), PagePointer::State::Busy);
    }
};

QTEST_MAIN(TestNewTable)
#include "tst_new_table.moc"
