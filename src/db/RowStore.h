#pragma once

#include "db/RowIndex.h"

#include <QByteArray>

#include <memory>
#include <string_view>
#include <vector>

// Rows of text cells held compactly: each row is one record in a large
// block, its cells written one after another as a header byte and the
// bytes. Text made only of digits and the few signs numbers, dates and times
// use ("-.: e+") is stored two characters to a byte; any other text as it
// is. Both give back exactly the bytes stored. Reading a cell costs one
// index lookup and a walk over the row's headers; appending never moves
// stored rows.
class RowStore
{
public:
    // Longest text stored two characters to a byte.
    static constexpr size_t MaxPackedLength = 128;

    // One cell, read or to be stored. Its text is either the caller's or the
    // store's bytes (valid while those live and the row is not changed), or
    // held in the cell itself, so a copy of the cell keeps it.
    class Cell
    {
    public:
        Cell() = default; // NULL
        explicit Cell(std::string_view text) : m_data(text.data()), m_size(text.size()), m_null(false) {}
        Cell(const Cell &other) { *this = other; }
        Cell &operator=(const Cell &other);

        bool isNull() const { return m_null; }
        // The text as the server sent it; empty for NULL. A packed cell's
        // text is unpacked into m_buffer.
        std::string_view text() const { return {m_packed ? m_buffer : m_data, m_size}; }
        // True when the store held the text packed (only the characters of
        // numbers, dates and times: digits and "-.: e+"), so text() is a copy
        // held in the cell, not in the store.
        bool isPacked() const { return m_packed; }

    private:
        friend class RowStore;
        const char *m_data = nullptr;
        size_t m_size = 0;
        bool m_null = true;
        bool m_packed = false;
        char m_buffer[MaxPackedLength];
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
    // The rows of `other`, which must have as many columns, put before the
    // first row a part at a time, the last part first: adopt() takes its
    // blocks (they join this store's as they are: no cell is copied),
    // prependIncoming() the index entries of the last `count` rows still
    // out. Rows held so far keep their records, so an edit in flight is not
    // lost, but their numbers grow by the rows put in front.
    class Incoming
    {
    public:
        qint64 remaining() const { return qint64(m_left); }

    private:
        friend class RowStore;
        RowIndex m_rows;
        std::vector<size_t> m_blockMap;
        size_t m_left = 0;
    };
    Incoming adopt(RowStore &&other);
    void prependIncoming(Incoming &incoming, qint64 count);

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
    // Blocks held, for tests.
    size_t blockCount() const { return m_blocks.size(); }
    // Tests: from now on, block allocations (in any store, any thread) fail
    // with std::bad_alloc once `bytes` more have been allocated; a negative
    // value lifts the limit.
    static void setAllocationLimitForTesting(qint64 bytes);

    // Gives away every row and block so far, for a reader that fills chunks
    // in one thread and hands them to another. This store keeps filling the
    // rest of its current block, so no block is left half empty; the block
    // is shared, and the receiver never writes into it.
    RowStore handOver();

    // The rows of the store as they are now, for a reader in another thread
    // while this one goes on appending and editing: records are never
    // written over (an edit stores a new one) and blocks are shared, so what
    // the snapshot points at stays as it was. Costs a pointer a row.
    class Snapshot
    {
    public:
        qint64 rowCount() const { return qint64(m_records.size()); }
        int columnCount() const { return m_columns; }
        Cell cell(qint64 row, int column) const;
        void row(qint64 row, std::vector<Cell> &cells) const;

    private:
        friend class RowStore;
        int m_columns = 0;
        std::vector<const unsigned char *> m_records;
        std::vector<std::shared_ptr<char[]>> m_blocks;
    };
    Snapshot snapshot() const;

private:
    struct Block
    {
        std::shared_ptr<char[]> data;
        size_t size = 0;
    };

    template <class Text> RowIndex::Place put(const Text &text);
    RowIndex::Place store(const std::vector<Cell> &cells);
    char *reserve(size_t bytes, RowIndex::Place &place);
    const unsigned char *record(qint64 row) const;
    static const unsigned char *readCell(const unsigned char *p, Cell &cell);

    int m_columns = 0;
    RowIndex m_rows;
    std::vector<Block> m_blocks;
    size_t m_currentBlock = 0; // index in m_blocks of the block m_free is in
    char *m_free = nullptr;
    size_t m_freeLeft = 0;
    qint64 m_reserved = 0;

    // For rows of `other` joining this store: where each of its blocks will
    // be (a block held already, a sender's shared current block, is not
    // added twice), and which of them are to be added.
    std::vector<size_t> blockMapOf(const RowStore &other, std::vector<size_t> &added) const;
    void addBlocks(RowStore &other, const std::vector<size_t> &added);
};
