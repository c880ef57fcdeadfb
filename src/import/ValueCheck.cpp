#include "import/ValueCheck.h"

#include "db/ImportTarget.h"

#include <QDate>
#include <QRegularExpression>

#include <cmath>

namespace {

using Verdict = ValueCheck::Verdict;

ValueCheck fails(const QString &reason)
{
    return {Verdict::Fails, reason};
}

struct IntRange
{
    const char *type;
    double low;
    double high;
    double highUnsigned;
};

constexpr IntRange IntRanges[] = {
    {"tinyint", -128.0, 127.0, 255.0},
    {"smallint", -32768.0, 32767.0, 65535.0},
    {"mediumint", -8388608.0, 8388607.0, 16777215.0},
    {"int", -2147483648.0, 2147483647.0, 4294967295.0},
    {"bigint", -9223372036854775808.0, 9223372036854775807.0, 18446744073709551615.0},
};

const QRegularExpression &numberPattern()
{
    static const QRegularExpression re(QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?\\s*$"));
    return re;
}

ValueCheck checkInteger(const TargetColumn &column, const QString &text, const IntRange &range)
{
    if (!numberPattern().match(text).hasMatch())
        return fails(QStringLiteral("Not a number."));
    const QString t = text.trimmed();
    bool ok = false;
    bool inRange = true;
    if (column.isUnsigned) {
        const bool negative = t.startsWith(QLatin1Char('-'));
        const qulonglong v = t.toULongLong(&ok);
        inRange = ok ? (range.highUnsigned >= 1.8e19 || double(v) <= range.highUnsigned)
                     : (!negative && std::round(t.toDouble()) <= range.highUnsigned)
                || (negative && std::round(t.toDouble()) == 0);
    } else {
        const qlonglong v = t.toLongLong(&ok);
        const double d = ok ? double(v) : std::round(t.toDouble());
        inRange = ok ? (range.low <= d && d <= range.high) : (range.low < d && d < range.high);
    }
    if (!inRange)
        return fails(QStringLiteral("Out of range for %1.").arg(QString::fromUtf8(column.columnType)));
    return {};
}

ValueCheck checkDecimal(const TargetColumn &column, const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*([-+]?)(\\d*)(?:\\.(\\d*))?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(3).isEmpty())) {
        if (numberPattern().match(text).hasMatch())
            return {};
        return fails(QStringLiteral("Not a number."));
    }
    QString whole = m.captured(2);
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
    const QString fraction = m.captured(3);
    const int wholeDigits = column.precision - column.scale;
    if (column.isUnsigned && m.captured(1) == QLatin1String("-")
        && (whole != QLatin1String("0") || fraction.count(QLatin1Char('0')) != fraction.size()))
        return fails(QStringLiteral("Out of range for %1.").arg(QString::fromUtf8(column.columnType)));
    if (fraction.size() > column.scale && fraction[column.scale] >= QLatin1Char('5')) {
        // Rounding may carry into the whole digits: 999.995 is 1000.00.
        QString digits = whole + fraction.left(column.scale);
        qsizetype i = digits.size() - 1;
        for (; i >= 0 && digits[i] == QLatin1Char('9'); --i)
            digits[i] = QLatin1Char('0');
        if (i < 0)
            whole.prepend(QLatin1Char('1'));
    }
    if (whole != QLatin1String("0") && whole.size() > wholeDigits)
        return fails(QStringLiteral("Out of range for %1: at most %2 digits before the point.")
                         .arg(QString::fromUtf8(column.columnType))
                         .arg(wholeDigits));
    if (fraction.size() > column.scale) {
        return {Verdict::Note, QStringLiteral("More than %1 decimals: the server rounds it to %1.").arg(column.scale)};
    }
    return {};
}

bool validDate(int y, int m, int d)
{
    return (y == 0 && m == 0 && d == 0)
        || (m >= 1 && m <= 12 && d >= 1 && QDate(y == 0 ? 2000 : y, m, 1).isValid()
            && d <= QDate(y == 0 ? 2000 : y, m, 1).daysInMonth());
}

