#include "core/Failure.h"
#include "db/RowWriter.h"

#include <algorithm>

// Rows of a paste or a bulk change: up to BatchRows rows go in one compound
// statement, each with its own transaction and its own decision, so a far
// server costs one round trip per batch instead of one (or four) per row.
BatchResult RowWriter::updateAll(const std::vector<std::pair<RowValues, CellChanges>> &rows)
{
    BatchResult out;
    const auto single = [&](const std::pair<RowValues, CellChanges> &row) {
        try {
            out.results.push_back(update(row.first, row.second));
        } catch (const Failure &e) {
            out.failure = e;
            return false;
        }
        return out.results.back().status == WriteResult::Status::Done;
    };
    // Without a key a row is found by counting first: one at a time.
    if (m_identity.kind == RowIdentity::Kind::AllColumns || !m_connection.canRunCompound()) {
        for (const auto &row : rows)
            if (!single(row))
                break;
        return out;
    }
    const auto allDone = [&] {
        return !out.failure && (out.results.empty() || out.results.back().status == WriteResult::Status::Done);
    };
    size_t next = 0;
    while (next < rows.size()) {
        if (rows[next].second.empty()) { // nothing to write: done as it is
            out.results.emplace_back();
            ++next;
            continue;
        }
        std::vector<Edit> edits;
        std::vector<QByteArray> writes, readBacks;
        for (size_t i = next; i < rows.size() && edits.size() < BatchRows && !rows[i].second.empty(); ++i) {
            edits.push_back(editOf(rows[i].first, rows[i].second));
            writes.push_back(edits.back().statement);
            readBacks.push_back(edits.back().readBack);
        }
        Phase phase = Phase::Before;
        std::vector<Checked> done;
        try {
            m_connection.requireKnownCharset();
            runChecked(writes, readBacks, phase, done);
        } catch (const Lost &) {
            if (takeChecked(done, edits, out))
                checkLostBatch(edits, done.size(), phase, out);
            if (!allDone())
                return out;
            next += edits.size();
            continue;
        } catch (const Failure &e) {
            rollbackQuietly();
            if (takeChecked(done, edits, out))
                out.failure = e;
            return out;
        }
        if (!takeChecked(done, edits, out))
            return out;
        next += done.size();
    }
    return out;
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
        if (!r.warnings.empty()) {
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
            out.results.push_back(checkUpdate(edits[i].before, edits[i].after, -1, edits[i].changes));
            if (out.results.back().status != WriteResult::Status::Done)
                return;
        }
    } catch (const Failure &e) {
        out.failure = e;
    }
}
