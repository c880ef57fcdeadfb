#include "db/ImportTarget.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/Identifier.h"
#include "db/RowSet.h"

#include <map>

namespace {

QList<QByteArray> membersOf(const QByteArray &columnType)
{
    // enum('a','it''s') as the server writes it: quotes doubled inside.
    QList<QByteArray> out;
    const qsizetype open = columnType.indexOf('(');
    QByteArray member;
    bool inside = false;
    for (qsizetype i = open + 1; open >= 0 && i < columnType.size(); ++i) {
        const char c = columnType[i];
        if (!inside) {
            if (c == '\'') {
                inside = true;
                member.clear();
            }
        } else if (c == '\'' && i + 1 < columnType.size() && columnType[i + 1] == '\'') {
            member += '\'';
            ++i;
        } else if (c == '\'') {
            inside = false;
            out << member;
        } else {
            member += c;
        }
    }
    return out;
}

int intOr(const QVariant &v, int otherwise)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok && !v.isNull() ? n : otherwise;
}

} // namespace

bool TargetColumn::isBytes() const
{
    static const QList<QByteArray> bytes
        = {"binary", "varbinary", "tinyblob", "blob", "mediumblob", "longblob", "bit", "geometry", "point",
            "linestring", "polygon", "multipoint", "multilinestring", "multipolygon", "geometrycollection"};
    return bytes.contains(dataType);
}

ImportTarget ImportTarget::read(Connection &connection, const QByteArray &table)
{
    ImportTarget target;
    target.table = table;
    const QByteArray where = " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + connection.quote(table);
    const std::unique_ptr<RowSet> columns = connection.select(
        "SELECT COLUMN_NAME, LOWER(DATA_TYPE), COLUMN_TYPE, CHARACTER_SET_NAME, CHARACTER_MAXIMUM_LENGTH, "
        "NUMERIC_PRECISION, NUMERIC_SCALE, IS_NULLABLE, COLUMN_DEFAULT IS NOT NULL, EXTRA "
        "FROM information_schema.COLUMNS"
        + where + " ORDER BY ORDINAL_POSITION");
    for (; !columns->eof(); columns->moveNext()) {
        TargetColumn c;
        c.name = columns->value(0).toByteArray();
        c.dataType = columns->value(1).toByteArray();
        c.columnType = columns->value(2).toByteArray();
        c.charset = columns->value(3).toByteArray();
        c.maxChars = columns->value(4).isNull() ? -1 : columns->value(4).toLongLong();
        c.precision = intOr(columns->value(5), -1);
        c.scale = intOr(columns->value(6), -1);
        c.isUnsigned = c.columnType.contains(" unsigned");
        c.nullable = columns->value(7).toByteArray() == "YES";
        const QByteArray extra = columns->value(9).toByteArray().toLower();
        c.autoIncrement = extra.contains("auto_increment");
        c.generated = extra.contains("generated") || extra.contains("virtual") || extra.contains("persistent");
        c.hasDefault = columns->value(8).toInt() == 1 || c.nullable || c.autoIncrement;
        if (c.dataType == "enum" || c.dataType == "set")
            c.members = membersOf(c.columnType);
        target.columns.push_back(std::move(c));
    }
    if (target.columns.empty())
        throw Failure(
            QStringLiteral("The table %1 was not found.").arg(QString::fromUtf8(table)), Failure::NoSuchTable);

    // The primary key, else the first unique key of NOT NULL columns.
    const std::unique_ptr<RowSet> keys = connection.select("SHOW KEYS FROM " + quoteIdentifier(table));
    std::map<QByteArray, std::vector<QByteArray>> unique;
    std::map<QByteArray, bool> usable;
    QList<QByteArray> order;
    for (; !keys->eof(); keys->moveNext()) {
        if (keys->value(1).toInt() != 0)
            continue; // Non_unique
        const QByteArray name = keys->value(2).toByteArray();
        if (!unique.count(name)) {
            order << name;
            usable[name] = true;
        }
        unique[name].push_back(keys->value(4).toByteArray());
        usable[name] = usable[name] && keys->value(9).toByteArray() != "YES";
    }
    QByteArray chosen = unique.count("PRIMARY") ? QByteArray("PRIMARY") : QByteArray();
    for (const QByteArray &name : order) {
        if (chosen.isEmpty() && usable[name])
            chosen = name;
    }
    for (const QByteArray &name : chosen.isEmpty() ? std::vector<QByteArray>() : unique[chosen]) {
        for (size_t i = 0; i < target.columns.size(); ++i) {
            if (target.columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
                target.key.push_back(int(i));
        }
    }

    const std::unique_ptr<RowSet> engine
        = connection.select("SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e "
                            "ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = "
            + connection.quote(table));
    target.transactional = engine->recordCount() == 1 && engine->value(0).toByteArray() == "YES";
    return target;
}
