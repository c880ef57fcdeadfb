#pragma once

#include "frame/Desktop.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>

// A scripted Desktop: records every message box and answers from queues.
// With no queued answer a box gets its default button and a file dialog is
// cancelled.
class FakeDesktop : public Desktop
{
public:
    struct Box
    {
        QString caption;
        QString text;
        Icon icon;
        Buttons buttons;
        Answer defaultButton;
    };

    Answer message(QWidget *parent, const QString &caption, const QString &text, Icon icon, Buttons buttons,
                   Answer defaultButton) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter) override;
    bool openFile(const QString &path) override;
    void processEvents() override;

    QList<Box> boxes;
    QQueue<Answer> answers;
    QQueue<QString> fileNames;                  // answers both file dialogs
    QList<QPair<QString, QString>> saveDialogs; // title, filter
    QList<QPair<QString, QString>> openDialogs; // title, start
    int processEventsCalls = 0;
    QStringList openedFiles; // openFile() records and answers true
    bool canOpenFiles = true;
    // Runs inside message(), before it returns: lets a test act while a box is up.
    std::function<void(const Box &)> onMessage;

    QStringList texts() const;
    void clear();
};
