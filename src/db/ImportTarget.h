#pragma once

#include <QByteArray>
#include <QList>

#include <vector>

class Connection;

// One column of a table that rows are imported into, as
// information_schema.COLUMNS describes it.
struct TargetColumn
{
    QByteArray name;
    QByteArray dataType;   // lower case: "int", "varchar", "enum", ...
    QByteArray columnType; // "decimal(10,2) unsigned", "enum('a','b')", ...
    QByteArray charset;    // empty for other than text
    qint64 maxChars = -1;  // characters of text, bytes of binary strings
    int precision = -1;    // digits of DECIMAL
    int scale = -1;        // DECIMAL's decimals
    bool isUnsigned = false;
    bool nullable = false;
    bool hasDefault = false; // a default, NULL included, or AUTO_INCREMENT
    bool autoIncrement = false;
    bool generated = false;    // virtual or stored: takes no value
    QList<QByteArray> members; // of ENUM and SET

    // Values that are bytes (binary strings, BIT, GEOMETRY): the exports
    // write them as "0x" and hex.
    bool isBytes() const;
};

// The table an import writes to: its columns in order, the key that
// matches rows for an update (its primary key, else a unique key of NOT NULL
// columns; empty when it has neither), and whether it has transactions.
struct ImportTarget
{
    QByteArray table;
    std::vector<TargetColumn> columns;
    std::vector<int> key; // indexes into columns
    bool transactional = false;

    // Reads it from the server. Throws Failure.
    static ImportTarget read(Connection &connection, const QByteArray &table);
};
