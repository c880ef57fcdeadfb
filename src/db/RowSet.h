#pragma once

#include "db/RowStore.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class Connection;
class TableLoader;

// What the server says of one column of a result.
struct FieldInfo
{
    QString name;       // as the result names it
    QByteArray orgName; // the table's own column name
    QByteArray table;
    QByteArray orgTable;
    int type = 0;       // enum_field_types
    unsigned flags = 0; // NOT_NULL_FLAG, PRI_KEY_FLAG, BINARY_FLAG, ...
    unsigned charset = 0; // of the result: the session's, not the column's
    // The column's collation as its table defines it, when the reader asked
    // (the result's charset number does not tell it); else empty.
    QByteArray collation;
    unsigned long length = 0;
    unsigned decimals = 0;
    // The server describes the column as JSON (MariaDB's JSON is LONGTEXT
    // with a json_valid check; its extended metadata says "json").
    bool isJson = false;
    // The server lets the session's user put values into the column in new
    // rows / change them in rows that exist (true when the reader did not ask).
    bool mayInsert = true;
    bool mayUpdate = true;

    bool isBinary() const { return charset == 63; }
    // Values that are bytes, never text, whatever they hold: binary
    // strings (BINARY, VARBINARY, BLOB), BIT and GEOMETRY. Numbers and dates,
    // which some servers also describe with the binary charset, are not.
    bool isBytes() const;
    // GEOMETRY (and its subtypes): the server's internal form of a shape.
    bool isGeometry() const;
    bool isNullable() const;
    // Begins a unique or non-unique index other than the primary key.
    bool startsIndex() const;
    bool isPrimaryKey() const;
    bool isFloating() const;
    // Numbers of every kind (shown right-aligned).
    bool isNumeric() const;
};

// The rows of one query, read to the client: field descriptions, a row
// count, a cursor (MoveNext, the current row's values) and random access to
// any cell in constant time. Cells are the server's text form, untouched.
class RowSet
{
public:
    RowSet();
    ~RowSet();
    RowSet(const RowSet &) = delete;
    RowSet &operator=(const RowSet &) = delete;

    // Runs `source` on `connection` and reads all its rows to the client.
    void open(const QString &source, Connection &connection);
    // Like open(), but the rows are read in the background on a connection
    // of their own, opened with `connection`'s sign-in values. Runs the event
    // loop until the statement has been accepted (fields() known); the rows
    // then arrive while it runs on (see loader()). `waiting` is called every
    // 100 ms of that wait with the time so far and returns false to give up;
    // the row set then stays closed (state() 0), as it does when the load is
    // stopped meanwhile (stopLoading()). With `table`, a table too
    // large for the memory free is refused before reading. Throws Failure.
    // With `first` (a unique key's column names and values; see
    // TableLoader::startAt) and `source` the table's whole `SELECT *`, the
    // rows from that row on may come first and those before it later, in
    // front.
    void openInBackground(const QString &source, Connection &connection,
        const std::function<bool(qint64 ms)> &waiting = {}, const QString &table = QString(),
        const std::vector<std::pair<QByteArray, QByteArray>> &first = {});
    // Reads the result of the statement just run on `connection`.
    void readResult(Connection &connection, const QString &source);
    // Runs the query again on the same connection (in the background when it
    // was opened so, waiting as openInBackground() does: `waiting` may give
    // the wait up, which leaves the row set closed).
    void requery(const std::function<bool(qint64 ms)> &waiting = {});
    void close();

    // The background reader while rows may still arrive; null for a row set
    // read at once. Its signals tell of new rows and of the end.
    TableLoader *loader() const { return m_loader.get(); }
    bool isLoading() const;
    // Stops a background read; the rows read so far stay.
    void stopLoading();

    int state() const { return m_open ? 1 : 0; }
    const QString &source() const { return m_source; }
    Connection *activeConnection() const { return m_connection; }

    qint64 recordCount() const { return m_rows.rowCount(); }
    int fieldCount() const { return int(m_fields.size()); }
    const FieldInfo &field(int index) const { return m_fields.at(size_t(index)); }
    const std::vector<FieldInfo> &fields() const { return m_fields; }

    // Cursor over the rows, from the first.
    bool eof() const { return m_current >= recordCount(); }
    void moveNext();
    // The value of a field of the current row as text (null QVariant for NULL).
    QVariant value(int index) const;

    const RowStore &rows() const { return m_rows; }
    RowStore &rows() { return m_rows; }

    // Replaces the rows and fields (used by a loader that read them elsewhere).
    void adopt(std::vector<FieldInfo> fields, RowStore rows);

private:
    Connection *m_connection = nullptr;
    QString m_source;
    std::vector<FieldInfo> m_fields;
    RowStore m_rows;
    qint64 m_current = 0;
    bool m_open = false;
    bool m_background = false;
    QString m_table;
    std::unique_ptr<TableLoader> m_loader;
};

// Field descriptions of the current result of `mysql_result` (a MYSQL_RES*).
std::vector<FieldInfo> fieldInfos(void *mysqlResult);

// Whether a result with these fields came in utf8mb4, as far as they tell:
// each text field names the character set its values were sent in (the
// session's character_set_results, or the column's own when the session
// converts nothing); numbers and dates read alike in every set. A result
// whose fields name none tells nothing about its strings, but names in ASCII
// read alike everywhere. False whenever in doubt.
bool resultSpeaksUtf8mb4(const std::vector<FieldInfo> &fields);
