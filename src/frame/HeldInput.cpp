#include "frame/HeldInput.h"

#include "core/Wait.h"
#include "db/Connection.h"
#include "frame/DelayedProgress.h"
#include "frame/Main.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QThreadPool>

#include <QScopeGuard>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace {

int holding = 0;

constexpr char PassesInput[] = "corvaneInputPassesWhileHolding";

// A plain wait for work this short: the window would not see it.
constexpr int PlainWaitMs = 30;
constexpr int ShowAfterMs = 400;

// The thread the work runs on, kept between calls.
QThreadPool &workThread()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool; // left to the end of the process: it may be busy then
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}

// One piece of work for that thread, and how it ended.
struct Run
{
    const std::function<void()> *work = nullptr;
    std::function<void()> wake;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::exception_ptr failure;
};

// Runs pass to the thread through this queue, under its lock: the pool's own
// hand-over is inside Qt, which a race detector cannot see, so what the pool
// is given (a plain function) carries nothing the caller wrote.
std::mutex handLock;
std::deque<std::shared_ptr<Run>> handed;

void runHanded()
{
    std::shared_ptr<Run> run;
    {
        std::lock_guard<std::mutex> hold(handLock);
        run = std::move(handed.front());
        handed.pop_front();
    }
    try {
        (*run->work)();
    } catch (...) {
        run->failure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(run->lock);
    run->done = true;
    run->ended.notify_all();
    run->wake();
}

// Swallows the user's input to every window while it lives, but for windows
// that let it through and for a modal window opened meanwhile (a message
// from something that ran during the wait): that one could otherwise never
// be closed, and the wait would never end.
class InputHold : public QObject
{
public:
    InputHold() : m_modalBefore(QApplication::activeModalWidget()) { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *target, QEvent *event) override
    {
        // A window of the platform hands its input on to its widgets, which
        // are judged here then.
        if (target->isWindowType())
            return false;
        if (const auto *w = qobject_cast<QWidget *>(target)) {
            const QWidget *window = w->window();
            if (window->property(PassesInput).toBool())
                return false;
            const QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal != m_modalBefore && window == modal)
                return false;
        }
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            event->ignore();
            return true;
        case QEvent::Close: // the user's, not a close in the program
            if (!event->spontaneous())
                return false;
            event->ignore();
            return true;
        default:
            return false;
        }
    }

private:
    QPointer<QWidget> m_modalBefore; // null once closed: a new one is another
};

} // namespace

void openHoldingPage(QWidget *page, Connection &connection, const QString &connectionString)
{
    openHoldingPage(page, connection, Connection::paramsFrom(connectionString));
}

void openHoldingPage(QWidget *page, Connection &connection, const ConnectParams &params)
{
    const bool wasEnabled = page && page->isEnabled();
    if (page)
        page->setEnabled(false);
    ++holding;
    const auto release = qScopeGuard([page, wasEnabled] {
        --holding;
        if (page)
            page->setEnabled(wasEnabled);
    });
    connection.openWaiting(params, {});
}

void letInputThroughWhileHolding(QWidget *window)
{
    window->setProperty(PassesInput, true);
}

bool isHoldingInput()
{
    return holding > 0;
}

void holdInputDuring(const std::function<void()> &wait)
{
    ++holding;
    const auto release = qScopeGuard([] { --holding; });
    InputHold input;
    wait();
}

void runHoldingInput(QWidget *page, const Connection &connection, const std::function<void()> &work)
{
    runHoldingInput(page, QString::fromUtf8(connection.params().host), work);
}

void execHoldingInput(QWidget *page, Connection &connection, const QByteArray &sql)
{
    runHoldingInput(page, connection, [&] { connection.exec(sql); });
}

void runHoldingInput(QWidget *page, const QString &host, const std::function<void()> &work)
{
    auto run = std::make_shared<Run>();
    ++holding;
    const auto release = qScopeGuard([] { --holding; });
    Wait wait;
    run->work = &work;
    run->wake = wait.waker();
    {
        std::lock_guard<std::mutex> hold(handLock);
        handed.push_back(run);
    }
    workThread().start(runHanded);
    std::unique_lock<std::mutex> hold(run->lock);
    if (!run->ended.wait_for(hold, std::chrono::milliseconds(PlainWaitMs), [&] { return run->done; })) {
        hold.unlock();
        InputHold input;
        DelayedProgress shown(page, ShowAfterMs, QStringLiteral("ServerWait"));
        shown.setCaption(Main::appTitle());
        shown.setLabel(QStringLiteral("Waiting for the server at %1").arg(host));
        shown.setCancellable(false);
        shown.setWindowModal(false);
        shown.showWhenDue();
        wait.until([&] {
                std::lock_guard<std::mutex> guard(run->lock);
                return run->done;
            })
            .run();
        hold.lock();
        // The wait may have been left early (an application quitting).
        run->ended.wait(hold, [&] { return run->done; });
    }
    if (run->failure)
        std::rethrow_exception(run->failure);
}
