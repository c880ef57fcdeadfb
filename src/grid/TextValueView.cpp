#include "grid/TextValueView.h"

#include <QPainter>
#include <QTextBlock>
#include <QTimer>

#include <vector>

namespace {

constexpr int PieceState = 1; // a block's user state: it continues the line before it

} // namespace

class LineNumbers : public QWidget
{
public:
    explicit LineNumbers(TextValueView *view) : QWidget(view), m_view(view) { }
    QSize sizeHint() const override { return {m_view->gutterWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent *event) override { m_view->paintGutter(event); }

private:
    TextValueView *m_view;
};

TextValueView::TextValueView(QWidget *parent)
    : QPlainTextEdit(parent), m_gutter(new LineNumbers(this)), m_counter(new QTimer(this))
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    setFont(font);
    m_counter->setSingleShot(true);
    m_counter->setInterval(200);
    connect(m_counter, &QTimer::timeout, this, &TextValueView::count);
    connect(this, &QPlainTextEdit::textChanged, m_counter, qOverload<>(&QTimer::start));
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { setViewportMargins(gutterWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
        if (dy)
            m_gutter->scroll(0, dy);
        else
            m_gutter->update(0, rect.y(), m_gutter->width(), rect.height());
    });
    setViewportMargins(gutterWidth(), 0, 0, 0);
}

void TextValueView::setValue(const QString &given)
{
    // The document splits blocks at CR too, and at characters of its own:
    // text it could not give back byte for byte is shown read-only. Lines
    // that all end in CR LF are shown without the CR and get it back.
    qsizetype returns = 0;
    qsizetype pairs = 0;
    qsizetype feeds = 0;
    m_exact = true;
    const QChar *data = given.constData();
    for (qsizetype i = 0, n = given.size(); i < n; ++i) {
        const char16_t c = data[i].unicode();
        if (c == u'\n') {
            ++feeds;
            pairs += i > 0 && data[i - 1] == QLatin1Char('\r') ? 1 : 0;
        } else if (c == u'\r') {
            ++returns;
        } else if (c == 0 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1 || c == 0xFFFC) {
            m_exact = false;
        }
    }
    m_crlf = returns > 0 && returns == pairs && pairs == feeds;
    m_exact = m_exact && (returns == 0 || m_crlf);
    const QString text = m_crlf ? QString(given).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) : given;
    // Lines are cut every LongLine characters, never inside a surrogate pair.
    QString shown;
    std::vector<qsizetype> pieceBlocks; // numbers of the blocks that continue a line
    qsizetype copied = 0;
    qsizetype block = 0;
    const qsizetype n = text.size();
    for (qsizetype start = 0; start < n;) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = n;
        for (qsizetype at = start + LongLine; at < end; at += LongLine) {
            if (text.at(at).isLowSurrogate())
                ++at;
            if (at >= end)
                break;
            if (shown.isEmpty())
                shown.reserve(n + n / LongLine + 1);
            shown.append(QStringView(text).sliced(copied, at - copied));
            shown.append(QLatin1Char('\n'));
            copied = at;
            pieceBlocks.push_back(++block);
        }
        ++block;
        start = end + 1;
    }
    if (!pieceBlocks.empty())
        shown.append(QStringView(text).sliced(copied));
    setPlainText(pieceBlocks.empty() ? text : shown);
    QTextBlock b = document()->firstBlock();
    qsizetype number = 0;
    for (qsizetype piece : pieceBlocks) {
        for (; number < piece && b.isValid(); ++number)
            b = b.next();
        b.setUserState(PieceState);
    }
    m_pieces = qsizetype(pieceBlocks.size());
    m_characters = given.size();
    m_counter->stop();
    emit characterCounted(m_characters);
}

QString TextValueView::value() const
{
    // Typing never makes a piece: without pieces when shown, there are none.
    QString out;
    if (m_pieces == 0) {
        // Raw: toPlainText() would turn no-break spaces into blanks.
        out = document()->toRawText();
        out.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        return m_crlf ? out.replace(QStringLiteral("\n"), QStringLiteral("\r\n")) : out;
    }
    out.reserve(document()->characterCount());
    for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next()) {
        if (b != document()->firstBlock() && b.userState() != PieceState)
            out.append(QLatin1Char('\n'));
        out.append(b.text());
    }
    return m_crlf ? out.replace(QStringLiteral("\n"), QStringLiteral("\r\n")) : out;
}

void TextValueView::count()
{
    qsizetype pieces = 0;
    if (m_pieces > 0)
        for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next())
            pieces += b.userState() == PieceState ? 1 : 0;
    m_pieces = pieces;
    // characterCount() holds the text and one separator a block, plus one.
    m_characters = document()->characterCount() - 1 - pieces;
    if (m_crlf)
        m_characters += document()->blockCount() - 1 - pieces;
    emit characterCounted(m_characters);
}

void TextValueView::setWrapped(bool wrapped)
{
    setLineWrapMode(wrapped ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

int TextValueView::gutterWidth() const
{
    int digits = 1;
    for (int max = qMax(1, blockCount()); max >= 10; max /= 10)
        ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void TextValueView::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    const QRect r = contentsRect();
    m_gutter->setGeometry(r.left(), r.top(), gutterWidth(), r.height());
}

void TextValueView::paintGutter(QPaintEvent *event)
{
    QPainter p(m_gutter);
    p.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    p.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    // The line number counts whole lines only: pieces before the first
    // block shown are skipped (they exist only in values with long lines).
    int line = block.blockNumber() + 1;
    if (m_pieces > 0) {
        line = 1;
        for (QTextBlock b = document()->firstBlock(); b.isValid() && b != block; b = b.next())
            line += b.next().userState() == PieceState ? 0 : 1;
    }
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top() && block.userState() != PieceState)
            p.drawText(0, top, m_gutter->width() - 4, fontMetrics().height(), Qt::AlignRight, QString::number(line));
        block = block.next();
        if (block.isValid() && block.userState() != PieceState)
            ++line;
        top += height;
    }
}
