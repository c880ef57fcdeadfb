#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QProgressDialog;
class QWidget;

// The "please wait" window of a wait or a long job: a QProgressDialog that
// shows only once the work has taken `showAfterMs` (from construction), so
// quick work never flashes one. The caller says when to look (showIfDue(),
// from its wait's tick or its job's progress) or lets a timer show it
// (showWhenDue()). Until shown, no window exists; needs a QApplication to
// show one. The window is window-modal unless told otherwise, has no end
// known (its range 0..0) until the caller sets one, and a Cancel button
// unless told otherwise; its accessible name is its caption.
class DelayedProgress
{
public:
    DelayedProgress(QWidget *parent, int showAfterMs, const QString &objectName);
    ~DelayedProgress();
    DelayedProgress(const DelayedProgress &) = delete;
    DelayedProgress &operator=(const DelayedProgress &) = delete;

    // Set before the window shows.
    void setCaption(const QString &caption) { m_caption = caption; }
    void setLabel(const QString &label) { m_label = label; }
    void setCancellable(bool cancellable) { m_cancellable = cancellable; }
    void setWindowModal(bool modal) { m_modal = modal; }
    // The window takes input while input is held (frame/HeldInput.h): for a
    // job whose Cancel stops it between its steps.
    void setPassesHeldInput(bool passes) { m_passesHeldInput = passes; }

    // Shows the window once `waitedMs` (by default the time since
    // construction) has reached the delay; true while it is up.
    bool showIfDue(qint64 waitedMs);
    bool showIfDue() { return showIfDue(m_clock.elapsed()); }
    // Shows the window when the delay is over, by a timer: for a wait that
    // has no tick of its own.
    void showWhenDue();
    bool wasCancelled() const;
    // Closes the window; it does not show again.
    void close();

    QProgressDialog *dialog() const { return m_dialog.get(); }

private:
    void show();

    QPointer<QWidget> m_parent;
    int m_showAfterMs;
    QString m_objectName;
    QString m_caption;
    QString m_label;
    bool m_cancellable = true;
    bool m_modal = true;
    bool m_passesHeldInput = false;
    bool m_closed = false;
    QElapsedTimer m_clock;
    QTimer m_due;
    std::unique_ptr<QProgressDialog> m_dialog;
};
