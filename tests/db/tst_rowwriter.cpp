#include "db/RowWriter.h"
#include "db/StoredForm.h"

#include <QCryptographicHash>
#include <QTest>

#include <mysql.h>

Q_DECLARE_METATYPE(RowIdentity::Kind)

namespace {

FieldInfo field(const char *name, int type = MYSQL_TYPE_LONG)
{
    FieldInfo f;
    // Numbers come with the binary character set; text with utf8mb4.
    f.charset = type == MYSQL_TYPE_VAR_STRING ? 45 : 63;
    f.name = QString::fromLatin1(name);
    f.orgName = name;
    f.type = type;
    return f;
}

// Stands in for the server's escaping: quotes doubled, in quotes.
QByteArray fakeQuote(const QByteArray &value)
{
    QByteArray v = value;
    v.replace('\'', "''");
    return '\'' + v + '\'';
}

KeyPart part(const char *key, int seq, const char *column, bool unique = true, bool nullable = false)
{
    return {key, seq, column, unique, nullable};
}

const std::vector<FieldInfo> Fields = {field("id"), field("Name", MYSQL_TYPE_VAR_STRING), field("f", MYSQL_TYPE_FLOAT),
                                       field("code", MYSQL_TYPE_VAR_STRING)};

} // namespace

// The statements that write single rows back, built without a server.
class TestRowWriter : public QObject
{
    Q_OBJECT
private slots:
    void chooseIdentity_data()
    {
        QTest::addColumn<std::vector<KeyPart>>("keys");
        QTest::addColumn<RowIdentity::Kind>("kind");
        QTest::addColumn<std::vector<int>>("columns");
        using K = RowIdentity::Kind;
        QTest::newRow("no keys") << std::vector<KeyPart>{} << K::AllColumns << std::vector<int>{};
        QTest::newRow("primary wins over unique")
            << std::vector<KeyPart>{part("u", 1, "code"), part("PRIMARY", 1, "id")} << K::PrimaryKey << std::vector<int>{0};
        QTest::newRow("composite primary in key order")
            << std::vector<KeyPart>{part("PRIMARY", 2, "id"), part("PRIMARY", 1, "name")} << K::PrimaryKey
            << std::vector<int>{1, 0};
        QTest::newRow("unique with a nullable column is no handle")
            << std::vector<KeyPart>{part("u", 1, "code", true, true)} << K::AllColumns << std::vector<int>{};
        QTest::newRow("non-unique index is no handle")
            << std::vector<KeyPart>{part("i", 1, "id", false)} << K::AllColumns << std::vector<int>{};
        QTest::newRow("float key is no handle")
            << std::vector<KeyPart>{part("PRIMARY", 1, "f")} << K::AllColumns << std::vector<int>{};
        QTest::newRow("narrowest unique NOT NULL key")
            << std::vector<KeyPart>{part("wide", 1, "id"), part("wide", 2, "code"), part("narrow", 1, "code")}
            << K::UniqueKey << std::vector<int>{3};
        QTest::newRow("key on a column the result lacks")
            << std::vector<KeyPart>{part("PRIMARY", 1, "gone")} << K::AllColumns << std::vector<int>{};
    }
    void chooseIdentity()
    {
        QFETCH(std::vector<KeyPart>, keys);
        QFETCH(RowIdentity::Kind, kind);
        QFETCH(std::vector<int>, columns);
        const RowIdentity id = ::chooseIdentity(Fields, keys);
        QCOMPARE(id.kind, kind);
        QCOMPARE(id.columns, columns);
    }

