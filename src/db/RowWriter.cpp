#include "db/RowWriter.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/StoredForm.h"

#include <QThread>

#include <errmsg.h>
#include <mysql.h>

namespace {

QByteArray bytesOf(const RowStore::Cell &c)
{
    return QByteArray(c.text().data(), qsizetype(c.text().size()));
}

RowValues applied(RowValues row, const CellChanges &changes)
{
    for (const auto &[column, value] : changes)
        row[size_t(column)] = value;
    return row;
}

// `conditions` with the changed columns compared the server's way, which
// finds a value it converted on writing.
std::vector<Condition> converted(std::vector<Condition> conditions, const CellChanges &changes)
{
    for (Condition &c : conditions)
        c.exact = c.exact && !changes.count(c.column);
    return conditions;
}

} // namespace

RowWriter::RowWriter(Connection &connection, QByteArray table, std::vector<FieldInfo> fields)
    : m_connection(connection), m_table(std::move(table)), m_fields(std::move(fields))
{
    const QByteArray showKeys = "SHOW KEYS FROM " + quoteIdentifier(m_table);
    const QByteArray engine
        = "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e "
          "ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = "
        + m_connection.quote(m_table);
    std::vector<std::unique_ptr<RowSet>> sets;
    if (m_connection.canRunCompound()) {
        m_connection.results("BEGIN NOT ATOMIC " + showKeys + "; " + engine + "; END", sets);
        if (sets.size() != 2)
            throw Failure(QStringLiteral("The server did not tell the table's keys."));
    } else {
        sets.push_back(m_connection.select(showKeys));
        sets.push_back(m_connection.select(engine));
    }
    const RowSet &keys = *sets[0];
    const auto column = [&](const char *name) {
        for (int i = 0; i < keys.fieldCount(); ++i)
            if (keys.field(i).name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return i;
        throw Failure(QStringLiteral("SHOW KEYS gave no column %1.").arg(QLatin1String(name)));
    };
    const int nonUnique = column("Non_unique"), keyName = column("Key_name"), seq = column("Seq_in_index"),
              columnName = column("Column_name"), nullable = column("Null");
    std::vector<KeyPart> parts;
    for (qint64 r = 0; r < keys.recordCount(); ++r) {
        const auto text = [&](int c) { return bytesOf(keys.rows().cell(r, c)); };
        parts.push_back({text(keyName), text(seq).toInt(), text(columnName), text(nonUnique) == "0",
                         text(nullable) == "YES"});
    }
    m_identity = chooseIdentity(m_fields, parts);
    const RowSet &transactions = *sets[1];
    m_transactional = transactions.recordCount() == 1 && bytesOf(transactions.rows().cell(0, 0)) == "YES";
}

Quote RowWriter::quoter() const
{
    return [this](const QByteArray &value) { return m_connection.quote(value); };
}

quint64 RowWriter::send(const QByteArray &sql)
{
    try {
        return m_connection.exec(sql);
    } catch (const Failure &e) {
        if (e.isConnectionLost())
            throw Lost{};
        throw;
    }
}

std::unique_ptr<RowSet> RowWriter::query(const QByteArray &sql)
{
    try {
        return m_connection.select(sql);
    } catch (const Failure &e) {
        if (e.isConnectionLost())
            throw Lost{};
        throw;
    }
}

void RowWriter::results(const QByteArray &sql, std::vector<std::unique_ptr<RowSet>> &out)
{
    try {
        m_connection.results(sql, out);
    } catch (const Failure &e) {
        if (e.isConnectionLost())
            throw Lost{};
        throw;
    }
}

// Sends `writes` with their decisions and read-backs in one statement (see
// checkedWritesStatement) and adds to `done` what became of each, in order,
// up to the first that did not find exactly one row. Where the server left
// warnings on a write, they are read and its decision is taken here, with
// its transaction open until then; the writes after it are not sent. Lost
// and Failure leave in `done` the writes whose outcome came back.
void RowWriter::runChecked(const std::vector<QByteArray> &writes, const std::vector<QByteArray> &readBacks,
    Phase &phase, std::vector<Checked> &done)
{
    // A reply lost from here on may come after a commit.
    phase = m_transactional ? Phase::Committing : Phase::Sent;
    std::vector<std::unique_ptr<RowSet>> sets;
    const auto number = [](const RowSet &set, int column) {
        return set.recordCount() == 1 && set.fieldCount() > column && !set.rows().cell(0, column).isNull()
            ? bytesOf(set.rows().cell(0, column)).toLongLong()
            : qint64(-1);
    };
    const auto take = [&] {
        for (size_t s = 0; s < sets.size(); ++s) {
            Checked c;
            c.found = number(*sets[s], 1);
            const size_t i = done.size();
            if (c.found == 1 && !readBacks[i].isEmpty() && s + 1 < sets.size()) {
                const RowSet &row = *sets[++s];
                if (row.recordCount() == 1 && row.fieldCount() == int(m_fields.size()))
                    c.stored = storedValues(row.rows(), 0);
            }
            done.push_back(std::move(c));
        }
    };
    try {
        results(checkedWritesStatement(writes, readBacks, m_transactional), sets);
    } catch (...) {
        take();
        throw;
    }
    take();
    if (done.size() == writes.size() || (!done.empty() && done.back().found != 1))
        return;
    // Stopped by warnings on the next write.
    phase = Phase::Sent; // not committed yet
    Checked c;
    c.warnings = readWarnings(true);
    c.found = number(*query("SELECT @corvane_rows"), 0);
    finish(c.found == 1, phase);
    done.push_back(std::move(c));
}

void RowWriter::begin()
{
    if (m_transactional)
        send("START TRANSACTION");
}

void RowWriter::finish(bool commit, Phase &phase)
{
    if (!m_transactional)
        return;
    if (commit)
        phase = Phase::Committing;
    send(commit ? QByteArrayLiteral("COMMIT") : QByteArrayLiteral("ROLLBACK"));
}

// How long a node out of reach is given to leave its cluster: 200 ms steps.
constexpr int LeaveWaitSteps = 75;

// Ends the lost session `old` on `connection`'s server and waits until it
// is gone. False when that cannot be made sure of.
static bool endSession(Connection &connection, unsigned long old, qint64 openedAt)
{
    // Ids are unique among live sessions: ours again means the old is gone;
    // after a restart the old id may be someone else's.
    if (old == 0 || old == connection.sessionId() || connection.restartedSinceOpen(openedAt))
        return true;
    try {
        connection.exec("KILL CONNECTION " + QByteArray::number(qulonglong(old)));
    } catch (const Failure &e) {
        if (e.number() != Failure::NoSuchThread) // already gone
            return false;
    }
    const QByteArray alive
        = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + QByteArray::number(qulonglong(old));
    for (int i = 0; i < 200; ++i) {
        const std::unique_ptr<RowSet> rows = connection.select(alive);
        if (rows->recordCount() == 1 && bytesOf(rows->rows().cell(0, 0)) == "0")
            return true;
        QThread::msleep(50);
    }
    return false;
}

// Opens the connection again. With `killOld`, the lost session is ended and
// waited for, so that nothing it still had on its way can land after the
// caller's check. False when that cannot be made sure of, and whenever the
// new session runs on another server than the lost one (a load balancer, a
// fail-over): there the old session id names someone else's session, and
// the rows are not the ones written; but see settleOnCluster().
bool RowWriter::reconnect(bool killOld)
{
    const unsigned long old = m_connection.sessionId();
    const QByteArray server = m_connection.serverIdentity();
    const QByteArray cluster = m_connection.clusterId();
    const QByteArray oldServer = m_connection.serverInUse();
    const unsigned oldPort = m_connection.serverPort();
    const qint64 openedAt = m_connection.openedAt();
    try {
        const ConnectParams params = m_connection.params();
        m_connection.open(params);
        if (server.isEmpty())
            return false;
        if (m_connection.serverIdentity() != server)
            return !cluster.isEmpty() && m_connection.clusterId() == cluster
                && settleOnCluster(oldServer, oldPort, server, old, openedAt, killOld);
        return !killOld || endSession(m_connection, old, openedAt);
    } catch (const Failure &) {
        return false;
    }
}

// The new session runs on another synced node of the lost one's Galera
// cluster, which holds the same rows once it has applied the cluster's
// writes. The lost session is ended on its own node when that answers;
// when it does not, only a node that has left the cluster (and so can
// commit nothing more) is safe to ignore: one that no member's address
// could be. Then every read of this session
// waits for the node to catch up with the cluster. Throws Failure.
bool RowWriter::settleOnCluster(const QByteArray &oldServer, unsigned oldPort, const QByteArray &server,
    unsigned long old, qint64 openedAt, bool killOld)
{
    if (killOld && !oldServer.isEmpty()) {
        bool ended = false;
        ConnectParams one = m_connection.params();
        const ServerAddress address = parseServerList(oldServer, 0).front();
        one.servers.clear();
        one.host = address.host;
        one.port = address.port;
        one.forceTcp = address.port != 0 && address.port != 3306;
        try {
            Connection side;
            side.open(one);
            ended = side.serverIdentity() == server && endSession(side, old, openedAt);
        } catch (const Failure &) {
            // A node that died leaves the cluster once its peers give up on
            // it (seconds); one that lives on but is out of our reach does not.
            for (int i = 0; i < LeaveWaitSteps && !ended && oldPort != 0; ++i) {
                ended = !m_connection.clusterMayHold(oldPort);
                if (!ended)
                    QThread::msleep(200);
            }
        }
        if (!ended)
            return false;
    }
    m_connection.exec("SET SESSION wsrep_sync_wait = 1");
    return true;
}

std::optional<RowValues> RowWriter::readRow(const std::vector<Condition> &conditions)
{
    const std::unique_ptr<RowSet> rows = query(selectRowStatement(m_table, m_fields, conditions, quoter()));
    if (rows->recordCount() == 0 || rows->fieldCount() != int(m_fields.size()))
        return std::nullopt;
    return storedValues(rows->rows(), 0);
}

// The read after a write that was done: its failure must not make the write
// look failed. Not found, the caller reads the table again.
std::optional<RowValues> RowWriter::readBack(const std::vector<Condition> &conditions)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            return readRow(conditions);
        } catch (const Lost &) {
            if (!reconnect(false))
                return std::nullopt;
        } catch (const Failure &) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// After a write: its warnings must not make it look failed, but a lost
