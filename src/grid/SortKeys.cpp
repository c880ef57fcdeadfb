#include "grid/SortKeys.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include <unicode/ucol.h>
#include <unicode/ustring.h>

namespace {

void appendBigEndian(uint64_t v, std::string &out)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(char(uint8_t(v >> shift)));
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

void appendSigned(std::string_view text, std::string &out)
{
    text = trimmed(text);
    int64_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    appendBigEndian(uint64_t(v) ^ (uint64_t(1) << 63), out);
}

void appendUnsigned(std::string_view text, std::string &out)
{
    text = trimmed(text);
    uint64_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    appendBigEndian(v, out);
}

void appendFloating(std::string_view text, std::string &out)
{
    text = trimmed(text);
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    if (d == 0)
        d = 0; // -0 and 0 are one value
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    // Negative numbers: all bits flipped; positive: the sign bit set.
    bits = (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
    appendBigEndian(bits, out);
}

// A decimal as: a class byte (negative, zero, positive), the number of
// integer digits, then the digits without leading or trailing zeros. For
// negative numbers the count and digits are inverted and a terminator
// follows, so a longer negative digit string orders first.
void appendDecimal(std::string_view text, std::string &out)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (whole.empty() && fraction.empty()) {
        out.push_back(char(2));
        return;
    }
    out.push_back(char(negative ? 1 : 3));
    const uint8_t digits = uint8_t(std::min<size_t>(whole.size(), 250));
    out.push_back(char(negative ? 255 - digits : digits));
    for (std::string_view part : {whole, fraction})
        for (const char c : part)
            out.push_back(negative ? char('9' - c + '0') : c);
    if (negative)
        out.push_back(char(255));
}

// [-]H...H:MM:SS[.ffffff] as microseconds.
void appendTime(std::string_view text, std::string &out)
{
    text = trimmed(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    int64_t parts[3] = {0, 0, 0};
    int64_t micros = 0;
    const char *p = text.data();
    const char *end = p + text.size();
    for (int i = 0; i < 3 && p < end; ++i) {
        p = std::from_chars(p, end, parts[i]).ptr;
        if (p < end && *p == ':')
            ++p;
    }
    if (p < end && *p == '.') {
        ++p;
        int64_t scale = 100000;
        for (; p < end && *p >= '0' && *p <= '9' && scale > 0; ++p, scale /= 10)
            micros += (*p - '0') * scale;
    }
    int64_t v = ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000000 + micros;
    appendBigEndian(uint64_t(negative ? -v : v) ^ (uint64_t(1) << 63), out);
}

} // namespace

SortKeys::SortKeys(const ColumnKind &kind) : m_kind(kind)
{
    if (m_kind.kind != ColumnKind::Text || m_kind.binaryCollation)
        return;
    UErrorCode status = U_ZERO_ERROR;
    m_collator = ucol_open("", &status); // the root order, as the Unicode collations use
    if (U_FAILURE(status)) {
        m_collator = nullptr;
        return;
    }
    // Primary strength ignores case and accents, as the _ci collations do.
    ucol_setStrength(m_collator, m_kind.caseInsensitive ? UCOL_PRIMARY : UCOL_TERTIARY);
}

SortKeys::~SortKeys()
{
    if (m_collator)
        ucol_close(m_collator);
}

void SortKeys::append(std::string_view text, std::string &out)
{
    const size_t start = out.size();
    switch (m_kind.kind) {
    case ColumnKind::Signed:
        appendSigned(text, out);
        break;
    case ColumnKind::Unsigned:
        appendUnsigned(text, out);
        break;
    case ColumnKind::Decimal:
        appendDecimal(text, out);
        break;
    case ColumnKind::Floating:
        appendFloating(text, out);
        break;
    case ColumnKind::Time:
        appendTime(text, out);
        break;
    case ColumnKind::Temporal:
        out.append(trimmed(text));
        break;
    case ColumnKind::Bytes:
        out.append(text);
        break;
    case ColumnKind::Text:
        appendText(text, out);
        break;
    }
    if (out.size() - start > MaxKeyBytes)
        out.resize(start + MaxKeyBytes);
}

void SortKeys::appendText(std::string_view text, std::string &out)
{
    // Trailing spaces do not count (PAD SPACE collations).
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!m_collator) {
        // A binary collation: UTF-8 bytes order as code points.
        out.append(text);
        return;
    }
    text = text.substr(0, MaxKeyBytes * 4);
    UErrorCode status = U_ZERO_ERROR;
    m_utf16.resize(text.size());
    int32_t length = 0;
    u_strFromUTF8WithSub(reinterpret_cast<UChar *>(m_utf16.data()), int32_t(m_utf16.size()), &length, text.data(),
        int32_t(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        out.append(text);
        return;
    }
    const size_t start = out.size();
    out.resize(start + MaxKeyBytes + 1);
    int32_t n = ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(m_utf16.data()), length,
        reinterpret_cast<uint8_t *>(out.data() + start), int32_t(MaxKeyBytes + 1));
    if (n > int32_t(MaxKeyBytes + 1)) {
        // Too long for the buffer, which then holds no usable key: made
        // whole, then cut by append().
        out.resize(start + size_t(n));
        n = ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(m_utf16.data()), length,
            reinterpret_cast<uint8_t *>(out.data() + start), n);
    }
    // The key ends with a zero byte, which is left off.
    out.resize(start + size_t(n > 0 ? n - 1 : 0));
}
