#include "db/RowStore.h"

#include <QTest>

#include <optional>
#include <stdexcept>

namespace {

// A cell as the tests write it: its bytes, or nothing for NULL.
using Text = std::optional<QByteArray>;
using Row = std::vector<Text>;

std::vector<RowStore::Cell> cellsOf(const Row &row)
{
    std::vector<RowStore::Cell> out;
    for (const Text &t : row)
        out.push_back(t ? RowStore::Cell(std::string_view(t->constData(), size_t(t->size()))) : RowStore::Cell());
    return out;
}

// Appends as the loader does, from the client library's arrays.
void appendRaw(RowStore &store, const Row &row)
{
    std::vector<const char *> cells;
    std::vector<unsigned long> lengths;
    for (const Text &t : row) {
        cells.push_back(t ? t->constData() : nullptr);
        lengths.push_back(t ? (unsigned long)t->size() : 0);
    }
    store.append(cells.data(), lengths.data());
}

Text read(const RowStore::Cell &c)
{
    if (c.isNull())
        return std::nullopt;
    return QByteArray(c.text().data(), qsizetype(c.text().size()));
}

// Every cell, read both one at a time and as a row.
void compareRow(const RowStore &store, qint64 r, const Row &expected)
{
    const std::vector<RowStore::Cell> row = store.row(r);
    QCOMPARE(row.size(), expected.size());
    for (size_t c = 0; c < expected.size(); ++c) {
        QCOMPARE(read(store.cell(r, int(c))), expected[c]);
        QCOMPARE(read(row[c]), expected[c]);
    }
}

// Row i of a long table: numbers, a date and time, text, NULLs.
Row sample(int i)
{
    return {QByteArray::number(i), i % 7 == 3 ? Text() : Text("name " + QByteArray::number(i)),
            QByteArray::number(i * 37 % 100000 - 50000) + ".5" + QByteArray::number(i % 10),
            QByteArray("2020-01-") + QByteArray::number(10 + i % 20) + " 02:11:4" + QByteArray::number(i % 10)};
}

} // namespace

Q_DECLARE_METATYPE(Text)

// The compact store of the grid's rows: every byte comes back as stored,
// whether a cell is packed two characters to a byte or kept as it is.
class TestRowStore : public QObject
{
    Q_OBJECT

private slots:
    void cellsComeBackExactly_data()
    {
        QTest::addColumn<Text>("text");
        QTest::newRow("NULL") << Text();
        QTest::newRow("empty") << Text("");
        QTest::newRow("one digit") << Text("7");
        QTest::newRow("two digits") << Text("42");
        QTest::newRow("every symbol") << Text("0123456789-.: e+");
        QTest::newRow("every symbol, odd") << Text("0123456789-.: e+9");
        QTest::newRow("decimal") << Text("10472.90");
        QTest::newRow("negative") << Text("-50000");
        QTest::newRow("datetime") << Text("2020-01-01 02:11:47");
        QTest::newRow("fractions") << Text("2020-01-01 02:11:47.123456");
        QTest::newRow("zero date") << Text("0000-00-00 00:00:00");
        QTest::newRow("time") << Text("-838:59:59");
        QTest::newRow("exponent") << Text("1.5e-300");
        QTest::newRow("plus exponent") << Text("-1e+30");
        QTest::newRow("spaces") << Text("   ");
        QTest::newRow("decimal(65,30)") << Text("-" + QByteArray(35, '9') + "." + QByteArray(30, '1'));
        QTest::newRow("longest packed") << Text(QByteArray(RowStore::MaxPackedLength, '5'));
        QTest::newRow("one past longest packed") << Text(QByteArray(RowStore::MaxPackedLength + 1, '5'));
        QTest::newRow("1 MB of digits") << Text(QByteArray(1 << 20, '8'));
        QTest::newRow("126 bytes text") << Text(QByteArray(126, 'x'));
        QTest::newRow("127 bytes text") << Text(QByteArray(127, 'x'));
        QTest::newRow("300 KB text") << Text(QByteArray(300 << 10, 'q'));
        // Characters next to the alphabet, at the start, middle and end.
        for (const char c : QByteArray("/;,*!)E5fd\x7f", 11)) {
            QTest::addRow("0x%02x at the start", c) << Text(c + QByteArray("12345678901"));
            QTest::addRow("0x%02x in the middle", c) << Text("123456" + QByteArray(1, c) + "78901");
            QTest::addRow("0x%02x at the end", c) << Text("1234567890" + QByteArray(1, c));
        }
        QTest::newRow("NUL byte among digits") << Text(QByteArray("12\0" "34", 5));
        QTest::newRow("binary") << Text(QByteArray("\x00\xff\x80\x30\x31\xb0", 6));
        QTest::newRow("UTF-8") << Text("12 \xe2\x82\xac");
    }

