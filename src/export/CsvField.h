#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// CSV quoting as RFC 4180 has it. In a header of its own so the fuzzer
// checks the very code the export runs.
namespace CsvField {

// Whether a byte of `word` is a comma, a double quote, CR or LF: a byte
// equal to `c` is a zero byte of word ^ c...c.
template <class Word>
Q_ALWAYS_INLINE bool holdsSpecial(Word word)
{
    constexpr Word ones = Word(~Word(0)) / 0xff;
    constexpr Word highs = ones * 0x80;
    const auto holds = [word](char c) {
        const Word v = word ^ Word(ones * uint8_t(c));
        return Word(v - ones) & Word(~v) & highs;
    };
    return (holds(',') | holds('"') | holds('\r') | holds('\n')) != 0;
}

template <class Word>
Q_ALWAYS_INLINE Word wordAt(const char *p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

#if defined(__SSE2__)
// Whether 16 bytes from `p` hold a comma, a double quote, CR or LF.
Q_ALWAYS_INLINE bool blockHoldsSpecial(const char *p)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    return _mm_movemask_epi8(hits) != 0;
}
#endif

// CSV quoting: a field is quoted when it holds a comma, a double quote, CR
// or LF. Tested 16 or 8 bytes at a time, never past the field's end; the
// last block may overlap the one before.
inline bool needsQuotes(QByteArrayView field)
{
    const char *p = field.data();
    qsizetype n = field.size();
#if defined(__SSE2__)
    if (n >= 16) {
        for (; n > 16; p += 16, n -= 16) {
            if (blockHoldsSpecial(p))
                return true;
        }
        return blockHoldsSpecial(p + n - 16);
    }
#endif
    if (n >= 8) {
        for (; n > 8; p += 8, n -= 8) {
            if (holdsSpecial(wordAt<uint64_t>(p)))
                return true;
        }
        return holdsSpecial(wordAt<uint64_t>(p + n - 8));
    }
    if (n >= 4)
        return holdsSpecial(wordAt<uint32_t>(p)) || holdsSpecial(wordAt<uint32_t>(p + n - 4));
    for (; n > 0; ++p, --n) {
        if (*p == ',' || *p == '"' || *p == '\r' || *p == '\n')
            return true;
    }
    return false;
}

} // namespace CsvField

// Appends one field to `text` (anything with append(QByteArrayView) and
// append(char)): NULL is nothing; a field holding a comma, double quote, CR
// or LF, and an empty text (so it differs from NULL), is quoted with its
// quotes doubled. A numeric field is known to hold none of those.
template <class Text>
void appendCsvField(Text &text, QByteArrayView field, bool isNull, bool numeric = false)
{
    if (isNull)
        return;
    if (!field.isEmpty() && (numeric || !CsvField::needsQuotes(field))) {
        text.append(field);
        return;
    }
    text.append('"');
    qsizetype from = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '"') {
            text.append(field.sliced(from, i + 1 - from));
            text.append('"');
            from = i + 1;
        }
    }
    text.append(field.sliced(from));
    text.append('"');
}