// connection is a lost connection.
std::vector<ServerWarning> RowWriter::readWarnings(bool always)
{
    try {
        return m_connection.warnings(always);
    } catch (const Failure &e) {
        if (e.isConnectionLost())
            throw Lost{};
        return {};
    }
}

// The row a write with warnings left, when its typed values no longer find
// it: by its other values, if they match it alone. Only to tell the user.
std::optional<RowValues> RowWriter::findWarned(std::vector<Condition> conditions, const CellChanges &changes)
{
    std::erase_if(conditions, [&](const Condition &c) { return changes.count(c.column) != 0; });
    try {
        if (!conditions.empty() && count(conditions) == 1)
            return readRow(conditions);
    } catch (const Lost &) {
    } catch (const Failure &) { }
    return std::nullopt;
}

qint64 RowWriter::count(const std::vector<Condition> &conditions)
{
    const std::unique_ptr<RowSet> rows = query(countStatement(m_table, m_fields, conditions, quoter()));
    return rows->recordCount() == 1 ? bytesOf(rows->rows().cell(0, 0)).toLongLong() : -1;
}

void RowWriter::notSaved(bool asked) const
{
    if (!asked)
        throw Failure(QStringLiteral("The connection to the server was lost before the write was complete, so "
                                     "nothing was written."));
    throw Failure(QStringLiteral("The connection to the server was lost during the write. The server was asked "
                                 "again: nothing was written."));
}

