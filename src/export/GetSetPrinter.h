#pragma once

#include <QString>

class Desktop;
class Printers;
class QWidget;

// Device name of the default printer. When it cannot be read, shows its own
// "Error No: ..." box and returns empty text; `ok` (when given) then is false.
QString GetDefaultPrinter(Printers &printers, Desktop &desktop, QWidget *parent, bool *ok = nullptr);

// The text of that box.
QString defaultPrinterErrorText(long number, const QString &description);

// Makes the printer with this device name the default; true when that went
// without error. Shows nothing.
bool SetDefaultPrinterByName(Printers &printers, const QString &name);
