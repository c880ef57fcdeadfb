#include "grid/GridWrites.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ForeignKeys.h"
#include "db/RowSet.h"

#include <QScopeGuard>
#include <QStringList>

#include <optional>

GridWrites::GridWrites() = default;

GridWrites::~GridWrites() = default;

void GridWrites::reset(RowSet *rows, Connection *connection)
{
    m_rows = rows;
    m_connection = connection;
    m_writer.reset();
    m_names.clear();
    m_connectionLost = false;
    m_notice.clear();
}

void GridWrites::addNotice(const QString &text)
{
    m_notice += (m_notice.isEmpty() ? QString() : QStringLiteral("\n\n")) + text;
}

template <class F> auto GridWrites::run(F &&f) -> decltype(f(std::declval<RowWriter &>()))
{
    if (m_running) // only a caller that ignored the held input gets here
        throw Failure(QStringLiteral("The last change is still being saved. Wait for the server."));
    m_running = true;
    const auto ended = qScopeGuard([this] { m_running = false; });
    m_notice.clear();
    // Read here, in the rows' own thread.
    std::vector<FieldInfo> fields;
    if (!m_writer) {
        fields = m_rows->fields();
        m_names.clear();
        for (const FieldInfo &field : fields)
            m_names.push_back(field.orgName);
    }
    std::optional<decltype(f(std::declval<RowWriter &>()))> result;
    const auto reopen = [this] {
        const ConnectParams params = m_connection->params();
        m_connection->open(params);
        m_connectionLost = false;
        if (m_connection->isReadOnly())
            throw Failure(QStringLiteral("Nothing was written: the server now in use takes no changes. %1")
                              .arg(m_connection->readOnlyReason()));
    };
    const auto work = [&] {
        // A session the server closed (it stopped, a node of several went
        // away) had nothing on its way: open again, through the server list.
        if (m_connectionLost || !m_connection->looksAlive())
            reopen();
        // The writer only reads the table's keys: lost meanwhile, once more.
        if (!m_writer) {
            try {
                m_writer = std::make_unique<RowWriter>(*m_connection, fields.front().orgTable, fields);
            } catch (const Failure &e) {
                // A node that left its cluster's majority did nothing and
                // will do nothing: another server of the list may.
                if (!e.isConnectionLost() && !e.isNodeNotReady())
                    throw;
                reopen();
            }
        }
        try {
            if (!m_writer)
                m_writer = std::make_unique<RowWriter>(*m_connection, fields.front().orgTable, std::move(fields));
            result = f(*m_writer);
            m_connectionLost = !m_connection->isOpen();
        } catch (const Failure &e) {
            if (e.isConnectionLost() || e.isNodeNotReady() || !m_connection->isOpen())
                m_connectionLost = true;
            throw;
        }
    };
    if (m_runner)
        m_runner(work);
    else
        work();
    return *result;
}

void GridWrites::noteLoss(const WriteResult &result)
{
    if (result.checkedAfterLoss && result.status == WriteResult::Status::Done && m_notice.isEmpty())
        m_notice = QStringLiteral("The connection to the server was lost during the write. The server was asked "
                                  "again: the change was saved.");
}

NamedValues GridWrites::named(const RowValues &row) const
{
    NamedValues out;
    for (size_t i = 0; i < row.size() && i < m_names.size(); ++i)
        out.emplace(m_names[i], row[i]);
    return out;
}

NamedValues GridWrites::named(const CellChanges &changes) const
{
    NamedValues out;
    for (const auto &[column, value] : changes)
        if (size_t(column) < m_names.size())
            out.emplace(m_names[size_t(column)], value);
    return out;
}

// Runs in the writer's thread, on its connection: a refusal for a foreign key
// is told with the rows that made it.
void GridWrites::explain(Failure &failure, const NamedValues &before, const NamedValues &after)
{
    if (failure.isConflict()) {
        failure.setExplanation(QStringLiteral("Another change to the same row won over this one (made at the same "
                                              "time on this server, or on another server of its cluster), so "
                                              "nothing of this change was written."));
        return;
    }
    if (failure.isNodeNotReady()) {
        failure.setExplanation(QStringLiteral("This server is not part of its cluster just now and took nothing, so "
                                              "nothing of this change was written. The next try signs in again, "
                                              "to another server of the list if there is one."));
        return;
    }
    if (m_writer && ForeignKeys::isRefusal(failure.number()))
        failure.setExplanation(
            ForeignKeys::explainRefusal(*m_connection, m_writer->table(), failure.number(), before, after));
}

