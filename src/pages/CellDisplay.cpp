#include "pages/CellDisplay.h"

#include <cstdint>
#include <cstring>

namespace {

// Whether no byte has its high bit set, eight at a time. Without an early
// exit: nearly every cell is ASCII, and the rest are checked again anyway.
bool isAscii(std::string_view s)
{
    const char *p = s.data();
    size_t n = s.size();
    uint64_t bits = 0;
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        bits |= word;
    }
    for (; n > 0; ++p, --n)
        bits |= uint8_t(*p);
    return !(bits & 0x8080808080808080u);
}

QByteArray hexOf(std::string_view text)
{
    return "0x" + QByteArray(text.data(), qsizetype(text.size())).toHex().toUpper();
}

// The length of the longest start of `text` no longer than `max` that does
// not end inside a UTF-8 sequence.
size_t cutAtCharacter(std::string_view text, size_t max)
{
    size_t n = max;
    while (n > 0 && (uint8_t(text[n]) & 0xc0) == 0x80)
        --n;
    return n;
}

} // namespace

bool CellDisplay::isValidUtf8(std::string_view s)
{
    if (isAscii(s))
        return true;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const auto *end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n = 0;
        unsigned min = 0;
        if ((c & 0xe0) == 0xc0) { n = 1; min = 0x80; }
        else if ((c & 0xf0) == 0xe0) { n = 2; min = 0x800; }
        else if ((c & 0xf8) == 0xf0) { n = 3; min = 0x10000; }
        else return false;
        if (end - p <= n)
            return false;
        unsigned cp = c & (0x3f >> n);
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        p += n + 1;
    }
    return true;
}

bool CellDisplay::isText(const RowStore::Cell &cell) const
{
    if (cell.isNull() || cell.isPacked())
        return true; // unpacked text is digits and signs
    const std::string_view text = cell.text();
    if (text.size() < RememberFrom)
        return isValidUtf8(text);
    const auto it = m_isText.constFind(text.data());
    if (it != m_isText.constEnd() && it->size == text.size())
        return it->isText;
    const bool valid = isValidUtf8(text);
    m_isText.insert(text.data(), Seen{text.size(), valid});
    return valid;
}

QByteArray CellDisplay::bytes(const RowStore::Cell &cell) const
{
    if (cell.isNull())
        return {};
    const std::string_view text = cell.text();
    if (cell.isPacked())
        return QByteArray(text.data(), qsizetype(text.size()));
    if (isText(cell))
        return QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    return hexOf(text);
}

QString CellDisplay::shown(const RowStore::Cell &cell) const
{
    if (cell.isNull())
        return QString();
    const std::string_view text = cell.text();
    if (qsizetype(text.size()) <= MaxShownBytes) {
        const QByteArray b = bytes(cell);
        return QString::fromUtf8(b.constData(), b.size());
    }
    if (!isText(cell))
        return QString::fromLatin1(hexOf(text.substr(0, size_t(MaxShownBytes) / 2))) + QChar(0x2026);
    const size_t n = cutAtCharacter(text, size_t(MaxShownBytes));
    return QString::fromUtf8(text.data(), qsizetype(n)) + QChar(0x2026);
}
