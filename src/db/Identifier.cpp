#include "db/Identifier.h"

QByteArray quoteIdentifier(const QByteArray &name)
{
    QByteArray out = name;
    out.replace('`', "``");
    return '`' + out + '`';
}

QString quoteIdentifier(const QString &name)
{
    QString out = name;
    out.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + out + QLatin1Char('`');
}
