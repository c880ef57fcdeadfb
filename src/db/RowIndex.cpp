#include "db/RowIndex.h"

#include <stdexcept>

uint64_t RowIndex::encode(Place p)
{
    // Offsets come from blocks of at most 1 MiB; a larger record has a
    // block of its own and offset 0.
    if (p.offset > MaxOffset)
        throw std::logic_error("RowIndex: offset outside a block");
    return (uint64_t(p.block) << OffsetBits) | p.offset;
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
    if (other.m_wide)
        fit(NarrowBlocks);
    for (const size_t b : blockMap)
        fit(b);
    const auto remap = [&](uint64_t e) {
        return (uint64_t(blockMap.at(size_t(e >> OffsetBits))) << OffsetBits) | (e & MaxOffset);
    };
    // Every new block number fits this index now (fit() widened it if not).
    if (m_wide && other.m_wide) {
        for (const uint64_t e : other.m_wideEntries)
            m_wideEntries.push_back(remap(e));
    } else if (m_wide) {
        for (const uint32_t e : other.m_narrow)
            m_wideEntries.push_back(remap(e));
    } else {
        for (const uint32_t e : other.m_narrow)
            m_narrow.push_back(uint32_t(remap(e)));
    }
}
