#include "grid/TextValueView.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QStringDecoder>
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

struct TextValueView::Loading
{
    QByteArray bytes;
    qsizetype offset = 0;
    QStringDecoder decoder{QStringDecoder::Utf8};
    QTextCursor end;
    qsizetype line = 0;  // characters of the line being read so far
    qsizetype block = 0; // the number of the document's last block
    bool pendingReturn = false;
    qsizetype pairs = 0;   // CR LF
    qsizetype feeds = 0;   // LF alone
    qsizetype returns = 0; // CR alone
    bool special = false;
    qsizetype characters = 0;
};

TextValueView::~TextValueView() = default;

void TextValueView::setValue(const QByteArray &bytes, bool readOnly)
{
    m_loading.reset();
    m_counter->stop();
    document()->setUndoRedoEnabled(false);
    document()->clear();
    m_pieces = 0;
    m_characters = 0;
    m_crlf = false;
    m_exact = true;
    m_readOnlyWhenLoaded = readOnly;
    setReadOnly(true);
    m_loading = std::make_unique<Loading>();
    m_loading->bytes = bytes;
    m_loading->end = QTextCursor(document());
    // The first slice now, so the first screen shows with the call.
    if (loadSlice())
        QTimer::singleShot(0, this, &TextValueView::loadSome);
}

void TextValueView::loadSome()
{
    if (!m_loading)
        return;
    // A few milliseconds at a time, then back to the event loop.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 6)
        if (!loadSlice())
            return;
    QTimer::singleShot(0, this, &TextValueView::loadSome);
}

void TextValueView::finishLoading()
{
    while (m_loading && loadSlice()) { }
}

bool TextValueView::loadSlice()
{
    Loading &l = *m_loading;
    constexpr qsizetype Slice = 16384;
    const qsizetype n = qMin(Slice, l.bytes.size() - l.offset);
    const QString text = l.decoder(QByteArrayView(l.bytes).sliced(l.offset, n));
    l.offset += n;
    QString out;
    out.reserve(text.size() + text.size() / LongLine + 2);
    std::vector<qsizetype> pieces;
    const auto lineBreak = [&](QChar c) {
        out.append(c);
        l.line = 0;
        ++l.block;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (l.pendingReturn) {
            l.pendingReturn = false;
            if (c == u'\n') {
                ++l.pairs;
                lineBreak(c);
                continue;
            }
            ++l.returns;
            lineBreak(QLatin1Char('\r'));
        }
        const char16_t u = c.unicode();
        if (u == u'\r') {
            l.pendingReturn = true;
        } else if (u == u'\n') {
            ++l.feeds;
            lineBreak(c);
        } else if (u == 0x2029 || u == 0xFDD0 || u == 0xFDD1) {
            l.special = true; // the document breaks the block there
            lineBreak(c);
        } else {
            if (u == 0 || u == 0xFFFC)
                l.special = true;
            if (l.line >= LongLine && !c.isLowSurrogate()) {
                lineBreak(QLatin1Char('\n'));
                pieces.push_back(l.block);
            }
            out.append(c);
            ++l.line;
        }
    }
    l.characters += text.size();
    // The user's cursor stays where it was, not pushed along by the slice.
    QTextCursor user = textCursor();
    const int anchor = user.anchor();
    const int position = user.position();
    m_loading->end.insertText(out);
    if (textCursor().position() != position || textCursor().anchor() != anchor) {
        user.setPosition(anchor);
        user.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(user);
    }
    for (qsizetype piece : pieces)
        document()->findBlockByNumber(int(piece)).setUserState(PieceState);
    m_pieces += qsizetype(pieces.size());
    if (l.offset < l.bytes.size())
        return true;
    endLoading();
    return false;
}

void TextValueView::endLoading()
{
    Loading &l = *m_loading;
    if (l.pendingReturn) {
        ++l.returns;
        m_loading->end.insertText(QStringLiteral("\r"));
    }
    m_crlf = l.pairs > 0 && l.feeds == 0 && l.returns == 0;
    m_exact = !l.decoder.hasError() && !l.special && l.returns == 0 && (l.pairs == 0 || l.feeds == 0);
    m_characters = l.characters;
    m_loading.reset();
    document()->setUndoRedoEnabled(true);
    setReadOnly(m_readOnlyWhenLoaded || !m_exact);
    emit characterCounted(m_characters);
    emit loaded();
}

QString TextValueView::value()
{
    finishLoading();
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
    if (m_loading)
        return; // counted when loaded
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
