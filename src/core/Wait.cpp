#include "core/Wait.h"

#include <QTimer>

#include <mutex>

// What a waker holds: the loop to post to, null once the wait is gone.
struct Wait::Shared
{
    std::mutex lock;
    Wait *wait = nullptr;
};

Wait::Wait() : m_shared(std::make_shared<Shared>())
{
    m_shared->wait = this;
}

Wait::~Wait()
{
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->wait = nullptr;
}

Wait &Wait::until(std::function<bool()> done)
{
    m_done = std::move(done);
    return *this;
}

Wait &Wait::every(int ms, std::function<bool(qint64 waitedMs)> tick)
{
    m_tickMs = ms;
    m_tick = std::move(tick);
    return *this;
}

Wait &Wait::timeout(int ms)
{
    m_timeoutMs = ms;
    return *this;
}

Wait &Wait::input(Input input)
{
    m_input = input;
    return *this;
}

std::function<void()> Wait::waker()
{
    return [shared = m_shared] {
        std::lock_guard<std::mutex> hold(shared->lock);
        if (Wait *wait = shared->wait)
            QMetaObject::invokeMethod(&wait->m_wake, "check", Qt::QueuedConnection);
    };
}

Wait::Result Wait::run()
{
    m_waited.start();
    m_result.reset();
    if (m_done && m_done())
        return Result::Done;
    QTimer ticks;
    if (m_tickMs > 0) {
        QObject::connect(&ticks, &QTimer::timeout, &m_loop, [this] { tick(); });
        ticks.start(m_tickMs);
    }
    QTimer limit;
    if (m_timeoutMs >= 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &m_loop, [this] { end(Result::TimedOut); });
        limit.start(m_timeoutMs);
    }
    m_running = true;
    m_loop.exec(m_input == Input::Defer ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
    m_running = false;
    return m_result.value_or(Result::Left);
}

void WaitWake::check()
{
    m_wait.check();
}

void Wait::check()
{
    if (m_done && m_done())
        end(Result::Done);
}

void Wait::tick()
{
    if (m_done && m_done())
        end(Result::Done);
    else if (m_tick && !m_tick(m_waited.elapsed()))
        end(Result::GaveUp);
}

void Wait::end(Result result)
{
    if (!m_running || m_result)
        return;
    m_result = result;
    m_loop.quit();
}
