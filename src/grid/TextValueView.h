#pragma once

#include <QPlainTextEdit>

#include <memory>

class QTimer;

// A value as plain text, with line numbers, wrapped or not. Only the lines
// in view are laid out. A line longer than LongLine characters is held in
// pieces of that length (a piece after the first is marked, and shows no
// line number), so a one-line value of many megabytes never makes one huge
// block to lay out; value() joins the pieces again.
//
// A value goes into the document in slices of a few milliseconds each, from
// the event loop: the first screen shows at once and the window never
// stands still for the rest. The view is read-only until all of it is in
// (isLoading(), loaded()).
class TextValueView : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int LongLine = 1024;

    explicit TextValueView(QWidget *parent = nullptr);
    ~TextValueView() override;

    // Shows the UTF-8 `bytes` (kept, not copied, until loaded: the caller
    // keeps them unchanged until then or until the next setValue()).
    // `readOnly` applies once loaded.
    void setValue(const QByteArray &bytes, bool readOnly = false);
    void setValue(const QString &text) { setValue(text.toUtf8()); }
    bool isLoading() const { return m_loading != nullptr; }
    // Puts the rest of the value in at once.
    void finishLoading();
    // The text shown (all of the value: it finishes loading first).
    QString value();
    // Characters of the value (UTF-16 units), counted after a short pause
    // in typing: characterCounted() tells the new count.
    qsizetype characterCount() const { return m_characters; }
    void setWrapped(bool wrapped);
    // Whether value() gives back exactly what setValue() was given: not so
    // for bytes that are not UTF-8, a lone CR, lines ending both in CR LF and
    // LF, and characters the document keeps for itself (U+2029, NUL ...).
    // Such text is shown read-only. Lines all ending in CR LF show without
    // the CR and get it back. Known once loaded.
    bool isExact() const { return m_exact; }

    int gutterWidth() const;

signals:
    void characterCounted(qsizetype characters);
    void loaded();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class LineNumbers;
    struct Loading;
    void paintGutter(QPaintEvent *event);
    void count();
    // Puts the next slice in; false when done.
    bool loadSlice();
    void loadSome();
    void endLoading();

    QWidget *m_gutter;
    QTimer *m_counter;
    qsizetype m_pieces = 0; // blocks that continue a line
    qsizetype m_characters = 0;
    bool m_crlf = false;
    bool m_exact = true;
    bool m_readOnlyWhenLoaded = false;
    std::unique_ptr<Loading> m_loading;
};
