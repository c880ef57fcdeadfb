#include "pages/RowJobs.h"

#include "pages/SortKeys.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

namespace RowJobs {

namespace {

constexpr size_t CheckEvery = 4096;

void check(const std::atomic<bool> &cancel)
{
    if (cancel.load(std::memory_order_relaxed))
        throw Cancelled();
}

// A row's key: its first bytes as a number, for most comparisons, and
// where the whole key lies.
struct Entry
{
    uint64_t prefix;
    uint32_t index; // into the rows being sorted
};

uint64_t prefixOf(const char *key, size_t size)
{
    unsigned char b[8] = {};
    std::memcpy(b, key, std::min<size_t>(size, 8));
    uint64_t v = 0;
    for (const unsigned char c : b)
        v = (v << 8) | c;
    return v;
}

class KeyTable
{
public:
    std::string bytes;
    std::vector<size_t> ends;

    std::string_view key(uint32_t i) const
    {
        const size_t start = i == 0 ? 0 : ends[i - 1];
        return std::string_view(bytes).substr(start, ends[i] - start);
    }
    // Compares the keys only.
    int compare(const Entry &a, const Entry &b) const
    {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix ? -1 : 1;
        const std::string_view ka = key(a.index), kb = key(b.index);
        if (ka.size() <= 8 && kb.size() <= 8)
            return ka.size() == kb.size() ? 0 : (ka.size() < kb.size() ? -1 : 1);
        return ka.compare(kb);
    }
};

} // namespace

std::vector<int32_t> serverOrder(qint64 n)
{
    std::vector<int32_t> rows(static_cast<size_t>(n));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

std::vector<int32_t> filter(const RowStore::Snapshot &store, std::vector<int32_t> rows, const MatchSpec &spec,
                            const std::atomic<bool> &cancel)
{
    if (spec.isEmpty())
        return rows;
    const RowMatcher matcher(spec);
    std::vector<RowStore::Cell> cells;
    size_t kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % CheckEvery == 0)
            check(cancel);
        bool match;
        if (spec.column >= 0)
            match = matcher.cellMatches(store.cell(rows[i], spec.column));
        else {
            store.row(rows[i], cells);
            match = matcher.rowMatches(cells);
        }
        if (match)
            rows[kept++] = rows[i];
    }
    rows.resize(kept);
    rows.shrink_to_fit();
    return rows;
}

void sort(const RowStore::Snapshot &store, int column, const ColumnKind &kind, bool descending,
          std::vector<int32_t> &rows, const std::atomic<bool> &cancel)
{
    std::vector<int32_t> nulls;
    std::vector<int32_t> values;
    values.reserve(rows.size());
    KeyTable keys;
    keys.ends.reserve(rows.size());
    SortKeys maker(kind);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % CheckEvery == 0)
            check(cancel);
        const RowStore::Cell cell = store.cell(rows[i], column);
        if (cell.isNull()) {
            nulls.push_back(rows[i]);
            continue;
        }
        maker.append(cell.text(), keys.bytes);
        keys.ends.push_back(keys.bytes.size());
        values.push_back(rows[i]);
    }
    std::vector<Entry> entries(values.size());
    for (uint32_t i = 0; i < entries.size(); ++i) {
        const std::string_view k = keys.key(i);
        entries[i] = {prefixOf(k.data(), k.size()), i};
    }
    check(cancel);
    size_t compared = 0;
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        if (++compared % (CheckEvery * 16) == 0)
            check(cancel);
        // Equal keys keep the order the rows came in, either way.
        const int c = keys.compare(a, b);
        return (descending ? c > 0 : c < 0) || (c == 0 && a.index < b.index);
    });
    size_t out = 0;
    if (!descending)
        for (const int32_t r : nulls)
            rows[out++] = r;
    for (const Entry &e : entries)
        rows[out++] = values[e.index];
    if (descending)
        for (const int32_t r : nulls)
            rows[out++] = r;
}

std::vector<int32_t> find(const RowStore::Snapshot &store, const std::vector<int32_t> &rows, const MatchSpec &spec,
                          const std::atomic<bool> &cancel)
{
    std::vector<int32_t> found;
    if (spec.isEmpty())
        return found;
    const RowMatcher matcher(spec);
    std::vector<RowStore::Cell> cells;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % CheckEvery == 0)
            check(cancel);
        bool match;
        if (spec.column >= 0)
            match = matcher.cellMatches(store.cell(rows[i], spec.column));
        else {
            store.row(rows[i], cells);
            match = matcher.rowMatches(cells);
        }
        if (match)
            found.push_back(int32_t(i));
    }
    return found;
}

} // namespace RowJobs
