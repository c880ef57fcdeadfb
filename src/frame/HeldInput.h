#pragma once

#include <QString>

#include <functional>

class Connection;
struct ConnectParams;
class QWidget;

// Holding the user's input while a connection opens or a statement runs.
// The waits here are core/Wait's, and its re-entrancy rule holds; what they
// add is the hold: a page disabled, or the user's input to every window
// dropped but for modal windows opened during the wait and windows that let
// it through.

// Opens `connection` with the connection text through
// Connection::openWaiting: the window keeps painting, and `page` takes no
// input until the connection is there or has failed (at most the connect
// timeout), so a second press cannot start a second attempt. Throws Failure
// as Connection::open does.
void openHoldingPage(QWidget *page, Connection &connection, const QString &connectionString);
void openHoldingPage(QWidget *page, Connection &connection, const ConnectParams &params);

// Runs `work`, calls on a connection that touch no widget, on a thread kept
// for it, and returns when it has ended, rethrowing what it threw. Work that
// ends within a few tens of milliseconds (the usual case) is waited for
// plainly. Longer, the window keeps painting while the user's input to
// the application is held back (keys, mouse, closing a window); after a
// moment a window on `page` says "Waiting for the server at HOST" (`host`)
// until the work ends. The work cannot be given up: a statement already
// sent is not undone by leaving it.
void runHoldingInput(QWidget *page, const QString &host, const std::function<void()> &work);
// The same for work on `connection`, whose server the window names.
void runHoldingInput(QWidget *page, const Connection &connection, const std::function<void()> &work);
// Runs one statement on `connection` that way (Connection::exec).
void execHoldingInput(QWidget *page, Connection &connection, const QByteArray &sql);
// Runs `wait`, which runs the event loop itself until something it waits
// for has come (a background read's first answer), with the user's input
// held back as above; a modal window that `wait` opens (a wait dialog with
// Cancel) takes input.
// isHoldingInput() is true meanwhile.
void holdInputDuring(const std::function<void()> &wait);
// Lets the user's input to `window` through during such waits: for a
// progress window whose Cancel only asks a longer job to stop between its
// steps.
void letInputThroughWhileHolding(QWidget *window);
// Whether such a wait is running now: whatever would use the connection
// being waited on (a queued re-read) waits for its end.
bool isHoldingInput();
