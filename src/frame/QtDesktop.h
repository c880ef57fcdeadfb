#pragma once

#include "frame/Desktop.h"

// The real desktop: QMessageBox, QFileDialog and the event loop.
class QtDesktop : public Desktop
{
public:
    Answer message(QWidget *parent, const QString &caption, const QString &text, Icon icon,
                   Buttons buttons, Answer defaultButton) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter) override;
    bool openFile(const QString &path) override;
    void processEvents() override;

    // "Text Files (*.txt)|*.txt|All (*)|*" to Qt's ";;"-separated form.
    static QString qtFilter(const QString &pairs);
};
