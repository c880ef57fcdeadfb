#include "print/TextTable.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

QStringList fields(QStringView line)
{
    if (line.endsWith(u'\r'))
        line.chop(1);
    // The writer ends every field with a TAB; that last one opens no field.
    if (line.endsWith(u'\t'))
        line.chop(1);
    QStringList out;
    for (QStringView field : line.split(u'\t'))
        out << field.toString();
    return out;
}

} // namespace

int TextTable::columnCount() const
{
    qsizetype n = header.size();
    for (const QStringList &row : rows)
        n = std::max(n, row.size());
    return int(n);
}

QString TextTable::decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

TextTable TextTable::parse(const QString &text)
{
    TextTable table;
    QList<QStringView> lines = QStringView(text).split(u'\n');
    // The text ends with a line end; what follows it is no line.
    if (!lines.isEmpty() && (lines.last().isEmpty() || lines.last() == u"\r"))
        lines.removeLast();
    if (lines.isEmpty())
        return table;
    table.header = fields(lines.first());
    table.rows.reserve(lines.size() - 1);
    for (qsizetype i = 1; i < lines.size(); ++i)
        table.rows << fields(lines.at(i));
    return table;
}
