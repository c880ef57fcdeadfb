#include "grid/ClipboardText.h"

namespace ClipboardText {

void appendTextField(QByteArray &out, std::string_view text)
{
    if (text.find_first_of("\t\r\n\"") == std::string_view::npos) {
        out.append(text.data(), qsizetype(text.size()));
        return;
    }
    out.append('"');
    for (char c : text) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

void appendHtmlField(QByteArray &out, std::string_view text, bool isNull)
{
    out.append("<td>");
    if (!isNull) {
        for (char c : text) {
            switch (c) {
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '&':
                out.append("&amp;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\n':
                out.append("<br>");
                break;
            case '\r':
                break;
            default:
                out.append(c);
            }
        }
    }
    out.append("</td>");
}

QByteArray htmlBegin()
{
    return QByteArrayLiteral("<html><head><meta charset=\"utf-8\"></head><body><table>\n");
}

QByteArray htmlEnd()
{
    return QByteArrayLiteral("</table></body></html>\n");
}

Block parse(const QString &text)
{
    Block block;
    std::vector<QString> row;
    QString field;
    bool quoted = false;  // inside a quoted field
    bool rowOpen = false; // something of the current row has been read
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < n && text.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        rowOpen = true;
        if (c == u'"' && field.isEmpty()) {
            quoted = true;
        } else if (c == u'\t') {
            row.push_back(field);
            field.clear();
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            row.push_back(field);
            field.clear();
            block.push_back(std::move(row));
            row.clear();
            rowOpen = false;
        } else {
            field += c;
        }
    }
    if (rowOpen || quoted) {
        row.push_back(field);
        block.push_back(std::move(row));
    }
    return block;
}

} // namespace ClipboardText
