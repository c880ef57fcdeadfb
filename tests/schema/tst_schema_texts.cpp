#include "schema/ColumnDefinition.h"
#include "schema/SchemaStatements.h"
#include "schema/frmNewColumn.h"
#include "schema/frmNewTable.h"

#include <QTest>

Q_DECLARE_METATYPE(ColumnDefinition)

namespace {

// "U" unsigned, "Z" zero fill, "A" auto increment.
ColumnDefinition column(const QString &name, const QString &type, const QString &m = {}, const QString &d = {},
                        const QString &flags = {}, const QString &defaultValue = {})
{
    ColumnDefinition c;
    c.name = name;
    c.dataType = type;
    c.m = m;
    c.d = d;
    c.defaultValue = defaultValue;
    c.isUnsigned = flags.contains(QLatin1Char('U'));
    c.isZeroFill = flags.contains(QLatin1Char('Z'));
    c.isAutoIncrement = flags.contains(QLatin1Char('A'));
    return c;
}

QString spaces(int n)
{
    return QString(n, QLatin1Char(' '));
}

const QString AutoInc = QStringLiteral("NOT NULL AUTO_INCREMENT PRIMARY KEY");

} // namespace

class TestSchemaTexts : public QObject
{
    Q_OBJECT
private slots:
    void typeVocabularyInListOrder()
    {
        const QStringList expected = {"TINYINT", "SMALLINT", "MEDIUMINT", "INT", "BIGINT", "FLOAT", "DOUBLE",
                                      "DECIMAL", "DATE", "DATETIME", "TIMESTAMP", "TIME", "YEAR", "CHAR",
                                      "VARCHAR", "BINARY", "VARBINARY", "TINYBLOB", "TINYTEXT", "BLOB", "TEXT",
                                      "MEDIUMBLOB", "MEDIUMTEXT", "LONGBLOB", "LONGTEXT"};
        QStringList actual;
        for (const char *k : DataTypeKeywords)
            actual << QLatin1String(k);
        QCOMPARE(actual, expected);
        QCOMPARE(ColumnDefinition().dataType, QStringLiteral("TINYINT"));
    }

