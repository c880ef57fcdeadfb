#pragma once

#include "db/ImportWriter.h"
#include "import/DelimitedFormat.h"
#include "import/ImportRecord.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

// What the user chose for one import: the file and how to read it, which
// field feeds which column, what an empty field means, and how rows go in.
struct ImportSettings
{
    enum class Kind { Delimited, Workbook };
    // An empty field (nothing between the separators, an empty cell): NULL,
    // an empty text, or NULL where the column takes it and an empty text
    // where it does not. A quoted empty field ("") is always an empty text.
    enum class Empty { Null, EmptyText, NullWhereAllowed };

    QString path;
    Kind kind = Kind::Delimited;
    DelimitedFormat text;
    int sheet = 0;
    bool sheetHeader = true;
    Empty empty = Empty::NullWhereAllowed;
    // Per column of the table, the field that feeds it (0 is the first), or
    // -1: the column is left to its default.
    std::vector<int> sources;
    ImportWriter::Mode mode = ImportWriter::Mode::Insert;
    bool skipFailing = false;

    bool hasHeader() const { return kind == Kind::Workbook ? sheetHeader : text.header; }
    // Opens the file from its first record; `header` gets the header row's
    // fields. Throws Failure.
    std::unique_ptr<ImportReader> open(QList<QByteArray> *header = nullptr) const;
    // Guesses the kind and layout of the file at `path`, for `columns`.
    static ImportSettings guess(const QString &path, const QStringList &columns);

    // Where the rows that failed go when they are skipped: beside the file.
    QString failedRowsPath() const;
};

// Which field feeds each of `target`'s columns: the field whose header
// names the column (any case), or with `byPosition` the field in the
// column's place; -1 for none, and for generated columns.
std::vector<int> mapColumns(const ImportTarget &target, const QList<QByteArray> &header, int fields, bool byPosition);
