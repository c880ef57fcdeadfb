#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// One field of a file being imported, as UTF-8. `quoted` tells an empty
// field written as "" (an empty text) from one with nothing in it (the
// exports' NULL).
struct ImportField
{
    QByteArrayView text;
    bool quoted = false;
};

// One record of a file being imported. The fields' texts point into the
// reader's input or into `owned`; valid until the reader's next call.
struct ImportRecord
{
    std::vector<ImportField> fields;
    // Texts a reader had to build (quotes undoubled, strings decoded), one
    // per field position, reused from record to record.
    std::vector<QByteArray> owned;
    // Where the record starts: the file's line (1 = first), or the sheet's
    // row number.
    qint64 line = 0;

    QByteArray &ownedAt(size_t index)
    {
        if (owned.size() <= index)
            owned.resize(index + 1);
        return owned[index];
    }
};

// Reads records from a file, from its first, after the header row when
// there is one. Not thread-safe; one thread reads.
class ImportReader
{
public:
    virtual ~ImportReader() = default;
    // The next record; false at the end. Throws Failure on malformed input,
    // naming the line.
    virtual bool next(ImportRecord &record) = 0;
    // How far the reading has come, in units of total() (bytes or rows).
    virtual qint64 done() const = 0;
    virtual qint64 total() const = 0;
};
