#include "schema/ColumnDefinition.h"

#include "db/Identifier.h"

bool isFilled(const QString &value)
{
    for (const QChar c : value) {
        if (c != QLatin1Char(' '))
            return true;
    }
    return false;
}

QString SizePart(const QString &m, const QString &d)
{
    if (!isFilled(m))
        return QString();
    if (!isFilled(d))
        return QLatin1Char('(') + m + QLatin1Char(')');
    return QLatin1Char('(') + m + QStringLiteral(", ") + d + QLatin1Char(')');
}

QString ColumnClause(const ColumnDefinition &column)
{
    QString clause = quoteIdentifier(column.name) + QLatin1Char(' ') + column.dataType;
    if (isFilled(column.m))
        clause += QLatin1Char(' ') + SizePart(column.m, column.d);
    const auto attribute = [&clause](const char *words) {
        clause += QLatin1Char(' ') + QLatin1String(words) + QLatin1Char(' ');
    };
    if (column.isUnsigned)
        attribute(UnsignedWord);
    if (column.isZeroFill)
        attribute(ZeroFillWord);
    if (column.isAutoIncrement)
        attribute(AutoIncrementWords);
    return clause;
}

FieldRow FieldRow::from(const ColumnDefinition &column)
{
    FieldRow row;
    row.cells[0] = column.name;
    row.cells[1] = column.dataType;
    if (isFilled(column.m))
        row.cells[2] = SizePart(column.m, column.d);
    if (column.isUnsigned)
        row.cells[3] = QLatin1String(UnsignedWord);
    if (column.isZeroFill)
        row.cells[4] = QLatin1String(ZeroFillWord);
    if (column.isAutoIncrement)
        row.cells[5] = QLatin1String(AutoIncrementWords);
    return row;
}

QString FieldText(const FieldRow &row)
{
    QString text = quoteIdentifier(row.cells[0]) + QLatin1Char(' ') + row.cells[1];
    for (int i = 2; i < FieldRow::CellCount; ++i)
        text += QLatin1Char(' ') + row.cells[size_t(i)];
    return text + QLatin1Char(',');
}
