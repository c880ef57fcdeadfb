#pragma once

#include "core/Failure.h"
#include "frame/Desktop.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// Builds the "Application Error" text: the description, the handler's
// location text directly followed by "at line " and the step number, an empty
// line made by two bare carriage returns, and the support line.
QString applicationErrorText(const QString &description, const QString &location, int line);

// Shows the "Application Error" box for one failing step.
void ReportApplicationError(Desktop &desktop, QWidget *parent, const QString &description,
                            const QString &location, int line);

// The error trap of one run of one handler. Each numbered step runs through
// it: a step that throws is reported with the handler's location text and the
// step's number, and the handler carries on with its next step.
//
//   Trap trap(desktop, this, Location::Form2_PushButton3_Click);
//   trap.step(106, [&] { ... });
//   if (trap.test(104, [&] { return list->currentRow() == -1; })) ...
//
// A loop never repeats a failure: write its body as steps and leave the loop
// when a step returns false.
class Trap
{
public:
    Trap(Desktop &desktop, QWidget *parent, QString location)
        : m_desktop(desktop), m_parent(parent), m_location(std::move(location)) {}

    // Runs one step. Returns true when it completed, false when it failed
    // and was reported.
    template <class F>
    bool step(int line, F &&f)
    {
        try {
            f();
            return true;
        } catch (const std::exception &e) {
            report(line, e);
        }
        return false;
    }

    // Runs the test of a decision. When the test itself fails, the failure is
    // reported and the test counts as passed, so the guarded steps run.
    template <class F>
    bool test(int line, F &&f)
    {
        try {
            return f();
        } catch (const std::exception &e) {
            report(line, e);
        }
        return true;
    }

    void report(int line, const QString &description);
    // A Failure's description, or the text of any other exception.
    void report(int line, const std::exception &e);

    const QString &location() const { return m_location; }
    Desktop &desktop() const { return m_desktop; }

private:
    Desktop &m_desktop;
    QPointer<QWidget> m_parent;
    QString m_location;
};
