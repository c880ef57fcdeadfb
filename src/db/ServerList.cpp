#include "db/ServerList.h"

#include "core/Failure.h"

#include <QList>
#include <QString>

namespace {

[[noreturn]] void refuse(const QByteArray &entry, const QString &why)
{
    throw Failure(QStringLiteral("The server \"%1\" cannot be read: %2. Write servers as host, host:port or "
                                 "[IPv6 address]:port, separated by commas.")
                      .arg(QString::fromUtf8(entry), why),
        Failure::UnknownHost);
}

unsigned portOf(const QByteArray &entry, const QByteArray &digits)
{
    bool ok = !digits.isEmpty();
    for (char c : digits)
        ok = ok && c >= '0' && c <= '9';
    const uint n = ok ? digits.toUInt(&ok) : 0;
    if (!ok || n == 0 || n > 65535)
        refuse(entry, QStringLiteral("the port is not a number from 1 to 65535"));
    return n;
}

ServerAddress addressOf(const QByteArray &entry, unsigned defaultPort)
{
    if (entry.isEmpty())
        refuse(entry, QStringLiteral("a server between the commas is empty"));
    if (entry.startsWith('[')) {
        const qsizetype close = entry.indexOf(']');
        if (close < 0)
            refuse(entry, QStringLiteral("the bracket is not closed"));
        const QByteArray host = entry.mid(1, close - 1);
        const QByteArray rest = entry.mid(close + 1);
        if (host.isEmpty() || (!rest.isEmpty() && !rest.startsWith(':')))
            refuse(entry, QStringLiteral("only a port may follow the address in brackets"));
        return {host, rest.isEmpty() ? defaultPort : portOf(entry, rest.mid(1))};
    }
    if (entry.contains(']') || entry.contains(' '))
        refuse(entry, QStringLiteral("it holds a character no host name has"));
    const qsizetype colon = entry.indexOf(':');
    if (colon < 0 || entry.indexOf(':', colon + 1) >= 0)
        return {entry, defaultPort}; // a name, or an IPv6 address alone
    if (colon == 0)
        refuse(entry, QStringLiteral("the host name is empty"));
    return {entry.left(colon), portOf(entry, entry.mid(colon + 1))};
}

} // namespace

QByteArray ServerAddress::text() const
{
    const QByteArray name = host.contains(':') ? '[' + host + ']' : host;
    return port ? name + ':' + QByteArray::number(port) : name;
}

std::vector<ServerAddress> parseServerList(const QByteArray &text, unsigned defaultPort)
{
    std::vector<ServerAddress> out;
    for (const QByteArray &entry : text.split(','))
        out.push_back(addressOf(entry.trimmed(), defaultPort));
    return out;
}

bool isServerList(const QByteArray &text)
{
    const QByteArray t = text.trimmed();
    return t.contains(',') || t.startsWith('[') || t.count(':') == 1;
}
