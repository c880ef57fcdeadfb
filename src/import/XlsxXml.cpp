#include "import/XlsxXml.h"

#include "core/Failure.h"

#include <QDate>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

QString xmlFailure(const QXmlStreamReader &xml, const QString &part)
{
    return QStringLiteral("The workbook's %1 is not readable XML (line %2: %3).")
        .arg(part)
        .arg(xml.lineNumber())
        .arg(xml.errorString());
}

// A relationship target as a path in the zip: relative ones are relative to xl/.
QString partPath(const QString &target)
{
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1);
    QString path = QStringLiteral("xl/") + target;
    while (path.contains(QLatin1String("/../"))) {
        const qsizetype up = path.indexOf(QLatin1String("/../"));
        const qsizetype parent = path.lastIndexOf(QLatin1Char('/'), up - 1);
        path.remove(parent + 1, up + 4 - parent - 1);
    }
    return path;
}

// The column of a cell reference ("AB12" is 27), or -1.
int columnOf(QStringView reference)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < reference.size() && reference[i].isLetter(); ++i) {
        column = column * 26 + (reference[i].toUpper().unicode() - 'A' + 1);
        if (column > 16384)
            return -1;
    }
    return i == 0 ? -1 : column - 1;
}

// A string's text with the workbook's escapes of characters XML cannot
// carry ("_x000D_" for CR) turned back into the characters.
QByteArray stringText(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text.toUtf8();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('_') && i + 6 < text.size() && text[i + 1] == QLatin1Char('x')
            && text[i + 6] == QLatin1Char('_')) {
            bool ok = false;
            const ushort code = text.mid(i + 2, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out.toUtf8();
}

QByteArray twoDigits(int n)
{
    return QByteArray::number(n).rightJustified(2, '0');
}

} // namespace

namespace XlsxXml {

std::vector<Sheet> sheets(const QByteArray &workbook, const QByteArray &relationships)
{
    QHash<QString, QString> targets;
    QXmlStreamReader rels(relationships);
    while (!rels.atEnd()) {
        rels.readNext();
        if (rels.isStartElement() && rels.name() == QLatin1String("Relationship"))
            targets.insert(rels.attributes().value(QLatin1String("Id")).toString(),
                rels.attributes().value(QLatin1String("Target")).toString());
        if (rels.hasError())
            throw Failure(xmlFailure(rels, QStringLiteral("list of parts")));
    }
    std::vector<Sheet> out;
    QXmlStreamReader xml(workbook);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("sheet")) {
            QString id;
            for (const QXmlStreamAttribute &a : xml.attributes()) {
                if (a.name() == QLatin1String("id"))
                    id = a.value().toString();
            }
            out.push_back({xml.attributes().value(QLatin1String("name")).toString(), partPath(targets.value(id))});
        }
    }
    if (xml.hasError())
        throw Failure(xmlFailure(xml, QStringLiteral("list of sheets")));
    return out;
}

bool dates1904(const QByteArray &workbook)
{
    QXmlStreamReader xml(workbook);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("workbookPr")) {
            const QStringView v = xml.attributes().value(QLatin1String("date1904"));
            return v == QLatin1String("1") || v == QLatin1String("true");
        }
    }
    return false;
}

std::vector<QByteArray> sharedStrings(const QByteArray &data)
{
    std::vector<QByteArray> out;
    QXmlStreamReader xml(data);
    QString text;
    bool inText = false;
    bool inPhonetic = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("si"))
                text.clear();
            else if (xml.name() == QLatin1String("rPh"))
                inPhonetic = true;
            else if (xml.name() == QLatin1String("t"))
                inText = !inPhonetic;
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("si"))
                out.push_back(stringText(text));
            else if (xml.name() == QLatin1String("rPh"))
                inPhonetic = false;
            else if (xml.name() == QLatin1String("t"))
                inText = false;
        } else if (xml.isCharacters() && inText) {
            text += xml.text();
        }
    }
    if (xml.hasError())
        throw Failure(xmlFailure(xml, QStringLiteral("shared strings")));
    return out;
}