// A write the server would refuse for lack of rights is not sent: the
// columns the user's grants leave out are named instead.
std::optional<Failure> GridWrites::refusal(const CellChanges &changes, bool insert) const
{
    if (!m_rows)
        return std::nullopt;
    QStringList denied;
    for (const auto &[column, value] : changes) {
        if (column < 0 || column >= m_rows->fieldCount())
            continue;
        const FieldInfo &field = m_rows->field(column);
        if (!(insert ? field.mayInsert : field.mayUpdate))
            denied << QLatin1Char('`') + QString::fromUtf8(field.orgName) + QLatin1Char('`');
    }
    if (denied.isEmpty())
        return std::nullopt;
    return Failure(QStringLiteral("Nothing was written: the server does not let your user %1 %2 of the table `%3`.")
                       .arg(insert ? QStringLiteral("put values into") : QStringLiteral("change"),
                           (denied.size() == 1 ? QStringLiteral("the column ") : QStringLiteral("the columns "))
                               + denied.join(QStringLiteral(", ")),
                           QString::fromUtf8(m_rows->field(0).orgTable)));
}

WriteResult GridWrites::update(const RowValues &original, const CellChanges &changes)
{
    if (const std::optional<Failure> refused = refusal(changes, false))
        throw *refused;
    const WriteResult result = run([&](RowWriter &w) {
        try {
            return w.update(original, changes);
        } catch (Failure &e) {
            explain(e, named(original), named(changes));
            throw;
        }
    });
    noteLoss(result);
    noteWarnings(result, changes, false);
    return result;
}

BatchResult GridWrites::removeAll(const std::vector<RowValues> &rows)
{
    const BatchResult result = run([&](RowWriter &w) {
        BatchResult r = w.removeAll(rows);
        if (r.failure && r.results.size() < rows.size())
            explain(*r.failure, named(rows[r.results.size()]), {});
        return r;
    });
    for (const WriteResult &r : result.results)
        noteLoss(r);
    return result;
}

BatchResult GridWrites::updateAll(const std::vector<std::pair<RowValues, CellChanges>> &rows)
{
    for (const auto &[original, changes] : rows) {
        if (std::optional<Failure> refused = refusal(changes, false)) {
            BatchResult r;
            r.failure = std::move(refused);
            return r;
        }
    }
    const BatchResult result = run([&](RowWriter &w) {
        BatchResult r = w.updateAll(rows);
        if (r.failure && r.results.size() < rows.size()) {
            const auto &[original, changes] = rows[r.results.size()];
            explain(*r.failure, named(original), named(changes));
        }
        return r;
    });
    for (size_t i = 0; i < result.results.size(); ++i) {
        noteLoss(result.results[i]);
        noteWarnings(result.results[i], rows[i].second, false);
    }
    return result;
}

WriteResult GridWrites::insert(const CellChanges &changes)
{
    if (const std::optional<Failure> refused = refusal(changes, true))
        throw *refused;
    const WriteResult result = run([&](RowWriter &w) {
        try {
            return w.insert(changes);
        } catch (Failure &e) {
            explain(e, {}, named(changes));
            throw;
        }
    });
    noteLoss(result);
    noteWarnings(result, changes, true);
    return result;
}

// A server that is not strict stores what it can of a value it cannot take
// (cut, rounded, clipped to the column's range) and only warns.
void GridWrites::noteWarnings(const WriteResult &result, const CellChanges &typed, bool added)
{
    if (result.warnings.empty())
        return;
    const auto shown = [](const CellValue &v) {
        if (v.isNull)
            return QStringLiteral("NULL");
        QString text = QString::fromUtf8(v.text);
        if (text.size() > 40)
            text = text.left(40) + QChar(0x2026);
        return QLatin1Char('"') + text + QLatin1Char('"');
    };
    QStringList changed;
    if (result.warnedRow) {
        for (const auto &[column, value] : typed) {
            const CellValue &stored = result.warnedRow->at(size_t(column));
            if (!(stored == value))
                changed << QStringLiteral("%1: %2 was saved as %3")
                               .arg(m_rows->fields().at(size_t(column)).name, shown(value), shown(stored));
        }
    }
    QString text = added ? QStringLiteral("The row was added") : QStringLiteral("The change was saved");
    text += changed.isEmpty()
        ? QStringLiteral(", but the server warned about the values typed.")
        : QStringLiteral(", but the server did not store everything as typed:\n\n") + changed.join(QLatin1Char('\n'));
    QStringList said;
    for (const ServerWarning &w : result.warnings)
        said << QStringLiteral("%1 (warning %2)").arg(w.message).arg(w.code);
    addNotice(text + QStringLiteral("\n\nThe server said:\n\n") + said.join(QLatin1Char('\n')));
}

WriteResult GridWrites::remove(const RowValues &original)
{
    const WriteResult result = run([&](RowWriter &w) {
        try {
            return w.remove(original);
        } catch (Failure &e) {
            explain(e, named(original), {});
            throw;
        }
    });
    noteLoss(result);
    return result;
}
