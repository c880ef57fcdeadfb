#pragma once

#include "db/RowStore.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <string_view>

// What a grid cell shows: its text, or hex when its bytes are not UTF-8,
// cut to what a cell can paint. Whether a large cell is UTF-8 is worked out
// once and remembered by where its bytes are, so painting a screen that
// holds a cell of many megabytes does not read the whole cell again.
// Forget everything (clear()) when the rows are freed or replaced wholesale.
class CellDisplay
{
public:
    // Bytes of a cell shown at most; the rest is an ellipsis.
    static constexpr qsizetype MaxShownBytes = 4000;
    // Cells at least this long are remembered.
    static constexpr size_t RememberFrom = 4096;

    static bool isValidUtf8(std::string_view text);

    // Whether the cell's bytes are UTF-8 (a NULL cell is).
    bool isText(const RowStore::Cell &cell) const;
    // The full text: the bytes (shared, not copied, when they are the
    // store's), or "0x" and hex digits for bytes that are not UTF-8.
    QByteArray bytes(const RowStore::Cell &cell) const;
    // The text to paint: at most MaxShownBytes of it, then "…".
    QString shown(const RowStore::Cell &cell) const;

    void clear() { m_isText.clear(); }

private:
    struct Seen
    {
        size_t size = 0;
        bool isText = false;
    };
    mutable QHash<const char *, Seen> m_isText;
};
