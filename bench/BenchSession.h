#pragma once

#include "frame/Desktop.h"
#include "grid/GridModel.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QTimer>

#include <cstdio>

// What the benchmark programs share: a desktop that answers every box with
// its default and says it (so a failure shows), the sign-in page filled from
// the command line (HOST PORT USER PASSWORD DATABASE), the picker set to one
// table, and a timer that tells the longest the window stood still.

class SilentDesktop : public Desktop
{
public:
    // Yes to every Yes/No question instead of its default ("Delete this row?").
    bool answerYes = false;

    Answer message(
        QWidget *, const QString &caption, const QString &text, Icon, Buttons buttons, Answer defaultButton) override
    {
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return answerYes && buttons == Buttons::YesNo ? Answer::Yes : defaultButton;
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    void processEvents() override { QCoreApplication::processEvents(); }
};

inline double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

inline void fillSignIn(Wizard &wizard, const QStringList &args)
{
    Form1 *signIn = wizard.form1();
    signIn->Text1->setText(args[1]);
    signIn->Text5->setText(args[2]);
    signIn->Text2->setText(args[3]);
    signIn->Text3->setText(args[4]);
    signIn->Text4->setText(args[5]);
}

// The picker shown with `table` chosen, as the user sees it before "Next >":
// a picker that is not shown is one the user has left, and "Next >" gives up
// on a connect that takes longer than a moment (a far server).
inline void pickTable(Wizard &wizard, const QString &table)
{
    Form2 *picker = wizard.form2();
    picker->List1->clear();
    picker->List1->addItem(table);
    picker->List1->setCurrentRow(0);
    picker->show();
}

// Waits, after "Next >", for the editor to show the table: its first screen
// of `screenRows` rows, or all rows of a shorter table. False when no table
// was opened (the picker gave up, or the open failed and was reported).
inline bool waitForTable(Form3 *editor, int screenRows)
{
    GridModel *model = editor->model();
    if (!editor->isVisible() || !model->rowSet() || !model->connection())
        return false;
    while (model->rowCount(QModelIndex()) < screenRows && model->isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return true;
}

// A timer asking every 5 ms, as a user scrolling would: the longest gap
// between its turns is the longest the window stood still.
struct Heartbeat
{
    QTimer timer;
    QElapsedTimer since;
    qint64 longest = 0;
    Heartbeat()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { longest = qMax(longest, since.restart()); });
        since.start();
        timer.start(5);
    }
    // From now on.
    void reset()
    {
        longest = 0;
        since.restart();
    }
};

// The start of every benchmark program: offscreen unless told otherwise, the
// command line checked (`usage` names its words after the program's), the
// pages over a silent desktop with the sign-in values filled in; then `body`.
inline int runBench(int argc, char *argv[], const char *usage, int (*body)(Wizard &wizard, const QStringList &args))
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype words = QString::fromLatin1(usage).split(QLatin1Char(' ')).size();
    const qsizetype optional = QString::fromLatin1(usage).count(QLatin1Char('['));
    if (args.size() < words - optional || args.size() > words) {
        std::fprintf(stderr, "usage: %s\n", usage);
        return 2;
    }
    SilentDesktop desktop;
    Services services;
    services.desktop = &desktop;
    Wizard wizard(services);
    fillSignIn(wizard, args);
    return body(wizard, args);
}