    void cellsComeBackExactly()
    {
        QFETCH(Text, text);
        // Beside a packed and a plain cell, so skipping over it is checked too.
        const Row row = {Text("2024-02-29"), text, Text("after"), Text("31")};
        RowStore store(int(row.size()));
        appendRaw(store, row);
        store.append(cellsOf(row));
        store.insert(0, cellsOf(row));
        store.replace(1, cellsOf({Text(), Text(), Text(), Text()}));
        store.replace(1, cellsOf(row));
        QCOMPARE(store.rowCount(), 3);
        for (qint64 r = 0; r < store.rowCount(); ++r)
            compareRow(store, r, row);
        // A row copied from the store's own cells, as the grid does.
        store.append(store.row(0));
        compareRow(store, 3, row);
    }

    void copiedCellsKeepTheirText()
    {
        RowStore store(2);
        appendRaw(store, {Text("2020-01-01 02:11:47"), Text("plain")});
        std::vector<RowStore::Cell> kept;
        {
            const RowStore::Cell packed = store.cell(0, 0);
            kept.push_back(packed);
            kept.push_back(store.cell(0, 1));
        }
        RowStore::Cell assigned;
        assigned = kept[0];
        kept.push_back(assigned);
        QCOMPARE(kept[0].text(), std::string_view("2020-01-01 02:11:47"));
        QCOMPARE(kept[1].text(), std::string_view("plain"));
        QCOMPARE(kept[2].text(), std::string_view("2020-01-01 02:11:47"));
        QVERIFY(kept[0].isPacked());
        QVERIFY(!kept[1].isPacked());
    }

