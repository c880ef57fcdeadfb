// The CSV writer: records built from arbitrary fields read back, by an
// RFC 4180 reader written here, as the same fields; NULL stays apart from
// an empty text.
#include "export/CsvField.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

struct Text
{
    QByteArray bytes;
    void append(QByteArrayView b) { bytes.append(b); }
    void append(char c) { bytes.append(c); }
};

using Field = std::optional<QByteArray>; // nullopt: NULL

// One record up to its CR LF; `pos` moves past it.
QList<Field> readRecord(const QByteArray &in, qsizetype &pos)
{
    QList<Field> fields;
    for (;;) {
        Field field;
        if (pos < in.size() && in[pos] == '"') {
            QByteArray value;
            ++pos;
            for (;;) {
                if (pos >= in.size())
                    std::abort(); // unclosed quote
                if (in[pos] == '"') {
                    if (pos + 1 < in.size() && in[pos + 1] == '"') {
                        value += '"';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                value += in[pos++];
            }
            field = value;
        } else {
            const qsizetype start = pos;
            while (pos < in.size() && in[pos] != ',' && in[pos] != '\r') {
                if (in[pos] == '"' || in[pos] == '\n')
                    std::abort(); // must have been quoted
                ++pos;
            }
            if (pos > start)
                field = in.mid(start, pos - start);
        }
        fields << field;
        if (pos < in.size() && in[pos] == ',') {
            ++pos;
            continue;
        }
        if (pos + 1 < in.size() && in[pos] == '\r' && in[pos + 1] == '\n') {
            pos += 2;
            return fields;
        }
        std::abort(); // a field must end at a comma or CR LF
    }
}

bool isNumeric(const QByteArray &b)
{
    for (char c : b)
        if (!((c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'e' || c == '+'))
            return false;
    return !b.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Fields separated by 0xff bytes, records by 0xfe; a field that is a
    // single 0xfd byte is NULL. Every record gets the first record's count.
    QList<QList<Field>> records(1);
    QByteArray current;
    bool pendingNull = false;
    const auto endField = [&] {
        records.back() << (pendingNull && current == "\xfd" ? Field() : Field(current));
        current.clear();
        pendingNull = false;
    };
    for (size_t i = 0; i < size; ++i) {
        const char c = char(data[i]);
        if (data[i] == 0xff) {
            endField();
        } else if (data[i] == 0xfe) {
            endField();
            records << QList<Field>();
        } else {
            if (current.isEmpty() && data[i] == 0xfd)
                pendingNull = true;
            current += c;
        }
    }
    endField();

    Text out;
    for (const auto &record : records) {
        for (qsizetype f = 0; f < record.size(); ++f) {
            if (f > 0)
                out.append(',');
            const Field &field = record[f];
            const QByteArray text = field.value_or(QByteArray());
            // The block-wise test answers as a byte-wise one: quotes that are
            // not needed would change the file's bytes.
            bool special = false;
            for (const char c : text)
                special = special || c == ',' || c == '"' || c == '\r' || c == '\n';
            if (CsvField::needsQuotes(text) != special)
                std::abort();
            appendCsvField(out, text, !field, field && isNumeric(text));
        }
        out.append(QByteArrayView("\r\n"));
    }

    qsizetype pos = 0;
    for (const auto &record : records) {
        const QList<Field> back = readRecord(out.bytes, pos);
        // A record of one NULL field is an empty line, as any reader has it.
        if (back != record && !(record.size() == 1 && !record[0] && back.size() == 1 && !back[0]))
            std::abort();
    }
    if (pos != out.bytes.size())
        std::abort();
    return 0;
}
