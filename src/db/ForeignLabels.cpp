#include "db/ForeignLabels.h"

#include "core/Failure.h"
#include "db/ForeignSearch.h"
#include "db/Identifier.h"
#include "db/RowSet.h"
#include "db/Workers.h"

#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <mysql.h>

struct ForeignLabels::Request
{
    enum class Kind { Labels, Search, Resolve, Referring } kind = Kind::Labels;
    size_t key = 0;
    std::vector<std::vector<CellValue>> values;
    QString text;
    bool contains = false;
    int limit = 0;
    quint64 ticket = 0;
    std::function<void(std::optional<std::vector<Resolved>>)> done;
    NamedValues row;
    std::function<void(std::optional<Referring>)> counted;
};

struct ForeignLabels::State
{
    ConnectParams params;
    QByteArray table;
    std::mutex lock;
    std::condition_variable wake;
    QObject *receiver = nullptr; // null once let go of
    const char *slot = nullptr;
    bool stop = false;
    bool ended = false;
    std::vector<Key> keys;
    std::vector<ForeignKey> referring; // the keys of other tables that refer to this one
    std::deque<Request> asked;
    std::vector<Label> answered;
    std::vector<Found> found;

    // Under `lock`.
    void post()
    {
        if (receiver)
            QMetaObject::invokeMethod(receiver, slot, Qt::QueuedConnection);
    }
};

namespace {

bool isText(const QByteArray &dataType)
{
    static const QByteArrayList kinds{"char", "varchar", "tinytext", "text", "mediumtext", "longtext", "enum", "set"};
    return kinds.contains(dataType.toLower());
}

ForeignLabels::KeyKind kindOf(const QByteArray &dataType)
{
    static const QByteArrayList integers{"tinyint", "smallint", "mediumint", "int", "bigint"};
    if (integers.contains(dataType.toLower()))
        return ForeignLabels::KeyKind::Integer;
    return isText(dataType) ? ForeignLabels::KeyKind::Text : ForeignLabels::KeyKind::Other;
}

// The columns of each table the keys refer to, in one statement.
void pickLabels(Connection &connection, std::vector<ForeignLabels::Key> &keys)
{
    if (keys.empty())
        return;
    QByteArray tables;
    for (const ForeignLabels::Key &k : keys)
        tables += (tables.isEmpty() ? "(" : ",(") + connection.quote(k.key.refSchema) + ","
            + connection.quote(k.key.refTable) + ")";
    const std::unique_ptr<RowSet> rows
        = connection.select("SELECT TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, DATA_TYPE FROM information_schema.COLUMNS "
                            "WHERE (TABLE_SCHEMA, TABLE_NAME) IN ("
            + tables + ") ORDER BY TABLE_SCHEMA, TABLE_NAME, ORDINAL_POSITION");
    for (ForeignLabels::Key &k : keys) {
        std::vector<std::pair<QByteArray, bool>> columns;
        std::vector<QByteArray> types;
        // information_schema matches names without regard to case; these are exact.
        for (qint64 r = 0; r < rows->recordCount(); ++r)
            if (ForeignKeys::cellBytes(*rows, r, 0) == k.key.refSchema
                && ForeignKeys::cellBytes(*rows, r, 1) == k.key.refTable) {
                types.push_back(ForeignKeys::cellBytes(*rows, r, 3));
                columns.emplace_back(ForeignKeys::cellBytes(*rows, r, 2), isText(types.back()));
            }
        k.labelColumn = ForeignLabels::labelColumnOf(columns, k.key.refColumns);
        for (size_t c = 0; c < columns.size(); ++c) {
            const QByteArray &name = columns[c].first;
            if (columns[c].second)
                k.textColumns.push_back(name);
            const auto inKey = std::find(k.key.refColumns.begin(), k.key.refColumns.end(), name);
            if (inKey == k.key.refColumns.end() && name != k.labelColumn && k.extraColumn.isEmpty())
                k.extraColumn = name;
        }
        for (const QByteArray &name : k.key.refColumns) {
            const auto at
                = std::find_if(columns.begin(), columns.end(), [&name](const auto &c) { return c.first == name; });
            k.refKinds.push_back(
                at == columns.end() ? ForeignLabels::KeyKind::Other : kindOf(types[size_t(at - columns.begin())]));
        }
    }
}

// One lookup per value, numbered, in one statement: each as the key's own
// check finds its row.
std::vector<ForeignLabels::Label> readLabels(
    Connection &connection, size_t index, const ForeignLabels::Key &k, std::vector<std::vector<CellValue>> values)
{
    const QByteArray from = " FROM " + quoteIdentifier(k.key.refSchema) + '.' + quoteIdentifier(k.key.refTable);
    const QByteArray label = k.labelColumn.isEmpty() ? QByteArray("NULL") : quoteIdentifier(k.labelColumn);
    QByteArray sql;
    for (size_t i = 0; i < values.size(); ++i) {
        QByteArray where;
        for (size_t c = 0; c < k.key.refColumns.size(); ++c)
            where += (c ? " AND " : " WHERE ") + quoteIdentifier(k.key.refColumns[c]) + " = "
                + connection.quote(values[i][c].text);
        sql += (i ? " UNION ALL (SELECT " : "(SELECT ") + QByteArray::number(qulonglong(i)) + ", " + label + from
            + where + " LIMIT 1)";
    }
    const std::unique_ptr<RowSet> rows = connection.select(sql);
    std::vector<ForeignLabels::Label> out(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        out[i].key = index;
        out[i].values = std::move(values[i]);
        out[i].labelColumn = k.labelColumn;
    }
    for (qint64 r = 0; r < rows->recordCount(); ++r) {
        const size_t i = size_t(ForeignKeys::cellBytes(*rows, r, 0).toULongLong());
        if (i < out.size())
            out[i].label = QString::fromUtf8(ForeignKeys::cellBytes(*rows, r, 1));
    }
    return out;
}

} // namespace

