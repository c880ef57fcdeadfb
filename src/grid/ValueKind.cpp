#include "grid/ValueKind.h"

#include "db/RowSet.h"
#include "grid/JsonText.h"

namespace ValueKind {

QString imageType(QByteArrayView b)
{
    if (b.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("PNG");
    if (b.startsWith("\xff\xd8\xff"))
        return QStringLiteral("JPEG");
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a"))
        return QStringLiteral("GIF");
    if (b.size() >= 12 && b.startsWith("RIFF") && b.sliced(8, 4) == QByteArrayView("WEBP"))
        return QStringLiteral("WebP");
    if (b.size() >= 26 && b.startsWith("BM") && b.sliced(6, 4) == QByteArrayView("\0\0\0\0", 4)) {
        // The size of the header after the file header: one of the known forms.
        const uint header
            = uint(uchar(b[14])) | uint(uchar(b[15])) << 8 | uint(uchar(b[16])) << 16 | uint(uchar(b[17])) << 24;
        for (uint known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
            if (header == known)
                return QStringLiteral("BMP");
    }
    return {};
}

Mode modeFor(const FieldInfo &field, QByteArrayView bytes, bool isUtf8)
{
    if (!imageType(bytes).isEmpty())
        return Mode::Image;
    if (field.isJson)
        return Mode::Json;
    if (field.isBytes() || !isUtf8)
        return Mode::Hex;
    if (JsonText::isDocument(bytes))
        return Mode::Json;
    return Mode::Text;
}

QString suffixFor(Mode mode, QByteArrayView bytes)
{
    switch (mode) {
    case Mode::Text:
        return QStringLiteral(".txt");
    case Mode::Json:
        return QStringLiteral(".json");
    case Mode::Hex:
        return QStringLiteral(".bin");
    case Mode::Image: {
        const QString type = imageType(bytes).toLower();
        if (type.isEmpty())
            return QStringLiteral(".bin");
        return QLatin1Char('.') + (type == QLatin1String("jpeg") ? QStringLiteral("jpg") : type);
    }
    }
    return QStringLiteral(".bin");
}

} // namespace ValueKind
