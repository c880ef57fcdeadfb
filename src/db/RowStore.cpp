#include "db/RowStore.h"

#include <algorithm>
#include <atomic>
#include <new>

#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t BlockSize = 1 << 20;

// A cell's header byte: 0 is NULL; 1..127 plain text of length b - 1;
// 128..254 packed text of length b - PackedBase (2..128); LongText plain
// text whose length follows as a varint.
constexpr unsigned PackedFirst = 0x80;
constexpr unsigned PackedBase = 0x7e;
constexpr unsigned LongText = 0xff;
constexpr size_t LongestShort = PackedFirst - 2;
static_assert(LongText - 1 - PackedBase == RowStore::MaxPackedLength && PackedFirst - PackedBase == 2);

// The characters packed text is made of, by their four-bit code.
constexpr char Symbols[] = "0123456789-.: e+";
static_assert(sizeof Symbols == 17);
constexpr unsigned short NotPacked = 0x100;

struct Tables
{
    // Character -> its code as the first and as the second character of a
    // packed byte; NotPacked for characters without one.
    unsigned short first[256];
    unsigned short second[256];
    char pair[256][2];        // packed byte -> its two characters
    unsigned char skip[256];  // header byte -> bytes that follow it (but LongText)
};

constexpr Tables makeTables()
{
    Tables t{};
    for (unsigned b = 0; b < 256; ++b) {
        t.first[b] = t.second[b] = NotPacked;
        t.pair[b][0] = Symbols[b & 15];
        t.pair[b][1] = Symbols[b >> 4];
        if (b == 0 || b == LongText)
            t.skip[b] = 0;
        else if (b < PackedFirst)
            t.skip[b] = (unsigned char)(b - 1);
        else
            t.skip[b] = (unsigned char)((b - PackedBase + 1) / 2);
    }
    for (unsigned i = 0; i < 16; ++i) {
        t.first[(unsigned char)Symbols[i]] = (unsigned short)i;
        t.second[(unsigned char)Symbols[i]] = (unsigned short)(i << 4);
    }
    return t;
}

constexpr Tables Table = makeTables();

inline size_t varintSize(uint64_t v)
{
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

inline char *putVarint(char *p, uint64_t v)
{
    while (v >= 0x80) {
        *p++ = char(uchar(v) | 0x80);
        v >>= 7;
    }
    *p++ = char(v);
    return p;
}

inline const unsigned char *getVarint(const unsigned char *p, uint64_t &v)
{
    v = 0;
    int shift = 0;
    for (;;) {
        const unsigned char b = *p++;
        v |= uint64_t(b & 0x7f) << shift;
        if (!(b & 0x80))
            return p;
        shift += 7;
    }
}

// The most a cell of n bytes takes: stored as it is.
inline size_t plainSize(size_t n)
{
    return n <= LongestShort ? 1 + n : 1 + varintSize(n) + n;
}

// Packs text of n bytes (2..MaxPackedLength) into out, two characters to a
// byte; false when a character has no code. One branch per eight
// characters; most text that is not packed fails on its first character.
inline bool pack(unsigned char *out, const unsigned char *p, size_t n)
{
    if (Table.first[p[0]] & NotPacked)
        return false;
    unsigned bad = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8, out += 4) {
        for (size_t k = 0; k < 8; k += 2) {
            const unsigned v = Table.first[p[i + k]] | Table.second[p[i + k + 1]];
            bad |= v;
            out[k / 2] = (unsigned char)v;
        }
        if (bad & NotPacked)
            return false;
    }
    for (; i + 1 < n; i += 2) {
        const unsigned v = Table.first[p[i]] | Table.second[p[i + 1]];
        bad |= v;
        *out++ = (unsigned char)v;
    }
    if (i < n) {
        bad |= Table.first[p[i]];
        *out = (unsigned char)Table.first[p[i]];
    }
    return !(bad & NotPacked);
}

// Writes one cell at out, which has room for plainSize(n) bytes; returns
// the end of what it wrote.
inline char *putCell(char *out, const char *text, size_t n)
{
    if (n >= 2 && n <= RowStore::MaxPackedLength
        && pack(reinterpret_cast<unsigned char *>(out + 1), reinterpret_cast<const unsigned char *>(text), n)) {
        *out = char(PackedBase + n);
        return out + 1 + (n + 1) / 2;
    }
    if (n <= LongestShort) {
        *out++ = char(n + 1);
    } else {
        *out++ = char(LongText);
        out = putVarint(out, n);
    }
    if (n)
        std::memcpy(out, text, n);
    return out + n;
}

inline const unsigned char *skipCell(const unsigned char *p)
{
    const unsigned b = *p++;
    if (b != LongText)
        return p + Table.skip[b];
    uint64_t n = 0;
    p = getVarint(p, n);
    return p + n;
}

} // namespace

