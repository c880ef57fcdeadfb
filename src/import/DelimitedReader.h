#pragma once

#include "import/DelimitedFormat.h"
#include "import/ImportRecord.h"

#include <QFile>
#include <QString>

#include <memory>

// Reads a delimited text file (CSV as RFC 4180 has it and as our export
// writes it, other separators and quotes, our tab-terminated text export)
// as UTF-8 records. The file is mapped, not read, when it is UTF-8; other
// encodings are converted whole first. Line breaks may be CR LF, LF or CR;
// blank lines are skipped, but where the header names one column.
class DelimitedReader : public ImportReader
{
public:
    // Opens `path`; throws Failure when it cannot be read. Reads the header
    // row at once when the format has one.
    DelimitedReader(const QString &path, const DelimitedFormat &format);
    // Reads `text`, already UTF-8 (tests, the fuzzer).
    DelimitedReader(QByteArray text, const DelimitedFormat &format);
    ~DelimitedReader() override;

    // The header row's fields; empty without one.
    const QList<QByteArray> &header() const { return m_header; }

    bool next(ImportRecord &record) override;
    qint64 done() const override { return m_pos - m_begin; }
    qint64 total() const override { return m_end - m_begin; }

    // The bytes of `data` as UTF-8 text: a byte-order mark dropped, UTF-16
    // and Latin-1 converted.
    static QByteArray toUtf8(QByteArrayView data, DelimitedFormat::Encoding encoding);

private:
    void start();
    bool nextDelimited(ImportRecord &record);
    bool nextTabTerminated(ImportRecord &record);
    // Reads one quoted field from m_pos (at the opening quote).
    ImportField quotedField(ImportRecord &record, size_t index);
    bool endOfLine();
    void countLines(const char *from, const char *to);
    [[noreturn]] void malformed(const QString &what, qint64 line) const;

    DelimitedFormat m_format;
    std::unique_ptr<QFile> m_file;
    QByteArray m_text; // the converted text, when not mapped
    const char *m_begin = nullptr;
    const char *m_pos = nullptr;
    const char *m_end = nullptr;
    qint64 m_line = 1;
    // Fields of a tab-terminated record; of the header of another.
    int m_columns = 0;
    QList<QByteArray> m_header;
};
