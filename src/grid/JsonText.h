#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// JSON as bytes: a strict check (RFC 8259) that says where the first error
// is, and re-indenting that changes only the whitespace between tokens, so
// strings and numbers come out byte for byte as they went in.
namespace JsonText {

struct Check
{
    bool ok = true;
    qsizetype offset = 0; // of the first error, in bytes
    int line = 0;         // 1-based
    int column = 0;       // 1-based, in characters
    QString message;
};

Check check(QByteArrayView json);
// Whether the text is an object or an array that checks (what the panel
// shows as JSON in a column that does not say it holds JSON).
bool isDocument(QByteArrayView json);
// One value a line, nested `indent` spaces deeper. Input that does not
// check comes back unchanged.
QByteArray pretty(QByteArrayView json, int indent = 4);
// Without whitespace between tokens. Input that does not check comes back
// unchanged.
QByteArray compact(QByteArrayView json);

} // namespace JsonText
