#pragma once

#include "print/TextTable.h"

#include <QFont>
#include <QList>
#include <QPageLayout>

#include <utility>

class QPainter;
class QPrinter;

// Prints a TextTable as a table a person wants to read: a fixed-pitch face,
// every column as wide as its widest cell (longer cells cut with an
// ellipsis), numbers aligned right, the header in bold on every page, page
// numbers. A table too wide for a portrait page turns landscape, then a
// smaller size; what still does not fit goes on further pages, column by
// column band, each band with all rows.
class TablePrinter
{
public:
    static constexpr int MaxCellChars = 40;
    static constexpr int GapChars = 2;
    static constexpr qreal BasePointSize = 9;
    static constexpr qreal MinPointSize = 6;

    // `table` must outlive the printer.
    explicit TablePrinter(const TextTable &table);

    // Chooses the orientation, size and bands for the printer's paper and
    // sets orientation and margins on `printer`.
    void fit(QPrinter &printer);

    // Paints every page (fit() first). Throws Failure when the printer
    // cannot be painted on.
    void print(QPrinter &printer);

    // What fit() chose.
    QPageLayout::Orientation orientation() const { return m_orientation; }
    qreal pointSize() const { return m_pointSize; }
    const QList<int> &columnChars() const { return m_chars; }
    // Column ranges [first, end) that share a page.
    const QList<std::pair<int, int>> &bands() const { return m_bands; }
    int rowsPerPage() const { return m_rowsPerPage; }
    int pageCount() const;

    // The text of a cell as printed in a column `chars` wide.
    static QString fitted(const QString &text, int chars);
    static QFont font(qreal pointSize, bool bold = false);

private:
    void measureColumns(int singleColumnChars);
    int bandChars(int first, int end) const;
    int charsAcross(QPrinter &printer, QPageLayout::Orientation orientation, qreal pointSize) const;
    void paintPage(QPainter &painter, const QRectF &area, int band, int firstRow, int page) const;
    void paintLine(QPainter &painter, const QStringList &cells, const QList<qreal> &x, int band, qreal baseline,
                   bool header) const;

    const TextTable &m_table;
    int m_columns = 0;
    QList<int> m_chars;
    QList<bool> m_numeric;
    QList<std::pair<int, int>> m_bands;
    QPageLayout::Orientation m_orientation = QPageLayout::Portrait;
    qreal m_pointSize = BasePointSize;
    qreal m_charWidth = 1;
    qreal m_lineHeight = 1;
    qreal m_ascent = 1;
    int m_rowsPerPage = 1;
};
