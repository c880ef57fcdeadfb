#include "schema/ColumnNames.h"

#include "db/Connection.h"
#include "frame/Failure.h"

#include <mysql.h>

#include <memory>

namespace {

struct StatementCloser
{
    void operator()(MYSQL_STMT *s) const { mysql_stmt_close(s); }
};

struct ResultFreer
{
    void operator()(MYSQL_RES *r) const { mysql_free_result(r); }
};

[[noreturn]] void failStatement(MYSQL_STMT *stmt)
{
    throw Failure(QString::fromUtf8(mysql_stmt_error(stmt)), long(mysql_stmt_errno(stmt)));
}

} // namespace

QStringList ColumnNames(Connection &connection, const QString &query)
{
    if (!connection.isOpen())
        connection.failNotOpen();
    std::unique_ptr<MYSQL_STMT, StatementCloser> stmt(mysql_stmt_init(connection.handle()));
    if (!stmt)
        connection.fail();
    const QByteArray text = query.toUtf8();
    if (mysql_stmt_prepare(stmt.get(), text.constData(), static_cast<unsigned long>(text.size())) != 0)
        failStatement(stmt.get());
    std::unique_ptr<MYSQL_RES, ResultFreer> meta(mysql_stmt_result_metadata(stmt.get()));
    QStringList names;
    if (!meta) {
        if (mysql_stmt_errno(stmt.get()) != 0)
            failStatement(stmt.get());
        return names; // a statement without a result has no fields
    }
    const unsigned count = mysql_num_fields(meta.get());
    const MYSQL_FIELD *fields = mysql_fetch_fields(meta.get());
    for (unsigned i = 0; i < count; ++i)
        names << QString::fromUtf8(fields[i].name, qsizetype(fields[i].name_length));
    return names;
}
