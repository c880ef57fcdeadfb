#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

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
    // The same text for a reader that copies it at once: the grid's storage
    // where it holds the text as shown, else put into `scratch`, whose
    // memory is reused from cell to cell. Valid until scratch or the rows change.
    virtual QByteArrayView cellBytes(qint64 row, int column, QByteArray &scratch) const
    {
        scratch = cellText(row, column);
        return scratch;
    }
    virtual bool isNull(qint64 row, int column) const = 0;

    // Blocks until every row of the table has arrived, calling `progress`
    // with the rows so far now and then; returns false when the wait was
    // cancelled (progress returned false) or the load failed. A source that
    // is already complete returns true at once.
    virtual bool waitUntilLoaded(const std::function<bool(qint64 rows)> &progress) { (void)progress; return true; }
};
