#include "EditorSession.h"
#include "db/ForeignLabels.h"
#include "db/RowSet.h"
#include "db/TableLoader.h"
#include "grid/GridOrder.h"
#include "grid/KeyPicker.h"
#include "pages/TableSession.h"

#include <QCryptographicHash>
#include <QTest>

#include <utility>
#include <vector>

using Columns = std::vector<std::pair<QByteArray, bool>>;
Q_DECLARE_METATYPE(Columns)

namespace {

const QString Db = QStringLiteral("tst_foreignkeys");

} // namespace

// Foreign keys in the editor: a write the server refuses for one is told
// with the constraint, the other table and the values, and the row is kept.
class TestForeignKeys : public QObject, private EditorPages
{
    Q_OBJECT

    void open(const QString &table) { openTable(Db, table); }

    void type(int row, int column, const QString &text)
    {
        const QModelIndex at = model()->index(row, column);
        view()->setCurrentIndex(view()->fromModel(at));
        QVERIFY(model()->setData(at, text, Qt::EditRole));
    }

    QStringList server(const QString &sql) { return TestDb::rows(Db, sql); }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
    }

    void cleanup()
    {
        m_wizard.reset();
        m_desktop.clear();
    }

    void labelColumnIsChosen_data()
    {
        QTest::addColumn<Columns>("columns");
        QTest::addColumn<QByteArray>("label");
        QTest::newRow("a name after other text")
            << Columns{{"id", false}, {"note", true}, {"CustomerName", true}} << QByteArray("CustomerName");
        QTest::newRow("code, key text first") << Columns{{"id", true}, {"iso_code", true}} << QByteArray("iso_code");
        QTest::newRow("name that is not text")
            << Columns{{"id", false}, {"name", false}, {"city", true}} << QByteArray("city");
        QTest::newRow("only the key is text") << Columns{{"id", true}, {"n", false}} << QByteArray();
    }

    void labelColumnIsChosen()
    {
        QFETCH(Columns, columns);
        QFETCH(QByteArray, label);
        QCOMPARE(ForeignLabels::labelColumnOf(columns, {"id"}), label);
    }

    void refusalsAreExplained_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("child");
        QTest::addColumn<QString>("constraint");
        QTest::newRow("plain") << "parent"
                               << "child"
                               << "fk_child_parent";
        QTest::newRow("hostile") << "p`a\"r'ent"
                                 << "ch`i;ld"
                                 << "fk `x'; DROP";
    }

    // Each refusal (a parent still referred to, a value that refers to no
    // row; by delete, update and insert, over a two-column key) names the
    // constraint, the other table and the values, and leaves the row as the
    // user had it.
    void refusalsAreExplained()
    {
        QFETCH(QString, parent);
        QFETCH(QString, child);
        QFETCH(QString, constraint);
        const auto q = [](const QString &name) { return '`' + QString(name).replace('`', "``") + '`'; };
        TestDb::run(Db,
            {"SET FOREIGN_KEY_CHECKS = 0", "DROP TABLE IF EXISTS " + q(child), "DROP TABLE IF EXISTS " + q(parent),
                "CREATE TABLE " + q(parent)
                    + " (a INT, `b c` VARCHAR(10), name VARCHAR(20), PRIMARY KEY (a, `b c`)) ENGINE=InnoDB",
                "CREATE TABLE " + q(child) + " (id INT PRIMARY KEY, pa INT, pb VARCHAR(10), CONSTRAINT " + q(constraint)
                    + " FOREIGN KEY (pa, pb) REFERENCES " + q(parent) + " (a, `b c`)) ENGINE=InnoDB",
                "INSERT INTO " + q(parent) + " VALUES (1, 'x', 'one'), (2, 'y', 'two')",
                "INSERT INTO " + q(child) + " VALUES (1, 1, 'x'), (2, 1, 'x'), (3, NULL, NULL)"});
        const QString referred = QStringLiteral("2 rows of `%1` refer to it (constraint %2).").arg(child, constraint);
        const QString nowhere
            = QStringLiteral("The values \"9\", \"x\" of pa, pb refer to no row of `%1` (constraint %2)")
                  .arg(parent, constraint);

        open(parent);
        m_desktop.answers << Desktop::Answer::Yes;
        editor()->session().deleteRow(0);
        QVERIFY2(m_desktop.texts().join('\n').contains(
                     QStringLiteral("This row of `%1` cannot be deleted: ").arg(parent) + referred),
            qPrintable(m_desktop.texts().join('\n')));
        QCOMPARE(model()->rowCount({}), 3); // two rows and the new-row line
        m_desktop.clear();
        type(0, 0, QStringLiteral("5"));
        QVERIFY(!editor()->session().commitHeldRow());
        QVERIFY2(m_desktop.texts().join('\n').contains(
                     QStringLiteral("The key of this row of `%1` cannot be changed: ").arg(parent) + referred),
            qPrintable(m_desktop.texts().join('\n')));
        QVERIFY(model()->hasHeldRow()); // the typed value is kept

        m_wizard.reset();
        m_desktop.clear();
        open(child);
        type(2, 1, QStringLiteral("9"));
        type(2, 2, QStringLiteral("x"));
        QVERIFY(!editor()->session().commitHeldRow());
        QVERIFY2(m_desktop.texts().join('\n').contains(nowhere), qPrintable(m_desktop.texts().join('\n')));
        QVERIFY(model()->hasHeldRow());
        model()->revertRow();
        m_desktop.clear();
        const int line = model()->newRowLine();
        type(line, 0, QStringLiteral("4"));
        type(line, 1, QStringLiteral("9"));
        type(line, 2, QStringLiteral("x"));
        QVERIFY(!editor()->session().commitHeldRow());
        QVERIFY2(m_desktop.texts().join('\n').contains(nowhere), qPrintable(m_desktop.texts().join('\n')));
        QCOMPARE(server("SELECT COUNT(*) FROM " + q(child)), QStringList{"3"});
        QCOMPARE(server("SELECT COUNT(*) FROM " + q(parent)), QStringList{"2"});

        // The labels of the rows referred to, after the last column of the
        // key: read as asked for, a NULL key without one, a key that refers
        // to nothing (written with the checks off) told so.
        TestDb::run(
            Db, {"SET FOREIGN_KEY_CHECKS = 0", "INSERT INTO " + q(child) + " VALUES (5, 7, 'zz'), (6, 2, 'x')"});
        m_wizard.reset();
        open(child);
        // By id: the server may read the rows in the order of the key's index.
        const auto label = [this](int id, int column = 2, int role = GridModel::LabelRole) {
            for (int r = 0; r < model()->rowCount({}); ++r)
                if (model()->index(r, 0).data().toInt() == id)
                    return model()->index(r, column).data(role).toString();
            return QStringLiteral("no row %1").arg(id);
        };
        QVERIFY(label(1).isEmpty()); // asked for now, comes later
        QTRY_COMPARE(label(1), QStringLiteral("one"));
        QCOMPARE(label(2), QStringLiteral("one"));
        label(5);
        QTRY_COMPARE(label(5), QStringLiteral("(no such row)"));
        QCOMPARE(label(3), QString());
        QCOMPARE(label(1, 1), QString());
        QCOMPARE(label(1, 2, Qt::AccessibleTextRole), QStringLiteral("x, one"));

        // Another label column, chosen for this key, and kept for the next time.
        QCOMPARE(model()->labels().labelChoices(2), (std::vector<QByteArray>{"b c", "name"}));
        model()->labels().chooseLabel(2, "b c");
        label(1);
        QTRY_COMPARE(label(1), QStringLiteral("x"));
        m_wizard.reset();
        open(child);
        label(1);
        QTRY_COMPARE(label(1), QStringLiteral("x"));
        QCOMPARE(model()->labels().labelColumn(2), QByteArray("b c"));

        // Along the two-column key to the row it refers to, and back.
        const auto current = [this](int column) {
            return model()->index(view()->toModel(view()->currentIndex()).row(), column).data().toString();
        };
        int second = 0;
        while (model()->index(second, 0).data().toInt() != 2)
            ++second;
        editor()->goToReferencedRow(second, 2);
        QCOMPARE(m_wizard->CurrentTable, parent);
        QTRY_COMPARE(current(0) + current(1), QStringLiteral("1x"));
        editor()->goBack();
        QCOMPARE(m_wizard->CurrentTable, child);
        QTRY_COMPARE(current(0), QStringLiteral("2"));
        QCOMPARE(view()->currentIndex().column(), 2);

        // The rows that refer to the parent's row (1, x): counted, then shown
        // filtered on both columns of the key.
        m_wizard.reset();
        open(parent);
        const auto referring = editor()->referringRows(0);
        QVERIFY(referring && referring->size() == 1);
        QCOMPARE(referring->front().second, 2);
        editor()->openReferringRows(referring->front().first, editor()->rowValues(0), 0);
        QCOMPARE(m_wizard->CurrentTable, child);
        QTRY_VERIFY(!order()->isBusy() && order()->shownRowCount() == 2);
    }

    // Go to Referenced Row into a large table: the row shows as soon as the
    // rows from it on come, the rows before it come later in front, and then
    // the grid holds what a plain open shows, with the row still current and
    // on screen. An edit typed before they came goes to that row; Back finds
    // the row it came from.
    void goToDeepRow_data()
    {
        QTest::addColumn<QStringList>("parent"); // `deep`, whose row with note n100001 is referred to
        QTest::addColumn<QString>("child");      // `deepref`'s columns after id
        QTest::addColumn<QString>("key");        // deepref's one row's values after id
        QTest::addColumn<int>("note");           // deep's note column
        QTest::addColumn<bool>("inFront");       // the rows before the row come later
        const QString fill = QStringLiteral("INSERT INTO deep SELECT %1 CONCAT('n', seq) FROM seq_1_to_300000");
        QTest::newRow("one-column primary key")
            << QStringList{"CREATE TABLE deep (id INT PRIMARY KEY, note VARCHAR(20)) ENGINE=InnoDB", fill.arg("seq,")}
            << "r INT, FOREIGN KEY (r) REFERENCES deep (id)"
            << "100001" << 1 << true;
        QTest::newRow("two-column primary key") << QStringList{"CREATE TABLE deep (a INT, b VARCHAR(10), note "
                                                               "VARCHAR(20), PRIMARY KEY (a, b)) ENGINE=InnoDB",
            fill.arg("seq DIV 1000, CONCAT('k', seq MOD 1000),")}
                                                << "ra INT, rb VARCHAR(10), FOREIGN KEY (ra, rb) REFERENCES deep (a, b)"
                                                << "100, 'k1'" << 2 << true;
        QTest::newRow("unique key, not the primary key")
            << QStringList{"CREATE TABLE deep (id INT PRIMARY KEY, code VARCHAR(12) UNIQUE, note VARCHAR(20)) "
                           "ENGINE=InnoDB",
                   fill.arg("seq, CONCAT('c', seq),")}
            << "r VARCHAR(12), FOREIGN KEY (r) REFERENCES deep (code)"
            << "'c100001'" << 2 << true;
        // The server reads such a table in the order of the other index.
        QTest::newRow("an index holds every column")
            << QStringList{"CREATE TABLE deep (id INT PRIMARY KEY, tag INT, note VARCHAR(20), KEY (tag, id, note))"
                           " ENGINE=InnoDB",
                   fill.arg("seq, seq MOD 7,")}
            << "r INT, FOREIGN KEY (r) REFERENCES deep (id)"
            << "100001" << 2 << false;
    }

    void goToDeepRow()
    {
        QFETCH(QStringList, parent);
        QFETCH(QString, child);
        QFETCH(QString, key);
        QFETCH(int, note);
        QFETCH(bool, inFront);
        TestDb::run(Db,
            QStringList{"DROP TABLE IF EXISTS deepref", "DROP TABLE IF EXISTS deep"} + parent
                + QStringList{"CREATE TABLE deepref (id INT PRIMARY KEY, " + child + ") ENGINE=InnoDB",
                    "INSERT INTO deepref VALUES (1, " + key + ")"});
        // Every row's cells but the note's, in the grid's order.
        const auto rows = [this, note] {
            QCryptographicHash hash(QCryptographicHash::Sha1);
            const RowStore &store = model()->rowSet()->rows();
            for (qint64 r = 0; r < store.rowCount(); ++r)
                for (int c = 0; c < store.columnCount(); ++c)
                    if (c != note) {
                        const RowStore::Cell cell = store.cell(r, c);
                        hash.addData(QByteArrayView(cell.text().data(), qsizetype(cell.text().size())));
                        hash.addData("|");
                    }
            return hash.result();
        };
        const auto current = [this](int column) {
            return model()->index(view()->toModel(view()->currentIndex()).row(), column).data().toString();
        };
        open(QStringLiteral("deepref"));
        const int ref = model()->columnCount({}) - 1;
        model()->labels().labelAt(0, ref); // the keys are read with the first labels
        QTRY_VERIFY(model()->labels().keyAt(ref));
        editor()->goToReferencedRow(0, ref);
        QTRY_COMPARE(current(note), QStringLiteral("n100001"));
        QCOMPARE(model()->rowSet()->loader()->isFrontPending(), inFront);
        if (inFront)
            QCOMPARE(view()->toModel(view()->currentIndex()).row(), 0);
        type(view()->toModel(view()->currentIndex()).row(), note, QStringLiteral("typed"));
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
        QCOMPARE(model()->rowSet()->recordCount(), 300000);
        QCOMPARE(current(note), QStringLiteral("typed"));
        const int at = view()->toModel(view()->currentIndex()).row();
        QCOMPARE(model()->heldRow(), at);
        const RowStore::Cell stored = model()->rowSet()->rows().cell(at, note);
        QCOMPARE(QByteArray(stored.text().data(), qsizetype(stored.text().size())), QByteArray("n100001"));
        QVERIFY(view()->viewport()->rect().contains(view()->visualRect(view()->currentIndex()).center()));
        QCOMPARE(view()->selectionModel()->selectedIndexes(), QModelIndexList{view()->currentIndex()});
        const QByteArray jumped = rows();
        QVERIFY(editor()->session().commitHeldRow());
        QCOMPARE(server("SELECT COUNT(*) FROM deep WHERE note = 'typed'"), QStringList{"1"});
        QCOMPARE(server("SELECT COUNT(*) FROM deep WHERE note = 'n100001'"), QStringList{"0"});
        editor()->goBack();
        QTRY_COMPARE(current(0), QStringLiteral("1"));
        m_wizard.reset();
        open(QStringLiteral("deep"));
        QCOMPARE(rows(), jumped);
    }

    void keysFromLabels_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("label");
        QTest::newRow("plain") << "town"
                               << "name";
        QTest::newRow("hostile") << "t`o'w\"n;"
                                 << "x`y name";
    }

    // A key's cell: the picker finds rows by key or label as the user types,
    // and a label typed or pasted instead of a key stores that row's key
    // when exactly one row has it; else the cell is refused with the count.
    void keysFromLabels()
    {
        QFETCH(QString, parent);
        QFETCH(QString, label);
        const auto q = [](const QString &name) { return '`' + QString(name).replace('`', "``") + '`'; };
        TestDb::run(Db,
            {"SET FOREIGN_KEY_CHECKS = 0", "DROP TABLE IF EXISTS shop", "DROP TABLE IF EXISTS " + q(parent),
                "CREATE TABLE " + q(parent) + " (id INT PRIMARY KEY, " + q(label)
                    + " VARCHAR(20), region VARCHAR(10), KEY (" + q(label) + ")) ENGINE=InnoDB",
                "CREATE TABLE shop (id INT PRIMARY KEY, town INT, FOREIGN KEY (town) REFERENCES " + q(parent)
                    + " (id)) ENGINE=InnoDB",
                "INSERT INTO " + q(parent)
                    + " VALUES (3, 'Springfield', 'west'), (12, 'Shelbyville', 'a'), "
                      "(120, 'Shelbyville', 'b'), (7, 'Ogden_ville', 'c'), (8, 'Ogdenxville', 'd')",
                "INSERT INTO shop VALUES (1, NULL), (2, NULL)"});
        open(QStringLiteral("shop"));
        QTRY_VERIFY(model()->labels().showsLabels(1));

        // Typed: "1" finds the keys 12 and 120; "Og" the labels; Down, Enter picks.
        view()->setCurrentIndex(view()->fromModel(model()->index(0, 1)));
        view()->edit(view()->currentIndex());
        auto *picker = qobject_cast<KeyPicker *>(view()->cellEditor());
        QVERIFY(picker);
        QTest::keyClicks(picker, QStringLiteral("1"));
        QTRY_COMPARE(picker->list()->topLevelItemCount(), 2);
        QCOMPARE(picker->list()->topLevelItem(1)->text(1), QStringLiteral("Shelbyville"));
        picker->clear();
        QTest::keyClicks(picker, QStringLiteral("Ogden_"));
        QTRY_COMPARE(picker->list()->topLevelItemCount(), 1); // the _ is no wildcard
        QCOMPARE(picker->list()->topLevelItem(0)->text(2), QStringLiteral("c"));
        QTest::keyClick(picker, Qt::Key_Escape);
        QVERIFY(!picker->listShown());
        QCOMPARE(picker->text(), QStringLiteral("Ogden_")); // Escape keeps the text
        QTest::keyClicks(picker, QStringLiteral("v"));
        QTRY_VERIFY(picker->listShown());
        QTest::keyClick(picker, Qt::Key_Return);
        QTRY_VERIFY(!view()->cellEditor());
        QVERIFY(editor()->session().commitHeldRow());
        QCOMPARE(server("SELECT town FROM shop WHERE id = 1"), QStringList{"7"});

        // Typed labels: one row has it, two, none; a raw key; a paste of two.
        const std::vector<std::pair<QString, QString>> typed{{"Springfield", ""},
            {"Shelbyville", "2 rows of `" + parent + "` have the label \"Shelbyville\""},
            {"Nowhere",
                "refers to no row of `" + parent
                    + "` (constraint shop_ibfk_1). No row of it has the label \"Nowhere\" either."},
            {"120", ""}};
        for (const auto &[text, refusal] : typed) {
            m_desktop.clear();
            type(1, 1, text);
            QCOMPARE(editor()->session().commitHeldRow(), refusal.isEmpty());
            QVERIFY2(m_desktop.texts().join('\n').contains(refusal), qPrintable(m_desktop.texts().join('\n')));
            model()->revertRow();
        }
        QCOMPARE(server("SELECT town FROM shop WHERE id = 2"), QStringList{"120"});
        m_desktop.clear();
        view()->setCurrentIndex(view()->fromModel(model()->index(0, 1)));
        editor()->session().paste(QStringLiteral("Springfield\nOgdenxville"), {});
        QCOMPARE(server("SELECT town FROM shop ORDER BY id"), (QStringList{"3", "8"}));
    }
};

QTEST_MAIN(TestForeignKeys)
#include "tst_foreignkeys.moc"
