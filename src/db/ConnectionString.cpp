#include "db/ConnectionString.h"

#include "core/Failure.h"
#include "db/TlsOptions.h"

QString odbcValue(const QString &value)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')))
        return value;
    QString braced = value;
    braced.replace(QStringLiteral("}"), QStringLiteral("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

namespace {

QString sshAttribute(const ConnectionFields &fields)
{
    if (fields.sshHost.isEmpty())
        return {};
    return QStringLiteral("SSHHOST=") + odbcValue(fields.sshHost) + QLatin1Char(';');
}

QString securityAttributes(const ConnectionFields &fields)
{
    const TlsMode mode = TlsOptions::modeFrom(fields.tlsMode);
    if (mode == TlsMode::Preferred)
        return sshAttribute(fields);
    QString out = QStringLiteral("SSLMODE=") + TlsOptions::modeName(mode) + QLatin1Char(';');
    if (mode == TlsMode::VerifyCa || mode == TlsMode::VerifyIdentity)
        out += QStringLiteral("SSLCA=") + odbcValue(fields.caFile) + QLatin1Char(';');
    return out + sshAttribute(fields);
}

} // namespace

QString ConnectionString(const ConnectionFields &fields)
{
    return QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};")
        + QStringLiteral("SERVER=") + odbcValue(fields.server) + QLatin1Char(';')
        + QStringLiteral("USER=") + odbcValue(fields.user) + QLatin1Char(';')
        + QStringLiteral("PASSWORD=") + odbcValue(fields.password) + QLatin1Char(';')
        + QStringLiteral("DATABASE=") + odbcValue(fields.database) + QLatin1Char(';')
        + QStringLiteral("PORT=") + odbcValue(fields.port) + QLatin1Char(';')
        + securityAttributes(fields);
}

QMap<QString, QString> parseConnectionString(const QString &text)
{
    QMap<QString, QString> out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0) {
            // A trailing piece without "=" (blank, or a stray word) carries no value.
            break;
        }
        const QString key = text.mid(i, eq - i).trimmed().toUpper();
        qsizetype j = eq + 1;
        QString value;
        if (j < n && text.at(j) == QLatin1Char('{')) {
            ++j;
            bool closed = false;
            while (j < n) {
                const QChar c = text.at(j);
                if (c == QLatin1Char('}')) {
                    if (j + 1 < n && text.at(j + 1) == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                value += c;
                ++j;
            }
            if (!closed)
                throw Failure(QStringLiteral("The connection text has an unclosed \"{\" in the value of %1.").arg(key));
            const qsizetype semi = text.indexOf(QLatin1Char(';'), j);
            j = semi < 0 ? n : semi + 1;
        } else {
            const qsizetype semi = text.indexOf(QLatin1Char(';'), j);
            value = text.mid(j, (semi < 0 ? n : semi) - j);
            j = semi < 0 ? n : semi + 1;
        }
        if (!key.isEmpty())
            out.insert(key, value);
        i = j;
    }
    return out;
}