RowStore::Cell &RowStore::Cell::operator=(const Cell &other)
{
    if (this == &other)
        return *this;
    m_data = other.m_data;
    m_size = other.m_size;
    m_null = other.m_null;
    m_packed = other.m_packed;
    if (m_packed)
        std::memcpy(m_buffer, other.m_buffer, m_size);
    return *this;
}

namespace {

std::atomic<qint64> allocationLeft{-1}; // bytes tests still allow; -1: no limit

char *allocateBlock(size_t size)
{
    if (allocationLeft.load(std::memory_order_relaxed) >= 0
        && allocationLeft.fetch_sub(qint64(size)) < qint64(size))
        throw std::bad_alloc();
    return new char[size];
}

} // namespace

void RowStore::setAllocationLimitForTesting(qint64 bytes)
{
    allocationLeft = bytes < 0 ? -1 : bytes;
}

char *RowStore::reserve(size_t bytes, RowIndex::Place &place)
{
    if (bytes > m_freeLeft) {
        const size_t size = bytes > BlockSize / 4 ? bytes : BlockSize;
        std::shared_ptr<char[]> data(allocateBlock(size));
        m_blocks.push_back({std::move(data), size});
        m_reserved += qint64(size);
        char *block = m_blocks.back().data.get();
        if (size == bytes) {
            // An outsized row gets a block of its own.
            place = {m_blocks.size() - 1, 0};
            return block;
        }
        m_currentBlock = m_blocks.size() - 1;
        m_free = block;
        m_freeLeft = size;
    }
    char *p = m_free;
    place = {m_currentBlock, size_t(p - m_blocks[m_currentBlock].data.get())};
    m_free += bytes;
    m_freeLeft -= bytes;
    return p;
}

// Stores one row; text(c, n) gives the bytes of column c and their length
// in n, or a null pointer for NULL. Room is reserved for the row stored as
// it is; what packing saves goes back to the block.
template <class Text> RowIndex::Place RowStore::put(const Text &text)
{
    size_t bytes = 0;
    for (int c = 0; c < m_columns; ++c) {
        size_t n = 0;
        bytes += text(c, n) ? plainSize(n) : 1;
    }
    bytes = bytes ? bytes : 1;
    RowIndex::Place place;
    char *const start = reserve(bytes, place);
    char *p = start;
    for (int c = 0; c < m_columns; ++c) {
        size_t n = 0;
        const char *t = text(c, n);
        if (t)
            p = putCell(p, t, n);
        else
            *p++ = 0;
    }
    if (m_free == start + bytes && p > start) {
        const size_t unused = size_t(start + bytes - p);
        m_free -= unused;
        m_freeLeft += unused;
    }
    return place;
}

void RowStore::append(const char *const *cells, const unsigned long *lengths)
{
    m_rows.push_back(put([&](int c, size_t &n) {
        n = lengths[c];
        return cells[c];
    }));
}

RowIndex::Place RowStore::store(const std::vector<Cell> &cells)
{
    if (cells.size() < size_t(m_columns))
        throw std::out_of_range("RowStore: fewer cells than columns");
    return put([&](int c, size_t &n) -> const char * {
        const Cell &cell = cells[size_t(c)];
        if (cell.isNull())
            return nullptr;
        n = cell.text().size();
        // Empty text still needs a pointer that is not null.
        return n ? cell.text().data() : "";
    });
}

void RowStore::append(const std::vector<Cell> &cells)
{
    m_rows.push_back(store(cells));
}

RowStore RowStore::handOver()
{
    RowStore out(m_columns);
    out.m_rows = std::move(m_rows);
    m_rows.clear();
    out.m_reserved = m_reserved;
    Block current = m_freeLeft ? m_blocks.at(m_currentBlock) : Block{};
    out.m_blocks = std::move(m_blocks);
    m_blocks.clear();
    m_reserved = 0;
    if (current.data) {
        m_blocks.push_back(std::move(current));
        m_currentBlock = 0;
    } else {
        m_free = nullptr;
        m_freeLeft = 0;
    }
    return out;
}

void RowStore::take(RowStore &&other)
{
    if (m_rows.empty() && m_blocks.empty()) {
        *this = std::move(other);
        other.clear();
        return;
    }
    // Block numbers belong to a store: the rows taken are renumbered to the
    // blocks' places here. The first block of a handed-over chunk may be
    // the sender's current block, which came with its previous chunk.
    std::vector<size_t> map(other.m_blocks.size());
    for (size_t i = 0; i < other.m_blocks.size(); ++i) {
        Block &b = other.m_blocks[i];
        size_t j = i == 0 ? m_blocks.size() : 0;
        while (j > 0 && m_blocks[j - 1].data != b.data)
            --j;
        if (j > 0) {
            map[i] = j - 1;
            continue;
        }
        map[i] = m_blocks.size();
        m_reserved += qint64(b.size);
        m_blocks.push_back(std::move(b));
    }
    m_rows.appendRemapped(other.m_rows, map);
    other.clear();
}

