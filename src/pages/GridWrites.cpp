#include "pages/GridWrites.h"

#include "db/Connection.h"
#include "db/Failure.h"
#include "db/RowSet.h"

#include <QScopeGuard>

#include <optional>

GridWrites::GridWrites() = default;

GridWrites::~GridWrites() = default;

void GridWrites::reset(RowSet *rows, Connection *connection)
{
    m_rows = rows;
    m_connection = connection;
    m_writer.reset();
    m_connectionLost = false;
    m_notice.clear();
}

void GridWrites::addNotice(const QString &text)
{
    m_notice += (m_notice.isEmpty() ? QString() : QStringLiteral("\n\n")) + text;
}

template <class F> WriteResult GridWrites::run(F &&f)
{
    if (m_running) // only a caller that ignored the held input gets here
        throw Failure(QStringLiteral("The last change is still being saved. Wait for the server."));
    m_running = true;
    const auto ended = qScopeGuard([this] { m_running = false; });
    m_notice.clear();
    // Read here, in the rows' own thread.
    std::vector<FieldInfo> fields;
    if (!m_writer)
        fields = m_rows->fields();
    std::optional<WriteResult> result;
    const auto work = [&] {
        if (m_connectionLost) {
            const ConnectParams params = m_connection->params();
            m_connection->open(params);
            m_connectionLost = false;
        }
        try {
            if (!m_writer) {
                const QByteArray table = fields.front().orgTable;
                m_writer = std::make_unique<RowWriter>(*m_connection, table, std::move(fields));
            }
            result = f(*m_writer);
            m_connectionLost = !m_connection->isOpen();
        } catch (const Failure &e) {
            if (e.isConnectionLost() || !m_connection->isOpen())
                m_connectionLost = true;
            throw;
        }
    };
    if (m_runner)
        m_runner(work);
    else
        work();
    if (result->checkedAfterLoss && result->status == WriteResult::Status::Done)
        m_notice = QStringLiteral("The connection to the server was lost during the write. The server was asked "
                                  "again: the change was saved.");
    return *result;
}

WriteResult GridWrites::update(const RowValues &original, const CellChanges &changes)
{
    return run([&](RowWriter &w) { return w.update(original, changes); });
}

WriteResult GridWrites::insert(const CellChanges &changes)
{
    return run([&](RowWriter &w) { return w.insert(changes); });
}

WriteResult GridWrites::remove(const RowValues &original)
{
    return run([&](RowWriter &w) { return w.remove(original); });
}
