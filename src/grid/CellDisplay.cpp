#include "grid/CellDisplay.h"

#include "db/RowSet.h"

#include <QByteArrayView>
#include <QRegularExpression>

#include <cstdint>

namespace {

// The length of the longest start of `text` no longer than `max` that does
// not end inside a UTF-8 sequence.
size_t cutAtCharacter(std::string_view text, size_t max)
{
    size_t n = max;
    while (n > 0 && (uint8_t(text[n]) & 0xc0) == 0x80)
        --n;
    return n;
}

} // namespace

CellDisplay::Form CellDisplay::formOf(const FieldInfo &field)
{
    return field.isBytes() ? Form::Hex : Form::Text;
}

bool CellDisplay::isValidUtf8(std::string_view s)
{
    // Qt's check refuses overlong forms, surrogates and code points past
    // U+10FFFF, as the server's utf8mb4 does.
    return QByteArrayView(s.data(), qsizetype(s.size())).isValidUtf8();
}

QByteArray CellDisplay::hexOf(std::string_view bytes)
{
    return "0x" + QByteArray(bytes.data(), qsizetype(bytes.size())).toHex().toUpper();
}

std::optional<QByteArray> CellDisplay::fromHex(const QString &typed)
{
    static const QRegularExpression pairs(QStringLiteral("\\A(?:0[xX])?((?:[0-9A-Fa-f]{2})*)\\z"));
    const QRegularExpressionMatch m = pairs.match(typed);
    if (!m.hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(m.captured(1).toLatin1());
}

bool CellDisplay::isUtf8(const RowStore::Cell &cell) const
{
    if (cell.isPacked())
        return true; // unpacked text is digits and signs
    const std::string_view text = cell.text();
    if (text.size() < RememberFrom)
        return isValidUtf8(text);
    const auto it = m_isText.constFind(text.data());
    if (it != m_isText.constEnd() && it->size == text.size())
        return it->isText;
    const bool valid = isValidUtf8(text);
    m_isText.insert(text.data(), Seen{text.size(), valid});
    return valid;
}

bool CellDisplay::isText(const RowStore::Cell &cell, Form form) const
{
    if (cell.isNull())
        return true;
    return form == Form::Text && isUtf8(cell);
}

QByteArray CellDisplay::bytes(const RowStore::Cell &cell, Form form) const
{
    if (cell.isNull())
        return {};
    const std::string_view text = cell.text();
    if (form == Form::Hex)
        return hexOf(text);
    if (cell.isPacked())
        return QByteArray(text.data(), qsizetype(text.size()));
    if (isUtf8(cell))
        return QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    return hexOf(text);
}

QString CellDisplay::shown(const RowStore::Cell &cell, Form form) const
{
    if (cell.isNull())
        return QString();
    const std::string_view text = cell.text();
    if (qsizetype(text.size()) <= MaxShownBytes) {
        const QByteArray b = bytes(cell, form);
        return QString::fromUtf8(b.constData(), b.size());
    }
    if (!isText(cell, form))
        return QString::fromLatin1(hexOf(text.substr(0, size_t(MaxShownBytes) / 2))) + QChar(0x2026);
    const size_t n = cutAtCharacter(text, size_t(MaxShownBytes));
    return QString::fromUtf8(text.data(), qsizetype(n)) + QChar(0x2026);
}
