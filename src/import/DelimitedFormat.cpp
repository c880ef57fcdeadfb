#include "import/DelimitedFormat.h"

#include "core/Failure.h"
#include "import/DelimitedReader.h"

#include <QRegularExpression>

#include <array>

namespace {

bool isValidUtf8(QByteArrayView text)
{
    // A sequence cut by the end of `text` is not held against it.
    for (qsizetype i = 0; i < text.size();) {
        const auto c = uchar(text[i]);
        const int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || (more == 1 && c < 0xC2))
            return false;
        for (int k = 1; k <= more; ++k) {
            if (i + k >= text.size())
                return true;
            if ((uchar(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += more + 1;
    }
    return true;
}

bool looksNumeric(QByteArrayView text)
{
    static const QRegularExpression number(QStringLiteral("^[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?$"));
    static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d"));
    const QString s = QString::fromUtf8(text).trimmed();
    return number.match(s).hasMatch() || date.match(s).hasMatch();
}

// The records of `text` read with `format`, at most `limit`; those before a
// malformed one.
std::vector<std::vector<ImportField>> sample(
    const QByteArray &text, const DelimitedFormat &format, int limit, std::vector<QByteArray> &keep)
{
    std::vector<std::vector<ImportField>> out;
    try {
        DelimitedReader reader(text, format);
        ImportRecord record;
        while (int(out.size()) < limit && reader.next(record)) {
            for (ImportField &field : record.fields) {
                keep.push_back(field.text.toByteArray());
                field.text = keep.back();
            }
            out.push_back(record.fields);
        }
    } catch (const Failure &) { }
    return out;
}

// Drops a last line that `head` may have cut short.
QByteArray completeLines(const QByteArray &head)
{
    const qsizetype end = head.lastIndexOf('\n');
    return end > 0 ? head.left(end + 1) : head;
}

} // namespace

DelimitedFormat DelimitedFormat::detect(const QByteArray &head, const QStringList &columns)
{
    DelimitedFormat format;
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        format.encoding = Encoding::Utf16;
    else if (!head.startsWith("\xEF\xBB\xBF") && !isValidUtf8(head))
        format.encoding = Encoding::Latin1;
    const QByteArray text = completeLines(DelimitedReader::toUtf8(head, format.encoding));

    const qsizetype eol = text.indexOf('\n');
    const QByteArray first = text.left(eol < 0 ? text.size() : eol);
    if (first.endsWith("\t\r") || first.endsWith('\t')) {
        format.tabTerminated = true;
        format.separator = '\t';
        format.quote = 0;
    } else {
        // The separator that gives the first lines the same number of
        // fields, more than one; the comma when none does.
        int best = 0;
        for (const char candidate : std::array<char, 4>{',', ';', '\t', '|'}) {
            DelimitedFormat trial = format;
            trial.separator = candidate;
            trial.header = false;
            std::vector<QByteArray> keep;
            const auto records = sample(text, trial, 20, keep);
            if (records.empty() || records.front().size() < 2)
                continue;
            int same = 0;
            for (const auto &record : records)
                same += record.size() == records.front().size() ? 1 : 0;
            if (same * 10 >= int(records.size()) * 9 && int(records.front().size()) > best) {
                best = int(records.front().size());
                format.separator = candidate;
            }
        }
    }

    DelimitedFormat plain = format;
    plain.header = false;
    std::vector<QByteArray> keep;
    const auto records = sample(text, plain, 2, keep);
    format.header = true;
    if (records.empty())
        return format;
    bool named = false;
    bool textOnly = true;
    for (const ImportField &field : records[0]) {
        named = named || columns.contains(QString::fromUtf8(field.text).trimmed(), Qt::CaseInsensitive);
        textOnly = textOnly && !looksNumeric(field.text);
    }
    format.header = named || textOnly;
    return format;
}
