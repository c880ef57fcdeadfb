#include "frame/QtDesktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {

QMessageBox::StandardButton toQt(Desktop::Answer a)
{
    switch (a) {
    case Desktop::Answer::Ok: return QMessageBox::Ok;
    case Desktop::Answer::Yes: return QMessageBox::Yes;
    case Desktop::Answer::No: return QMessageBox::No;
    case Desktop::Answer::Cancel: return QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

} // namespace

Desktop::Answer QtDesktop::message(QWidget *parent, const QString &caption, const QString &text,
                                   Icon icon, Buttons buttons, Answer defaultButton)
{
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    QMessageBox::StandardButtons set;
    switch (buttons) {
    case Buttons::Ok: set = QMessageBox::Ok; break;
    case Buttons::YesNo: set = QMessageBox::Yes | QMessageBox::No; break;
    case Buttons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
    case Buttons::YesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    }
    box.setStandardButtons(set);
    box.setDefaultButton(toQt(defaultButton));
    if (buttons == Buttons::YesNo)
        box.setEscapeButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: break;
    }
    if (buttons == Buttons::YesNo)
        return Answer::No;
    return Answer::Ok;
}

QString QtDesktop::qtFilter(const QString &pairs)
{
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i < parts.size(); i += 2)
        out << parts.at(i);
    return out.join(QStringLiteral(";;"));
}

QString QtDesktop::saveFileName(QWidget *parent, const QString &title, const QString &filter)
{
    // No default suffix: the name is used as the user typed it. Replacing an
    // existing file is confirmed by the dialog itself.
    return QFileDialog::getSaveFileName(parent, title, QString(), qtFilter(filter));
}

QString QtDesktop::openFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, start, qtFilter(filter));
}

bool QtDesktop::openFile(const QString &path)
{
    // xdg-open reports success even when it found nothing but a browser:
    // ask xdg-mime for the program first.
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty())
        return false;
    QProcess query;
    query.start(
        tool, {QStringLiteral("query"), QStringLiteral("default"), QMimeDatabase().mimeTypeForFile(path).name()});
    if (!query.waitForFinished(10000)) {
        query.kill();
        query.waitForFinished();
        return false;
    }
    if (query.exitCode() != 0 || query.readAllStandardOutput().trimmed().isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtDesktop::processEvents()
{
    QCoreApplication::processEvents();
}
