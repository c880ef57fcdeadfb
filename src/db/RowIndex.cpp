#include "db/RowIndex.h"

#include <stdexcept>
#include <type_traits>

uint64_t RowIndex::encode(Place p)
{
    // Offsets come from blocks of at most 1 MiB; a larger record has a
    // block of its own and offset 0.
    if (p.offset > MaxOffset)
        throw std::logic_error("RowIndex: offset outside a block");
    return (uint64_t(p.block) << OffsetBits) | p.offset;
}

uint64_t RowIndex::remapped(uint64_t entry, const std::vector<size_t> &blockMap)
{
    return (uint64_t(blockMap.at(size_t(entry >> OffsetBits))) << OffsetBits) | (entry & MaxOffset);
}

void RowIndex::fit(size_t block)
{
    if (m_wide || block < NarrowBlocks)
        return;
    m_wideEntries.assign(m_narrow.begin(), m_narrow.end());
    m_narrow.clear();
    m_narrow.shrink_to_fit();
    m_wide = true;
}

void RowIndex::push_back(Place p)
{
    fit(p.block);
    if (m_wide)
        m_wideEntries.push_back(encode(p));
    else
        m_narrow.push_back(uint32_t(encode(p)));
}

void RowIndex::insert(size_t row, Place p)
{
    fit(p.block);
    if (m_wide)
        m_wideEntries.insert(m_wideEntries.begin() + std::ptrdiff_t(row), encode(p));
    else
        m_narrow.insert(m_narrow.begin() + std::ptrdiff_t(row), uint32_t(encode(p)));
}

void RowIndex::set(size_t row, Place p)
{
    fit(p.block);
    if (m_wide)
        m_wideEntries[row] = encode(p);
    else
        m_narrow[row] = uint32_t(encode(p));
}

void RowIndex::erase(size_t row)
{
    if (m_wide)
        m_wideEntries.erase(m_wideEntries.begin() + std::ptrdiff_t(row));
    else
        m_narrow.erase(m_narrow.begin() + std::ptrdiff_t(row));
}

void RowIndex::clear()
{
    m_wide = false;
    m_narrow.clear();
    m_narrow.shrink_to_fit();
    m_wideEntries.clear();
    m_wideEntries.shrink_to_fit();
}

void RowIndex::appendRemapped(const RowIndex &other, const std::vector<size_t> &blockMap)
{
    insertRemapped(size(), other, 0, other.size(), blockMap);
}

void RowIndex::insertRemapped(
    size_t row, const RowIndex &other, size_t from, size_t count, const std::vector<size_t> &blockMap)
{
    if (other.m_wide)
        fit(NarrowBlocks);
    for (const size_t b : blockMap)
        fit(b);
    // Every new block number fits this index now (fit() widened it if not).
    // Elsewhere than at the end the entries go in with one insert: at the
    // start a deque makes room without moving the entries it holds.
    const auto add = [&](auto &to, const auto &source) {
        using Entry = typename std::decay_t<decltype(to)>::value_type;
        if (row == to.size()) {
            for (size_t i = from; i < from + count; ++i)
                to.push_back(Entry(remapped(source[i], blockMap)));
            return;
        }
        std::vector<Entry> entries;
        entries.reserve(count);
        for (size_t i = from; i < from + count; ++i)
            entries.push_back(Entry(remapped(source[i], blockMap)));
        to.insert(to.begin() + std::ptrdiff_t(row), entries.begin(), entries.end());
    };
    if (m_wide && other.m_wide)
        add(m_wideEntries, other.m_wideEntries);
    else if (m_wide)
        add(m_wideEntries, other.m_narrow);
    else
        add(m_narrow, other.m_narrow);
}
