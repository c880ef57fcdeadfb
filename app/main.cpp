#include "core/Version.h"
#include "export/XlsxSpreadsheet.h"
#include "frame/Main.h"
#include "frame/QtDesktop.h"
#include "pages/Wizard.h"
#include "print/CupsPrinters.h"

#include "frame/AskPass.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Edit the tables of a MySQL or MariaDB database without writing SQL."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version answer without a display, so they work in a terminal
// with no desktop (over ssh, in a package check); Qt's own options (-platform
// and the like) are only known once the application object has taken them.
void answerInfoOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    describeOptions(parser);
    parser.parse(arguments);
    if (!parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("version")))
        return;
    QCoreApplication app(argc, argv);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    parser.showVersion();
}

} // namespace

int main(int argc, char *argv[])
{
    // Started by ssh to ask one of its questions: its prompt is no option.
    if (AskPass::isRequested())
        return AskPass::main(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-editor"));
    QCoreApplication::setApplicationVersion(QLatin1String(CorvaneVersion));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillmark"));
    answerInfoOptions(argc, argv);

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillmark.CorvaneEditor"));
    {
        QCommandLineParser parser;
        describeOptions(parser);
        parser.process(app);
    }
    QApplication::setWindowIcon(Main::appIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    AskPass::install();

    QtDesktop desktop;
    Services services;
    services.desktop = &desktop;
    CupsPrinters printers;
    services.printers = &printers;
    XlsxSpreadsheet spreadsheet;
    services.spreadsheet = &spreadsheet;

    Wizard wizard(services);
    QObject::connect(&wizard, &Wizard::ended, &app, &QApplication::quit, Qt::QueuedConnection);
    wizard.start();
    if (wizard.hasEnded())
        return 0;
    return app.exec();
}
