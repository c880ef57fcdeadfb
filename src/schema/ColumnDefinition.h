#pragma once

#include <QString>

#include <array>

// One column as the user describes it in the Add Column dialog: the values of
// its eight controls at the moment "Add" is pressed. Texts are kept exactly as
// typed; nothing is trimmed, checked or escaped.
struct ColumnDefinition
{
    QString name;
    QString dataType = QStringLiteral("TINYINT");
    QString m;            // length, display width or precision
    QString d;            // decimals; counts only with a filled m
    QString defaultValue; // used only when altering an open table
    bool isUnsigned = false;
    bool isZeroFill = false;
    bool isAutoIncrement = false;
};

// The data types offered, in list order; index 0 is the one selected when the
// dialog opens.
inline constexpr std::array<const char *, 25> DataTypeKeywords = {
    "TINYINT", "SMALLINT", "MEDIUMINT", "INT", "BIGINT", "FLOAT", "DOUBLE", "DECIMAL", "DATE",
    "DATETIME", "TIMESTAMP", "TIME", "YEAR", "CHAR", "VARCHAR", "BINARY", "VARBINARY", "TINYBLOB",
    "TINYTEXT", "BLOB", "TEXT", "MEDIUMBLOB", "MEDIUMTEXT", "LONGBLOB", "LONGTEXT"};

inline constexpr char UnsignedWord[] = "UNSIGNED";
inline constexpr char ZeroFillWord[] = "ZEROFILL";
inline constexpr char AutoIncrementWords[] = "NOT NULL AUTO_INCREMENT PRIMARY KEY";

// A value is filled when something other than U+0020 spaces is left after
// removing them from both ends. Tabs and other white space count as text.
// This is only a test: filled values are always inserted as typed.
bool isFilled(const QString &value);

// "(M)" or "(M, D)"; empty when M is not filled. D without a filled M is
// ignored.
QString SizePart(const QString &m, const QString &d);

// The column part of ALTER TABLE ... ADD: the name quoted (quoteIdentifier), a space, the type,
// then " " + SizePart when M is filled, then " UNSIGNED ", " ZEROFILL " and
// " NOT NULL AUTO_INCREMENT PRIMARY KEY " for the ticked attributes, in that
// order. The default value is not part of it.
QString ColumnClause(const ColumnDefinition &column);

// One row of the New Table dialog's field list: eight cells, the first being
// the row's own text. Cells 7 and 8 are never set; the default value is not
// carried.
struct FieldRow
{
    static constexpr int CellCount = 8;
    std::array<QString, CellCount> cells;

    // Name, type, SizePart, "UNSIGNED", "ZEROFILL", the auto-increment words,
    // each cell set only when its value is filled or ticked.
    static FieldRow from(const ColumnDefinition &column);
};

// The field's text inside CREATE TABLE: cell 1 quoted (quoteIdentifier), " ", cells 2 to 8
// joined by single spaces, empty cells included, then ",".
QString FieldText(const FieldRow &row);
