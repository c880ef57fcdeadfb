#pragma once

#include "frame/Desktop.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Wizard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>

#include <cstdio>

// What the benchmark programs share: a desktop that answers every box with
// its default and says it (so a failure shows), the sign-in page filled from
// the command line (HOST PORT USER PASSWORD DATABASE), and the picker set to
// one table.

class SilentDesktop : public Desktop
{
public:
    Answer message(QWidget *, const QString &caption, const QString &text, Icon, Buttons, Answer defaultButton) override
    {
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return defaultButton;
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
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

inline void pickTable(Wizard &wizard, const QString &table)
{
    Form2 *picker = wizard.form2();
    picker->List1->clear();
    picker->List1->addItem(table);
    picker->List1->setCurrentRow(0);
}
