#include "print/TablePrinter.h"

#include "core/Failure.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal MarginMm = 12;

// Characters that take two cells or come from another face: such a cell is
// measured and cut by its real width instead of by counting.
bool needsMeasuring(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x1100 || c.isSurrogate(); });
}

bool isNumber(const QString &text)
{
    int i = 0;
    const int n = int(text.size());
    if (i < n && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    int digits = 0, points = 0;
    for (; i < n; ++i) {
        if (text[i].isDigit() && text[i].unicode() < 128)
            ++digits;
        else if (text[i] == u'.' && points++ == 0)
            continue;
        else
            return false;
    }
    return digits > 0;
}

} // namespace

TablePrinter::TablePrinter(const TextTable &table) : m_table(table), m_columns(table.columnCount()) {}

QFont TablePrinter::font(qreal pointSize, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

QString TablePrinter::fitted(const QString &text, int chars)
{
    if (text.size() <= chars)
        return text;
    return text.left(std::max(chars - 1, 0)) + QChar(0x2026);
}

int TablePrinter::pageCount() const
{
    const int perBand = std::max(1, int((m_table.rows.size() + m_rowsPerPage - 1) / m_rowsPerPage));
    return int(m_bands.size()) * perBand;
}

void TablePrinter::measureColumns(int singleColumnChars)
{
    const int cap = m_columns == 1 ? std::max(singleColumnChars, 1) : MaxCellChars;
    m_chars = QList<int>(m_columns, 1);
    m_numeric = QList<bool>(m_columns, true);
    QList<bool> anyValue(m_columns, false);
    for (int c = 0; c < m_table.header.size(); ++c)
        m_chars[c] = std::max(m_chars[c], int(m_table.header[c].size()));
    for (const QStringList &row : m_table.rows) {
        for (int c = 0; c < row.size(); ++c) {
            const QString &cell = row[c];
            m_chars[c] = std::max(m_chars[c], int(cell.size()));
            if (!cell.isEmpty() && m_numeric[c]) {
                anyValue[c] = true;
                m_numeric[c] = isNumber(cell);
            }
        }
    }
    for (int c = 0; c < m_columns; ++c) {
        m_chars[c] = std::min(m_chars[c], cap);
        m_numeric[c] = m_numeric[c] && anyValue[c];
    }
}

int TablePrinter::bandChars(int first, int end) const
{
    int total = 0;
    for (int c = first; c < end; ++c)
        total += m_chars[c] + (c > first ? GapChars : 0);
    return total;
}

int TablePrinter::charsAcross(QPrinter &printer, QPageLayout::Orientation orientation, qreal pointSize) const
{
    printer.setPageOrientation(orientation);
    const QFontMetricsF fm(font(pointSize), &printer);
    const qreal width = printer.pageLayout().paintRectPixels(printer.resolution()).width();
    return int(std::floor(width / fm.horizontalAdvance(QLatin1Char('0')) + 0.001));
}

void TablePrinter::fit(QPrinter &printer)
{
    printer.setPageMargins(QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter);
    const int portrait = charsAcross(printer, QPageLayout::Portrait, BasePointSize);
    measureColumns(portrait);
    const int total = bandChars(0, m_columns);
    int across = portrait;
    m_orientation = QPageLayout::Portrait;
    m_pointSize = BasePointSize;
    if (total > portrait) {
        m_orientation = QPageLayout::Landscape;
        across = charsAcross(printer, m_orientation, BasePointSize);
        if (total > across) {
            m_pointSize = std::max(MinPointSize, std::floor(BasePointSize * across / total * 10) / 10);
            across = charsAcross(printer, m_orientation, m_pointSize);
        }
    }
    printer.setPageOrientation(m_orientation);

    m_bands.clear();
    int first = 0;
    for (int c = 0; c < m_columns; ++c) {
        if (c > first && bandChars(first, c + 1) > across) {
            m_bands.append({first, c});
            first = c;
        }
    }
    m_bands.append({first, std::max(m_columns, first)});

    const QFontMetricsF fm(font(m_pointSize), &printer);
    m_charWidth = fm.horizontalAdvance(QLatin1Char('0'));
    m_lineHeight = fm.lineSpacing();
    m_ascent = fm.ascent();
    const qreal height = printer.pageLayout().paintRectPixels(printer.resolution()).height();
    // Header, its rule and the page number line take three lines.
    m_rowsPerPage = std::max(1, int(std::floor(height / m_lineHeight)) - 3);
}

void TablePrinter::paintLine(QPainter &painter, const QStringList &cells, const QList<qreal> &x, int band,
                             qreal baseline, bool header) const
{
    const auto [first, end] = m_bands[band];
    for (int c = first; c < end && c < cells.size(); ++c) {
        const QString &cell = cells[c];
        if (cell.isEmpty())
            continue;
        const qreal width = m_chars[c] * m_charWidth;
        QString text;
        qreal advance;
        if (needsMeasuring(cell)) {
            const QFontMetricsF fm(painter.font(), painter.device());
            text = fm.elidedText(cell, Qt::ElideRight, width);
            advance = fm.horizontalAdvance(text);
        } else {
            text = fitted(cell, m_chars[c]);
            advance = text.size() * m_charWidth;
        }
        const bool right = m_numeric[c] && !header;
        painter.drawText(QPointF(right ? x[c] + width - advance : x[c], baseline), text);
    }
}

void TablePrinter::paintPage(QPainter &painter, const QRectF &area, int band, int firstRow, int page) const
{
    const auto [first, end] = m_bands[band];
    QList<qreal> x(m_columns, 0);
    qreal left = 0;
    for (int c = first; c < end; ++c) {
        x[c] = left;
        left += (m_chars[c] + GapChars) * m_charWidth;
    }
    painter.setFont(font(m_pointSize, true));
    paintLine(painter, m_table.header, x, band, m_ascent, true);
    const qreal rule = m_lineHeight * 1.25;
    painter.drawLine(QPointF(0, rule), QPointF(std::min(left - GapChars * m_charWidth, area.width()), rule));

    painter.setFont(font(m_pointSize));
    qreal top = m_lineHeight * 1.5;
    const int last = std::min(int(m_table.rows.size()), firstRow + m_rowsPerPage);
    for (int r = firstRow; r < last; ++r, top += m_lineHeight)
        paintLine(painter, m_table.rows[r], x, band, top + m_ascent, false);

    const QString number = QStringLiteral("Page %1 of %2").arg(page).arg(pageCount());
    painter.drawText(QRectF(0, area.height() - m_lineHeight, area.width(), m_lineHeight), Qt::AlignCenter, number);
}

void TablePrinter::print(QPrinter &printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        throw Failure(QStringLiteral("Cannot start printing"));
    painter.setPen(Qt::black);
    const QRectF area(QPointF(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
    const int rows = int(m_table.rows.size());
    int page = 1;
    for (int band = 0; band < m_bands.size(); ++band) {
        int firstRow = 0;
        do {
            if (page > 1 && !printer.newPage())
                throw Failure(QStringLiteral("Cannot start page %1").arg(page));
            paintPage(painter, area, band, firstRow, page);
            ++page;
            firstRow += m_rowsPerPage;
        } while (firstRow < rows);
    }
    if (!painter.end())
        throw Failure(QStringLiteral("Cannot finish printing"));
}
