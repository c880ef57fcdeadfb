#pragma once

#include "print/Printers.h"

// The CUPS queues as Printers, through libcups, so CUPS_SERVER, LPDEST and
// the user's lpoptions apply as they do for lp. Setting the default writes
// the user's lpoptions (no admin rights needed); when LPDEST or PRINTER is
// set it would override that file, so the default is then changed in this
// process's LPDEST instead, which programs it starts inherit.
class CupsPrinters : public Printers
{
public:
    QStringList deviceNames() override;
    QString defaultPrinter() override;
    void setDefaultPrinter(const QString &deviceName) override;
    void clearDefaultPrinter() override;

    // Queue name of the default printer, as lp would pick it; empty when
    // there is none (`whyNone` then gets CUPS's reason). Throws Failure when
    // it cannot be read.
    static QString defaultQueue(QString *whyNone = nullptr);

    // Sends a PDF file to a queue as one job titled `title`; returns the job
    // id. Throws Failure with CUPS's reason when the job is refused.
    static int printPdf(const QString &queue, const QString &path, const QString &title);
};
