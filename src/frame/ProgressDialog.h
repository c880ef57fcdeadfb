#pragma once

#include "core/ExportProgress.h"
#include "frame/DelayedProgress.h"

#include <QElapsedTimer>
#include <QString>

class QProgressDialog;
class QWidget;

// The progress of an export as the user sees it: a window-modal dialog with
// the row count and a Cancel button (a DelayedProgress), which shows up once
// the export has taken `showAfterMs` milliseconds, so quick exports never
// flash one. While it is up, update() lets the pending window events run (a
// core/Wait), so Wait.h's rule of re-entrancy holds for its callers. Needs a
// QApplication to show anything.
class ProgressDialog
{
public:
    explicit ProgressDialog(QWidget *parent, int showAfterMs = 500,
                            const QString &objectName = QStringLiteral("ExportProgress"));
    ~ProgressDialog();
    ProgressDialog(const ProgressDialog &) = delete;
    ProgressDialog &operator=(const ProgressDialog &) = delete;

    // The label while the total is known: %L1 the rows done, %L2 the total.
    void setRowLabel(const QString &format) { m_rowLabel = format; }
    // Returns false once the user has pressed Cancel.
    bool update(qint64 done, qint64 total);
    // An ExportProgress that calls update(); valid while this object lives.
    ExportProgress function();

    QProgressDialog *dialog() const { return m_progress.dialog(); }

private:
    DelayedProgress m_progress;
    QString m_rowLabel = QStringLiteral("Saving row %L1 of %L2");
    QElapsedTimer m_sinceShown; // since the dialog was last brought up to date
    qint64 m_shownTotal = -1;
    static constexpr int RefreshMs = 30;
};