    // 90,000 datetimes fit one 1 MiB block only two characters to a byte.
    void numbersAndDatesTakeHalfTheRoom_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<size_t>("blocks");
        QTest::newRow("datetime") << QByteArray("2020-01-01 02:11:47") << size_t(1);
        QTest::newRow("ISO datetime, not packed") << QByteArray("2020-01-01T02:11:47") << size_t(2);
    }

    void numbersAndDatesTakeHalfTheRoom()
    {
        QFETCH(QByteArray, text);
        QFETCH(size_t, blocks);
        RowStore store(1);
        for (int i = 0; i < 90000; ++i)
            appendRaw(store, {text});
        QCOMPARE(store.blockCount(), blocks);
        compareRow(store, 89999, {text});
    }

    // Rows that do not fit the rest of the current block and are larger than
    // a quarter block get a block each; later rows still go to the current one.
    void outsizedRowsHaveBlocksOfTheirOwn()
    {
        RowStore store(2);
        const QByteArray big(1536 << 10, 'b');
        appendRaw(store, {Text("1"), Text("before")});
        appendRaw(store, {Text("2"), big});
        appendRaw(store, {Text("3"), Text("12:00:00")});
        store.insert(1, cellsOf({Text("4"), Text(QByteArray(1200 << 10, '7'))}));
        QCOMPARE(store.blockCount(), size_t(3));
        compareRow(store, 0, {Text("1"), Text("before")});
        compareRow(store, 1, {Text("4"), Text(QByteArray(1200 << 10, '7'))});
        compareRow(store, 2, {Text("2"), big});
        compareRow(store, 3, {Text("3"), Text("12:00:00")});
    }

    void editsReachTheRightRows()
    {
        RowStore store(4);
        std::vector<Row> expected;
        for (int i = 0; i < 60000; ++i) {
            expected.push_back(sample(i));
            appendRaw(store, expected.back());
        }
        QVERIFY(store.blockCount() > 1);
        for (int i = 0; i < 300; ++i) {
            const qint64 at = (i * 7919) % qint64(expected.size());
            switch (i % 3) {
            case 0:
                expected[size_t(at)] = sample(100000 + i);
                store.replace(at, cellsOf(expected[size_t(at)]));
                break;
            case 1:
                expected.insert(expected.begin() + at, sample(200000 + i));
                store.insert(at, cellsOf(expected[size_t(at)]));
                break;
            default:
                expected.erase(expected.begin() + at);
                store.remove(at);
            }
        }
        QCOMPARE(store.rowCount(), qint64(expected.size()));
        for (size_t r = 0; r < expected.size(); ++r)
            compareRow(store, qint64(r), expected[r]);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, store.append(cellsOf({Text("too few")})));
    }

    // A loader fills chunks in one store and hands them to another, sharing
    // the block it is filling; the receiver edits rows in between.
    void handedOverRowsKeepTheirPlaces()
    {
        RowStore loader(4), target(4);
        std::vector<Row> expected;
        for (int i = 0; i < 40000; ++i) {
            const Row row = sample(i);
            appendRaw(loader, row);
            expected.push_back(row);
            if (i % 997 == 0)
                target.take(loader.handOver());
            if (i % 5003 == 0 && target.rowCount()) {
                // An outsized row and an ordinary one, stored by the receiver.
                const qint64 at = target.rowCount() / 2;
                expected[size_t(at)] = {Text("x"), Text(QByteArray(300 << 10, 'z')), Text(), Text("0")};
                target.replace(at, cellsOf(expected[size_t(at)]));
                expected[0] = sample(900000 + i);
                target.replace(0, cellsOf(expected[0]));
            }
        }
        target.take(loader.handOver());
        QCOMPARE(loader.rowCount(), 0);
        QCOMPARE(target.rowCount(), qint64(expected.size()));
        for (size_t r = 0; r < expected.size(); ++r)
            compareRow(target, qint64(r), expected[r]);
        // The block shared by consecutive chunks is held once: 40,000 rows of
        // about 45 bytes fill two blocks, the receiver's edits a few more.
        QVERIFY2(target.blockCount() <= 12, qPrintable(QString::number(target.blockCount())));
        QCOMPARE(target.bytesReserved() % (1 << 20) != 0, true); // the outsized rows
    }

    // The rows read before a row shown first come in front in parts, the
    // last part first, in front of more rows or of fewer.
    void rowsPutInFrontKeepTheirOrder_data()
    {
        QTest::addColumn<int>("front");
        QTest::addColumn<int>("rest");
        QTest::newRow("shorter in front") << 3000 << 40000;
        QTest::newRow("longer in front") << 40000 << 3000;
        QTest::newRow("one row behind") << 25000 << 1;
    }
    void rowsPutInFrontKeepTheirOrder()
    {
        QFETCH(int, front);
        QFETCH(int, rest);
        RowStore first(4), later(4);
        for (int i = 0; i < front; ++i)
            appendRaw(first, sample(i));
        for (int i = front; i < front + rest; ++i)
            appendRaw(later, sample(i));
        later.replace(0, cellsOf(sample(-1))); // a row the receiver stored itself
        RowStore::Incoming incoming = later.adopt(std::move(first));
        QCOMPARE(first.rowCount(), 0);
        QCOMPARE(later.rowCount(), qint64(rest));
        while (incoming.remaining() > 0)
            later.prependIncoming(incoming, std::min<qint64>(7000, incoming.remaining()));
        QCOMPARE(later.rowCount(), qint64(front + rest));
        for (int r = 0; r < front + rest; ++r)
            compareRow(later, r, sample(r == front ? -1 : r));
    }

    void indexWidensPastNarrowBlockNumbers()
    {
        RowIndex index;
        const size_t last = RowIndex::NarrowBlocks - 1;
        index.push_back({0, 0});
        index.push_back({last, RowIndex::MaxOffset});
        QVERIFY(!index.isWide());
        index.insert(1, {last + 1, 5});
        QVERIFY(index.isWide());
        index.push_back({size_t(1) << 40, 7});
        index.set(0, {3, 9});
        QCOMPARE(index.size(), size_t(4));
        const auto at = [&](size_t i) { return std::pair(index.at(i).block, index.at(i).offset); };
        QCOMPARE(at(0), std::pair(size_t(3), size_t(9)));
        QCOMPARE(at(1), std::pair(last + 1, size_t(5)));
        QCOMPARE(at(2), std::pair(last, RowIndex::MaxOffset));
        QCOMPARE(at(3), std::pair(size_t(1) << 40, size_t(7)));
        index.erase(1);
        QCOMPARE(at(1), std::pair(last, RowIndex::MaxOffset));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, index.push_back({0, RowIndex::MaxOffset + 1}));

        // Renumbered blocks past the narrow range widen the receiver too.
        RowIndex narrow, chunk;
        narrow.push_back({1, 10});
        chunk.push_back({0, 20});
        chunk.push_back({1, 30});
        narrow.appendRemapped(chunk, {1, last + 2});
        QVERIFY(narrow.isWide());
        QCOMPARE(narrow.size(), size_t(3));
        QCOMPARE(narrow.at(0).offset, size_t(10));
        QCOMPARE(narrow.at(1).block, size_t(1));
        QCOMPARE(narrow.at(2).block, last + 2);
        QCOMPARE(narrow.at(2).offset, size_t(30));
    }

    void rowIntoReusedVector()
    {
        // A vector reused from row to row, longer than a row and holding
        // packed, plain and NULL cells, gives each row exactly: a NULL after
        // a packed cell, an empty string after a long one.
        const QByteArray long1(128, 'a'), long2(16384, 'b');
        const std::vector<Row> rows = {
            {Text("10472.90"), Text("x"), Text("")},
            {Text(), Text(), Text()},
            {Text(long1), Text(long2), Text("2020-01-01 02:11:47")},
            {Text(""), Text("-5"), Text()},
        };
        RowStore store(3);
        for (const Row &row : rows)
            appendRaw(store, row);
        std::vector<RowStore::Cell> cells(5, RowStore::Cell(std::string_view("stale")));
        for (qint64 r = 0; r < store.rowCount(); ++r) {
            store.row(r, cells);
            QCOMPARE(cells.size(), size_t(3));
            for (size_t c = 0; c < 3; ++c)
                QCOMPARE(read(cells[c]), rows[size_t(r)][c]);
        }
    }
};

QTEST_GUILESS_MAIN(TestRowStore)
#include "tst_rowstore.moc"
