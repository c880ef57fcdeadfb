#pragma once

#include <string_view>

// Whether a cell's text can go into a workbook as a number without changing
// what it shows or losing a digit: a plain decimal ("-12", "10472.90",
// "0.5") with at most 15 significant digits (all a workbook keeps), no
// leading zeros, no sign but a minus (and none before zero), no exponent and
// at most 15 decimals. Everything else (codes like "007", long digit
// strings, dates) stays text.
struct XlsxNumber
{
    bool isNumber = false;
    double value = 0;
    int decimals = 0; // digits after the point: the cell shows as many

    static XlsxNumber parse(std::string_view text);
};
