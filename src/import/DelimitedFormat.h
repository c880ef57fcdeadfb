#pragma once

#include <QByteArray>
#include <QStringList>

// How a delimited text file is laid out. detect() guesses it from the
// file's first bytes; the user may change any part.
struct DelimitedFormat
{
    enum class Encoding { Utf8, Utf16, Latin1 };
    Encoding encoding = Encoding::Utf8;
    // Our own text export: every field, captions too, is followed by a TAB
    // and each line by CR LF; nothing is quoted, so a field may hold a line
    // break, and the header tells how many fields a record has.
    bool tabTerminated = false;
    char separator = ',';
    char quote = '"'; // 0: fields are never quoted
    bool header = true;

    bool operator==(const DelimitedFormat &) const = default;

    // Guesses from `head` (the file's first bytes): a byte-order mark, else
    // UTF-8 when the bytes are UTF-8, else Latin-1; the separator that
    // splits the first lines into the same number of fields; a header when
    // a field of the first line names one of `columns` (any case), or when
    // none of its fields is a number or a date.
    static DelimitedFormat detect(const QByteArray &head, const QStringList &columns);
};
