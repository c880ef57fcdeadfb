#pragma once

#include <QString>
#include <QStringList>

// The machine's printers, named the way users see them: a printer's device
// name is its description when it has one, else its queue name. Names are
// compared exactly. The real one is CupsPrinters; tests use a double.
class Printers
{
public:
    virtual ~Printers() = default;

    // Device names of the installed printers; empty when there are none or
    // the printing system cannot be reached.
    virtual QStringList deviceNames() = 0;

    // Device name of the current default printer, empty when there is none.
    // Throws Failure when it cannot be read.
    virtual QString defaultPrinter() = 0;

    // Makes the printer with this device name the user's default. Throws
    // Failure when there is no such printer or the default cannot be set.
    virtual void setDefaultPrinter(const QString &deviceName) = 0;

    // Leaves the user with no default printer of their own. Throws Failure.
    virtual void clearDefaultPrinter() = 0;
};

// A machine without printers.
class NoPrinters : public Printers
{
public:
    QStringList deviceNames() override { return {}; }
    QString defaultPrinter() override { return {}; }
    void setDefaultPrinter(const QString &deviceName) override;
    void clearDefaultPrinter() override {}
};
