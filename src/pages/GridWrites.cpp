#include "pages/GridWrites.h"

#include "db/Connection.h"
#include "db/Failure.h"
#include "db/RowSet.h"

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

RowWriter &GridWrites::writer()
{
    if (!m_writer) {
        std::vector<FieldInfo> fields = m_rows->fields();
        m_writer = std::make_unique<RowWriter>(*m_connection, fields.front().orgTable, std::move(fields));
    }
    return *m_writer;
}

template <class F> WriteResult GridWrites::run(F &&f)
{
    m_notice.clear();
    if (m_connectionLost) {
        const ConnectParams params = m_connection->params();
        m_connection->open(params);
        m_connectionLost = false;
    }
    try {
        WriteResult result = f();
        m_connectionLost = !m_connection->isOpen();
        if (result.checkedAfterLoss && result.status == WriteResult::Status::Done)
            m_notice = QStringLiteral("The connection to the server was lost during the write. The server was asked "
                                      "again: the change was saved.");
        return result;
    } catch (const Failure &e) {
        if (e.isConnectionLost() || !m_connection->isOpen())
            m_connectionLost = true;
        throw;
    }
}

WriteResult GridWrites::update(const RowValues &original, const CellChanges &changes)
{
    return run([&] { return writer().update(original, changes); });
}

WriteResult GridWrites::insert(const CellChanges &changes)
{
    return run([&] { return writer().insert(changes); });
}

WriteResult GridWrites::remove(const RowValues &original)
{
    return run([&] { return writer().remove(original); });
}
