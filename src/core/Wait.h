#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class Wait;

// What a worker's waker calls: a call posted by the slot's name, so the event
// is made inside Qt and carries nothing the worker wrote (a race detector
// cannot see Qt's own ordering of posted events).
class WaitWake : public QObject
{
    Q_OBJECT
public:
    explicit WaitWake(Wait &wait) : m_wait(wait) { }
public slots:
    void check();

private:
    Wait &m_wait;
};

// A wait in the window thread: runs the thread's event loop until what it
// waits for has come, so the window keeps painting. Every wait of the program
// is one of these; nobody writes an event loop of their own.
//
// Re-entrancy, the rule for every wait:
// - What runs meanwhile: timers, socket notifiers, queued calls from worker
//   threads (a load's rows and its end, a finished sort), paint and layout,
//   and the input of a modal window opened during the wait (a message box,
//   the wait's own progress window and its Cancel). Any of them may call code
//   of the waiting object, or start a wait of its own inside this one.
// - What is held back: nothing, by default. With Input::Defer the user's
//   input to every window waits until the wait ends and is delivered then
//   (Qt's ExcludeUserInputEvents), a modal window's too. frame/HeldInput.h
//   holds input back more finely (dropped, but for modal windows opened
//   meanwhile and windows that let it through) around a wait.
// - So a caller must not assume that the state it read before the wait
//   still holds after it: read again what a queued call may change (rows,
//   the model, whether a page is shown), keep pointers to QObjects that may
//   go as QPointer, and guard a handler that input may start a second time
//   while its first run waits. A deleteLater() posted before the wait runs
//   only after it.
//
// Ends (run()'s result): `done` holds (checked at the start, at each tick and
// when woken), a signal given to endOn() came, the tick gave up, the time
// ran out, or the event loop was ended from outside (the application quits).
class Wait
{
public:
    enum class Result {
        Done,
        GaveUp,
        TimedOut,
        Left, // the loop was ended from outside
    };
    enum class Input {
        Deliver,
        Defer,
    };

    Wait();
    ~Wait();
    Wait(const Wait &) = delete;
    Wait &operator=(const Wait &) = delete;

    Wait &until(std::function<bool()> done);
    // Calls `tick` every `ms` with the time waited so far; false gives up.
    // An empty tick only checks `done`.
    Wait &every(int ms, std::function<bool(qint64 waitedMs)> tick = {});
    Wait &timeout(int ms);
    Wait &input(Input input);
    // The wait ends (Done) when `sender` emits `signal`.
    template <typename Func> Wait &endOn(const typename QtPrivate::FunctionPointer<Func>::Object *sender, Func signal)
    {
        QObject::connect(sender, signal, &m_loop, [this] { end(Result::Done); });
        return *this;
    }
    // A call any thread may make at any time, also after the wait ended or
    // this object is gone: it has the waiting thread check `done` at once.
    std::function<void()> waker();

    Result run();
    qint64 waitedMs() const { return m_waited.isValid() ? m_waited.elapsed() : 0; }

private:
    struct Shared;
    friend class WaitWake;

    void check();
    void tick();
    void end(Result result);

    QEventLoop m_loop;
    // Posted calls to it go with it when the wait goes before they run.
    WaitWake m_wake{*this};
    std::shared_ptr<Shared> m_shared;
    std::function<bool()> m_done;
    std::function<bool(qint64)> m_tick;
    int m_tickMs = 0;
    int m_timeoutMs = -1;
    Input m_input = Input::Deliver;
    QElapsedTimer m_waited;
    bool m_running = false;
    std::optional<Result> m_result;
};
