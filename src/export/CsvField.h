#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <cstring>

// CSV quoting as RFC 4180 has it. In a header of its own so the fuzzer
// checks the very code the export runs.
namespace CsvField {

// Whether a byte of `word` is a comma, a double quote, CR or LF: a byte
// equal to `c` is a zero byte of word ^ c...c.
template <class Word>
bool holdsSpecial(Word word)
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
Word wordAt(const char *p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// CSV quoting: a field is quoted when it holds a comma, a double quote, CR
// or LF. Tested a word at a time; the last word may overlap the one before.
inline bool needsQuotes(QByteArrayView field)
{
    const char *p = field.data();
    qsizetype n = field.size();
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
