#include "db/SshFailure.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

QString lastLines(const QString &said, int count)
{
    QStringList lines;
    for (const QString &line : said.split(QLatin1Char('\n'))) {
        const QString l = line.trimmed();
        if (!l.isEmpty() && !l.startsWith(QLatin1Char('@')))
            lines << l;
    }
    return lines.mid(qMax(0, lines.size() - count)).join(QLatin1Char(' '));
}

QString hostChanged(const QString &said, const QString &host)
{
    static const QRegularExpression offending(QStringLiteral("Offending \\S+ key in (.+):(\\d+)"));
    const QRegularExpressionMatch m = offending.match(said);
    const QString where = m.hasMatch() ? QStringLiteral("line %1 of %2").arg(m.captured(2), m.captured(1))
                                       : QStringLiteral("your known_hosts file");
    return QStringLiteral("The identity of the SSH host %1 has changed: the key it showed is not the one recorded "
                          "for it in %2. This may be an attack (someone between you and the host), so the "
                          "connection was refused and nothing was sent to the database. If the host's key was "
                          "changed on purpose, remove that line and connect again.")
        .arg(host, where);
}

} // namespace

QString describeSshFailure(const QString &said, const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort)
{
    const QString host = QString::fromUtf8(sshHost);
    const auto has = [&](const char *text) { return said.contains(QLatin1String(text), Qt::CaseInsensitive); };
    if (has("REMOTE HOST IDENTIFICATION HAS CHANGED"))
        return hostChanged(said, host);
    const QString database = dbHost.isEmpty()
        ? QStringLiteral("the database server")
        : QStringLiteral("the database server %1 port %2").arg(QString::fromUtf8(dbHost)).arg(dbPort);
    QString plain;
    if (has("Host key verification failed"))
        plain = QStringLiteral("The SSH host %1 was not trusted: its host key was not accepted, so no connection was "
                               "made.")
                    .arg(host);
    else if (has("Could not resolve hostname"))
        plain = QStringLiteral("The SSH host %1 could not be found.").arg(host);
    else if (has("connect to host") || has("Connection timed out during banner exchange"))
        plain = QStringLiteral("The SSH host %1 could not be reached.").arg(host);
    else if (has("Permission denied") || has("Too many authentication failures"))
        plain = QStringLiteral("The SSH host %1 refused the sign-in: authentication failed (the key, its passphrase "
                               "or the password).")
                    .arg(host);
    else if (has("administratively prohibited"))
        plain = QStringLiteral("The SSH host %1 refused to forward the connection to %2.").arg(host, database);
    else if (has("open failed"))
        plain = QStringLiteral("The SSH host %1 could not reach %2.").arg(host, database);
    else if (has("forwarding") || has("cannot listen") || has("bind"))
        plain = QStringLiteral("The SSH tunnel through %1 could not open its local end.").arg(host);
    else if (has("Timeout, server") || has("Connection closed") || has("Connection reset") || has("Broken pipe"))
        plain = QStringLiteral("The SSH connection to %1 was lost.").arg(host);
    else
        plain = QStringLiteral("The SSH connection to %1 failed.").arg(host);
    const QString last = lastLines(said, 3);
    return last.isEmpty() ? plain : plain + QStringLiteral(" (ssh: %1)").arg(last);
}
