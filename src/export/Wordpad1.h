#pragma once

#include <QString>

// File name of our print program, which stands where WordPad stood: given
// "/p" and a text file it prints the file to the default printer and ends.
inline constexpr char PrintProgramName[] = "corvane-print";

// Path of the print program beside the editor's executable; empty when it is
// not there (or cannot be run).
QString GetWordPadPath();
