#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Where each row's record starts: a block number and an offset inside the
// block. While block numbers stay below 4096 an entry is 4 bytes (12 bits of
// block, 20 of offset, enough for 1 MiB blocks); the first larger block
// number widens every entry to 8 bytes once, so no table is too large.
// Kept in deques, so growing never copies the index whole.
class RowIndex
{
public:
    static constexpr int OffsetBits = 20;
    static constexpr size_t MaxOffset = (size_t(1) << OffsetBits) - 1;
    static constexpr size_t NarrowBlocks = size_t(1) << (32 - OffsetBits);

    struct Place
    {
        size_t block = 0;
        size_t offset = 0;
    };

    size_t size() const { return m_wide ? m_wideEntries.size() : m_narrow.size(); }
    bool empty() const { return size() == 0; }
    bool isWide() const { return m_wide; }

    Place at(size_t row) const
    {
        const uint64_t e = m_wide ? m_wideEntries[row] : m_narrow[row];
        return {size_t(e >> OffsetBits), size_t(e & MaxOffset)};
    }

    void push_back(Place p);
    void insert(size_t row, Place p);
    void set(size_t row, Place p);
    void erase(size_t row);
    void clear();
    // Appends every entry of `other` with its block number b replaced by
    // blockMap[b].
    void appendRemapped(const RowIndex &other, const std::vector<size_t> &blockMap);
    // The entries [from, from + count) of `other`, remapped so, put before
    // entry `row`.
    void insertRemapped(
        size_t row, const RowIndex &other, size_t from, size_t count, const std::vector<size_t> &blockMap);

private:
    static uint64_t encode(Place p);
    // `entry` with its block number b replaced by blockMap[b].
    static uint64_t remapped(uint64_t entry, const std::vector<size_t> &blockMap);
    void fit(size_t block);

    bool m_wide = false;
    std::deque<uint32_t> m_narrow;
    std::deque<uint64_t> m_wideEntries;
};
