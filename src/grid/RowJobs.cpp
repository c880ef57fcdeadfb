#include "grid/RowJobs.h"

#include "grid/SortKeys.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <numeric>
#include <string>
#include <thread>

namespace RowJobs {

namespace {

constexpr size_t CheckEvery = 4096;
// Fewer rows than this are not worth a second thread.
constexpr size_t SplitFrom = 20000;

void check(const std::atomic<bool> &cancel)
{
    if (cancel.load(std::memory_order_relaxed))
        throw Cancelled();
}

// Runs work(part, first, last) on the two halves of [0, n), the second in a
// thread of its own, and passes on what either threw.
template <class Work> void inHalves(size_t n, Work work)
{
    if (n < SplitFrom) {
        work(0, 0, n);
        return;
    }
    const size_t mid = n / 2;
    std::exception_ptr failed;
    std::thread second([&] {
        try {
            work(1, mid, n);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        work(0, 0, mid);
    } catch (...) {
        second.join();
        throw;
    }
    second.join();
    if (failed)
        std::rethrow_exception(failed);
}

// A row's key: its first eight bytes as a number, which decide most
// comparisons, and which key of its table it is.
struct Entry
{
    uint64_t prefix;
    uint32_t index;
};

uint64_t prefixOf(std::string_view key)
{
    unsigned char b[8] = {};
    std::memcpy(b, key.data(), std::min<size_t>(key.size(), 8));
    uint64_t v = 0;
    for (const unsigned char c : b)
        v = (v << 8) | c;
    return v;
}

struct KeyTable
{
    std::string bytes;
    std::vector<size_t> ends;

    std::string_view key(uint32_t i) const
    {
        const size_t start = i == 0 ? 0 : ends[i - 1];
        return std::string_view(bytes).substr(start, ends[i] - start);
    }
};

int compare(const KeyTable &ta, const Entry &a, const KeyTable &tb, const Entry &b)
{
    if (a.prefix != b.prefix)
        return a.prefix < b.prefix ? -1 : 1;
    const std::string_view ka = ta.key(a.index), kb = tb.key(b.index);
    if (ka.size() <= 8 && kb.size() <= 8)
        return ka.size() == kb.size() ? 0 : (ka.size() < kb.size() ? -1 : 1);
    return ka.compare(kb);
}

// One half of the rows, keyed and sorted.
struct Part
{
    std::vector<int32_t> nulls;
    std::vector<int32_t> values;
    KeyTable keys;
    std::vector<Entry> entries;
};

void sortPart(const RowStore::Snapshot &store, int column, const ColumnKind &kind, bool descending, const int32_t *rows,
    size_t n, Part &part, const std::atomic<bool> &cancel)
{
    SortKeys maker(kind);
    part.values.reserve(n);
    part.keys.ends.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (i % CheckEvery == 0)
            check(cancel);
        const RowStore::Cell cell = store.cell(rows[i], column);
        if (cell.isNull()) {
            part.nulls.push_back(rows[i]);
            continue;
        }
        maker.append(cell.text(), part.keys.bytes);
        part.keys.ends.push_back(part.keys.bytes.size());
        part.values.push_back(rows[i]);
    }
    part.entries.resize(part.values.size());
    for (uint32_t i = 0; i < part.entries.size(); ++i)
        part.entries[i] = {prefixOf(part.keys.key(i)), i};
    size_t compared = 0;
    std::sort(part.entries.begin(), part.entries.end(), [&](const Entry &a, const Entry &b) {
        if (++compared % (CheckEvery * 16) == 0)
            check(cancel);
        // Equal keys keep the order the rows came in, either way.
        const int c = compare(part.keys, a, part.keys, b);
        return (descending ? c > 0 : c < 0) || (c == 0 && a.index < b.index);
    });
}

// Rows of `rows` that match, in order, from a half of them.
void filterPart(const RowStore::Snapshot &store, const RowMatcher &matcher, int column, const int32_t *rows, size_t n,
    std::vector<int32_t> &out, bool positions, size_t base, const std::atomic<bool> &cancel)
{
    std::vector<RowStore::Cell> cells;
    for (size_t i = 0; i < n; ++i) {
        if (i % CheckEvery == 0)
            check(cancel);
        bool match;
        if (column >= 0) {
            match = matcher.cellMatches(store.cell(rows[i], column), column)
                && (!matcher.checksOthers()
                    || matcher.alsoHolds([&store, row = rows[i]](int c) { return store.cell(row, c); }));
        } else {
            store.row(rows[i], cells);
            match = matcher.rowMatches(cells);
        }
        if (match)
            out.push_back(positions ? int32_t(base + i) : rows[i]);
    }
}

std::vector<int32_t> matching(const RowStore::Snapshot &store, const std::vector<int32_t> &rows, const FindQuery &query,
    bool positions, const std::atomic<bool> &cancel)
{
    const RowMatcher matcher(query);
    std::vector<int32_t> halves[2];
    inHalves(rows.size(), [&](int part, size_t first, size_t last) {
        filterPart(
            store, matcher, query.column, rows.data() + first, last - first, halves[part], positions, first, cancel);
    });
    halves[0].insert(halves[0].end(), halves[1].begin(), halves[1].end());
    return std::move(halves[0]);
}

} // namespace

std::vector<int32_t> serverOrder(qint64 n)
{
    std::vector<int32_t> rows(static_cast<size_t>(n));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

std::vector<int32_t> filter(
    const RowStore::Snapshot &store, std::vector<int32_t> rows, const FindQuery &query, const std::atomic<bool> &cancel)
{
    if (query.isEmpty())
        return rows;
    std::vector<int32_t> kept = matching(store, rows, query, false, cancel);
    kept.shrink_to_fit();
    return kept;
}

void sort(const RowStore::Snapshot &store, int column, const ColumnKind &kind, bool descending,
    std::vector<int32_t> &rows, const std::atomic<bool> &cancel)
{
    Part parts[2];
    inHalves(rows.size(), [&](int part, size_t first, size_t last) {
        sortPart(store, column, kind, descending, rows.data() + first, last - first, parts[size_t(part)], cancel);
    });
    check(cancel);
    // NULL first ascending, last descending, as the server orders.
    size_t out = 0;
    const auto putNulls = [&] {
        for (const Part &p : parts)
            for (const int32_t r : p.nulls)
                rows[out++] = r;
    };
    if (!descending)
        putNulls();
    // The halves merged; on equal keys the first half's row goes first.
    const Part &a = parts[0], &b = parts[1];
    size_t i = 0, j = 0;
    while (i < a.entries.size() || j < b.entries.size()) {
        bool takeA = j == b.entries.size();
        if (!takeA && i < a.entries.size()) {
            const int c = compare(a.keys, a.entries[i], b.keys, b.entries[j]);
            takeA = descending ? c >= 0 : c <= 0;
        }
        rows[out++] = takeA ? a.values[a.entries[i++].index] : b.values[b.entries[j++].index];
    }
    if (descending)
        putNulls();
}

std::vector<int32_t> find(const RowStore::Snapshot &store, const std::vector<int32_t> &rows, const FindQuery &query,
    const std::atomic<bool> &cancel)
{
    if (query.isEmpty())
        return {};
    return matching(store, rows, query, true, cancel);
}

} // namespace RowJobs
