#pragma once

#include <QByteArray>
#include <QString>

struct st_mysql;
typedef struct st_mysql MYSQL;
struct ConnectParams;

// How much a connection insists on TLS. Preferred encrypts whenever the
// server offers it; the others refuse a connection that is not encrypted,
// and the verifying ones check the server's certificate against a CA file
// (and its name against the host) before anything of the sign-in is sent.
enum class TlsMode { Preferred, Required, VerifyCa, VerifyIdentity };

namespace TlsOptions {

// The names used in the connection text and the settings: "PREFERRED",
// "REQUIRED", "VERIFY_CA", "VERIFY_IDENTITY". An unknown or empty name is
// Preferred.
TlsMode modeFrom(const QString &name);
QString modeName(TlsMode mode);

// Sets the client's TLS options and the authentication methods it may use,
// before it connects.
void apply(MYSQL *mysql, const ConnectParams &params);

// The session runs over the local socket.
bool isLocalSocket(MYSQL *mysql);

// After connecting: throws Failure when the mode requires TLS and the
// session is neither encrypted nor on the local socket.
void checkEncrypted(MYSQL *mysql, const ConnectParams &params);
// Throws the Failure for a server that offers no TLS where the mode requires it.
[[noreturn]] void refuseUnencrypted();

// The client's message for a failed connect, said plainly when it is about
// TLS or the server's certificate.
QString describeFailure(const ConnectParams &params, unsigned error, const QString &message);

// The authentication methods allowed in `mode`: those that never reveal
// the password always; those that hand it over (clear text, or encrypted
// with a key the server itself supplies) only when the full certificate
// check guarantees TLS with the named server before the sign-in.
QByteArray allowedAuthMethods(TlsMode mode);

} // namespace TlsOptions
