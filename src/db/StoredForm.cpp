#include "db/StoredForm.h"

#include <QString>

#include <algorithm>

namespace {

qint64 codePoints(const QByteArray &utf8)
{
    qint64 n = 0;
    for (const char c : utf8)
        n += (uchar(c) & 0xC0) != 0x80;
    return n;
}

// Sent as utf8mb4, `text` is held in `charset` without loss.
bool fitsCharset(const QByteArray &charset, const QByteArray &text)
{
    if (QString::fromUtf8(text).toUtf8() != text)
        return false;
    if (charset == "utf8mb4")
        return true;
    if (charset == "utf8mb3" || charset == "utf8")
        return std::none_of(text.begin(), text.end(), [](char c) { return uchar(c) >= 0xF0; });
    static const QByteArrayList wide = {"ucs2", "utf16", "utf16le", "utf32", "swe7"};
    return !wide.contains(charset) && std::none_of(text.begin(), text.end(), [](char c) { return uchar(c) >= 0x80; });
}

// A plain decimal integer ("-12", never "012", "+1", "1.0" or " 1") that
// the column holds without clipping.
bool plainIntegerFits(const ColumnType &column, const QByteArray &text)
{
    static const QList<std::pair<QByteArray, int>> bitsOf
        = {{"tinyint", 8}, {"smallint", 16}, {"mediumint", 24}, {"int", 32}, {"bigint", 64}};
    int bits = 0;
    for (const auto &[name, b] : bitsOf)
        if (column.dataType == name)
            bits = b;
    if (bits == 0 || column.columnType.contains("zerofill"))
        return false;
    const QByteArray digits = text.startsWith('-') ? text.mid(1) : text;
    if (digits.isEmpty() || (digits.size() > 1 && digits.startsWith('0')) || (digits == "0" && text != digits)
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    bool ok = false;
    if (column.columnType.contains("unsigned")) {
        const quint64 v = text.toULongLong(&ok);
        return ok && (bits == 64 || v < (quint64(1) << bits));
    }
    const qint64 v = text.toLongLong(&ok);
    return ok && (bits == 64 || (v >= -(qint64(1) << (bits - 1)) && v < (qint64(1) << (bits - 1))));
}

} // namespace

bool storesUnchanged(const ColumnType &column, const CellValue &value, bool emptyIsNull)
{
    if (value.isNull)
        return column.nullable && !column.autoIncrement;
    const QByteArray &text = value.text;
    if (column.autoIncrement && text == "0")
        return false; // a new id unless NO_AUTO_VALUE_ON_ZERO
    static const QByteArrayList texts = {"varchar", "tinytext", "text", "mediumtext", "longtext"};
    static const QByteArrayList bytes = {"varbinary", "tinyblob", "blob", "mediumblob", "longblob"};
    if (texts.contains(column.dataType))
        return !(text.isEmpty() && emptyIsNull) && fitsCharset(column.charset, text)
            && codePoints(text) <= column.maxChars && text.size() <= column.maxBytes;
    if (bytes.contains(column.dataType))
        return !(text.isEmpty() && emptyIsNull) && text.size() <= column.maxChars;
    return plainIntegerFits(column, text);
}
