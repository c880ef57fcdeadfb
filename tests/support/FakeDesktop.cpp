#include "support/FakeDesktop.h"

#include <QCoreApplication>

Desktop::Answer FakeDesktop::message(QWidget *, const QString &caption, const QString &text, Icon icon,
                                     Buttons buttons, Answer defaultButton)
{
    const Box box{caption, text, icon, buttons, defaultButton};
    boxes << box;
    if (onMessage)
        onMessage(box);
    return answers.isEmpty() ? defaultButton : answers.dequeue();
}

QString FakeDesktop::saveFileName(QWidget *, const QString &title, const QString &filter)
{
    saveDialogs << qMakePair(title, filter);
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QString FakeDesktop::openFileName(QWidget *, const QString &title, const QString &start, const QString &)
{
    openDialogs << qMakePair(title, start);
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

bool FakeDesktop::openFile(const QString &path)
{
    openedFiles << path;
    return canOpenFiles;
}

void FakeDesktop::processEvents()
{
    ++processEventsCalls;
    QCoreApplication::processEvents();
}

QStringList FakeDesktop::texts() const
{
    QStringList out;
    for (const Box &b : boxes)
        out << b.text;
    return out;
}

void FakeDesktop::clear()
{
    boxes.clear();
    answers.clear();
    fileNames.clear();
    saveDialogs.clear();
    openDialogs.clear();
    processEventsCalls = 0;
}
