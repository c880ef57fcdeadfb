#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A tab-separated text as the print program reads it: the first line is the
// header, each further line a row. Written by our text export, every field
// ends with a TAB and every line with CR LF; plain text (no TABs) gives one
// column.
struct TextTable
{
    QStringList header;
    QList<QStringList> rows;

    int columnCount() const;

    // UTF-8 when the bytes are valid UTF-8, else Latin-1.
    static QString decode(const QByteArray &bytes);
    static TextTable parse(const QString &text);
};
