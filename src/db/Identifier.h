#pragma once

#include <QByteArray>
#include <QString>

// A table or column name as it goes into SQL: in back quotes, each back quote
// inside doubled. Every name in every statement goes through here, whether it
// came from the server or was typed: a name is data, never SQL.
QByteArray quoteIdentifier(const QByteArray &name);
QString quoteIdentifier(const QString &name);