    void filled_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("filled");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("spaces only") << "   " << false;
        QTest::newRow("tab counts as text") << "\t" << true;
        QTest::newRow("no-break space counts as text") << QString(QChar(0x00A0)) << true;
        QTest::newRow("padded word") << "  x " << true;
    }
    void filled()
    {
        QFETCH(QString, value);
        QFETCH(bool, filled);
        QCOMPARE(isFilled(value), filled);
    }

    // Every worked description with its column clause, field row and field
    // text, written out character by character.
    void columnTexts_data()
    {
        QTest::addColumn<ColumnDefinition>("def");
        QTest::addColumn<QString>("clause");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QString>("fieldText");

        QTest::newRow("price DECIMAL 10,2")
            << column("price", "DECIMAL", "10", "2") << "`price` DECIMAL (10, 2)"
            << QStringList{"price", "DECIMAL", "(10, 2)", "", "", "", "", ""}
            << "`price` DECIMAL (10, 2)" + spaces(5) + ",";
        QTest::newRow("id INT 11 unsigned auto")
            << column("id", "INT", "11", "", "UA") << "`id` INT (11) UNSIGNED" + spaces(2) + AutoInc + " "
            << QStringList{"id", "INT", "(11)", "UNSIGNED", "", AutoInc, "", ""}
            << "`id` INT (11) UNSIGNED" + spaces(2) + AutoInc + spaces(2) + ",";
        QTest::newRow("n INT") << column("n", "INT") << "`n` INT" << QStringList{"n", "INT", "", "", "", "", "", ""}
                               << "`n` INT" + spaces(6) + ",";
        QTest::newRow("z INT 5 unsigned zerofill")
            << column("z", "INT", "5", "", "UZ") << "`z` INT (5) UNSIGNED" + spaces(2) + "ZEROFILL "
            << QStringList{"z", "INT", "(5)", "UNSIGNED", "ZEROFILL", "", "", ""}
            << "`z` INT (5) UNSIGNED ZEROFILL" + spaces(3) + ",";
        QTest::newRow("d DATE with D only") << column("d", "DATE", "", "2") << "`d` DATE"
                                            << QStringList{"d", "DATE", "", "", "", "", "", ""}
                                            << "`d` DATE" + spaces(6) + ",";
        QTest::newRow("D of spaces ignored") << column("x", "INT", "10", "   ") << "`x` INT (10)"
                                             << QStringList{"x", "INT", "(10)", "", "", "", "", ""}
                                             << "`x` INT (10)" + spaces(5) + ",";
        QTest::newRow("M of spaces: no size") << column("x", "INT", "  ", "2") << "`x` INT"
                                              << QStringList{"x", "INT", "", "", "", "", "", ""}
                                              << "`x` INT" + spaces(6) + ",";
        QTest::newRow("name keeps its spaces") << column(" a ", "INT") << "` a ` INT"
                                               << QStringList{" a ", "INT", "", "", "", "", "", ""}
                                               << "` a ` INT" + spaces(6) + ",";
        QTest::newRow("M with a leading space") << column("x", "INT", " 10") << "`x` INT ( 10)"
                                                << QStringList{"x", "INT", "( 10)", "", "", "", "", ""}
                                                << "`x` INT ( 10)" + spaces(5) + ",";
        QTest::newRow("all three attributes")
            << column("x", "INT", "", "", "UZA") << "`x` INT UNSIGNED  ZEROFILL  " + AutoInc + " "
            << QStringList{"x", "INT", "", "UNSIGNED", "ZEROFILL", AutoInc, "", ""}
            << "`x` INT  UNSIGNED ZEROFILL " + AutoInc + spaces(2) + ",";
        QTest::newRow("attributes on a text type")
            << column("t", "VARCHAR", "10", "", "UZ") << "`t` VARCHAR (10) UNSIGNED  ZEROFILL "
            << QStringList{"t", "VARCHAR", "(10)", "UNSIGNED", "ZEROFILL", "", "", ""}
            << "`t` VARCHAR (10) UNSIGNED ZEROFILL" + spaces(3) + ",";
        QTest::newRow("back-quote in the name is doubled")
            << column("a`b", "INT") << "`a``b` INT" << QStringList{"a`b", "INT", "", "", "", "", "", ""}
            << "`a``b` INT" + spaces(6) + ",";
        QTest::newRow("M and D not numbers, kept as typed")
            << column("q", "DECIMAL", "x; y", "'z'") << "`q` DECIMAL (x; y, 'z')"
            << QStringList{"q", "DECIMAL", "(x; y, 'z')", "", "", "", "", ""}
            << "`q` DECIMAL (x; y, 'z')" + spaces(5) + ",";
        QTest::newRow("default never reaches the texts")
            << column("note", "VARCHAR", "40", "", "", "'none'") << "`note` VARCHAR (40)"
            << QStringList{"note", "VARCHAR", "(40)", "", "", "", "", ""} << "`note` VARCHAR (40)" + spaces(5) + ",";
    }
    void columnTexts()
    {
        QFETCH(ColumnDefinition, def);
        QFETCH(QString, clause);
        QFETCH(QStringList, row);
        QFETCH(QString, fieldText);
        QCOMPARE(ColumnClause(def), clause);
        const FieldRow built = FieldRow::from(def);
        QCOMPARE(QStringList(built.cells.begin(), built.cells.end()), row);
        QCOMPARE(FieldText(built), fieldText);
    }

    void sizePart_data()
    {
        QTest::addColumn<QString>("m");
        QTest::addColumn<QString>("d");
        QTest::addColumn<QString>("size");
        QTest::newRow("none") << "" << "" << "";
        QTest::newRow("M") << "40" << "" << "(40)";
        QTest::newRow("M and D, comma and one space") << "10" << "2" << "(10, 2)";
        QTest::newRow("D without M ignored") << "" << "2" << "";
        QTest::newRow("padding kept") << " 10 " << " 2" << "( 10 ,  2)";
    }
    void sizePart()
    {
        QFETCH(QString, m);
        QFETCH(QString, d);
        QFETCH(QString, size);
        QCOMPARE(SizePart(m, d), size);
    }

    void addColumnStatements_data()
    {
        QTest::addColumn<ColumnDefinition>("def");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("statement");
        QTest::newRow("LAST adds nothing") << column("qty", "INT") << 0 << "" << "ALTER TABLE `orders` ADD `qty` INT";
        QTest::newRow("FIRST") << column("qty", "INT", "11") << 1 << ""
                               << "ALTER TABLE `orders` ADD `qty` INT (11) FIRST";
        QTest::newRow("AFTER after an attribute")
            << column("qty", "INT", "11", "", "U") << 2 << "id"
            << "ALTER TABLE `orders` ADD `qty` INT (11) UNSIGNED  AFTER `id`";
        QTest::newRow("AFTER after all three attributes")
            << column("c", "INT", "5", "", "UZA") << 2 << "x"
            << "ALTER TABLE `orders` ADD `c` INT (5) UNSIGNED  ZEROFILL  " + AutoInc + "  AFTER `x`";
        QTest::newRow("AFTER with no column chosen") << column("qty", "INT") << 2 << ""
                                                     << "ALTER TABLE `orders` ADD `qty` INT AFTER ``";
        QTest::newRow("default is a statement of its own")
            << column("note", "VARCHAR", "40", "", "", "'none'") << 0 << ""
            << "ALTER TABLE `orders` ADD `note` VARCHAR (40)";
    }
    void addColumnStatements()
    {
        QFETCH(ColumnDefinition, def);
        QFETCH(int, position);
        QFETCH(QString, after);
        QFETCH(QString, statement);
        QCOMPARE(AddColumnStatement("orders", def, ColumnPosition(position), after), statement);
    }

    void otherStatements()
    {
        QCOMPARE(SetDefaultStatement("orders", "note", "'none'"),
                 QStringLiteral("ALTER TABLE `orders` ALTER `note` SET DEFAULT 'none'"));
        QCOMPARE(SetDefaultStatement("orders", "n", " 5 "), QStringLiteral("ALTER TABLE `orders` ALTER `n` SET DEFAULT  5 "));
        QCOMPARE(SelectAllRowsQuery("orders"), QStringLiteral("SELECT * FROM `orders`;"));
        QCOMPARE(SelectAllRowsQuery("a`b"), QStringLiteral("SELECT * FROM `a``b`;"));
        // A name that reads like SQL stays one name.
        QCOMPARE(AddColumnStatement("prices DROP COLUMN cost,", column("note", "INT"), ColumnPosition::After, "x`y"),
                 QStringLiteral("ALTER TABLE `prices DROP COLUMN cost,` ADD `note` INT AFTER `x``y`"));
        QCOMPARE(SetDefaultStatement("a`b", "c`d", "1"), QStringLiteral("ALTER TABLE `a``b` ALTER `c``d` SET DEFAULT 1"));
    }

    void createTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<ColumnDefinition>>("defs");
        QTest::addColumn<QString>("statement");
        QTest::newRow("id and name")
            << "t" << QList<ColumnDefinition>{column("id", "INT", "11", "", "UA"), column("name", "VARCHAR", "40")}
            << "CREATE TABLE `t`(`id` INT (11) UNSIGNED  " + AutoInc + "  ,`name` VARCHAR (40)" + spaces(5) + ")";
        QTest::newRow("one DATE field") << "t" << QList<ColumnDefinition>{column("d", "DATE")}
                                        << "CREATE TABLE `t`(`d` DATE" + spaces(6) + ")";
        QTest::newRow("name of one space") << " " << QList<ColumnDefinition>{column("n", "INT")}
                                           << "CREATE TABLE ` `(`n` INT" + spaces(6) + ")";
        QTest::newRow("same name twice, both sent")
            << "t" << QList<ColumnDefinition>{column("a", "INT"), column("a", "INT")}
            << "CREATE TABLE `t`(`a` INT" + spaces(6) + ",`a` INT" + spaces(6) + ")";
    }
    void createTable()
    {
        QFETCH(QString, name);
        QFETCH(QList<ColumnDefinition>, defs);
        QFETCH(QString, statement);
        std::vector<FieldRow> rows;
        for (const ColumnDefinition &d : defs)
            rows.push_back(FieldRow::from(d));
        QCOMPARE(CreateTableStatement(name, rows), statement);
    }

    void createTableQuotesNames()
    {
        std::vector<FieldRow> rows{FieldRow::from(column("a`b", "INT"))};
        QCOMPARE(CreateTableStatement("t`; DROP TABLE x; --", rows),
                 "CREATE TABLE `t``; DROP TABLE x; --`(`a``b` INT" + spaces(6) + ")");
    }

    void sqlReportText()
    {
        QCOMPARE(frmNewColumn::sqlReportText("Duplicate column name 'a'", "ALTER TABLE t ADD `a` INT"),
                 QStringLiteral("Error: Duplicate column name 'a'\r\nSQL: ALTER TABLE t ADD `a` INT"));
    }

    void twips_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("pixels");
        QTest::newRow("1500 at 96") << 1500 << 96 << 100;
        QTest::newRow("700 at 96 rounds up") << 700 << 96 << 47;
        QTest::newRow("1500 at 144") << 1500 << 144 << 150;
        QTest::newRow("700 at 120") << 700 << 120 << 58;
    }
    void twips()
    {
        QFETCH(int, twips);
        QFETCH(int, dpi);
        QFETCH(int, pixels);
        QCOMPARE(frmNewTable::twipsToPixels(twips, dpi), pixels);
    }
};

QTEST_APPLESS_MAIN(TestSchemaTexts)
#include "tst_schema_texts.moc"
