#pragma once

#include "db/ColumnKind.h"

#include <string>
#include <string_view>

struct UCollator;

// Byte strings that order as the server orders a column's values: comparing
// two keys byte by byte gives the values' order. Numbers are compared
// exactly (a DECIMAL never goes through a double), times by their value,
// text by a collator close to the column's collation. One per thread.
class SortKeys
{
public:
    explicit SortKeys(const ColumnKind &kind);
    ~SortKeys();
    SortKeys(const SortKeys &) = delete;
    SortKeys &operator=(const SortKeys &) = delete;

    // Appends the key of a value's text (the server's text form) to `out`.
    void append(std::string_view text, std::string &out);

    // Keys longer than this are cut: values equal that far keep the
    // server's order among themselves.
    static constexpr size_t MaxKeyBytes = 512;

private:
    void appendText(std::string_view text, std::string &out);

    ColumnKind m_kind;
    UCollator *m_collator = nullptr;
    std::u16string m_utf16;
};
