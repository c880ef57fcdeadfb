#include "grid/RowMatcher.h"

#include "grid/CellDisplay.h"

#include <algorithm>
#include <cstring>

namespace {

bool isAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; });
}

} // namespace

RowMatcher::RowMatcher(const FindQuery &query) : m_query(query)
{
    m_folded = query.matchCase ? query.text : query.text.toCaseFolded();
    m_needle = m_folded.toUtf8();
    m_asciiNeedle = isAscii(std::string_view(m_needle.constData(), size_t(m_needle.size())));
    for (int i = 0; i < 256; ++i)
        m_lower[i] = (!query.matchCase && i >= 'A' && i <= 'Z') ? (unsigned char)(i + 32) : (unsigned char)i;
}

bool RowMatcher::containsAscii(std::string_view hay) const
{
    const size_t n = size_t(m_needle.size());
    if (n == 0)
        return true;
    if (hay.size() < n)
        return false;
    const auto *h = reinterpret_cast<const unsigned char *>(hay.data());
    const auto *needle = reinterpret_cast<const unsigned char *>(m_needle.constData());
    if (m_query.wholeCell) {
        if (hay.size() != n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (m_lower[h[i]] != needle[i])
                return false;
        return true;
    }
    const unsigned char first = needle[0];
    const size_t last = hay.size() - n;
    for (size_t i = 0; i <= last; ++i) {
        if (m_lower[h[i]] != first)
            continue;
        size_t k = 1;
        while (k < n && m_lower[h[i + k]] == needle[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

bool RowMatcher::foldedMatch(std::string_view hay) const
{
    QString text = QString::fromUtf8(hay.data(), qsizetype(hay.size()));
    if (!m_query.matchCase)
        text = text.toCaseFolded();
    return m_query.wholeCell ? text == m_folded : text.contains(m_folded);
}

bool RowMatcher::cellMatches(const RowStore::Cell &cell, int column) const
{
    if (cell.isNull())
        return false;
    if (column >= 0 && size_t(column) < m_query.hexColumns.size() && m_query.hexColumns[size_t(column)]) {
        const QByteArray hex = CellDisplay::hexOf(cell.text());
        return textMatches(std::string_view(hex.constData(), size_t(hex.size())));
    }
    return textMatches(cell.text());
}

bool RowMatcher::textMatches(std::string_view hay) const
{
    // An ASCII needle is matched on the bytes, folding only ASCII letters:
    // no byte of a longer UTF-8 character equals an ASCII one. (That misses
    // the two characters that fold to ASCII letters, the long s and the
    // Kelvin sign, and is many times faster.) Other needles fold as Unicode.
    if (m_query.matchCase || m_asciiNeedle)
        return m_query.matchCase && !m_asciiNeedle
            ? (m_query.wholeCell ? hay == std::string_view(m_needle.constData(), size_t(m_needle.size()))
                                 : hay.find(std::string_view(m_needle.constData(), size_t(m_needle.size())))
                        != std::string_view::npos)
            : containsAscii(hay);
    return foldedMatch(hay);
}

bool RowMatcher::rowMatches(const std::vector<RowStore::Cell> &cells) const
{
    if (!alsoHolds([&cells](int c) { return size_t(c) < cells.size() ? cells[size_t(c)] : RowStore::Cell(); }))
        return false;
    if (m_query.column >= 0)
        return m_query.column < int(cells.size()) && cellMatches(cells[size_t(m_query.column)], m_query.column);
    for (size_t c = 0; c < cells.size(); ++c)
        if (cellMatches(cells[c], int(c)))
            return true;
    return false;
}

bool RowMatcher::alsoHolds(const std::function<RowStore::Cell(int)> &cellAt) const
{
    for (const auto &[column, bytes] : m_query.alsoEqual) {
        const RowStore::Cell cell = cellAt(column);
        if (cell.isNull()
            || std::string_view(cell.text().data(), cell.text().size())
                != std::string_view(bytes.constData(), size_t(bytes.size())))
            return false;
    }
    return true;
}
