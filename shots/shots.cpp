// Takes the README's screenshots: drives the real pages against the demo
// server (signed in from the stored values) and grabs each window from the
// X server. Run by scripts/screenshots.sh under Xvfb.
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

namespace {

void shoot(QWidget *w, const QString &file)
{
    w->show();
    w->raise();
    w->activateWindow();
    QTest::qWait(400);
    const QPixmap pm = QGuiApplication::primaryScreen()->grabWindow(w->winId());
    if (!pm.save(file))
        qWarning("cannot write %s", qPrintable(file));
    else
        qInfo("wrote %s (%dx%d)", qPrintable(file), pm.width(), pm.height());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    FakeDesktop desktop; // no message box may block the run
    Services services;
    services.desktop = &desktop;
    Wizard wizard(services);
    wizard.start();
    if (!wizard.hasForm2()) {
        qWarning("the automatic sign-in did not reach the table picker");
        return 1;
    }
    Form2 *picker = wizard.form2();
    picker->move(0, 0);
    shoot(picker, out + QStringLiteral("/table-picker.png"));

    Form1 *signIn = wizard.form1();
    signIn->move(0, 0);
    picker->hide();
    shoot(signIn, out + QStringLiteral("/sign-in.png"));
    signIn->hide();

    const auto found = picker->List1->findItems(QStringLiteral("customers"), Qt::MatchExactly);
    if (!found.isEmpty())
        picker->List1->setCurrentItem(found.first());
    picker->PushButton3->click();
    Form3 *editor = wizard.form3();
    editor->move(0, 0);
    editor->resize(1100, 420);
    QTest::qWait(500);
    editor->DataGrid1->resizeColumnsToContents();
    shoot(editor, out + QStringLiteral("/editor.png"));
    for (const auto &box : desktop.boxes)
        qInfo("message: %s", qPrintable(box.text));
    return 0;
}