RowStore::Incoming RowStore::adopt(RowStore &&other)
{
    Incoming incoming;
    std::vector<size_t> added;
    incoming.m_blockMap = blockMapOf(other, added);
    addBlocks(other, added);
    incoming.m_rows = std::move(other.m_rows);
    incoming.m_left = incoming.m_rows.size();
    other.clear();
    return incoming;
}

void RowStore::prependIncoming(Incoming &incoming, qint64 count)
{
    const size_t from = incoming.m_left - size_t(count);
    m_rows.insertRemapped(0, incoming.m_rows, from, size_t(count), incoming.m_blockMap);
    incoming.m_left = from;
}

std::vector<size_t> RowStore::blockMapOf(const RowStore &other, std::vector<size_t> &added) const
{
    std::vector<size_t> map(other.m_blocks.size());
    for (size_t i = 0; i < other.m_blocks.size(); ++i) {
        const Block &b = other.m_blocks[i];
        const auto same
            = std::find_if(m_blocks.begin(), m_blocks.end(), [&](const Block &m) { return m.data == b.data; });
        if (same != m_blocks.end()) {
            map[i] = size_t(same - m_blocks.begin());
            continue;
        }
        map[i] = m_blocks.size() + added.size();
        added.push_back(i);
    }
    return map;
}

void RowStore::addBlocks(RowStore &other, const std::vector<size_t> &added)
{
    m_blocks.reserve(m_blocks.size() + added.size());
    for (const size_t i : added) {
        m_reserved += qint64(other.m_blocks[i].size);
        m_blocks.push_back(std::move(other.m_blocks[i]));
    }
}

const unsigned char *RowStore::record(qint64 row) const
{
    const RowIndex::Place place = m_rows.at(size_t(row));
    return reinterpret_cast<const unsigned char *>(m_blocks[place.block].data.get()) + place.offset;
}

const unsigned char *RowStore::readCell(const unsigned char *p, Cell &cell)
{
    // The cell may be one read before (a reused row).
    cell.m_data = nullptr;
    cell.m_size = 0;
    cell.m_null = true;
    cell.m_packed = false;
    const unsigned b = *p++;
    if (b == 0)
        return p;
    cell.m_null = false;
    if (b < PackedFirst || b == LongText) {
        uint64_t n = b - 1;
        if (b == LongText)
            p = getVarint(p, n);
        cell.m_data = reinterpret_cast<const char *>(p);
        cell.m_size = size_t(n);
        return p + n;
    }
    const size_t n = b - PackedBase;
    const size_t pairs = n / 2;
    for (size_t i = 0; i < pairs; ++i)
        std::memcpy(cell.m_buffer + 2 * i, Table.pair[p[i]], 2);
    if (n & 1)
        cell.m_buffer[n - 1] = Table.pair[p[pairs]][0];
    cell.m_size = n;
    cell.m_packed = true;
    return p + (n + 1) / 2;
}

RowStore::Cell RowStore::cell(qint64 row, int column) const
{
    const unsigned char *p = record(row);
    for (int c = 0; c < column; ++c)
        p = skipCell(p);
    Cell out;
    readCell(p, out);
    return out;
}

std::vector<RowStore::Cell> RowStore::row(qint64 row) const
{
    std::vector<Cell> out;
    this->row(row, out);
    return out;
}

void RowStore::row(qint64 row, std::vector<Cell> &cells) const
{
    cells.resize(size_t(m_columns));
    const unsigned char *p = record(row);
    for (Cell &cell : cells)
        p = readCell(p, cell);
}

void RowStore::replace(qint64 row, const std::vector<Cell> &cells)
{
    // The old record stays in its block: row-by-row edits are few next to
    // what a load stores.
    m_rows.set(size_t(row), store(cells));
}

void RowStore::insert(qint64 row, const std::vector<Cell> &cells)
{
    m_rows.insert(size_t(row), store(cells));
}

void RowStore::remove(qint64 row)
{
    m_rows.erase(size_t(row));
}

void RowStore::clear()
{
    m_rows.clear();
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_currentBlock = 0;
    m_free = nullptr;
    m_freeLeft = 0;
    m_reserved = 0;
}

RowStore::Snapshot RowStore::snapshot() const
{
    Snapshot out;
    out.m_columns = m_columns;
    out.m_blocks.reserve(m_blocks.size());
    for (const Block &b : m_blocks)
        out.m_blocks.push_back(b.data);
    out.m_records.resize(m_rows.size());
    for (size_t r = 0; r < out.m_records.size(); ++r)
        out.m_records[r] = record(qint64(r));
    return out;
}

RowStore::Cell RowStore::Snapshot::cell(qint64 row, int column) const
{
    const unsigned char *p = m_records[size_t(row)];
    for (int c = 0; c < column; ++c)
        p = skipCell(p);
    Cell out;
    readCell(p, out);
    return out;
}

void RowStore::Snapshot::row(qint64 row, std::vector<Cell> &cells) const
{
    cells.resize(size_t(m_columns));
    const unsigned char *p = m_records[size_t(row)];
    for (Cell &cell : cells)
        p = readCell(p, cell);
}
