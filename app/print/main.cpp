// corvane-print: the editor's print program. "corvane-print /p FILE" prints
// the tab-separated text FILE, laid out as a table, to the default printer
// and ends; on failure it says why on standard error and ends with code 1.
// --title=TITLE names the print job (PDF printers name the file after it).
// CORVANE_PRINT_TO_PDF=PATH writes the pages to that PDF file instead (for
// tests and benchmarks).
#include "core/Failure.h"
#include "core/Version.h"
#include "print/PrintTextFile.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

namespace {

// Whatever reaches standard error is what the editor shows the user when
// printing fails; Qt's own chatter stays out of it.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "corvane-print: %s\n", message.toLocal8Bit().constData());
}

int fail(const QString &message)
{
    std::fprintf(stderr, "corvane-print: %s\n", message.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // It shows no window; it must not need a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("CORVANE_PRINT_DEBUG"))
        qInstallMessageHandler(quietMessages);
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-print"));
    QCoreApplication::setApplicationVersion(QLatin1String(CorvaneVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints a tab-separated text file, laid out as a table, to the default printer."));
    parser.addPositionalArgument(QStringLiteral("/p"), QStringLiteral("Print FILE."), QStringLiteral("/p FILE"));
    const QCommandLineOption titleOption(QStringLiteral("title"),
                                         QStringLiteral("Title of the print job (default: the file's name)."),
                                         QStringLiteral("TITLE"));
    parser.addOption(titleOption);
    parser.addHelpOption();
    parser.addVersionOption();
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList args = parser.positionalArguments();
    if (!parsed || args.size() != 2 || args[0].compare(QLatin1String("/p"), Qt::CaseInsensitive) != 0) {
        std::fprintf(stderr, "usage: corvane-print /p FILE [--title=TITLE]\n");
        return 2;
    }
    try {
        const QString target = qEnvironmentVariable("CORVANE_PRINT_TO_PDF");
        if (target.isEmpty())
            printTextFile(args[1], parser.value(titleOption));
        else
            renderTextFileToPdf(args[1], target, QPageSize(QPageSize::A4), parser.value(titleOption));
    } catch (const Failure &e) {
        return fail(e.description());
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
    return 0;
}
