#include "db/TlsOptions.h"

#include "core/Failure.h"
#include "db/Connection.h"

#include <mysql.h>
#include <errmsg.h>
#include <ma_pvio.h>

namespace TlsOptions {

TlsMode modeFrom(const QString &name)
{
    const QString n = name.trimmed().toUpper();
    if (n == QLatin1String("REQUIRED"))
        return TlsMode::Required;
    if (n == QLatin1String("VERIFY_CA"))
        return TlsMode::VerifyCa;
    if (n == QLatin1String("VERIFY_IDENTITY"))
        return TlsMode::VerifyIdentity;
    return TlsMode::Preferred;
}

QString modeName(TlsMode mode)
{
    switch (mode) {
    case TlsMode::Required:
        return QStringLiteral("REQUIRED");
    case TlsMode::VerifyCa:
        return QStringLiteral("VERIFY_CA");
    case TlsMode::VerifyIdentity:
        return QStringLiteral("VERIFY_IDENTITY");
    case TlsMode::Preferred:
        break;
    }
    return QStringLiteral("PREFERRED");
}

QByteArray allowedAuthMethods(TlsMode mode)
{
    QByteArray methods = "mysql_native_password,client_ed25519";
    // Only this mode makes sure that the server is the one named before the
    // password could be handed over; the others stop a server without TLS
    // but not one with a certificate of its own (or of the same CA).
    if (mode == TlsMode::VerifyIdentity)
        methods += ",caching_sha2_password,sha256_password,mysql_clear_password,dialog";
    return methods;
}

void apply(MYSQL *mysql, const ConnectParams &params)
{
    // Connector/C asks for TLS only when told to; with this it encrypts
    // whenever the server offers TLS and otherwise signs in in the clear
    // (3.3), unless it checks the host name. GreetingGuard stops that sign-in
    // in the other modes that require TLS; checkEncrypted() stays as the last
    // check after connecting.
    const my_bool on = 1;
    mysql_optionsv(mysql, MYSQL_OPT_SSL_ENFORCE, &on);
    if (params.tls == TlsMode::VerifyCa || params.tls == TlsMode::VerifyIdentity) {
        // A CA file makes the library check the chain; the server-cert
        // option adds the check of the host name.
        mysql_optionsv(mysql, MYSQL_OPT_SSL_CA, params.caFile.constData());
        const my_bool verifyHost = params.tls == TlsMode::VerifyIdentity ? 1 : 0;
        mysql_optionsv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verifyHost);
    }
    const QByteArray methods = allowedAuthMethods(params.tls);
    mysql_optionsv(mysql, MARIADB_OPT_RESTRICTED_AUTH, methods.constData());
}

bool isLocalSocket(MYSQL *mysql)
{
    unsigned int transport = 0;
    return mariadb_get_infov(mysql, MARIADB_CONNECTION_PVIO_TYPE, &transport) == 0 && transport == PVIO_TYPE_UNIXSOCKET;
}

void checkEncrypted(MYSQL *mysql, const ConnectParams &params)
{
    if (params.tls == TlsMode::Preferred || mysql_get_ssl_cipher(mysql))
        return;
    // The local socket never leaves the machine; the server, too, counts it
    // as secure transport. A tunnel's socket is not that.
    if (params.sshHost.isEmpty() && isLocalSocket(mysql))
        return;
    refuseUnencrypted();
}

void refuseUnencrypted()
{
    throw Failure(QStringLiteral("The server does not offer an encrypted connection, and the connection "
                                 "security setting requires one."),
                  CR_SSL_CONNECTION_ERROR);
}

QString describeFailure(const ConnectParams &params, unsigned error, const QString &message)
{
    if (error != CR_SSL_CONNECTION_ERROR)
        return message;
    if (params.tls == TlsMode::VerifyIdentity && message.contains(QLatin1String("Validation of SSL server certificate")))
        return QStringLiteral("The server's certificate was refused: it is not made out to the host \"%1\". (%2)")
            .arg(QString::fromUtf8(params.host), message);
    if ((params.tls == TlsMode::VerifyCa || params.tls == TlsMode::VerifyIdentity)
        && !message.contains(QLatin1String("does not support")))
        return QStringLiteral("The server's certificate was refused: it could not be checked against the CA file "
                              "\"%1\". (%2)")
            .arg(QString::fromUtf8(params.caFile), message);
    return QStringLiteral("The secure connection to the server failed. (%1)").arg(message);
}

} // namespace TlsOptions
