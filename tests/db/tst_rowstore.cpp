#include "db/RowStore.h"

#include <QTest>

#include <string>

// Reading whole rows of the compact store into a vector the reader keeps.
class TestRowStore : public QObject
{
    Q_OBJECT
private slots:
    void rowIntoVector();
};

void TestRowStore::rowIntoVector()
{
    // Lengths around the varint's steps (127/128, 16383/16384 bytes), NULL
    // next to the empty string, and a row replaced after the load.
    const std::string long1(128, 'a'), long2(16384, 'b'), edge(127, 'c');
    using Cell = RowStore::Cell;
    const std::vector<std::vector<Cell>> rows = {
        {{"x", false}, {}, {"", false}},
        {{long1, false}, {long2, false}, {edge, false}},
        {{}, {}, {}},
        {{"", false}, {"z", false}, {}},
    };
    RowStore store(3);
    for (const auto &row : rows)
        store.append(row);
    const std::vector<Cell> edited = {{}, {"edited", false}, {long2, false}};
    store.replace(1, edited);

    std::vector<Cell> cells(5, Cell{"stale", false}); // longer and filled: must be reset
    for (qint64 r = 0; r < store.rowCount(); ++r) {
        store.row(r, cells);
        QCOMPARE(cells.size(), size_t(3));
        const std::vector<Cell> &want = r == 1 ? edited : rows[size_t(r)];
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(cells[size_t(c)].isNull, want[size_t(c)].isNull);
            QCOMPARE(cells[size_t(c)].text, want[size_t(c)].text);
            QCOMPARE(cells[size_t(c)].text, store.cell(r, c).text);
        }
    }
    QCOMPARE(store.row(3).size(), size_t(3));
}

QTEST_GUILESS_MAIN(TestRowStore)
#include "tst_rowstore.moc"
