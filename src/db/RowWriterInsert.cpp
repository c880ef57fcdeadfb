#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowWriter.h"

#include <mysql.h>

// Inserts of single rows, and what tells after a lost reply whether one
// landed.

namespace {

QByteArray bytesOf(const RowStore::Cell &c)
{
    return QByteArray(c.text().data(), qsizetype(c.text().size()));
}

} // namespace

// The conditions that find the row just inserted for certain, if any: its
// key, from what the server returned, the AUTO_INCREMENT id or what was typed.
std::optional<std::vector<Condition>> RowWriter::insertedKey(
    const CellChanges &values, const std::optional<RowValues> &returned, quint64 id) const
{
    if (m_identity.kind == RowIdentity::Kind::AllColumns)
        return std::nullopt;
    std::vector<Condition> out;
    for (int c : m_identity.columns) {
        const bool autoIncrement = m_fields[size_t(c)].flags & AUTO_INCREMENT_FLAG;
        if (returned)
            out.push_back({c, returned->at(size_t(c)), false});
        else if (autoIncrement && id != 0)
            out.push_back({c, CellValue::of(QByteArray::number(id)), false});
        else if (values.count(c) && !values.at(c).isNull)
            out.push_back({c, values.at(c), false});
        else
            return std::nullopt;
    }
    return out;
}

WriteResult RowWriter::insert(const CellChanges &values)
{
    m_connection.requireKnownCharset();
    // By the received bytes: a FLOAT never equals its decimal literal, and
    // 'ABC' would count 'abc'.
    std::vector<Condition> typed;
    for (const auto &[column, value] : values)
        typed.push_back({column, value, true});
    const QByteArray sql = insertStatement(m_table, m_fields, values, quoter());
    if (m_transactional && m_connection.canRunCompound() && m_connection.canReturnInserted())
        return insertInCompound(values, typed, sql);
    Phase phase = Phase::Before;
    std::optional<RowValues> returned;
    std::optional<std::vector<Condition>> key;
    // Rows that match `witness`: `expected` once the insert is in, one fewer
    // without it; -1 when the count may not see the new row.
    std::vector<Condition> witness = typed;
    qint64 typedBefore = -1, expected = -1;
    // The AUTO_INCREMENT counter before the insert, on a table without
    // transactions: unmoved after a lost reply, nothing was inserted.
    std::optional<qint64> counter;
    std::vector<ServerWarning> warnings;
    try {
        begin();
        if (!m_transactional && autoIncrementColumn(values) >= 0)
            counter = autoIncrementCounter();
        if (m_transactional ? !m_connection.canReturnInserted() : !counter)
            typedBefore = count(typed);
        if (!m_transactional)
            expected = typedBefore + 1;
        phase = Phase::Sent;
        if (m_connection.canReturnInserted()) {
            const std::unique_ptr<RowSet> rows = query(sql + " RETURNING *");
            if (rows->recordCount() == 1 && rows->fieldCount() == int(m_fields.size()))
                returned = storedValues(rows->rows(), 0);
        } else {
            send(sql);
        }
        const quint64 id = m_connection.insertId(); // before another statement
        warnings = readWarnings();
        key = insertedKey(values, returned, id);
        if (m_transactional) {
            if (key)
                witness = *key;
            else if (returned)
                witness = identityConditions(RowIdentity(), *returned);
            expected = count(witness);
            // A key is unique and the insert did not clash, so one row is the
            // new one; typed values may have been converted past finding.
            const bool seen = key ? expected == 1
                : returned        ? expected >= 1
                                  : typedBefore >= 0 && expected == typedBefore + 1;
            if (!seen)
                expected = -1;
        }
        finish(true, phase);
    } catch (const Lost &) {
        const bool clean = reconnect(true);
        if (phase == Phase::Before || (m_transactional && phase != Phase::Committing))
            notSaved(false);
        if (!clean)
            return {WriteResult::Status::Unknown, std::nullopt, true};
        if (!m_transactional)
            key = insertedKey(values, std::nullopt, 0);
        return checkInsert(witness, expected, key, counter, values);
    } catch (const Failure &) {
        rollbackQuietly();
        throw;
    }
    WriteResult r;
    if (returned)
        r.stored = std::move(returned);
    else if (key)
        r.stored = readBack(*key);
    r.warnings = std::move(warnings);
    if (!r.warnings.empty())
        r.warnedRow = r.stored;
    return r;
}

