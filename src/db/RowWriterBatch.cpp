#include "core/Failure.h"
#include "db/RowWriter.h"

#include <algorithm>
#include <functional>

// Rows of a paste or a bulk change: up to BatchRows rows go in one compound
// statement, each with its own transaction and its own decision, so a far
// server costs one round trip per batch instead of one (or four) per row.
// Without a key a row is found by counting first: one at a time, as
// `single` writes it.
BatchResult RowWriter::writeAll(const std::vector<Edit> &edits, const std::function<WriteResult(size_t)> &single)
{
    BatchResult out;
    const auto allDone = [&] {
        return !out.failure && (out.results.empty() || out.results.back().status == WriteResult::Status::Done);
    };
    if (m_identity.kind == RowIdentity::Kind::AllColumns || !m_connection.canRunCompound()) {
        for (size_t i = 0; i < edits.size() && allDone(); ++i) {
            try {
                out.results.push_back(single(i));
            } catch (const Failure &e) {
                out.failure = e;
            }
        }
        return out;
    }
    for (size_t next = 0; next < edits.size();) {
        if (edits[next].statement.isEmpty()) { // nothing to write: done as it is
            out.results.emplace_back();
            ++next;
            continue;
        }
        const size_t from = next;
        std::vector<QByteArray> writes, readBacks;
        for (; next < edits.size() && writes.size() < BatchRows && !edits[next].statement.isEmpty(); ++next) {
            writes.push_back(edits[next].statement);
            readBacks.push_back(edits[next].readBack);
        }
        const std::vector<Edit> batch(edits.begin() + qsizetype(from), edits.begin() + qsizetype(next));
        Phase phase = Phase::Before;
        std::vector<Checked> done;
        try {
            m_connection.requireKnownCharset();
            runChecked(writes, readBacks, phase, done);
        } catch (const Lost &) {
            if (takeChecked(done, batch, out))
                checkLostBatch(batch, done.size(), phase, out);
            if (!allDone())
                return out;
            continue;
        } catch (const Failure &e) {
            rollbackQuietly();
            if (takeChecked(done, batch, out))
                out.failure = e;
            return out;
        }
        if (!takeChecked(done, batch, out))
            return out;
        next = from + done.size(); // after warnings, the rest go in the next batch
    }
    return out;
}

BatchResult RowWriter::updateAll(const std::vector<std::pair<RowValues, CellChanges>> &rows)
{
    std::vector<Edit> edits;
    for (const auto &[original, changes] : rows)
        edits.push_back(changes.empty() ? Edit() : editOf(original, changes));
    return writeAll(edits, [&](size_t i) { return update(rows[i].first, rows[i].second); });
}

BatchResult RowWriter::removeAll(const std::vector<RowValues> &rows)
{
    const int limit = m_transactional ? 2 : 1; // keyed: a second row shows, and is rolled back
    std::vector<Edit> edits;
    for (const RowValues &original : rows) {
        Edit e;
        e.isDelete = true;
        e.before = deleteConditions(m_identity, original);
        e.statement = deleteStatement(m_table, m_fields, m_identity, original, quoter(), limit);
        edits.push_back(std::move(e));
    }
    return writeAll(edits, [&](size_t i) { return remove(rows[i]); });
}

// Adds the outcomes that came back to `out`; false when one of them ends the
// batch (no row found, or more than one).
bool RowWriter::takeChecked(std::vector<Checked> &done, const std::vector<Edit> &edits, BatchResult &out)
{
    for (size_t i = 0; i < done.size(); ++i) {
        Checked &c = done[i];
        if (c.found > 1) {
            out.failure = moreThanOneRow();
            return false;
        }
        WriteResult r;
        if (c.found != 1) {
            r.status = WriteResult::Status::RowChanged;
            out.results.push_back(std::move(r));
            return false;
        }
        r.stored = std::move(c.stored);
        r.warnings = std::move(c.warnings);
        if (!r.warnings.empty() && !edits[i].isDelete) {
            // Its read-back was not part of the statement.
            r.stored = readBack(edits[i].key);
            r.warnedRow = r.stored ? r.stored : findWarned(edits[i].key, edits[i].changes);
        }
        out.results.push_back(std::move(r));
    }
    return true;
}

// After a batch's reply was lost from write `from` on: each write whose
// outcome did not come back is asked for on a new connection, in order,
// until one was not done (the writes after it were then never run).
void RowWriter::checkLostBatch(const std::vector<Edit> &edits, size_t from, Phase phase, BatchResult &out)
{
    const bool clean = reconnect(true);
    try {
        // Stopped by warnings, its transaction still open: it went with the session.
        if (phase == Phase::Sent && m_transactional)
            notSaved(false);
        for (size_t i = from; i < edits.size(); ++i) {
            if (!clean) {
                out.results.push_back({WriteResult::Status::Unknown, std::nullopt, true});
                return;
            }
            if (edits[i].isDelete)
                out.results.push_back(checkDelete(edits[i].before));
            else
                out.results.push_back(checkUpdate(edits[i].before, edits[i].after, -1, edits[i].changes));
            if (out.results.back().status != WriteResult::Status::Done)
                return;
        }
    } catch (const Failure &e) {
        out.failure = e;
    }
}
