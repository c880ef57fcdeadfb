#include "db/LocalInfile.h"

#include <errmsg.h>
#include <mysql.h>

#include <cstring>

namespace {

constexpr char Refused[] = "The server asked for a file that this program did not offer to send; none was sent.";
constexpr char FeedFailed[] = "The import stopped sending its rows.";

int initRequest(void **info, const char *, void *userdata)
{
    auto *serving = static_cast<LocalInfile::Serving *>(userdata);
    *info = nullptr;
    if (!serving || serving->wasAsked())
        return 1;
    *info = serving;
    return 0;
}

void endRequest(void *) { }

int requestError(void *info, char *message, unsigned size)
{
    if (size > 0) {
        std::strncpy(message, info ? FeedFailed : Refused, size - 1);
        message[size - 1] = '\0';
    }
    return CR_UNKNOWN_ERROR;
}

} // namespace

void LocalInfile::setUp(MYSQL *mysql, bool allow)
{
    // Connector/C offers LOAD DATA LOCAL by default: off unless asked for.
    const unsigned on = allow ? 1 : 0;
    mysql_optionsv(mysql, MYSQL_OPT_LOCAL_INFILE, &on);
    install(mysql, nullptr);
}

QString LocalInfile::refusal()
{
    return QString::fromLatin1(Refused);
}

void LocalInfile::install(MYSQL *mysql, Serving *serving)
{
    struct Read
    {
        static int call(void *info, char *buffer, unsigned size)
        {
            auto *s = static_cast<Serving *>(info);
            return s ? int(s->m_feed(buffer, size)) : -1;
        }
    };
    mysql_set_local_infile_handler(mysql, initRequest, Read::call, endRequest, requestError, serving);
}

LocalInfile::Serving::Serving(MYSQL *mysql, Feed feed) : m_mysql(mysql), m_feed(std::move(feed))
{
    install(m_mysql, this);
}

LocalInfile::Serving::~Serving()
{
    install(m_mysql, nullptr);
}
