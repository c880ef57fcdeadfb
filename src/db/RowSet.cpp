#include "db/RowSet.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/TableLoader.h"

#include <mysql.h>

#include <algorithm>

bool FieldInfo::isNullable() const
{
    return !(flags & NOT_NULL_FLAG);
}

bool FieldInfo::startsIndex() const
{
    return flags & (UNIQUE_KEY_FLAG | MULTIPLE_KEY_FLAG);
}

bool FieldInfo::isPrimaryKey() const
{
    return flags & PRI_KEY_FLAG;
}

bool FieldInfo::isNumeric() const
{
    switch (type) {
    case MYSQL_TYPE_TINY: case MYSQL_TYPE_SHORT: case MYSQL_TYPE_LONG: case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG: case MYSQL_TYPE_FLOAT: case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_DECIMAL: case MYSQL_TYPE_NEWDECIMAL:
        return true;
    default:
        return false;
    }
}

bool FieldInfo::isBytes() const
{
    switch (type) {
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_GEOMETRY:
        return true;
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
        return isBinary();
    default:
        return false; // numbers, dates, JSON (which MySQL labels binary too)
    }
}

bool FieldInfo::isGeometry() const
{
    return type == MYSQL_TYPE_GEOMETRY;
}

bool FieldInfo::isFloating() const
{
    return type == MYSQL_TYPE_FLOAT || type == MYSQL_TYPE_DOUBLE;
}

std::vector<FieldInfo> fieldInfos(void *mysqlResult)
{
    auto *res = static_cast<MYSQL_RES *>(mysqlResult);
    std::vector<FieldInfo> out;
    const unsigned n = mysql_num_fields(res);
    const MYSQL_FIELD *f = mysql_fetch_fields(res);
    out.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        FieldInfo info;
        info.name = QString::fromUtf8(f[i].name, int(f[i].name_length));
        info.orgName = QByteArray(f[i].org_name, int(f[i].org_name_length));
        info.table = QByteArray(f[i].table, int(f[i].table_length));
        info.orgTable = QByteArray(f[i].org_table, int(f[i].org_table_length));
        info.type = int(f[i].type);
        info.flags = f[i].flags;
        info.charset = f[i].charsetnr;
        info.length = f[i].length;
        info.decimals = f[i].decimals;
        MARIADB_CONST_STRING format{nullptr, 0};
        info.isJson = f[i].type == MYSQL_TYPE_JSON
            || (mariadb_field_attr(&format, &f[i], MARIADB_FIELD_ATTR_FORMAT_NAME) == 0
                && QByteArray(format.str, qsizetype(format.length)) == "json");
        out.push_back(std::move(info));
    }
    return out;
}

namespace {

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

bool carriesStrings(const FieldInfo &f)
{
    switch (f.type) {
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
    case MYSQL_TYPE_JSON:
        return true;
    default:
        return false;
    }
}

} // namespace

bool resultSpeaksUtf8mb4(const std::vector<FieldInfo> &fields)
{
    bool told = false;
    bool byteStrings = false;
    for (const FieldInfo &f : fields) {
        if (f.isBinary()) {
            byteStrings = byteStrings || carriesStrings(f);
            continue;
        }
        const MARIADB_CHARSET_INFO *set = mariadb_get_charset_by_nr(f.charset);
        if (!set || qstrcmp(set->csname, "utf8mb4") != 0)
            return false;
        told = true;
    }
    if (told)
        return true;
    // A session that sends every value as it is stored marks its strings as
    // bytes too (character_set_results = binary).
    if (byteStrings)
        return false;
    return std::all_of(fields.begin(), fields.end(), [](const FieldInfo &f) {
        return isAscii(f.name.toUtf8()) && isAscii(f.orgName) && isAscii(f.table) && isAscii(f.orgTable);
    });
}

RowSet::RowSet() = default;
RowSet::~RowSet() = default;

void RowSet::open(const QString &source, Connection &connection)
{
    close();
    m_background = false;
    connection.query(source.toUtf8());
    readResult(connection, source);
}

void RowSet::readResult(Connection &connection, const QString &source)
{
    MYSQL *m = connection.handle();
    MYSQL_RES *res = connection.useResult(source);
    std::vector<FieldInfo> fields = fieldInfos(res);
    RowStore rows(int(fields.size()));
    while (MYSQL_ROW row = mysql_fetch_row(res))
        rows.append(row, mysql_fetch_lengths(res));
    const bool failed = mysql_errno(m) != 0;
    const Failure failure(QString::fromUtf8(mysql_error(m)), long(mysql_errno(m)));
    mysql_free_result(res);
    if (failed)
        throw failure;
    m_connection = &connection;
    m_source = source;
    adopt(std::move(fields), std::move(rows));
}

void RowSet::openInBackground(const QString &source, Connection &connection,
    const std::function<bool(qint64 ms)> &waiting, const QString &table,
    const std::vector<std::pair<QByteArray, QByteArray>> &first)
{
    close();
    if (!connection.isOpen())
        connection.failNotOpen();
    if (!m_loader)
        m_loader = std::make_unique<TableLoader>(m_rows);
    if (first.empty() || table.isEmpty())
        m_loader->start(connection.params(), source.toUtf8(), table, connection.canRunCompound());
    else
        m_loader->startAt(connection.params(), source.toUtf8(), table, first);
    m_connection = &connection;
    m_source = source;
    m_table = table;
    m_background = true;
    // A load stopped from outside (the grid let go of the rows) would
    // otherwise be waited for without end: it posts nothing more.
    const auto stillWaiting
        = [this, &waiting](qint64 ms) { return m_loader->isLoading() && (!waiting || waiting(ms)); };
    if (!m_loader->waitForFields(stillWaiting))
        return; // given up: stays closed
    // The loader emptied the rows for these fields; some may have come since.
    m_fields = m_loader->fields();
    m_current = 0;
    m_open = true;
}

bool RowSet::isLoading() const
{
    return m_loader && m_loader->isLoading();
}

void RowSet::stopLoading()
{
    if (m_loader)
        m_loader->cancel();
}

void RowSet::adopt(std::vector<FieldInfo> fields, RowStore rows)
{
    m_fields = std::move(fields);
    m_rows = std::move(rows);
    m_current = 0;
    m_open = true;
}

void RowSet::requery(const std::function<bool(qint64 ms)> &waiting)
{
    if (!m_open || !m_connection)
        Failure::throwNotOpen();
    Connection &c = *m_connection;
    const QString source = m_source;
    if (m_background)
        openInBackground(source, c, waiting, m_table);
    else
        open(source, c);
}

void RowSet::close()
{
    stopLoading();
    m_open = false;
    m_fields.clear();
    m_rows.clear();
    m_current = 0;
}

void RowSet::moveNext()
{
    if (eof())
        throw Failure(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."),
            Failure::NoCurrentRecord);
    ++m_current;
}

QVariant RowSet::value(int index) const
{
    if (!m_open)
        Failure::throwNotOpen();
    if (eof())
        throw Failure(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."),
            Failure::NoCurrentRecord);
    if (index < 0 || index >= fieldCount())
        throw Failure(
            QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal."),
            Failure::ItemNotFound);
    const RowStore::Cell c = m_rows.cell(m_current, index);
    if (c.isNull())
        return QVariant();
    const std::string_view text = c.text();
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
