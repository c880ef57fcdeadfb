#include "export/CupsPrinters.h"
#include "export/XlsxSpreadsheet.h"
#include "frame/Main.h"
#include "frame/QtDesktop.h"
#include "pages/Wizard.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane-editor"));
    QApplication::setOrganizationName(QStringLiteral("Quillmark"));
    QApplication::setWindowIcon(Main::appIcon());
    QApplication::setQuitOnLastWindowClosed(false);

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
