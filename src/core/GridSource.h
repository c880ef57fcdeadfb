#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

// What the exports read from the editor's grid: the columns in display
// order with their captions, and every row's display text. The grid's model
// implements it; tests use a table in memory.
class GridSource
{
public:
    virtual ~GridSource() = default;

    virtual int columnCount() const = 0;
    virtual QString caption(int column) const = 0;
    virtual qint64 rowCount() const = 0;

    // The display text of a cell as UTF-8: empty for NULL. May share the
    // grid's storage; valid until the rows change.
    virtual QByteArray cellText(qint64 row, int column) const = 0;
    virtual bool isNull(qint64 row, int column) const = 0;

    struct CellText
    {
        QByteArrayView text;
        bool isNull = false;
        // The text is known to hold only digits and "-.: e+", as numbers,
        // dates and times do; a source may leave it false.
        bool numeric = false;
        QByteArray made; // holds `text` when the source had to make it
    };
    // Every cell of `row`, as cellText() and isNull() give them, into `cells`
    // (resized to columnCount()); valid as long. Readers of whole rows use
    // it: a source that keeps a row as one record reads it in one go.
    virtual void rowText(qint64 row, std::vector<CellText> &cells) const
    {
        cells.resize(size_t(columnCount()));
        for (int c = 0; c < int(cells.size()); ++c) {
            CellText &cell = cells[size_t(c)];
            cell.made = cellText(row, c);
            cell.text = cell.made;
            cell.isNull = isNull(row, c);
            cell.numeric = false;
        }
    }

    // Blocks until every row of the table has arrived, calling `progress`
    // with the rows so far now and then; returns false when the wait was
    // cancelled (progress returned false) or the load failed. A source that
    // is already complete returns true at once.
    virtual bool waitUntilLoaded(const std::function<bool(qint64 rows)> &progress)
    {
        (void)progress;
        return true;
    }
};
