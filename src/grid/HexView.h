#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>

// Bytes as lines of an offset, sixteen bytes in hex and the same bytes as
// printable ASCII, editable in both halves. It paints only the lines in
// view, straight from the bytes; no text of the whole value is ever built.
//
// Typing overwrites the byte at the cursor (two hex digits, or one
// character in the ASCII half); at the end it appends. Delete and Backspace
// remove a byte. Tab moves between the halves.
class HexView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int BytesPerLine = 16;

    explicit HexView(QWidget *parent = nullptr);

    void setBytes(QByteArray bytes);
    const QByteArray &bytes() const { return m_bytes; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool isReadOnly() const { return m_readOnly; }

    // The byte the cursor is at (bytes().size() past the last), and whether
    // it is in the ASCII half.
    qsizetype cursorPosition() const { return m_cursor; }
    void setCursorPosition(qsizetype position, bool inAscii = false);
    bool isInAscii() const { return m_inAscii; }

signals:
    // The user changed the bytes.
    void edited();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    qsizetype lineCount() const;
    int visibleLines() const;
    void updateScrollBar();
    void ensureCursorVisible();
    bool typeHex(int digit);
    bool typeAscii(char c);
    void removeAt(qsizetype at);
    // x of the hex digits and of the ASCII column, in pixels from the left.
    int hexX(int column) const;
    int asciiX(int column) const;

    QByteArray m_bytes;
    qsizetype m_cursor = 0;
    bool m_lowNibble = false;
    bool m_inAscii = false;
    bool m_readOnly = false;
    int m_charWidth = 8;
    int m_lineHeight = 16;
};
