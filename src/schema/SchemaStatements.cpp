#include "schema/SchemaStatements.h"

#include "db/Identifier.h"

QString AddColumnStatement(const QString &table, const ColumnDefinition &column, ColumnPosition position,
                           const QString &afterColumn)
{
    QString sql = QStringLiteral("ALTER TABLE ") + quoteIdentifier(table) + QStringLiteral(" ADD ") + ColumnClause(column);
    const QString keyword = QLatin1String(PositionKeywords[size_t(position)]);
    switch (position) {
    case ColumnPosition::Last:
        break;
    case ColumnPosition::First:
        sql += QLatin1Char(' ') + keyword;
        break;
    case ColumnPosition::After:
        sql += QLatin1Char(' ') + keyword + QLatin1Char(' ') + quoteIdentifier(afterColumn);
        break;
    }
    return sql;
}

QString SetDefaultStatement(const QString &table, const QString &name, const QString &value)
{
    return QStringLiteral("ALTER TABLE ") + quoteIdentifier(table) + QStringLiteral(" ALTER ") + quoteIdentifier(name)
        + QStringLiteral(" SET DEFAULT ")
        + value;
}

QString SelectAllRowsQuery(const QString &table)
{
    return QStringLiteral("SELECT * FROM ") + quoteIdentifier(table) + QLatin1Char(';');
}

QString CreateTableStatement(const QString &name, const std::vector<FieldRow> &rows)
{
    QString sql = QStringLiteral("CREATE TABLE ") + quoteIdentifier(name) + QLatin1Char('(');
    for (const FieldRow &row : rows)
        sql += FieldText(row);
    if (sql.endsWith(QLatin1Char(',')))
        sql.chop(1);
    return sql + QLatin1Char(')');
}
