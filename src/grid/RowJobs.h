#pragma once

#include "db/ColumnKind.h"
#include "db/RowStore.h"
#include "grid/RowMatcher.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The work behind sorting, filtering and finding, run on a snapshot of the
// rows in a worker thread. Each checks `cancel` often and throws Cancelled
// once it is set.
namespace RowJobs {

struct Cancelled
{
};

// The rows of `rows` (source row numbers) whose cells match `query`, in the
// same order; all of them when the FindQuery is empty.
std::vector<int32_t> filter(const RowStore::Snapshot &store, std::vector<int32_t> rows, const FindQuery &query,
    const std::atomic<bool> &cancel);

// Orders `rows` by `column`: NULL first, then by value; descending reverses
// that. Rows of equal value keep their order.
void sort(const RowStore::Snapshot &store, int column, const ColumnKind &kind, bool descending,
    std::vector<int32_t> &rows, const std::atomic<bool> &cancel);

// Positions in `rows` of the rows that match.
std::vector<int32_t> find(const RowStore::Snapshot &store, const std::vector<int32_t> &rows, const FindQuery &query,
    const std::atomic<bool> &cancel);

// 0, 1, ..., n-1.
std::vector<int32_t> serverOrder(qint64 n);

} // namespace RowJobs
