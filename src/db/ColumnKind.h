#pragma once

#include <QByteArray>

struct FieldInfo;

// How the server orders a column's values, told from its field description,
// so the grid can order rows the same way without asking the server.
struct ColumnKind
{
    enum Kind {
        Signed,   // integers, compared as 64-bit values
        Unsigned, // unsigned integers
        Decimal,  // exact decimals of any length
        Floating, // FLOAT and DOUBLE
        Temporal, // DATE, DATETIME, TIMESTAMP, YEAR: their text forms order as the values
        Time,     // TIME, which may be negative and have more than two hour digits
        Text,     // by collation
        Bytes,    // binary strings and BIT, by bytes
    };
    Kind kind = Text;
    // For Text: the collation ignores case (and, for the general and Unicode
    // collations, accents); a binary collation orders by code point.
    bool caseInsensitive = true;
    bool binaryCollation = false;
    // The collation's name when known ("utf8mb4_general_ci"), else empty.
    QByteArray collation;
};

ColumnKind columnKind(const FieldInfo &field);
