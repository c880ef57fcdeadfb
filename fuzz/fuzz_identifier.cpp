// Identifier quoting: a quoted name reads back, by the server's rules for
// back-quoted names, as exactly that name and nothing after it.
#include "db/Identifier.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray name(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray quoted = quoteIdentifier(name);
    // The server's reading: "`", then "``" for a back quote, up to the lone
    // "`" that ends the name.
    if (quoted.size() < 2 || quoted.front() != '`')
        std::abort();
    QByteArray read;
    qsizetype i = 1;
    for (;; ++i) {
        if (i >= quoted.size())
            std::abort(); // never closed
        if (quoted[i] == '`') {
            if (i + 1 < quoted.size() && quoted[i + 1] == '`') {
                read += '`';
                ++i;
                continue;
            }
            break;
        }
        read += quoted[i];
    }
    if (i != quoted.size() - 1 || read != name)
        std::abort();
    return 0;
}
