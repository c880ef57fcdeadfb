#pragma once

#include <QPlainTextEdit>

class QTimer;

// A value as plain text, with line numbers, wrapped or not. Only the lines
// in view are laid out. A line longer than LongLine characters is held in
// pieces of that length (a piece after the first is marked, and shows no
// line number), so a one-line value of many megabytes never makes one huge
// block to lay out; value() joins the pieces again.
class TextValueView : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int LongLine = 4096;

    explicit TextValueView(QWidget *parent = nullptr);

    void setValue(const QString &text);
    QString value() const;
    // Characters of the value (UTF-16 units), counted after a short pause
    // in typing: characterCounted() tells the new count.
    qsizetype characterCount() const { return m_characters; }
    void setWrapped(bool wrapped);
    // Whether value() gives back exactly what setValue() was given (see
    // setValue()); the panel shows an inexact text read-only.
    bool isExact() const { return m_exact; }

    int gutterWidth() const;

signals:
    void characterCounted(qsizetype characters);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class LineNumbers;
    void paintGutter(QPaintEvent *event);
    void count();

    QWidget *m_gutter;
    QTimer *m_counter;
    qsizetype m_pieces = 0; // blocks that continue a line
    qsizetype m_characters = 0;
    bool m_crlf = false;
    bool m_exact = true;
};
