#include "EditorSession.h"
#include "db/ForeignLabels.h"
#include "pages/TableSession.h"

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
            = QStringLiteral("The values \"9\", \"x\" of pa, pb refer to no row of `%1` (constraint %2).")
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
        TestDb::run(Db, {"SET FOREIGN_KEY_CHECKS = 0", "INSERT INTO " + q(child) + " VALUES (5, 7, 'zz')"});
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
    }
};

QTEST_MAIN(TestForeignKeys)
#include "tst_foreignkeys.moc"