Style builtInStyle(int id)
{
    switch (id) {
    case 1:
    case 3:
        return {Style::Form::Fixed, 0};
    case 2:
    case 4:
        return {Style::Form::Fixed, 2};
    case 14:
    case 15:
    case 16:
    case 17:
        return {Style::Form::Date, 0};
    case 18:
    case 19:
    case 20:
    case 21:
    case 45:
    case 46:
    case 47:
        return {Style::Form::Time, 0};
    case 22:
        return {Style::Form::DateTime, 0};
    default:
        return {};
    }
}

Style styleOfCode(const QString &formatCode)
{
    // Only the first section (positive numbers) counts; quoted text,
    // escaped characters and [colour] or [$-locale] parts say nothing.
    QString code;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < formatCode.size(); ++i) {
        const QChar c = formatCode[i];
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*'))
            ++i;
        else if (c == QLatin1Char('['))
            ++bracket;
        else if (c == QLatin1Char(']'))
            bracket = std::max(0, bracket - 1);
        else if (c == QLatin1Char(';') && bracket == 0)
            break;
        else if (bracket == 0)
            code += c.toLower();
    }
    const bool date = code.contains(QLatin1Char('y')) || code.contains(QLatin1Char('d'));
    const bool time = code.contains(QLatin1Char('h')) || code.contains(QLatin1Char('s'));
    if (date || time)
        return {date && time ? Style::Form::DateTime : date ? Style::Form::Date : Style::Form::Time, 0};
    if (code.contains(QLatin1Char('%')) || code.contains(QLatin1Char('e')) || !code.contains(QLatin1Char('0')))
        return {};
    const qsizetype point = code.indexOf(QLatin1Char('.'));
    int decimals = 0;
    for (qsizetype i = point + 1; point >= 0 && i < code.size(); ++i) {
        if (code[i] == QLatin1Char('0') || code[i] == QLatin1Char('#'))
            ++decimals;
        else
            break;
    }
    return {Style::Form::Fixed, decimals};
}

std::vector<Style> styles(const QByteArray &data)
{
    QHash<int, Style> custom;
    std::vector<Style> out;
    QXmlStreamReader xml(data);
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("numFmt"))
                custom.insert(a.value(QLatin1String("numFmtId")).toInt(),
                    styleOfCode(a.value(QLatin1String("formatCode")).toString()));
            else if (xml.name() == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (inCellXfs && xml.name() == QLatin1String("xf")) {
                const int id = a.value(QLatin1String("numFmtId")).toInt();
                out.push_back(custom.contains(id) ? custom.value(id) : builtInStyle(id));
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
    if (xml.hasError())
        throw Failure(xmlFailure(xml, QStringLiteral("styles")));
    return out;
}

QByteArray numberText(QByteArrayView value, const Style &style, bool dates1904)
{
    bool ok = false;
    const double v = value.toByteArray().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return value.toByteArray();
    switch (style.form) {
    case Style::Form::General:
        if (!value.contains('E') && !value.contains('e'))
            return value.toByteArray();
        return QLocale::c().toString(v, 'f', QLocale::FloatingPointShortest).toLatin1();
    case Style::Form::Fixed:
        return QByteArray::number(v, 'f', std::clamp(style.decimals, 0, 30));
    default:
        break;
    }
    if (v < 0 || v > 2958466)
        return value.toByteArray(); // before the epoch or after 9999: not a date
    qint64 days = qint64(std::floor(v));
    // Milliseconds of the day, rounded; a day's end rounds into the next.
    qint64 ms = qint64(std::llround((v - double(days)) * 86400000.0));
    if (ms >= 86400000) {
        ++days;
        ms -= 86400000;
    }
    QByteArray time
        = twoDigits(int(ms / 3600000)) + ':' + twoDigits(int(ms / 60000 % 60)) + ':' + twoDigits(int(ms / 1000 % 60));
    if (ms % 1000)
        time += '.' + QByteArray::number(ms % 1000).rightJustified(3, '0');
    if (style.form == Style::Form::Time)
        return time;
    // 1900: serial 1 is 1900-01-01, and 60 the 29th of February 1900 that
    // never was, kept for the old spreadsheets' sake.
    const QDate date = dates1904 ? QDate(1904, 1, 1).addDays(days)
        : days < 60              ? QDate(1899, 12, 31).addDays(days)
                                 : QDate(1899, 12, 30).addDays(days);
    QByteArray text = date.toString(Qt::ISODate).toLatin1();
    if (style.form == Style::Form::DateTime || ms != 0)
        text += ' ' + time;
    return text;
}

} // namespace XlsxXml

