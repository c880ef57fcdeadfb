#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct FieldInfo;

// How the value panel shows a cell, by its column and its bytes.
namespace ValueKind {

enum class Mode { Text, Json, Hex, Image };

// "PNG", "JPEG", "GIF", "WebP" or "BMP" by the value's first bytes; empty
// for anything else.
QString imageType(QByteArrayView bytes);
// An image by its first bytes; else JSON for a JSON column or a text that
// is a JSON document; hex for a column of bytes or text that is not UTF-8
// (`isUtf8`, which the grid knows already for a large cell); else text.
Mode modeFor(const FieldInfo &field, QByteArrayView bytes, bool isUtf8);
// The file suffix, with its dot, of a value shown in `mode` (".png" ...).
QString suffixFor(Mode mode, QByteArrayView bytes);

} // namespace ValueKind
