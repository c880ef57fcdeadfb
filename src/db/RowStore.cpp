#include "db/RowStore.h"

#include <cstring>

namespace {

constexpr size_t BlockSize = 1 << 20;

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

inline const char *getVarint(const char *p, uint64_t &v)
{
    v = 0;
    int shift = 0;
    for (;;) {
        const uchar b = uchar(*p++);
        v |= uint64_t(b & 0x7f) << shift;
        if (!(b & 0x80))
            return p;
        shift += 7;
    }
}

} // namespace

char *RowStore::reserve(size_t bytes)
{
    if (bytes > m_freeLeft) {
        const size_t size = bytes > BlockSize / 4 ? bytes : BlockSize;
        m_blocks.emplace_back(new char[size]);
        m_reserved += qint64(size);
        char *block = m_blocks.back().get();
        if (size == bytes)
            return block; // an outsized row gets a block of its own
        m_currentBlock = m_blocks.size() - 1;
        m_free = block;
        m_freeLeft = size;
    }
    char *p = m_free;
    m_free += bytes;
    m_freeLeft -= bytes;
    return p;
}

void RowStore::append(const char *const *cells, const unsigned long *lengths)
{
    size_t bytes = 0;
    for (int c = 0; c < m_columns; ++c)
        bytes += cells[c] ? varintSize(uint64_t(lengths[c]) + 1) + lengths[c] : 1;
    char *p = reserve(bytes);
    m_rows.push_back(p);
    for (int c = 0; c < m_columns; ++c) {
        if (!cells[c]) {
            *p++ = 0;
            continue;
        }
        p = putVarint(p, uint64_t(lengths[c]) + 1);
        if (lengths[c])
            std::memcpy(p, cells[c], lengths[c]);
        p += lengths[c];
    }
}

const char *RowStore::store(const std::vector<Cell> &cells)
{
    size_t bytes = 0;
    for (int c = 0; c < m_columns; ++c) {
        const Cell &cell = cells.at(size_t(c));
        bytes += cell.isNull ? 1 : varintSize(cell.text.size() + 1) + cell.text.size();
    }
    char *start = reserve(bytes ? bytes : 1);
    char *p = start;
    for (int c = 0; c < m_columns; ++c) {
        const Cell &cell = cells[size_t(c)];
        if (cell.isNull) {
            *p++ = 0;
            continue;
        }
        p = putVarint(p, cell.text.size() + 1);
        if (!cell.text.empty())
            std::memcpy(p, cell.text.data(), cell.text.size());
        p += cell.text.size();
    }
    return start;
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
    std::shared_ptr<char[]> current = m_freeLeft ? m_blocks.at(m_currentBlock) : nullptr;
    out.m_blocks = std::move(m_blocks);
    m_blocks.clear();
    m_reserved = 0;
    if (current) {
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
        return;
    }
    m_rows.insert(m_rows.end(), other.m_rows.begin(), other.m_rows.end());
    for (auto &b : other.m_blocks)
        m_blocks.push_back(std::move(b));
    m_reserved += other.m_reserved;
    other.clear();
}

RowStore::Cell RowStore::cell(qint64 row, int column) const
{
    const char *p = m_rows[size_t(row)];
    uint64_t len = 0;
    for (int c = 0; c < column; ++c) {
        p = getVarint(p, len);
        if (len)
            p += len - 1;
    }
    p = getVarint(p, len);
    if (!len)
        return {};
    return {std::string_view(p, size_t(len - 1)), false};
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
    const char *p = m_rows[size_t(row)];
    for (Cell &cell : cells) {
        uint64_t len = 0;
        p = getVarint(p, len);
        if (len) {
            cell = {std::string_view(p, size_t(len - 1)), false};
            p += len - 1;
        } else {
            cell = {};
        }
    }
}

void RowStore::replace(qint64 row, const std::vector<Cell> &cells)
{
    // The old record stays in its block: row-by-row edits are few next to
    // what a load stores.
    m_rows[size_t(row)] = store(cells);
}

void RowStore::insert(qint64 row, const std::vector<Cell> &cells)
{
    m_rows.insert(m_rows.begin() + row, store(cells));
}

void RowStore::remove(qint64 row)
{
    m_rows.erase(m_rows.begin() + row);
}

void RowStore::clear()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_blocks.clear();
    m_free = nullptr;
    m_freeLeft = 0;
    m_reserved = 0;
}
