#pragma once

#include <QByteArray>

#include <deque>
#include <memory>
#include <string_view>
#include <vector>

// Rows of text cells held compactly: each row is one record in a large
// block, its cells written one after another as a length (a varint of
// length + 1, with 0 for NULL) and the bytes. Reading a cell costs one index
// lookup and a walk over the row's lengths; appending never moves stored rows.
// The row index grows in small pieces, never by copying itself whole.
class RowStore
{
public:
    struct Cell
    {
        std::string_view text;
        bool isNull = true;
    };

    explicit RowStore(int columns = 0) : m_columns(columns) {}
    RowStore(RowStore &&) = default;
    RowStore &operator=(RowStore &&) = default;

    int columnCount() const { return m_columns; }
    qint64 rowCount() const { return qint64(m_rows.size()); }

    // Appends a row of columnCount() cells; a null pointer is NULL.
    void append(const char *const *cells, const unsigned long *lengths);
    void append(const std::vector<Cell> &cells);
    // Appends every row of `other`, which must have as many columns.
    void take(RowStore &&other);

    Cell cell(qint64 row, int column) const;
    std::vector<Cell> row(qint64 row) const;
    // Every cell of `row` into `cells` (resized to columnCount()), in one
    // walk over the record: for readers of whole rows, which would pay a
    // walk from the first column for each cell() and an allocation for
    // each row().
    void row(qint64 row, std::vector<Cell> &cells) const;

    // Replaces, inserts (before `row`; rowCount() appends) and removes rows.
    void replace(qint64 row, const std::vector<Cell> &cells);
    void insert(qint64 row, const std::vector<Cell> &cells);
    void remove(qint64 row);

    void clear();
    // Bytes held in blocks, for the benchmark.
    qint64 bytesReserved() const { return m_reserved; }

    // Gives away every row and block so far, for a reader that fills chunks
    // in one thread and hands them to another. This store keeps filling the
    // rest of its current block, so no block is left half empty; the block
    // is shared, and the receiver never writes into it.
    RowStore handOver();

private:
    const char *store(const std::vector<Cell> &cells);
    char *reserve(size_t bytes);

    int m_columns = 0;
    std::deque<const char *> m_rows;
    std::vector<std::shared_ptr<char[]>> m_blocks;
    size_t m_currentBlock = 0; // index in m_blocks of the block m_free is in
    char *m_free = nullptr;
    size_t m_freeLeft = 0;
    qint64 m_reserved = 0;
};
