#include "db/TableLoader.h"

#include <QElapsedTimer>

#include <future>
#include <limits>
#include <optional>

#include <mysql.h>

struct TableLoader::Job
{
    ConnectParams params;
    QByteArray sql;
    quint64 generation = 0;
    std::atomic<bool> cancelled{false};
    std::promise<std::vector<FieldInfo>> fields;
};

namespace {

// After the first screen, a chunk is handed over when it has this many rows
// or has been filling for this long: few hand-overs, yet the count grows.
constexpr qint64 MaxChunkRows = 65536;
constexpr qint64 MaxHoldMs = 50;

// Opens the worker's connection and starts the statement; the result is
// read row by row as the server sends it.
MYSQL_RES *startQuery(Connection &connection, const ConnectParams &params, const QByteArray &sql)
{
    connection.open(params);
    MYSQL *m = connection.handle();
    if (mysql_real_query(m, sql.constData(), sql.size()) != 0)
        connection.fail();
    MYSQL_RES *res = mysql_use_result(m);
    if (!res) {
        if (mysql_errno(m))
            connection.fail();
        throw Failure(QStringLiteral("The statement returned no rows: %1").arg(QString::fromUtf8(sql)));
    }
    return res;
}

} // namespace

TableLoader::TableLoader(RowStore &target, QObject *parent) : QObject(parent), m_target(target) {}

TableLoader::~TableLoader()
{
    cancel();
}

std::vector<FieldInfo> TableLoader::start(const ConnectParams &params, const QByteArray &sql)
{
    cancel();
    m_failed = false;
    m_job = std::make_shared<Job>();
    m_job->params = params;
    m_job->sql = sql;
    m_job->generation = ++m_generation;
    std::future<std::vector<FieldInfo>> fields = m_job->fields.get_future();
    m_worker = std::thread(&TableLoader::run, m_job, this);
    try {
        std::vector<FieldInfo> out = fields.get();
        m_loading = true;
        return out;
    } catch (...) {
        join();
        m_job.reset();
        throw;
    }
}

void TableLoader::cancel()
{
    if (m_job)
        m_job->cancelled = true;
    join();
    m_job.reset();
    ++m_generation; // chunks still queued are dropped
    m_loading = false;
}

void TableLoader::join()
{
    if (m_worker.joinable())
        m_worker.join();
}

void TableLoader::run(const std::shared_ptr<Job> &job, TableLoader *loader)
{
    mysql_thread_init();
    Connection connection;
    MYSQL_RES *res = nullptr;
    try {
        res = startQuery(connection, job->params, job->sql);
        job->fields.set_value(fieldInfos(res));
    } catch (...) {
        job->fields.set_exception(std::current_exception());
        connection.close();
        mysql_thread_end();
        return;
    }
    const quint64 generation = job->generation;
    const auto post = [&](std::shared_ptr<RowStore> chunk) {
        QMetaObject::invokeMethod(loader, [loader, generation, chunk] { loader->deliver(generation, chunk); },
                                  Qt::QueuedConnection);
    };
    RowStore chunk(int(mysql_num_fields(res)));
    qint64 limit = FirstChunkRows;
    QElapsedTimer held;
    held.start();
    while (!job->cancelled) {
        const MYSQL_ROW row = mysql_fetch_row(res);
        if (!row)
            break;
        chunk.append(row, mysql_fetch_lengths(res));
        const qint64 n = chunk.rowCount();
        if (n >= limit || ((n & 63) == 0 && held.elapsed() >= MaxHoldMs)) {
            post(std::make_shared<RowStore>(chunk.handOver()));
            limit = MaxChunkRows;
            held.restart();
        }
    }
    MYSQL *m = connection.handle();
    std::optional<Failure> failure;
    if (job->cancelled)
        mariadb_cancel(m); // so freeing the result does not read the rest
    else if (mysql_errno(m))
        failure.emplace(QString::fromUtf8(mysql_error(m)), long(mysql_errno(m)));
    mysql_free_result(res);
    connection.close();
    if (!job->cancelled) {
        if (chunk.rowCount())
            post(std::make_shared<RowStore>(chunk.handOver()));
        QMetaObject::invokeMethod(
            loader, [loader, generation, failure] { loader->finish(generation, failure ? &*failure : nullptr); },
            Qt::QueuedConnection);
    }
    mysql_thread_end();
}

void TableLoader::deliver(quint64 generation, const std::shared_ptr<RowStore> &chunk)
{
    if (generation != m_generation || chunk->rowCount() == 0)
        return;
    const qint64 first = m_target.rowCount();
    emit rowsAboutToBeAppended(first, first + chunk->rowCount() - 1);
    m_target.take(std::move(*chunk));
    emit rowsAppended();
}

void TableLoader::finish(quint64 generation, const Failure *failure)
{
    if (generation != m_generation)
        return;
    join();
    m_job.reset();
    m_loading = false;
    m_failed = failure != nullptr;
    if (failure)
        m_failure = *failure;
    emit finished(!m_failed);
}