Failure RowWriter::moreThanOneRow()
{
    return Failure(QStringLiteral("More than one row matched the row being written, so nothing was written."));
}

RowWriter::Edit RowWriter::editOf(const RowValues &original, const CellChanges &changes) const
{
    Edit e;
    e.changes = changes;
    const bool keyed = m_identity.kind != RowIdentity::Kind::AllColumns;
    // A second matching row shows on a keyed table and is rolled back; rows
    // without a key that match every column are interchangeable.
    const int limit = keyed && m_transactional ? 2 : 1;
    e.before = updateConditions(m_identity, original, changes);
    if (keyed) {
        // The typed bytes exactly: the server's comparison would take 'ABC'
        // for 'abc', or '05' for 5, and call a lost write done.
        e.key = e.after = identityConditions(m_identity, applied(original, changes));
        for (const auto &[column, value] : changes)
            e.after.push_back({column, value, true});
    } else {
        e.after = identityConditions(m_identity, applied(original, changes));
    }
    e.statement = updateStatement(m_table, m_fields, m_identity, original, changes, quoter(), limit);
    e.readBack = selectRowStatement(m_table, m_fields, keyed ? e.key : e.after, quoter());
    return e;
}

WriteResult RowWriter::update(const RowValues &original, const CellChanges &changes)
{
    WriteResult r;
    if (changes.empty())
        return r;
    m_connection.requireKnownCharset();
    const bool keyed = m_identity.kind != RowIdentity::Kind::AllColumns;
    const Edit edit = editOf(original, changes);
    const std::vector<Condition> &before = edit.before, &after = edit.after, &key = edit.key;
    Phase phase = Phase::Before;
    qint64 matching = -1;
    bool readBackDone = false;
    const QByteArray &statement = edit.statement;
    try {
        if (m_connection.canRunCompound()) {
            if (!keyed)
                matching = count(before);
            std::vector<Checked> done;
            runChecked({statement}, {edit.readBack}, phase, done);
            r.stored = std::move(done.front().stored);
            r.warnings = std::move(done.front().warnings);
            if (done.front().found != 1)
                return changedOrMany(done.front().found, r);
            readBackDone = r.warnings.empty();
        } else {
            begin();
            if (!keyed)
                matching = count(before);
            phase = Phase::Sent;
            const quint64 n = send(statement);
            if (n != 1) {
                finish(false, phase);
                return changedOrMany(qint64(n), r);
            }
            r.warnings = readWarnings();
            finish(true, phase);
        }
    } catch (const Lost &) {
        r.checkedAfterLoss = true;
        const bool clean = reconnect(true);
        if (phase == Phase::Before || (m_transactional && phase == Phase::Sent))
            notSaved(false);
        if (!clean)
            return {WriteResult::Status::Unknown, std::nullopt, true};
        return checkUpdate(before, after, matching, changes);
    } catch (const Failure &) {
        rollbackQuietly();
        throw;
    }
    // By key the row is certain; without one, by every value it now holds:
    // the typed bytes first, as 'abc' would pass for 'ABC'; then typed values
    // through the server's conversion, as they were written.
    if (!r.stored && !readBackDone)
        r.stored = readBack(keyed ? key : after);
    if (!r.stored && !keyed)
        r.stored = readBack(converted(after, changes));
    if (!r.warnings.empty())
        r.warnedRow = r.stored ? r.stored : findWarned(keyed ? key : after, changes);
    return r;
}

