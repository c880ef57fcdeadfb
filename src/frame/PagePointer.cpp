#include "frame/PagePointer.h"

#include "frame/Main.h"
#include "frame/Trap.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QWidget>

PagePointer::PagePointer(QWidget *page) : QObject(page), m_page(page) {}

void PagePointer::setState(State state)
{
    m_state = state;
    if (!m_page)
        return;
    switch (state) {
    case State::Default: m_page->unsetCursor(); break;
    case State::Busy: m_page->setCursor(Qt::WaitCursor); break;
    case State::Custom:
        if (m_hasCustom)
            m_page->setCursor(m_custom);
        else
            m_page->setCursor(Qt::ArrowCursor);
        break;
    }
}

void PagePointer::setCustomCursor(const QCursor &cursor)
{
    m_custom = cursor;
    m_hasCustom = true;
}

void PagePointer::loadHandCursor(Trap &trap, int testStep, int loadStep)
{
    if (trap.test(testStep, [] { return Main::FileExists(Main::handCursorPath()); }))
        trap.step(loadStep, [&] { setCustomCursor(Main::loadCursor(Main::handCursorPath())); });
}

void PagePointer::watchButton(QWidget *button)
{
    button->setProperty("corvaneHover", QStringLiteral("button"));
    button->installEventFilter(this);
}

void PagePointer::watchArea(QWidget *area)
{
    area->setProperty("corvaneHover", QStringLiteral("area"));
    area->setMouseTracking(true);
    area->installEventFilter(this);
    // A scroll area (list, grid) gets its mouse moves on its viewport.
    if (auto *scroll = qobject_cast<QAbstractScrollArea *>(area)) {
        scroll->viewport()->setProperty("corvaneHover", QStringLiteral("area"));
        scroll->viewport()->setMouseTracking(true);
        scroll->viewport()->installEventFilter(this);
    }
}

bool PagePointer::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) && !isBusy()) {
        const QString kind = watched->property("corvaneHover").toString();
        if (kind == QLatin1String("button") && m_state != State::Custom)
            setState(State::Custom);
        else if (kind == QLatin1String("area") && m_state != State::Default)
            setState(State::Default);
    }
    return QObject::eventFilter(watched, event);
}
