#include "grid/HexView.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

const char Digits[] = "0123456789ABCDEF";

constexpr int OffsetChars = 10; // 8 digits and two blanks

} // namespace

HexView::HexView(QWidget *parent) : QAbstractScrollArea(parent)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    setFont(font);
    const QFontMetrics metrics(font);
    m_charWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    m_lineHeight = metrics.height();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
}

void HexView::setBytes(QByteArray bytes)
{
    m_bytes = std::move(bytes);
    m_cursor = 0;
    m_lowNibble = false;
    verticalScrollBar()->setValue(0);
    updateScrollBar();
    viewport()->update();
}

void HexView::setCursorPosition(qsizetype position, bool inAscii)
{
    m_cursor = qBound<qsizetype>(0, position, m_bytes.size());
    m_inAscii = inAscii;
    m_lowNibble = false;
    ensureCursorVisible();
    viewport()->update();
}

qsizetype HexView::lineCount() const
{
    // The end has a line of its own when the last line is full, to append.
    return m_bytes.size() / BytesPerLine + 1;
}

int HexView::visibleLines() const
{
    return qMax(1, viewport()->height() / m_lineHeight);
}

void HexView::updateScrollBar()
{
    // In lines: 16 MiB is about a million, well within the bar's range.
    verticalScrollBar()->setRange(0, int(qMax<qsizetype>(0, lineCount() - visibleLines())));
    verticalScrollBar()->setPageStep(visibleLines());
    horizontalScrollBar()->setRange(0, qMax(0, asciiX(BytesPerLine) - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void HexView::ensureCursorVisible()
{
    const int line = int(m_cursor / BytesPerLine);
    QScrollBar *bar = verticalScrollBar();
    if (line < bar->value())
        bar->setValue(line);
    else if (line >= bar->value() + visibleLines())
        bar->setValue(line - visibleLines() + 1);
}

int HexView::hexX(int column) const
{
    // Two digits and a blank a byte, one blank more after the eighth.
    return (OffsetChars + column * 3 + (column >= 8 ? 1 : 0)) * m_charWidth;
}

int HexView::asciiX(int column) const
{
    return hexX(BytesPerLine) + (1 + column) * m_charWidth;
}

void HexView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.translate(-horizontalScrollBar()->value(), 0);
    const QPalette &pal = palette();
    const int ascent = fontMetrics().ascent();
    const qsizetype first = verticalScrollBar()->value();
    const qsizetype last = qMin(lineCount(), first + visibleLines() + 1);
    char hex[2];
    for (qsizetype line = first; line < last; ++line) {
        const int y = int(line - first) * m_lineHeight;
        const qsizetype start = line * BytesPerLine;
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(0, y + ascent, QString::asprintf("%08llX", static_cast<unsigned long long>(start)));
        p.setPen(pal.color(QPalette::Text));
        for (int c = 0; c < BytesPerLine; ++c) {
            const qsizetype at = start + c;
            if (at == m_cursor && hasFocus()) {
                const int x = m_inAscii ? asciiX(c) : hexX(c) + (m_lowNibble ? m_charWidth : 0);
                p.fillRect(x, y, m_charWidth, m_lineHeight, pal.color(QPalette::Highlight));
                const int other = m_inAscii ? hexX(c) : asciiX(c);
                p.fillRect(other, y + m_lineHeight - 2, m_inAscii ? 2 * m_charWidth : m_charWidth, 2,
                    pal.color(QPalette::Highlight));
            }
            if (at >= m_bytes.size())
                break;
            const uchar b = uchar(m_bytes.at(at));
            hex[0] = Digits[b >> 4];
            hex[1] = Digits[b & 15];
            p.drawText(hexX(c), y + ascent, QString::fromLatin1(hex, 2));
            const QChar shown = b >= 0x20 && b < 0x7f ? QChar(b) : QChar(u'.');
            p.drawText(asciiX(c), y + ascent, QString(shown));
        }
    }
}

bool HexView::typeHex(int digit)
{
    if (m_cursor == m_bytes.size()) {
        m_bytes.append('\0');
        m_lowNibble = false;
    }
    uchar b = uchar(m_bytes.at(m_cursor));
    b = m_lowNibble ? uchar((b & 0xF0) | digit) : uchar((b & 0x0F) | (digit << 4));
    m_bytes[m_cursor] = char(b);
    if (m_lowNibble)
        ++m_cursor;
    m_lowNibble = !m_lowNibble;
    return true;
}

bool HexView::typeAscii(char c)
{
    if (m_cursor == m_bytes.size())
        m_bytes.append(c);
    else
        m_bytes[m_cursor] = c;
    ++m_cursor;
    return true;
}

void HexView::removeAt(qsizetype at)
{
    if (at < 0 || at >= m_bytes.size())
        return;
    m_bytes.remove(at, 1);
    m_cursor = at;
    m_lowNibble = false;
    updateScrollBar();
    emit edited();
}

void HexView::keyPressEvent(QKeyEvent *event)
{
    const qsizetype page = qsizetype(visibleLines()) * BytesPerLine;
    qsizetype to = m_cursor;
    switch (event->key()) {
    case Qt::Key_Left:
        to = m_lowNibble ? m_cursor : m_cursor - 1;
        break;
    case Qt::Key_Right:
        to = m_cursor + 1;
        break;
    case Qt::Key_Up:
        to = m_cursor - BytesPerLine;
        break;
    case Qt::Key_Down:
        to = m_cursor + BytesPerLine;
        break;
    case Qt::Key_PageUp:
        to = m_cursor - page;
        break;
    case Qt::Key_PageDown:
        to = m_cursor + page;
        break;
    case Qt::Key_Home:
        to = event->modifiers() & Qt::ControlModifier ? 0 : m_cursor - m_cursor % BytesPerLine;
        break;
    case Qt::Key_End:
        to = event->modifiers() & Qt::ControlModifier ? m_bytes.size()
                                                      : qMin(m_bytes.size(), m_cursor - m_cursor % BytesPerLine + 15);
        break;
    case Qt::Key_Backspace:
        if (!m_readOnly)
            removeAt(m_cursor - 1);
        ensureCursorVisible();
        viewport()->update();
        return;
    case Qt::Key_Delete:
        if (!m_readOnly)
            removeAt(m_cursor);
        viewport()->update();
        return;
    default: {
        const QString text = event->text();
        if (m_readOnly || text.size() != 1 || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        const QChar c = text.at(0);
        const int digit = QByteArrayView(Digits).indexOf(char(c.toUpper().toLatin1()));
        const bool typed = m_inAscii ? (c.unicode() >= 0x20 && c.unicode() < 0x7f && typeAscii(char(c.unicode())))
                                     : (digit >= 0 && digit < 16 && c.unicode() < 0x80 && typeHex(digit));
        if (!typed) {
            event->ignore();
            return;
        }
        updateScrollBar();
        ensureCursorVisible();
        viewport()->update();
        emit edited();
        return;
    }
    }
    m_lowNibble = false;
    m_cursor = qBound<qsizetype>(0, to, m_bytes.size());
    ensureCursorVisible();
    viewport()->update();
}

bool HexView::focusNextPrevChild(bool next)
{
    // Tab moves between the halves; it leaves the view only from the edge
    // it points past.
    if (next != m_inAscii) {
        m_inAscii = next;
        m_lowNibble = false;
        viewport()->update();
        return true;
    }
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void HexView::mousePressEvent(QMouseEvent *event)
{
    const int x = int(event->position().x()) + horizontalScrollBar()->value();
    const qsizetype line = verticalScrollBar()->value() + int(event->position().y()) / m_lineHeight;
    const bool ascii = x >= asciiX(0);
    int column = 0;
    for (int c = BytesPerLine - 1; c >= 0; --c)
        if (x >= (ascii ? asciiX(c) : hexX(c))) {
            column = c;
            break;
        }
    setCursorPosition(line * BytesPerLine + column, ascii);
}

void HexView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}