ValueCheck checkDateTime(const TargetColumn &column, const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{4})[-/.](\\d{1,2})[-/.](\\d{1,2})(?:[ "
                       "T](\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:\\.\\d{1,6})?)?)?\\s*$"));
    static const QRegularExpression compact(
        QStringLiteral("^\\s*(\\d{4})(\\d{2})(\\d{2})(?:(\\d{2})(\\d{2})(\\d{2}))?\\s*$"));
    QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        m = compact.match(text);
    const QString what = column.dataType == "date" ? QStringLiteral("date") : QStringLiteral("date and time");
    if (!m.hasMatch())
        return fails(QStringLiteral("Not a %1 (YYYY-MM-DD%2).")
                         .arg(what, column.dataType == "date" ? QString() : QStringLiteral(" HH:MM:SS")));
    const int y = m.captured(1).toInt(), mo = m.captured(2).toInt(), d = m.captured(3).toInt();
    if (!validDate(y, mo, d))
        return fails(QStringLiteral("No such %1.").arg(what));
    if (!m.captured(4).isEmpty()
        && (m.captured(4).toInt() > 23 || m.captured(5).toInt() > 59 || m.captured(6).toInt() > 59))
        return fails(QStringLiteral("No such time of day."));
    if (column.dataType == "timestamp" && !(y == 0 && mo == 0 && d == 0) && (y < 1970 || y > 2038))
        return fails(QStringLiteral("Out of range for TIMESTAMP (1970 to 2038)."));
    return {};
}

ValueCheck checkTime(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*-?(?:(\\d+) )?(\\d{1,3})(?::(\\d{1,2})(?::(\\d{1,2})(?:\\.\\d{1,6})?)?)?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return fails(QStringLiteral("Not a time (HH:MM:SS)."));
    const int hours = m.captured(1).toInt() * 24 + m.captured(2).toInt();
    if (hours > 838 || m.captured(3).toInt() > 59 || m.captured(4).toInt() > 59)
        return fails(QStringLiteral("Out of range for TIME (-838:59:59 to 838:59:59)."));
    return {};
}

qint64 characters(QByteArrayView text)
{
    qint64 n = 0;
    for (const char c : text)
        n += (uchar(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

ValueCheck checkText(const TargetColumn &column, QByteArrayView text)
{
    const bool bytesLimit = column.dataType.endsWith("text") || column.dataType.endsWith("blob");
    const bool hex = column.isBytes() && text.startsWith("0x");
    const qint64 length = hex ? (text.size() - 2) / 2 : bytesLimit || column.isBytes() ? text.size() : characters(text);
    if (column.maxChars < 0 || length <= column.maxChars)
        return {};
    // Spaces cut from the end go with a note only.
    qsizetype end = text.size();
    while (!hex && end > 0 && text[end - 1] == ' ')
        --end;
    if (!hex && (bytesLimit ? end : characters(text.first(end))) <= column.maxChars)
        return {Verdict::Note, QStringLiteral("Spaces at the end are cut to fit.")};
    return fails(QStringLiteral("Too long: %L1 %2, the column holds %L3.")
                     .arg(length)
                     .arg(bytesLimit || column.isBytes() ? QStringLiteral("bytes") : QStringLiteral("characters"))
                     .arg(column.maxChars));
}

bool isMember(const TargetColumn &column, const QString &value)
{
    for (const QByteArray &member : column.members) {
        if (QString::fromUtf8(member).compare(value, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

ValueCheck checkMembers(const TargetColumn &column, const QString &text)
{
    QString value = text;
    while (value.endsWith(QLatin1Char(' ')))
        value.chop(1);
    const QStringList parts
        = column.dataType == "set" ? value.split(QLatin1Char(','), Qt::SkipEmptyParts) : QStringList{value};
    bool ok = false;
    const int index = value.toInt(&ok);
    if (ok && index >= (column.dataType == "set" ? 0 : 1)
        && (column.dataType == "set" ? index < (1 << column.members.size()) : index <= column.members.size()))
        return {};
    for (const QString &part : parts) {
        if (!isMember(column, part))
            return fails(QStringLiteral("\"%1\" is not one of the column's values.").arg(part));
    }
    return {};
}

} // namespace

ValueCheck ValueCheck::of(const TargetColumn &column, QByteArrayView text, bool isNull)
{
    if (isNull) {
        if (column.nullable || column.autoIncrement)
            return {};
        return fails(QStringLiteral("The column takes no NULL."));
    }
    const QString s = QString::fromUtf8(text);
    for (const IntRange &range : IntRanges) {
        if (column.dataType == range.type)
            return checkInteger(column, s, range);
    }
    const QByteArray &type = column.dataType;
    if (type == "decimal" || type == "numeric")
        return checkDecimal(column, s);
    if (type == "float" || type == "double" || type == "real")
        return numberPattern().match(s).hasMatch() ? ValueCheck{} : fails(QStringLiteral("Not a number."));
    if (type == "date" || type == "datetime" || type == "timestamp")
        return checkDateTime(column, s);
    if (type == "time")
        return checkTime(s);
    if (type == "year") {
        bool ok = false;
        const int y = s.trimmed().toInt(&ok);
        return ok && (y == 0 || (y >= 1 && y <= 99) || (y >= 1901 && y <= 2155))
            ? ValueCheck{}
            : fails(QStringLiteral("Not a year from 1901 to 2155."));
    }
    if (type == "enum" || type == "set")
        return checkMembers(column, s);
    return checkText(column, text);
}
