#pragma once

#include "db/RowStore.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <string_view>

struct FieldInfo;

// What a grid cell shows: its text, or hex, cut to what a cell can paint.
// Whether a value is text is its column's matter: a column of bytes (binary
// strings, BIT, GEOMETRY) shows "0x" and hex in every row, whether or not
// its bytes happen to decode; a text column shows its text, and hex only for
// a cell whose bytes are not UTF-8. Whether a large cell is UTF-8 is worked
// out once and remembered by where its bytes are, so painting a screen that
// holds a cell of many megabytes does not read the whole cell again.
// Forget everything (clear()) when the rows are freed or replaced wholesale.
class CellDisplay
{
public:
    enum class Form {
        Text, // the value's text
        Hex,  // "0x" and two hex digits a byte, in every row
    };

    // Bytes of a cell shown at most; the rest is an ellipsis.
    static constexpr qsizetype MaxShownBytes = 4000;
    // Cells at least this long are remembered.
    static constexpr size_t RememberFrom = 4096;

    static Form formOf(const FieldInfo &field);
    static bool isValidUtf8(std::string_view text);
    static QByteArray hexOf(std::string_view bytes);
    // The bytes of what a user typed into a column of bytes: two hex digits
    // a byte, with or without a leading "0x"; nullopt for anything else.
    static std::optional<QByteArray> fromHex(const QString &typed);

    // Whether the cell shows its own bytes (a NULL cell does).
    bool isText(const RowStore::Cell &cell, Form form) const;
    // The full text: the bytes (shared, not copied, when they are the
    // store's), or "0x" and hex digits.
    QByteArray bytes(const RowStore::Cell &cell, Form form) const;
    // The text to paint: at most MaxShownBytes of it, then "…".
    QString shown(const RowStore::Cell &cell, Form form) const;

    void clear() { m_isText.clear(); }

private:
    bool isUtf8(const RowStore::Cell &cell) const;

    struct Seen
    {
        size_t size = 0;
        bool isText = false;
    };
    mutable QHash<const char *, Seen> m_isText;
};