// On a transactional table: the transaction's start, the insert and what
// tells after a lost COMMIT whether it landed go in one round trip; the
// COMMIT follows once the new row is known. Committing on the server in the
// same statement would save that round trip, but a reply lost after such a
// commit would leave nothing to tell the new row from one someone else
// added: its AUTO_INCREMENT id came only in the reply.
WriteResult RowWriter::insertInCompound(
    const CellChanges &values, const std::vector<Condition> &typed, const QByteArray &sql)
{
    const bool keyed = m_identity.kind != RowIdentity::Kind::AllColumns;
    // Without a key, the rows as typed, before and after the insert.
    const QByteArray typedCount = keyed ? QByteArray() : countStatement(m_table, m_fields, typed, quoter());
    const size_t allSets = keyed ? 2 : 3;
    Phase phase = Phase::Sent; // the transaction stays open until COMMIT
    std::vector<Condition> witness = typed;
    qint64 expected = -1;
    std::optional<RowValues> returned;
    std::optional<std::vector<Condition>> key;
    std::vector<ServerWarning> warnings;
    try {
        std::vector<std::unique_ptr<RowSet>> sets;
        results(openInsertStatement(sql, typedCount), sets);
        if (sets.size() != allSets && sets.size() != allSets - 1)
            throw Failure(QStringLiteral("The server did not tell what became of the new row."));
        const auto number = [&](size_t s) {
            const RowSet &set = *sets[s];
            return set.recordCount() == 1 && !set.rows().cell(0, 0).isNull()
                ? bytesOf(set.rows().cell(0, 0)).toLongLong()
                : qint64(-1);
        };
        const RowSet &row = *sets[keyed ? 0 : 1];
        if (row.recordCount() == 1 && row.fieldCount() == int(m_fields.size()))
            returned = storedValues(row.rows(), 0);
        if (sets.size() < allSets) // stopped by warnings
            warnings = readWarnings(true);
        key = insertedKey(values, returned, 0);
        if (key) {
            // The key is unique and NOT NULL: the new row is the one row it finds.
            witness = *key;
            expected = 1;
        } else if (!keyed && sets.size() == allSets && number(0) >= 0 && number(2) == number(0) + 1) {
            expected = number(2);
        } else if (returned) {
            // Typed values converted past finding: by the row as stored.
            witness = identityConditions(RowIdentity(), *returned);
            expected = count(witness);
            if (expected < 1)
                expected = -1;
        }
        finish(true, phase);
    } catch (const Lost &) {
        const bool clean = reconnect(true);
        if (phase != Phase::Committing)
            notSaved(false); // the transaction went with the session
        if (!clean)
            return {WriteResult::Status::Unknown, std::nullopt, true};
        return checkInsert(witness, expected, key, std::nullopt, values);
    } catch (const Failure &) {
        rollbackQuietly();
        throw;
    }
    WriteResult r;
    r.stored = returned ? std::move(returned) : (key ? readBack(*key) : std::nullopt);
    r.warnings = std::move(warnings);
    if (!r.warnings.empty())
        r.warnedRow = r.stored;
    return r;
}

// After a lost INSERT: by the AUTO_INCREMENT counter when there is one, else
// by the count of `witness`. A count one short proves nothing on a table
// without transactions unless the values would be stored as typed.
WriteResult RowWriter::checkInsert(const std::vector<Condition> &witness, qint64 expected,
    const std::optional<std::vector<Condition>> &key, std::optional<qint64> counter, const CellChanges &values)
{
    WriteResult r{WriteResult::Status::Unknown, std::nullopt, true};
    enum { Unknown, Applied, NotApplied } found = Unknown;
    try {
        if (counter) {
            const std::optional<qint64> next = autoIncrementCounter();
            if (next && *next == *counter) {
                found = NotApplied;
            } else if (next && *next > *counter) {
                // The id it took, unless someone else's insert came first.
                std::vector<Condition> mine = witness;
                mine.push_back({autoIncrementColumn(values), CellValue::of(QByteArray::number(*counter)), false});
                if ((r.stored = readRow(mine)))
                    found = Applied;
            }
        } else if (expected >= 0) {
            const qint64 now = count(witness);
            if (now == expected)
                found = Applied;
            else if (now == expected - 1 && (m_transactional || storedUnchanged(values)))
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
    r.status = WriteResult::Status::Done;
    if (!r.stored && key)
        r.stored = readBack(*key);
    return r;
}

// The identifying AUTO_INCREMENT column that the server fills in for
// `values`, or -1.
int RowWriter::autoIncrementColumn(const CellChanges &values) const
{
    if (m_identity.columns.size() != 1)
        return -1;
    const int c = m_identity.columns.front();
    const auto typed = values.find(c);
    const bool given = typed != values.end() && !typed->second.isNull;
    return (m_fields[size_t(c)].flags & AUTO_INCREMENT_FLAG) && !given ? c : -1;
}

// The table's next AUTO_INCREMENT value, exact for engines without
// transactions.
std::optional<qint64> RowWriter::autoIncrementCounter()
{
    const std::unique_ptr<RowSet> rows = query("SELECT AUTO_INCREMENT FROM information_schema.TABLES WHERE "
                                               "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = "
        + m_connection.quote(m_table));
    if (rows->recordCount() != 1 || rows->rows().cell(0, 0).isNull())
        return std::nullopt;
    bool ok = false;
    const qint64 next = bytesOf(rows->rows().cell(0, 0)).toLongLong(&ok);
    return ok ? std::optional<qint64>(next) : std::nullopt;
}
