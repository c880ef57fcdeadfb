#include "export/GetSetPrinter.h"

#include "core/Failure.h"
#include "frame/Desktop.h"
#include "frame/Main.h"
#include "print/Printers.h"

QString defaultPrinterErrorText(long number, const QString &description)
{
    return QStringLiteral("Error No: ") + QString::number(number) + QStringLiteral("\r\n") + description
        + QStringLiteral("\r\nHas occured in modPrinters.GetDefaultPrinter\r\nPlease contact Technical Support");
}

QString GetDefaultPrinter(Printers &printers, Desktop &desktop, QWidget *parent, bool *ok)
{
    if (ok)
        *ok = true;
    try {
        return printers.defaultPrinter();
    } catch (const Failure &e) {
        if (ok)
            *ok = false;
        desktop.message(parent, Main::appTitle(), defaultPrinterErrorText(e.number(), e.description()));
    }
    return {};
}

bool SetDefaultPrinterByName(Printers &printers, const QString &name)
{
    try {
        printers.setDefaultPrinter(name);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}