QByteArray ForeignLabels::labelColumnOf(
    const std::vector<std::pair<QByteArray, bool>> &columns, const std::vector<QByteArray> &keyColumns)
{
    static const QByteArrayList endings{"name", "title", "label", "description", "code"};
    for (const auto &[name, text] : columns) {
        const QByteArray lower = name.toLower();
        if (text
            && std::any_of(endings.begin(), endings.end(), [&lower](const QByteArray &e) { return lower.endsWith(e); }))
            return name;
    }
    for (const auto &[name, text] : columns)
        if (text && std::find(keyColumns.begin(), keyColumns.end(), name) == keyColumns.end())
            return name;
    return {};
}

ForeignLabels::ForeignLabels(ConnectParams params, QByteArray table, QObject *receiver, const char *slot)
    : m_state(std::make_shared<State>())
{
    m_state->params = std::move(params);
    m_state->table = std::move(table);
    m_state->receiver = receiver;
    m_state->slot = slot;
    std::thread worker(&ForeignLabels::run, m_state);
    const std::shared_ptr<State> state = m_state;
    // Joined by Workers once it has ended; it holds its state itself.
    Workers::adopt(std::move(worker), [state] {
        std::lock_guard<std::mutex> hold(state->lock);
        return state->ended;
    });
}

ForeignLabels::~ForeignLabels()
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->stop = true;
    m_state->receiver = nullptr;
    m_state->wake.notify_all();
}

std::vector<ForeignLabels::Key> ForeignLabels::keys() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->keys;
}

void ForeignLabels::ask(size_t key, std::vector<std::vector<CellValue>> values)
{
    Request r;
    r.key = key;
    r.values = std::move(values);
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->asked.push_back(std::move(r));
    m_state->wake.notify_all();
}

void ForeignLabels::search(size_t key, const QString &text, bool contains, int limit, quint64 ticket)
{
    Request r;
    r.kind = Request::Kind::Search;
    r.key = key;
    r.text = text;
    r.contains = contains;
    r.limit = limit;
    r.ticket = ticket;
    std::lock_guard<std::mutex> hold(m_state->lock);
    std::erase_if(m_state->asked, [key](const Request &q) { return q.kind == Request::Kind::Search && q.key == key; });
    m_state->asked.push_back(std::move(r));
    m_state->wake.notify_all();
}

std::vector<ForeignLabels::Found> ForeignLabels::takeFound()
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return std::exchange(m_state->found, {});
}

void ForeignLabels::resolve(size_t key, std::vector<std::vector<CellValue>> tuples,
    std::function<void(std::optional<std::vector<Resolved>>)> done)
{
    Request r;
    r.kind = Request::Kind::Resolve;
    r.key = key;
    r.values = std::move(tuples);
    r.done = std::move(done);
    std::lock_guard<std::mutex> hold(m_state->lock);
    if (m_state->ended) {
        r.done(std::nullopt);
        return;
    }
    m_state->asked.push_back(std::move(r));
    m_state->wake.notify_all();
}

void ForeignLabels::setLabelColumn(size_t key, const QByteArray &column)
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    if (key < m_state->keys.size())
        m_state->keys[key].labelColumn = column;
}

std::vector<ForeignLabels::Label> ForeignLabels::take()
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return std::exchange(m_state->answered, {});
}

