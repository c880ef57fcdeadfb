#include "import/DelimitedReader.h"

#include "core/Failure.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

DelimitedReader::DelimitedReader(const QString &path, const DelimitedFormat &format) : m_format(format)
{
    m_file = std::make_unique<QFile>(path);
    if (!m_file->open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, m_file->errorString()), Failure::FileNotFound);
    const qint64 size = m_file->size();
    const uchar *mapped = size > 0 ? m_file->map(0, size) : nullptr;
    const QByteArrayView data = mapped ? QByteArrayView(mapped, size) : QByteArrayView();
    if (size > 0 && !mapped)
        m_text = toUtf8(m_file->readAll(), format.encoding);
    else if (format.encoding != DelimitedFormat::Encoding::Utf8)
        m_text = toUtf8(data, format.encoding);
    if (m_text.isEmpty() && format.encoding == DelimitedFormat::Encoding::Utf8 && mapped) {
        const qsizetype bom = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        m_begin = data.data() + bom;
        m_end = data.data() + data.size();
    } else {
        m_begin = m_text.constData();
        m_end = m_begin + m_text.size();
    }
    start();
}

DelimitedReader::DelimitedReader(QByteArray text, const DelimitedFormat &format)
    : m_format(format), m_text(std::move(text))
{
    m_begin = m_text.constData();
    m_end = m_begin + m_text.size();
    start();
}

DelimitedReader::~DelimitedReader() = default;

QByteArray DelimitedReader::toUtf8(QByteArrayView data, DelimitedFormat::Encoding encoding)
{
    switch (encoding) {
    case DelimitedFormat::Encoding::Utf8:
        return (data.startsWith("\xEF\xBB\xBF") ? data.sliced(3) : data).toByteArray();
    case DelimitedFormat::Encoding::Latin1:
        return QString::fromLatin1(data).toUtf8();
    case DelimitedFormat::Encoding::Utf16: {
        // Big-endian only with its mark; a file without one is taken as
        // little-endian, as most programs write it.
        const bool big = data.startsWith("\xFE\xFF");
        QStringDecoder decode(
            big ? QStringConverter::Utf16BE : QStringConverter::Utf16LE, QStringConverter::Flag::ConvertInvalidToNull);
        const QByteArrayView body = data.startsWith("\xFE\xFF") || data.startsWith("\xFF\xFE") ? data.sliced(2) : data;
        return QString(decode(body)).toUtf8();
    }
    }
    return data.toByteArray();
}

void DelimitedReader::start()
{
    m_pos = m_begin;
    if (!m_format.header && !m_format.tabTerminated)
        return;
    if (m_format.tabTerminated) {
        // The fields of the first line: its TABs up to the line's end.
        const char *eol = static_cast<const char *>(std::memchr(m_pos, '\n', size_t(m_end - m_pos)));
        m_columns = int(std::count(m_pos, eol ? eol : m_end, '\t'));
        if (m_columns == 0)
            malformed(QStringLiteral("The first line holds no TAB, so the file is not tab-separated text."), 1);
    }
    if (!m_format.header)
        return;
    ImportRecord record;
    if (!next(record))
        return;
    for (const ImportField &field : record.fields)
        m_header << field.text.toByteArray();
    if (!m_format.tabTerminated)
        m_columns = int(m_header.size());
}

void DelimitedReader::malformed(const QString &what, qint64 line) const
{
    throw Failure(QStringLiteral("Line %L1 of the file: %2").arg(line).arg(what));
}

void DelimitedReader::countLines(const char *from, const char *to)
{
    // A CR LF pair counts once, as does a lone CR or LF.
    for (const char *p = from; p < to; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == to || p[1] != '\n')))
            ++m_line;
    }
}

bool DelimitedReader::endOfLine()
{
    if (m_pos < m_end && *m_pos == '\r')
        ++m_pos;
    if (m_pos < m_end && *m_pos == '\n')
        ++m_pos;
    ++m_line;
    return true;
}

bool DelimitedReader::next(ImportRecord &record)
{
    record.fields.clear();
    if (m_format.tabTerminated) {
        // A record may start with a line break of its first field's; only
        // line breaks up to the end end the file.
        const char *p = m_pos;
        while (p < m_end && (*p == '\r' || *p == '\n'))
            ++p;
        if (p == m_end)
            m_pos = m_end;
    } else if (m_columns != 1) {
        // Blank lines separate nothing, but in a file of one column, where
        // a blank line is a record with nothing in it (NULL).
        while (m_pos < m_end && (*m_pos == '\r' || *m_pos == '\n'))
            endOfLine();
    }
    if (m_pos >= m_end)
        return false;
    record.line = m_line;
    return m_format.tabTerminated ? nextTabTerminated(record) : nextDelimited(record);
}

bool DelimitedReader::nextTabTerminated(ImportRecord &record)
{
    for (int c = 0; c < m_columns; ++c) {
        const char *tab = static_cast<const char *>(std::memchr(m_pos, '\t', size_t(m_end - m_pos)));
        if (!tab) {
            malformed(QStringLiteral("the record ends after %1 of its %2 fields.").arg(c).arg(m_columns), record.line);
        }
        record.fields.push_back({QByteArrayView(m_pos, tab - m_pos), false});
        countLines(m_pos, tab);
        m_pos = tab + 1;
    }
    if (m_pos < m_end && *m_pos != '\r' && *m_pos != '\n') {
        malformed(
            QStringLiteral("the record has more than the %1 fields the first line names.").arg(m_columns), record.line);
    }
    return endOfLine();
}

ImportField DelimitedReader::quotedField(ImportRecord &record, size_t index)
{
    const qint64 line = m_line;
    const char quote = m_format.quote;
    const char *from = ++m_pos;
    QByteArray *own = nullptr;
    for (;;) {
        const char *q = static_cast<const char *>(std::memchr(m_pos, quote, size_t(m_end - m_pos)));
        if (!q)
            malformed(QStringLiteral("a quoted field that starts here is never closed."), line);
        if (q + 1 < m_end && q[1] == quote) {
            if (!own) {
                own = &record.ownedAt(index);
                own->clear();
            }
            own->append(from, q + 1 - from);
            countLines(m_pos, q);
            m_pos = from = q + 2;
            continue;
        }
        countLines(m_pos, q);
        m_pos = q + 1;
        if (!own)
            return {QByteArrayView(from, q - from), true};
        own->append(from, q - from);
        return {QByteArrayView(*own), true};
    }
}

bool DelimitedReader::nextDelimited(ImportRecord &record)
{
    const char separator = m_format.separator;
    const char quote = m_format.quote;
    for (size_t index = 0;; ++index) {
        ImportField field;
        if (quote && m_pos < m_end && *m_pos == quote) {
            field = quotedField(record, index);
            if (m_pos < m_end && *m_pos != separator && *m_pos != '\r' && *m_pos != '\n')
                malformed(QStringLiteral("text follows the closing quote of field %1.").arg(index + 1), m_line);
        } else {
            const char *from = m_pos;
            while (m_pos < m_end && *m_pos != separator && *m_pos != '\r' && *m_pos != '\n')
                ++m_pos;
            field.text = QByteArrayView(from, m_pos - from);
        }
        record.fields.push_back(field);
        if (m_pos >= m_end)
            return true;
        if (*m_pos != separator)
            return endOfLine();
        ++m_pos;
        if (m_pos >= m_end) {
            record.fields.push_back({});
            return true;
        }
    }
}
