#pragma once

#include "db/RowStore.h"

#include <QByteArray>
#include <QString>

#include <string_view>
#include <vector>

// What the find bar looks for: text in a cell, in every column or one.
struct FindQuery
{
    QString text;
    bool matchCase = false;
    bool wholeCell = false;
    int column = -1; // -1: every column
    // By column: a column of bytes, whose cells are matched as the hex the
    // grid shows, not as their bytes.
    std::vector<bool> hexColumns;

    bool isEmpty() const { return text.isEmpty(); }
    bool operator==(const FindQuery &) const = default;
};

// Tells whether cells hold the text of a FindQuery. Works on the cells'
// bytes as stored (UTF-8), or on their hex in a column of bytes; NULL never
// matches. Usable from any thread.
class RowMatcher
{
public:
    explicit RowMatcher(const FindQuery &query);

    bool cellMatches(const RowStore::Cell &cell, int column) const;
    bool rowMatches(const std::vector<RowStore::Cell> &cells) const;

private:
    bool textMatches(std::string_view hay) const;
    bool containsAscii(std::string_view hay) const;
    bool foldedMatch(std::string_view hay) const;

    FindQuery m_query;
    QByteArray m_needle; // UTF-8, case folded unless matchCase
    QString m_folded;    // for text that is not ASCII
    bool m_asciiNeedle = true;
    unsigned char m_lower[256];
};
