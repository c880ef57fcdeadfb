#pragma once

#include "db/RowStore.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>
#include <utility>
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
    // Cells a row must also hold exactly (these bytes) to match as a row:
    // the other columns of a key whose rows are shown.
    std::vector<std::pair<int, QByteArray>> alsoEqual;

    bool isEmpty() const { return text.isEmpty() && alsoEqual.empty(); }
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
    // Whether the row of these cells holds the query's alsoEqual.
    bool alsoHolds(const std::function<RowStore::Cell(int column)> &cellAt) const;
    bool checksOthers() const { return !m_query.alsoEqual.empty(); }

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
