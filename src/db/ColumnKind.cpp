#include "db/ColumnKind.h"

#include "db/RowSet.h"

#include <mysql.h>

namespace {

ColumnKind::Kind kindOfType(const FieldInfo &field)
{
    const bool isUnsigned = field.flags & UNSIGNED_FLAG;
    switch (field.type) {
    case MYSQL_TYPE_TINY: case MYSQL_TYPE_SHORT: case MYSQL_TYPE_LONG: case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG:
        return isUnsigned ? ColumnKind::Unsigned : ColumnKind::Signed;
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_DATE: case MYSQL_TYPE_NEWDATE: case MYSQL_TYPE_DATETIME: case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME2: case MYSQL_TYPE_TIMESTAMP2:
        return ColumnKind::Temporal;
    case MYSQL_TYPE_TIME: case MYSQL_TYPE_TIME2:
        return ColumnKind::Time;
    case MYSQL_TYPE_DECIMAL: case MYSQL_TYPE_NEWDECIMAL:
        return ColumnKind::Decimal;
    case MYSQL_TYPE_FLOAT: case MYSQL_TYPE_DOUBLE:
        return ColumnKind::Floating;
    case MYSQL_TYPE_BIT: case MYSQL_TYPE_GEOMETRY:
        return ColumnKind::Bytes;
    default:
        return field.isBinary() ? ColumnKind::Bytes : ColumnKind::Text;
    }
}

} // namespace

ColumnKind columnKind(const FieldInfo &field)
{
    ColumnKind out;
    out.kind = kindOfType(field);
    if (out.kind != ColumnKind::Text)
        return out;
    // The table's own collation when the reader asked for it; else the
    // result's charset number, which names the session's collation. One
    // not known is taken as case-insensitive, as nearly all defaults are.
    out.collation = field.collation;
    if (out.collation.isEmpty())
        if (const MARIADB_CHARSET_INFO *cs = mariadb_get_charset_by_nr(field.charset); cs && cs->name)
            out.collation = QByteArray(cs->name);
    out.binaryCollation = out.collation.endsWith("_bin");
    out.caseInsensitive = !out.binaryCollation && !out.collation.endsWith("_cs");
    return out;
}
