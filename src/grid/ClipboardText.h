#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>
#include <vector>

// The two forms spreadsheets exchange a block of cells in, written and
// read without a window: tab-separated text (a field holding a TAB, CR, LF
// or double quote is quoted, its quotes doubled; lines end in LF; NULL is
// an empty field) and an HTML table.
namespace ClipboardText {

// Appends one field of tab-separated text.
void appendTextField(QByteArray &out, std::string_view text);
// Appends one <td> cell, its text escaped; NULL is an empty cell.
void appendHtmlField(QByteArray &out, std::string_view text, bool isNull);

QByteArray htmlBegin();
QByteArray htmlEnd();

// A block read from the clipboard: rows of fields. An empty field is an
// empty string. A last line break ends the last row rather than starting
// an empty one; CR LF counts as LF outside quotes.
using Block = std::vector<std::vector<QString>>;
Block parse(const QString &text);

} // namespace ClipboardText