    void statements_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<QByteArray>("expected");
        const RowIdentity byId{RowIdentity::Kind::PrimaryKey, {0}};
        const RowIdentity all;
        const RowValues row = {CellValue::of("7"), CellValue::of("it's"), CellValue::of("0.1"), CellValue::null()};
        const CellChanges changes = {{1, CellValue::of("new")}, {3, CellValue::null()}};
        QTest::newRow("update by key checks the changed columns' old text")
            << updateStatement("t", Fields, byId, row, changes, fakeQuote)
            << QByteArray("UPDATE `t` SET `Name` = 'new', `code` = NULL WHERE `id` = '7' AND CAST(CONVERT(`Name` USING "
                          "utf8mb4) AS BINARY) = 'it''s' AND `code` IS NULL LIMIT 1");
        QTest::newRow("update without key matches every column")
            << updateStatement("t", Fields, all, row, {{2, CellValue::of("2")}}, fakeQuote)
            << QByteArray("UPDATE `t` SET `f` = '2' WHERE CAST(`id` AS BINARY) = '7' AND CAST(CONVERT(`Name` USING "
                          "utf8mb4) AS BINARY) = 'it''s' AND CAST(`f` AS BINARY) = '0.1' AND `code` IS NULL LIMIT 1");
        QTest::newRow("delete by key checks the whole row")
            << deleteStatement("t", Fields, byId, row, fakeQuote, 2)
            << QByteArray("DELETE FROM `t` WHERE `id` = '7' AND CAST(`id` AS BINARY) = '7' AND CAST(CONVERT(`Name` "
                          "USING utf8mb4) AS BINARY) = 'it''s' AND CAST(`f` AS BINARY) = '0.1' AND `code` IS NULL "
                          "LIMIT 2");
        const QByteArray big(HashAbove + 1, 'x');
        QTest::newRow("a large value is compared by the hash of the bytes read")
            << deleteStatement("t", Fields, byId, {CellValue::of("7"), CellValue::of(big), CellValue::of("0"), CellValue::null()},
                               fakeQuote)
            << QByteArray("DELETE FROM `t` WHERE `id` = '7' AND CAST(`id` AS BINARY) = '7' AND SHA2(CAST(CONVERT(`Name` "
                          "USING utf8mb4) AS BINARY), 256) = '"
                          + QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex()
                          + "' AND CAST(`f` AS BINARY) = '0' AND `code` IS NULL LIMIT 1");
        QTest::newRow("insert names only the given columns")
            << insertStatement("t", Fields, changes, fakeQuote)
            << QByteArray("INSERT INTO `t` (`Name`, `code`) VALUES ('new', NULL)");
        QTest::newRow("back quote in a table name is doubled")
            << selectRowStatement("a`b", Fields, {{0, CellValue::of("1"), false}}, fakeQuote)
            << QByteArray("SELECT * FROM `a``b` WHERE `id` = '1' LIMIT 1");
    }
    void statements()
    {
        QFETCH(QByteArray, statement);
        QFETCH(QByteArray, expected);
        QCOMPARE(statement, expected);
    }

    // Only a value stored as typed lets a lost write be called not applied
    // when its old bytes are still there.
    void storesUnchanged_data()
    {
        QTest::addColumn<QByteArray>("columnType");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QByteArray>("value"); // "NULL" for NULL
        QTest::addColumn<bool>("unchanged");
        QTest::newRow("case kept in text")
            << QByteArray("varchar(3)") << QByteArray("utf8mb4") << QByteArray("ABC") << true;
        QTest::newRow("trailing space kept by VARCHAR")
            << QByteArray("varchar(3)") << QByteArray("utf8mb4") << QByteArray("a ") << true;
        QTest::newRow("CHAR strips or pads")
            << QByteArray("char(3)") << QByteArray("utf8mb4") << QByteArray("a") << false;
        QTest::newRow("too long is cut") << QByteArray("varchar(3)") << QByteArray("utf8mb4") << QByteArray("abcd")
                                         << false;
        QTest::newRow("outside latin1") << QByteArray("varchar(3)") << QByteArray("latin1")
                                        << QByteArray("\xe2\x9c\x93") << false;
        QTest::newRow("4 bytes in utf8mb3")
            << QByteArray("varchar(3)") << QByteArray("utf8mb3") << QByteArray("\xf0\x9f\x98\x80") << false;
        QTest::newRow("plain integer") << QByteArray("int(11)") << QByteArray() << QByteArray("-12") << true;
        QTest::newRow("leading zero") << QByteArray("int(11)") << QByteArray() << QByteArray("05") << false;
        QTest::newRow("out of range") << QByteArray("tinyint(3) unsigned") << QByteArray() << QByteArray("256")
                                      << false;
        QTest::newRow("zerofill") << QByteArray("int(5) unsigned zerofill") << QByteArray() << QByteArray("5") << false;
        QTest::newRow("float") << QByteArray("float") << QByteArray() << QByteArray("0.5") << false;
        QTest::newRow("decimal") << QByteArray("decimal(5,2)") << QByteArray() << QByteArray("1.00") << false;
        QTest::newRow("date") << QByteArray("date") << QByteArray() << QByteArray("2020-01-01") << false;
        QTest::newRow("NULL where allowed") << QByteArray("date") << QByteArray() << QByteArray("NULL") << true;
    }
    void storesUnchanged()
    {
        QFETCH(QByteArray, columnType);
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, value);
        QFETCH(bool, unchanged);
        const QByteArray dataType = columnType.split('(').front().split(' ').front();
        const ColumnType t{dataType, columnType, charset, 3, 12, true, false};
        const CellValue v = value == "NULL" ? CellValue::null() : CellValue::of(value);
        QCOMPARE(::storesUnchanged(t, v, false), unchanged);
    }

    void cellValuesTellNullFromEmpty()
    {
        QVERIFY(!(CellValue::null() == CellValue::of("")));
        QVERIFY(CellValue::of("") == CellValue::of(QByteArray()));
        QVERIFY(CellValue::null() == CellValue::null());
    }
};

QTEST_GUILESS_MAIN(TestRowWriter)
#include "tst_rowwriter.moc"
