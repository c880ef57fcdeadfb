// The connection text: whatever the five values (and the security ones),
// the built text reads back to exactly those values; and reading any text
// either works or throws Failure.
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"

#include <cstdint>
#include <cstdlib>

namespace {

QString take(const uint8_t *&data, size_t &size)
{
    // A length byte, then that many bytes as UTF-8.
    if (size == 0)
        return {};
    const size_t n = std::min<size_t>(*data, size - 1);
    const QString out = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(n));
    data += n + 1;
    size -= n + 1;
    return out;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Any text: parsed, or refused with a Failure.
    const QString raw = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        (void)parseConnectionString(raw);
        (void)Connection::paramsFrom(raw);
    } catch (const Failure &) {
    }

    ConnectionFields f;
    f.server = take(data, size);
    f.user = take(data, size);
    f.password = take(data, size);
    f.database = take(data, size);
    f.port = take(data, size);
    const uint8_t modeByte = size > 0 ? data[0] : 0;
    f.tlsMode = QStringList{"", "REQUIRED", "VERIFY_CA", "VERIFY_IDENTITY"}.at(modeByte % 4);
    if (size > 0) {
        ++data;
        --size;
    }
    f.caFile = take(data, size);

    const QMap<QString, QString> attrs = parseConnectionString(ConnectionString(f));
    check(attrs.value("SERVER") == f.server);
    check(attrs.value("USER") == f.user);
    check(attrs.value("PASSWORD") == f.password);
    check(attrs.value("DATABASE") == f.database);
    check(attrs.value("PORT") == f.port);
    check(attrs.value("DRIVER") == QStringLiteral("MySQL ODBC 5.1 Driver"));
    check(attrs.value("SSLMODE", "") == (f.tlsMode.isEmpty() ? QString() : f.tlsMode));
    if (f.tlsMode.startsWith("VERIFY"))
        check(attrs.value("SSLCA") == f.caFile);
    check(attrs.size() == 6 + (f.tlsMode.isEmpty() ? 0 : f.tlsMode.startsWith("VERIFY") ? 2 : 1));
    return 0;
}