void ForeignLabels::run(const std::shared_ptr<State> &state)
{
    try {
        Connection connection;
        connection.open(state->params);
        std::vector<Key> keys;
        std::vector<ForeignKey> referring;
        for (ForeignKey &k : ForeignKeys::around(connection, state->table))
            if (k.isOwn)
                keys.push_back({std::move(k), {}});
            else
                referring.push_back(std::move(k));
        pickLabels(connection, keys);
        {
            std::lock_guard<std::mutex> hold(state->lock);
            state->keys = keys;
            state->referring = referring;
            state->post();
        }
        for (;;) {
            std::unique_lock<std::mutex> hold(state->lock);
            state->wake.wait(hold, [&] { return state->stop || !state->asked.empty(); });
            if (state->stop)
                break;
            Request request = std::move(state->asked.front());
            state->asked.pop_front();
            if (request.kind == Request::Kind::Referring) {
                const std::vector<ForeignKey> referringKeys = state->referring;
                hold.unlock();
                countReferring(connection, referringKeys, std::move(request));
                continue;
            }
            if (request.key >= state->keys.size()) {
                if (request.done)
                    request.done(std::nullopt);
                continue;
            }
            const Key asked = state->keys[request.key]; // its label column as chosen now
            hold.unlock();
            answer(*state, connection, asked, std::move(request));
        }
    } catch (const Failure &) {
        // No labels: the grid shows keys alone.
    } catch (const std::bad_alloc &) { }
    std::lock_guard<std::mutex> hold(state->lock);
    state->ended = true;
    for (Request &r : state->asked) {
        if (r.done)
            r.done(std::nullopt);
        if (r.counted)
            r.counted(std::nullopt);
    }
    state->asked.clear();
    mysql_thread_end();
}

void ForeignLabels::countReferring(Connection &connection, const std::vector<ForeignKey> &keys, Request request)
{
    std::optional<Referring> out;
    try {
        std::vector<qint64> counts;
        if (!keys.empty())
            counts = ForeignSearch::readCounts(
                *connection.select(ForeignSearch::referringSql(connection, keys, request.row)), keys.size());
        out.emplace();
        for (size_t k = 0; k < keys.size(); ++k)
            out->emplace_back(keys[k], counts[k]);
    } catch (const Failure &e) {
        request.counted(std::nullopt);
        if (e.number() >= Failure::FirstClientError)
            throw;
        return;
    }
    request.counted(std::move(out));
}

void ForeignLabels::referring(NamedValues row, std::function<void(std::optional<Referring>)> done)
{
    Request r;
    r.kind = Request::Kind::Referring;
    r.row = std::move(row);
    r.counted = std::move(done);
    std::lock_guard<std::mutex> hold(m_state->lock);
    if (m_state->ended) {
        r.counted(std::nullopt);
        return;
    }
    m_state->asked.push_back(std::move(r));
    m_state->wake.notify_all();
}

// Runs one request without the lock, and hands its answer over under it.
void ForeignLabels::answer(State &state, Connection &connection, const Key &key, Request request)
{
    using Kind = Request::Kind;
    if (request.kind == Kind::Resolve) {
        std::optional<std::vector<Resolved>> resolved;
        try {
            if (!key.labelColumn.isEmpty() && !request.values.empty()) {
                const std::unique_ptr<RowSet> rows
                    = connection.select(ForeignSearch::resolveSql(connection, key, request.values));
                resolved = ForeignSearch::readResolved(*rows, request.values.size(), key.key.refColumns.size());
            }
        } catch (const Failure &e) {
            request.done(std::nullopt);
            if (e.number() >= Failure::FirstClientError)
                throw; // the connection is gone: so are the labels
            return;
        }
        request.done(std::move(resolved));
        return;
    }
    if (request.kind == Kind::Search) {
        Found found = search(connection, key, request);
        std::lock_guard<std::mutex> hold(state.lock);
        state.found.push_back(std::move(found));
        state.post();
        return;
    }
    if (request.values.empty())
        return;
    std::vector<Label> labels = readLabels(connection, request.key, key, std::move(request.values));
    std::lock_guard<std::mutex> hold(state.lock);
    for (Label &l : labels)
        state.answered.push_back(std::move(l));
    state.post();
}

ForeignLabels::Found ForeignLabels::search(Connection &connection, const Key &key, const Request &request)
{
    // A search may take long on a large table without an index on the
    // label: the server ends it, and the key's own part is asked alone.
    constexpr int Seconds = 3;
    Found found;
    found.ticket = request.ticket;
    if (key.labelColumn.isEmpty())
        return found;
    try {
        const std::unique_ptr<RowSet> rows = connection.select(
            ForeignSearch::searchSql(connection, key, request.text, request.contains, request.limit, Seconds));
        found.matches = ForeignSearch::readMatches(*rows, key.key.refColumns.size());
    } catch (const Failure &e) {
        if (e.number() >= Failure::FirstClientError)
            throw;
        if (e.number() != Failure::StatementTimeout)
            return found;
        found.tooSlow = true;
        const QByteArray keyPart = ForeignSearch::keySearchSql(connection, key, request.text, request.limit);
        if (!request.contains && !keyPart.isEmpty())
            found.matches = ForeignSearch::readMatches(*connection.select(keyPart), key.key.refColumns.size());
    }
    return found;
}
