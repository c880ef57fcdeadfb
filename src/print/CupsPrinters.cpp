#include "print/CupsPrinters.h"

#include "core/Failure.h"

#include <cups/cups.h>

#include <memory>

namespace {

// The destinations libcups knows (server queues and lpoptions), freed on
// scope exit.
struct Dests
{
    Dests() { count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list); }
    ~Dests() { cupsFreeDests(count, list); }
    Dests(const Dests &) = delete;
    Dests &operator=(const Dests &) = delete;

    cups_dest_t *begin() const { return list; }
    cups_dest_t *end() const { return list + count; }

    int count = 0;
    cups_dest_t *list = nullptr;
};

QString deviceName(const cups_dest_t &dest)
{
    const char *info = cupsGetOption("printer-info", dest.num_options, dest.options);
    return QString::fromUtf8(info && *info ? info : dest.name);
}

Failure cupsFailure(const QString &what)
{
    const QString reason = QString::fromUtf8(cupsLastErrorString());
    return Failure(reason.isEmpty() ? what : what + QStringLiteral(": ") + reason, long(cupsLastError()));
}

// True when the environment names the default printer, which then wins over
// lpoptions (LPDEST first; PRINTER unless it is the traditional "lp").
bool environmentNamesDefault()
{
    if (!qEnvironmentVariableIsEmpty("LPDEST"))
        return true;
    const QByteArray printer = qgetenv("PRINTER");
    return !printer.isEmpty() && printer != "lp";
}

void writeDefault(const char *queue)
{
    Dests dests;
    // Writing an empty list would wipe the user's printer options.
    if (dests.count == 0)
        throw cupsFailure(QStringLiteral("Cannot read the printers"));
    for (cups_dest_t &d : dests)
        d.is_default = queue && !d.instance && qstrcmp(d.name, queue) == 0;
    if (cupsSetDests2(CUPS_HTTP_DEFAULT, dests.count, dests.list) != 0)
        throw cupsFailure(QStringLiteral("Cannot save the default printer"));
}

} // namespace

void NoPrinters::setDefaultPrinter(const QString &deviceName)
{
    throw Failure(QStringLiteral("Printer not found: ") + deviceName);
}

QStringList CupsPrinters::deviceNames()
{
    QStringList names;
    Dests dests;
    for (const cups_dest_t &d : dests) {
        if (!d.instance)
            names << deviceName(d);
    }
    return names;
}

QString CupsPrinters::defaultQueue(QString *whyNone)
{
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) {
        if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE || cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
            // Also what an unreachable server gives: "names default
            // destination that does not exist".
            if (whyNone)
                *whyNone = QString::fromUtf8(cupsLastErrorString());
            return {};
        }
        throw cupsFailure(QStringLiteral("Cannot read the default printer"));
    }
    const QString name = QString::fromUtf8(dest->name);
    cupsFreeDests(1, dest);
    return name;
}

QString CupsPrinters::defaultPrinter()
{
    const QString queue = defaultQueue();
    if (queue.isEmpty())
        return {};
    Dests dests;
    for (const cups_dest_t &d : dests) {
        if (!d.instance && QString::fromUtf8(d.name) == queue)
            return deviceName(d);
    }
    return queue;
}

void CupsPrinters::setDefaultPrinter(const QString &name)
{
    QByteArray queue;
    {
        Dests dests;
        for (const cups_dest_t &d : dests) {
            if (!d.instance && deviceName(d) == name) {
                queue = d.name;
                break;
            }
        }
    }
    if (queue.isEmpty())
        throw Failure(QStringLiteral("Printer not found: ") + name);
    if (environmentNamesDefault())
        qputenv("LPDEST", queue);
    else
        writeDefault(queue.constData());
    // A default elsewhere (another lpoptions file) could still win; printing
    // to the wrong printer is worse than not printing.
    if (defaultQueue().toUtf8() != queue)
        throw Failure(QStringLiteral("%1 did not become the default printer").arg(name));
}

void CupsPrinters::clearDefaultPrinter()
{
    if (environmentNamesDefault())
        return;
    writeDefault(nullptr);
}

int CupsPrinters::printPdf(const QString &queue, const QString &path, const QString &title)
{
    cups_option_t *options = nullptr;
    int count = cupsAddOption("document-format", "application/pdf", 0, &options);
    // cups-pdf names the file after the job's title only when told to prefer
    // it; its reading of the title inside the document garbles short titles
    // ("tmp.txt__F"). Other printers ignore the option.
    count = cupsAddOption("TitlePref", "1", count, &options);
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.toUtf8().constData(), path.toLocal8Bit().constData(),
                                   title.toUtf8().constData(), count, options);
    cupsFreeOptions(count, options);
    if (job <= 0)
        throw cupsFailure(QStringLiteral("Cannot print to %1").arg(queue));
    return job;
}
