#pragma once

#include "export/GridWalk.h"

#include <QElapsedTimer>
#include <QPointer>

#include <memory>

class QProgressDialog;
class QWidget;

// The progress of an export as the user sees it: a window-modal dialog with
// the row count and a Cancel button, which shows up once the export has
// taken `showAfterMs` milliseconds, so quick exports never flash one. Lets
// window events run while it is up. Needs a QApplication to show anything.
class ProgressDialog
{
public:
    explicit ProgressDialog(QWidget *parent, int showAfterMs = 500);
    ~ProgressDialog();
    ProgressDialog(const ProgressDialog &) = delete;
    ProgressDialog &operator=(const ProgressDialog &) = delete;

    // Returns false once the user has pressed Cancel.
    bool update(qint64 done, qint64 total);
    // An ExportProgress that calls update(); valid while this object lives.
    ExportProgress function();

    QProgressDialog *dialog() const { return m_dialog.get(); }

private:
    void create();

    QPointer<QWidget> m_parent;
    int m_showAfterMs;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_dialog;
};
