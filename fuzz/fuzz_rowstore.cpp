// The row store: any cells, packed or not, come back byte for byte, through
// appends, inserts, replaces and removes, and after a hand-over.
#include "db/RowStore.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Row = std::vector<std::optional<std::string>>;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<RowStore::Cell> cellsOf(const Row &row)
{
    std::vector<RowStore::Cell> cells;
    for (const auto &c : row)
        cells.push_back(c ? RowStore::Cell(*c) : RowStore::Cell());
    return cells;
}

void compare(const RowStore &store, const std::vector<Row> &model)
{
    check(store.rowCount() == qint64(model.size()));
    std::vector<RowStore::Cell> cells;
    for (size_t r = 0; r < model.size(); ++r) {
        store.row(qint64(r), cells);
        for (size_t c = 0; c < model[r].size(); ++c) {
            const RowStore::Cell one = store.cell(qint64(r), int(c));
            for (const RowStore::Cell &cell : {one, cells[c]}) {
                check(cell.isNull() == !model[r][c]);
                if (model[r][c])
                    check(cell.text() == *model[r][c]);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int columns = 1 + data[0] % 6;
    size_t i = 1;
    // Texts: the next byte is a length (0xff: NULL), then that many bytes.
    // Digits are frequent so packed cells get exercised.
    const auto text = [&]() -> std::optional<std::string> {
        if (i >= size)
            return std::string();
        const uint8_t n = data[i++];
        if (n == 0xff)
            return std::nullopt;
        std::string out;
        const size_t length = n == 0xfe ? 200 : n;
        for (size_t k = 0; k < length && i < size; ++k, ++i)
            out += (data[i] & 0x80) ? char('0' + data[i] % 10) : char(data[i]);
        return out;
    };
    RowStore store(columns);
    std::vector<Row> model;
    while (i < size) {
        const uint8_t op = data[i++];
        Row row;
        for (int c = 0; c < columns; ++c)
            row.push_back(text());
        const size_t at = model.empty() ? 0 : op % (model.size() + 1);
        switch (op % 4) {
        case 0:
        case 1:
            store.append(cellsOf(row));
            model.push_back(row);
            break;
        case 2:
            store.insert(qint64(at), cellsOf(row));
            model.insert(model.begin() + qint64(at), row);
            break;
        default:
            if (!model.empty()) {
                const size_t r = at % model.size();
                if (op & 0x10) {
                    store.remove(qint64(r));
                    model.erase(model.begin() + qint64(r));
                } else {
                    store.replace(qint64(r), cellsOf(row));
                    model[r] = row;
                }
            }
        }
    }
    compare(store, model);
    RowStore taken(columns);
    taken.take(store.handOver());
    compare(taken, model);
    return 0;
}