// A write that found no row, or (refused) more than one.
WriteResult RowWriter::changedOrMany(qint64 found, WriteResult r)
{
    if (found > 1)
        throw moreThanOneRow();
    r.status = WriteResult::Status::RowChanged;
    r.stored.reset();
    r.warnings.clear();
    return r;
}

void RowWriter::rollbackQuietly()
{
    if (!m_transactional || !m_connection.isOpen())
        return;
    try {
        m_connection.exec("ROLLBACK");
    } catch (const Failure &) {
        // The session ends the transaction when it goes.
    }
}

// After a lost UPDATE: the row with the new bytes means it was applied. The
// row as it was read means it was not, but only when the new values would
// have been stored as typed: a converted value may read as the old one.
// Without a key, by how many rows as read are left (`matching` were there).
WriteResult RowWriter::checkUpdate(const std::vector<Condition> &before, const std::vector<Condition> &after,
    qint64 matching, const CellChanges &changes)
{
    enum { Unknown, Applied, NotApplied } found = Unknown;
    std::optional<RowValues> row;
    try {
        if (matching >= 0) {
            const qint64 left = count(before);
            if (left == matching - 1)
                found = Applied;
            else if (left == matching && storedUnchanged(changes))
                found = NotApplied;
        } else if ((row = readRow(after))) {
            found = Applied;
        } else if (readRow(before) && storedUnchanged(changes)) {
            found = NotApplied;
        }
    } catch (const Lost &) {
        found = Unknown;
    } catch (const Failure &) {
        found = Unknown;
    }
    if (found == NotApplied)
        notSaved(true);
    if (found == Unknown)
        return {WriteResult::Status::Unknown, std::nullopt, true};
    if (!row)
        row = readBack(after);
    if (!row)
        row = readBack(converted(after, changes));
    return {WriteResult::Status::Done, std::move(row), true};
}

