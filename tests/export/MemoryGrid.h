#pragma once

#include "core/GridSource.h"

#include <QStringList>

#include <optional>
#include <vector>

// A grid held in memory for the export tests. Counts the reads of each row;
// can hold back rows until waitUntilLoaded() "loads" them, and can fail
// that load.
class MemoryGrid : public GridSource
{
public:
    using Row = std::vector<std::optional<QByteArray>>; // nullopt is NULL

    MemoryGrid(QStringList captions, std::vector<Row> rows) : m_captions(std::move(captions)), m_rows(std::move(rows)) {}

    int columnCount() const override { return int(m_captions.size()); }
    QString caption(int column) const override { return m_captions.at(column); }
    qint64 rowCount() const override { return qint64(m_rows.size()); }
    QByteArray cellText(qint64 row, int column) const override
    {
        if (reads.size() < m_rows.size())
            reads.resize(m_rows.size(), 0);
        ++reads[size_t(row)];
        const auto &cell = m_rows[size_t(row)][size_t(column)];
        return cell ? *cell : QByteArray();
    }
    bool isNull(qint64 row, int column) const override { return !m_rows[size_t(row)][size_t(column)]; }

    bool waitUntilLoaded(const std::function<bool(qint64)> &progress) override
    {
        while (!m_pending.empty()) {
            m_rows.push_back(std::move(m_pending.front()));
            m_pending.erase(m_pending.begin());
            if (!progress(rowCount()))
                return false;
            if (failAfter >= 0 && rowCount() >= failAfter)
                return false;
        }
        return true;
    }

    // Rows that arrive only while an export waits for them.
    void holdBack(std::vector<Row> rows) { m_pending = std::move(rows); }

    qint64 failAfter = -1;
    mutable std::vector<int> reads;

private:
    QStringList m_captions;
    std::vector<Row> m_rows;
    std::vector<Row> m_pending;
};

// Builds a row from texts; a null QByteArray is NULL.
inline MemoryGrid::Row row(std::initializer_list<QByteArray> cells)
{
    MemoryGrid::Row out;
    for (const QByteArray &c : cells)
        out.push_back(c.isNull() ? std::nullopt : std::optional<QByteArray>(c));
    return out;
}

// A table of `rows` rows of three columns: a number, a text, and NULL in
// every seventh row.
inline std::vector<MemoryGrid::Row> numberedRows(int rows)
{
    std::vector<MemoryGrid::Row> out;
    for (int i = 0; i < rows; ++i) {
        out.push_back(row({QByteArray::number(i), "name " + QByteArray::number(i),
                           i % 7 == 0 ? QByteArray() : QByteArray::number(i * 1.5, 'f', 2)}));
    }
    return out;
}
