#pragma once

#include <QCursor>
#include <QObject>
#include <QPointer>

class QWidget;
class Trap;

// The mouse pointer of one page or dialog: default arrow, busy, or custom
// (the hand cursor when one was loaded, else the arrow). Also the hover rule:
// over a watched button the pointer becomes custom, over a watched area it
// becomes default, and neither changes a busy pointer.
class PagePointer : public QObject
{
    Q_OBJECT
public:
    enum class State { Default, Busy, Custom };

    explicit PagePointer(QWidget *page);

    State state() const { return m_state; }
    void setState(State state);
    bool isBusy() const { return m_state == State::Busy; }

    // The picture shown in the custom state.
    void setCustomCursor(const QCursor &cursor);
    bool hasCustomCursor() const { return m_hasCustom; }
    // Takes the hand cursor from the program folder as the custom cursor
    // when its file is there: the test is step `testStep` of the caller's
    // trap, the loading step `loadStep`.
    void loadHandCursor(Trap &trap, int testStep, int loadStep);

    void watchButton(QWidget *button);
    void watchArea(QWidget *area);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_page;
    State m_state = State::Default;
    QCursor m_custom;
    bool m_hasCustom = false;
};

// Sets a page busy for the life of the object, then back to default.
class BusyPointer
{
public:
    explicit BusyPointer(PagePointer &pointer) : m_pointer(pointer) { m_pointer.setState(PagePointer::State::Busy); }
    ~BusyPointer() { m_pointer.setState(PagePointer::State::Default); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

private:
    PagePointer &m_pointer;
};