WriteResult RowWriter::remove(const RowValues &original)
{
    m_connection.requireKnownCharset();
    const bool keyed = m_identity.kind != RowIdentity::Kind::AllColumns;
    const int limit = keyed && m_transactional ? 2 : 1;
    const std::vector<Condition> row = deleteConditions(m_identity, original);
    Phase phase = Phase::Before;
    qint64 matching = -1;
    const QByteArray statement = deleteStatement(m_table, m_fields, m_identity, original, quoter(), limit);
    try {
        if (m_connection.canRunCompound()) {
            if (!keyed)
                matching = count(row);
            std::vector<Checked> done;
            runChecked({statement}, {QByteArray()}, phase, done);
            if (done.front().found != 1)
                return changedOrMany(done.front().found, WriteResult());
        } else {
            begin();
            if (!keyed)
                matching = count(row);
            phase = Phase::Sent;
            const quint64 n = send(statement);
            if (n != 1) {
                finish(false, phase);
                return changedOrMany(qint64(n), WriteResult());
            }
            finish(true, phase);
        }
    } catch (const Lost &) {
        const bool clean = reconnect(true);
        if (phase == Phase::Before || (m_transactional && phase == Phase::Sent))
            notSaved(false);
        if (!clean)
            return {WriteResult::Status::Unknown, std::nullopt, true};
        return checkDelete(row, matching);
    } catch (const Failure &) {
        rollbackQuietly();
        throw;
    }
    return {};
}

// After a lost DELETE: by key, the row still there means it was not done;
// without a key, by how many rows as read are left (`matching` were there).
WriteResult RowWriter::checkDelete(const std::vector<Condition> &row, qint64 matching)
{
    const WriteResult unknown{WriteResult::Status::Unknown, std::nullopt, true};
    qint64 left = -1;
    try {
        left = matching < 0 ? (readRow(row) ? 1 : 0) : count(row);
    } catch (const Lost &) {
        return unknown;
    } catch (const Failure &) {
        return unknown;
    }
    const qint64 was = matching < 0 ? 1 : matching;
    if (left == was)
        notSaved(true);
    return left == was - 1 ? WriteResult{WriteResult::Status::Done, std::nullopt, true} : unknown;
}

// Whether each of `values` would be stored exactly as given: the column
// keeps those bytes and no BEFORE trigger may change them. False when the
// server cannot be asked.
bool RowWriter::storedUnchanged(const CellChanges &values)
{
    const QByteArray table = m_connection.quote(m_table);
    const std::unique_ptr<RowSet> triggers
        = query("SELECT COUNT(*) FROM information_schema.TRIGGERS WHERE EVENT_OBJECT_SCHEMA = DATABASE() AND "
                "EVENT_OBJECT_TABLE = "
            + table + " AND ACTION_TIMING = 'BEFORE'");
    if (triggers->recordCount() != 1 || bytesOf(triggers->rows().cell(0, 0)) != "0")
        return false;
    const std::unique_ptr<RowSet> columns
        = query("SELECT COLUMN_NAME, DATA_TYPE, COLUMN_TYPE, CHARACTER_SET_NAME, CHARACTER_MAXIMUM_LENGTH, "
                "CHARACTER_OCTET_LENGTH, IS_NULLABLE, EXTRA, @@SESSION.sql_mode FROM information_schema.COLUMNS "
                "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = "
            + table);
    const RowStore &rows = columns->rows();
    for (const auto &[column, value] : values) {
        qint64 r = 0;
        while (r < columns->recordCount()
            && bytesOf(rows.cell(r, 0)).compare(m_fields[size_t(column)].orgName, Qt::CaseInsensitive) != 0)
            ++r;
        if (r == columns->recordCount())
            return false;
        const auto text = [&](int c) { return bytesOf(rows.cell(r, c)); };
        const auto number = [&](int c) { return rows.cell(r, c).isNull() ? qint64(-1) : text(c).toLongLong(); };
        ColumnType type{text(1).toLower(), text(2).toLower(), text(3).toLower(), number(4), number(5), text(6) == "YES",
            text(7).toLower().contains("auto_increment")};
        if (!storesUnchanged(type, value, text(8).contains("EMPTY_STRING_IS_NULL")))
            return false;
    }
    return true;
}
