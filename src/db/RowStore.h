#pragma once

#include <QByteArray>

#include <memory>
#include <string_view>
#include <vector>

// Rows of text cells held compactly: each row is one record in a large
// block, its cells written one after another as a length (a varint of
// length + 1, with 0 for NULL) and the bytes. Reading a cell costs one index
// lookup and a walk over the row's lengths; appending never moves stored rows.
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

    // Replaces, inserts (before `row`; rowCount() appends) and removes rows.
    void replace(qint64 row, const std::vector<Cell> &cells);
    void insert(qint64 row, const std::vector<Cell> &cells);
    void remove(qint64 row);

    void clear();
    // Bytes held in blocks, for the benchmark.
    qint64 bytesReserved() const { return m_reserved; }
    // Room left in the block being filled: a loader hands a chunk over when
    // it runs low, so no block leaves the loader half empty.
    size_t freeInBlock() const { return m_freeLeft; }
    // Room for `rows` row pointers, to spare regrowth during a long load.
    void reserveRows(qint64 rows) { m_rows.reserve(size_t(rows)); }

private:
    const char *store(const std::vector<Cell> &cells);
    char *reserve(size_t bytes);

    int m_columns = 0;
    std::vector<const char *> m_rows;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_free = nullptr;
    size_t m_freeLeft = 0;
    qint64 m_reserved = 0;
};