XlsxSheetParser::XlsxSheetParser(
    const std::vector<QByteArray> &shared, const std::vector<XlsxXml::Style> &styles, bool dates1904)
    : m_shared(shared), m_styles(styles), m_dates1904(dates1904)
{ }

void XlsxSheetParser::malformed(const QString &what) const
{
    throw Failure(QStringLiteral("The workbook's sheet is not readable (line %1 of its XML: %2).")
                      .arg(m_xml.lineNumber())
                      .arg(what));
}

void XlsxSheetParser::startCell(ImportRecord &record)
{
    const QXmlStreamAttributes a = m_xml.attributes();
    const QStringView reference = a.value(QLatin1String("r"));
    const int column = reference.isEmpty() ? m_column + 1 : columnOf(reference);
    if (column < 0 || column <= m_column)
        malformed(QStringLiteral("a cell's place \"%1\" is not after the one before").arg(reference));
    m_column = column;
    m_type = a.value(QLatin1String("t")).toLatin1();
    m_style = a.value(QLatin1String("s")).toInt();
    m_text.clear();
    if (record.fields.size() <= size_t(column))
        record.fields.resize(size_t(column) + 1);
}

void XlsxSheetParser::endCell(ImportRecord &record)
{
    if (m_text.isEmpty() && m_type != "inlineStr" && m_type != "str")
        return; // a styled cell without a value
    QByteArray &own = record.ownedAt(size_t(m_column));
    bool text = true;
    if (m_type == "s") {
        const qint64 index = m_text.toLongLong();
        if (index < 0 || size_t(index) >= m_shared.size())
            malformed(QStringLiteral("a cell names shared string %1, which is not there").arg(m_text));
        own = m_shared[size_t(index)];
    } else if (m_type == "b") {
        own = m_text.trimmed() == QLatin1String("0") || m_text.trimmed() == QLatin1String("false") ? "0" : "1";
        text = false;
    } else if (m_type == "inlineStr" || m_type == "str" || m_type == "e") {
        own = stringText(m_text);
    } else {
        const XlsxXml::Style style
            = m_style >= 0 && size_t(m_style) < m_styles.size() ? m_styles[size_t(m_style)] : XlsxXml::Style{};
        own = XlsxXml::numberText(m_text.toLatin1(), style, m_dates1904);
        text = false;
    }
    record.fields[size_t(m_column)] = {QByteArrayView(own), text};
    m_rowHasValue = true;
}

bool XlsxSheetParser::next(ImportRecord &record)
{
    while (!m_ended) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token == QXmlStreamReader::Invalid) {
            if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                malformed(m_xml.errorString());
            if (m_finished)
                malformed(QStringLiteral("it ends too soon"));
            return false;
        }
        if (token == QXmlStreamReader::EndDocument) {
            m_ended = true;
        } else if (token == QXmlStreamReader::StartElement) {
            const QStringView name = m_xml.name();
            if (name == QLatin1String("row")) {
                const qint64 number = m_xml.attributes().value(QLatin1String("r")).toLongLong();
                m_rowNumber = number > 0 ? number : m_rowNumber + 1;
                record.fields.clear();
                record.line = m_rowNumber;
                m_column = -1;
                m_inRow = true;
                m_rowHasValue = false;
            } else if (m_inRow && name == QLatin1String("c")) {
                startCell(record);
            } else if (m_inRow && (name == QLatin1String("v") || name == QLatin1String("t"))) {
                m_inValue = true;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            const QStringView name = m_xml.name();
            if (name == QLatin1String("v") || name == QLatin1String("t")) {
                m_inValue = false;
            } else if (m_inRow && name == QLatin1String("c")) {
                endCell(record);
            } else if (name == QLatin1String("row")) {
                m_inRow = false;
                if (m_rowHasValue)
                    return true;
            }
        } else if (token == QXmlStreamReader::Characters && m_inValue) {
            m_text += m_xml.text();
        }
    }
    return false;
}
