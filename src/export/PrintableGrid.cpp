#include "export/PrintableGrid.h"

bool PrintableGrid::needsFlattening(QByteArrayView text)
{
    for (const char c : text) {
        if (c == '\t' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

QByteArray PrintableGrid::flattened(QByteArrayView text)
{
    QByteArray out = text.toByteArray();
    for (char &c : out) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

QString PrintableGrid::caption(int column) const
{
    QString text = m_grid.caption(column);
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

QByteArray PrintableGrid::cellText(qint64 row, int column) const
{
    const QByteArray text = m_grid.cellText(row, column);
    return needsFlattening(text) ? flattened(text) : text;
}

void PrintableGrid::rowText(qint64 row, std::vector<CellText> &cells) const
{
    m_grid.rowText(row, cells);
    for (CellText &cell : cells) {
        if (!needsFlattening(cell.text))
            continue;
        cell.made = flattened(cell.text); // may be made from the old `made`: copied first
        cell.text = cell.made;
        cell.numeric = false;
    }
}
