#pragma once

#include "db/RowStatements.h"

#include <QByteArray>

// A table column's type, as information_schema.COLUMNS gives it.
struct ColumnType
{
    QByteArray dataType;   // DATA_TYPE, lower case: "varchar", "int", ...
    QByteArray columnType; // COLUMN_TYPE: "int(10) unsigned zerofill", ...
    QByteArray charset;    // CHARACTER_SET_NAME; empty for other than text
    qint64 maxChars = -1;  // CHARACTER_MAXIMUM_LENGTH (bytes for binary strings)
    qint64 maxBytes = -1;  // CHARACTER_OCTET_LENGTH
    bool nullable = false;
    bool autoIncrement = false;
};

// Whether writing `value` into such a column stores it unchanged, so that it
// reads back as the very bytes written. Only then does finding a row without
// those bytes prove the write was not applied. False whenever the server may
// convert it: numbers other than plain integers in range, dates, ENUM and
// SET, CHAR and BINARY (padded), text too long or outside the column's
// character set, '' where the session stores it as NULL.
bool storesUnchanged(const ColumnType &column, const CellValue &value, bool emptyIsNull);
