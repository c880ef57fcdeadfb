#include "export/XlsxNumber.h"

#include <charconv>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

XlsxNumber XlsxNumber::parse(std::string_view text)
{
    constexpr int MaxDigits = 15;
    XlsxNumber out;
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        ++i;
    const size_t intStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    const size_t intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && text[intStart] == '0'))
        return out;
    int decimals = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++decimals;
        }
        if (decimals == 0)
            return out;
    }
    if (i != text.size() || decimals > MaxDigits)
        return out;

    // Significant digits run from the first non-zero digit to the end,
    // trailing zeros included: they are shown, so they must be kept.
    int significant = 0;
    bool started = false;
    for (size_t k = intStart; k < text.size(); ++k) {
        if (text[k] == '.')
            continue;
        started = started || text[k] != '0';
        if (started)
            ++significant;
    }
    if (!started && negative)
        return out; // "-0" would lose its sign
    if (significant > MaxDigits)
        return out;

    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out.value);
    if (error != std::errc() || end != text.data() + text.size())
        return out;
    out.isNumber = true;
    out.decimals = decimals;
    return out;
}
