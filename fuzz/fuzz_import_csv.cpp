// The import's delimited reader. Raw input, read with a format chosen by
// its first byte, must either read or fail with a Failure; and records
// that our CSV export writes from arbitrary fields must read back as the
// same fields, NULL apart from an empty text.
#include "core/Failure.h"
#include "export/CsvField.h"
#include "import/DelimitedFormat.h"
#include "import/DelimitedReader.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

using Field = std::optional<QByteArray>; // nullopt: NULL

void readRaw(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    DelimitedFormat format;
    const uint8_t mode = data[0];
    format.separator = ",;\t|"[mode & 3];
    format.quote = (mode & 4) ? '\'' : (mode & 8) ? 0 : '"';
    format.tabTerminated = (mode & 16) != 0;
    format.header = (mode & 32) != 0;
    format.encoding = DelimitedFormat::Encoding((mode >> 6) % 3);
    const QByteArray raw(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    DelimitedFormat::detect(raw, {QStringLiteral("id")});
    try {
        DelimitedReader reader(DelimitedReader::toUtf8(raw, format.encoding), format);
        ImportRecord record;
        qint64 line = 0;
        while (reader.next(record)) {
            if (record.line <= line || record.fields.empty() || reader.done() > reader.total())
                abort();
            line = record.line;
        }
    } catch (const Failure &) { }
}

// Splits the input into fields at 0xFF bytes and records at 0xFE; a field
// that is a lone 0xFD is NULL.
void roundTrip(const uint8_t *data, size_t size)
{
    QList<QList<Field>> records{{}};
    QByteArray field;
    const auto endField = [&] {
        records.last() << (field == "\xFD" ? Field() : Field(field));
        field.clear();
    };
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) {
            endField();
        } else if (data[i] == 0xFE) {
            endField();
            records << QList<Field>();
        } else {
            field += char(data[i]);
        }
    }
    endField();
    QByteArray text;
    for (const QList<Field> &record : records) {
        for (qsizetype c = 0; c < record.size(); ++c) {
            if (c > 0)
                text += ',';
            appendCsvField(text, record[c] ? *record[c] : QByteArray(), !record[c]);
        }
        text += "\r\n";
    }
    DelimitedFormat format;
    format.header = false;
    DelimitedReader reader(text, format);
    ImportRecord got;
    for (const QList<Field> &record : records) {
        // A record of one NULL is a blank line, which the reader skips.
        if (record.size() == 1 && !record[0])
            continue;
        if (!reader.next(got) || got.fields.size() != size_t(record.size()))
            abort();
        for (qsizetype c = 0; c < record.size(); ++c) {
            const ImportField &f = got.fields[size_t(c)];
            const bool isNull = f.text.isEmpty() && !f.quoted;
            if (isNull != !record[c] || (record[c] && f.text != *record[c]))
                abort();
        }
    }
    if (reader.next(got))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    readRaw(data, size);
    roundTrip(data, size);
    return 0;
}
