#include "support/Modal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <memory>

void onNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    // The window modal when this is armed is not the next one, and neither
    // is a wait window that a slow server brings up before it.
    const QPointer<QWidget> before = QApplication::activeModalWidget();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, before, action = std::move(action), timeoutMs] {
        QWidget *w = QApplication::activeModalWidget();
        if (w && w != before && !qobject_cast<QProgressDialog *>(w)) {
            timer->stop();
            timer->deleteLater();
            action(w);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}
