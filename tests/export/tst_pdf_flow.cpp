// The PDF export's sequence and the start-up check, against a Printers double
// and a stand-in print program (a shell script that records what it got).
#include "FakePrinters.h"
#include "StringGrid.h"
#include "export/GetSetPrinter.h"
#include "export/PdfExport.h"
#include "export/TextExports.h"
#include "export/Wordpad1.h"
#include "frame/Main.h"
#include "pages/Form1.h"
#include "pages/Wizard.h"
#include "print/TextTable.h"
#include "support/FakeDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Pdf = QStringLiteral("Quillmark PDF Writer");

const char FakePrintScript[] = R"sh(#!/bin/sh
rec="$CORVANE_FAKE_PRINT_RECORD"
printf '%s\n' "$@" > "$rec/args"
cp "$2" "$rec/printed.txt"
stat -c %a "$(dirname "$2")" > "$rec/mode"
if [ -n "$CORVANE_FAKE_PRINT_FAIL" ]; then echo "$CORVANE_FAKE_PRINT_FAIL" >&2; exit 3; fi
exit 0
)sh";

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestPdfFlow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_program, m_record, m_temp;
    FakePrinters m_printers;
    FakeDesktop m_desktop;
    StringGrid m_grid;

    QString record(const char *name) const { return m_record->filePath(QLatin1String(name)); }
    QStringList leftInTemp() const { return QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    void installFakePrintProgram()
    {
        const QString path = m_program->filePath(QLatin1String(PrintProgramName));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(FakePrintScript);
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

private slots:
    void init()
    {
        m_program = std::make_unique<QTemporaryDir>();
        m_record = std::make_unique<QTemporaryDir>();
        m_temp = std::make_unique<QTemporaryDir>();
        Main::setProgramFolder(m_program->path());
        installFakePrintProgram();
        qputenv("CORVANE_FAKE_PRINT_RECORD", m_record->path().toLocal8Bit());
        qunsetenv("CORVANE_FAKE_PRINT_FAIL");
        qputenv("TEMP", m_temp->path().toLocal8Bit());
        m_printers = FakePrinters();
        m_printers.names = {QStringLiteral("Office Laser"), Pdf};
        m_printers.current = QStringLiteral("Office Laser");
        m_desktop.clear();
        m_grid.captions = {QStringLiteral("id"), QStringLiteral("name")};
        m_grid.rows = {{QStringLiteral("1"), QStringLiteral("Alpha")}, {QStringLiteral("2"), QString()}};
    }

    void cleanup()
    {
        qunsetenv("TEMP");
        Main::setProgramFolder(QString());
    }

    void printsThroughThePdfPrinterAndRestoresTheDefault()
    {
        bool printedWhilePdfWasDefault = false;
        m_printers.onSet = [&](const QString &name) {
            if (name == QLatin1String("Office Laser"))
                printedWhilePdfWasDefault = m_printers.current == Pdf && QFile::exists(record("args"));
        };
        ExportPdf(m_grid, m_printers, m_desktop, nullptr, QStringLiteral("orders"));

        QCOMPARE(m_desktop.texts(), QStringList());
        QCOMPARE(m_printers.calls, QStringList({"default", "set Quillmark PDF Writer", "set Office Laser"}));
        QVERIFY(printedWhilePdfWasDefault);
        QCOMPARE(m_printers.current, QStringLiteral("Office Laser"));

        const QStringList args = readAll(record("args")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(args.size(), 3);
        QCOMPARE(args[0], QStringLiteral("/p"));
        QCOMPARE(args[2], QStringLiteral("--title=orders"));
        const QFileInfo printed(args[1]);
        QCOMPARE(printed.fileName(), QStringLiteral("tmp.txt"));
        QCOMPARE(printed.dir().absolutePath().section(QLatin1Char('/'), 0, -2), QDir(m_temp->path()).absolutePath());
        QCOMPARE(readAll(record("mode")).trimmed(), QStringLiteral("700"));
        const QString text = readAll(record("printed.txt"));
        QVERIFY2(text.startsWith(QStringLiteral("id\tname\t")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Alpha")));

        QVERIFY(!printed.exists());
        QVERIFY(!printed.dir().exists());
        QCOMPARE(leftInTemp(), QStringList());
    }

    // The job is named after the table; the name is data and stays one
    // argument whatever it holds.
    void printJobIsNamedAfterTheTable_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("no name") << QString() << QStringList();
        QTest::newRow("plain") << "orders" << QStringList{"--title=orders"};
        QTest::newRow("looks like an option") << "--help" << QStringList{"--title=--help"};
        QTest::newRow("shell and path characters") << "a b;$(x)/../`y`" << QStringList{"--title=a b;$(x)/../`y`"};
    }
    void printJobIsNamedAfterTheTable()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, extra);
        ExportPdf(m_grid, m_printers, m_desktop, nullptr, table);
        QCOMPARE(m_desktop.texts(), QStringList());
        const QStringList args = readAll(record("args")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(args.mid(2), extra);
        QCOMPARE(QFileInfo(args.value(1)).fileName(), QStringLiteral("tmp.txt"));
    }

    // A TAB or line break inside a cell would start a new column or line of
    // the printed table; in the print file it is a space. The TXT export
    // keeps the bytes.
    void cellsWithTabsAndLineBreaksStayInTheirCells()
    {
        m_grid.captions = {QStringLiteral("id"), QStringLiteral("note\tx"), QStringLiteral("after")};
        m_grid.rows = {{QStringLiteral("1"), QStringLiteral("two\r\nlines\tand tab\n"), QStringLiteral("end1")},
                       {QStringLiteral("2"), QStringLiteral("plain"), QStringLiteral("end2")}};
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.texts(), QStringList());
        const TextTable printed = TextTable::parse(TextTable::decode(readAll(record("printed.txt")).toUtf8()));
        QCOMPARE(printed.header, QStringList({"id", "note x", "after"}));
        QCOMPARE(printed.rows.size(), qsizetype(2));
        QCOMPARE(printed.rows[0], QStringList({"1", "two  lines and tab ", "end1"}));
        QCOMPARE(printed.rows[1], QStringList({"2", "plain", "end2"}));

        const QString txt = m_temp->filePath(QStringLiteral("out.txt"));
        QVERIFY(SaveDataGridToFile(m_grid, txt, m_desktop, nullptr, {}));
        QVERIFY(readAll(txt).contains(QStringLiteral("1\ttwo\r\nlines\tand tab\n\tend1\t\r\n")));
    }

    void missingPdfPrinterPrintsNothingAndSaysNothing_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::newRow("another printer") << QStringList{QStringLiteral("Office Laser")};
        QTest::newRow("other letter case") << QStringList{QStringLiteral("Office Laser"), QStringLiteral("quillmark pdf writer")};
        QTest::newRow("no printers") << QStringList{};
    }
    void missingPdfPrinterPrintsNothingAndSaysNothing()
    {
        QFETCH(QStringList, installed);
        m_printers.names = installed;
        if (installed.isEmpty())
            m_printers.current.clear();
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.texts(), QStringList());
        QVERIFY(!QFile::exists(record("args")));
        QCOMPARE(leftInTemp(), QStringList());
        QCOMPARE(m_printers.calls.mid(0, 2), QStringList({"default", "set Quillmark PDF Writer"}));
        // Nothing was changed, so nothing is cleared either.
        QVERIFY(!m_printers.calls.contains(QStringLiteral("clear")));
    }

    void missingPrintProgramIsReportedAtLine112AndCleanupStillRuns()
    {
        QFile::remove(m_program->filePath(QLatin1String(PrintProgramName)));
        QCOMPARE(GetWordPadPath(), QString());
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.boxes.size(), 1);
        QCOMPARE(m_desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(m_desktop.boxes[0].text.startsWith(
                     QStringLiteral("File not found\r\nin Corvane2020/08/02.Form3.mnuPDF_Click at line 112\r\r")),
                 qPrintable(m_desktop.boxes[0].text));
        QCOMPARE(m_printers.calls.last(), QStringLiteral("set Office Laser"));
        QCOMPARE(leftInTemp(), QStringList());
    }

    void failingPrintProgramIsReportedWithItsMessage()
    {
        qputenv("CORVANE_FAKE_PRINT_FAIL", "The printer is out of paper");
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.boxes.size(), 1);
        QVERIFY2(m_desktop.boxes[0].text.startsWith(QStringLiteral(
                     "The printer is out of paper\r\nin Corvane2020/08/02.Form3.mnuPDF_Click at line 112")),
                 qPrintable(m_desktop.boxes[0].text));
        QCOMPARE(m_printers.current, QStringLiteral("Office Laser"));
        QCOMPARE(leftInTemp(), QStringList());
    }

    void emptyTableStillPrintsItsHeader()
    {
        m_grid.rows.clear();
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.texts(), QStringList());
        const QStringList lines = readAll(record("printed.txt")).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines, QStringList({"id\tname\t"}));
    }

    void unreadableDefaultShowsItsOwnBoxAndLeavesThePdfPrinter()
    {
        m_printers.readFailure = QStringLiteral("The printing system is not running");
        m_printers.readFailureNumber = 1030;
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.boxes.size(), 1);
        const FakeDesktop::Box &box = m_desktop.boxes[0];
        QCOMPARE(box.caption, Main::appTitle());
        QCOMPARE(box.icon, Desktop::Icon::None);
        QCOMPARE(box.buttons, Desktop::Buttons::Ok);
        QCOMPARE(box.text, QStringLiteral("Error No: 1030\r\nThe printing system is not running\r\n"
                                          "Has occured in modPrinters.GetDefaultPrinter\r\n"
                                          "Please contact Technical Support"));
        // Printed all the same; with no name to go back to, the PDF printer stays.
        QVERIFY(QFile::exists(record("args")));
        QCOMPARE(m_printers.calls.last(), QStringLiteral("set "));
        QCOMPARE(m_printers.current, Pdf);
    }

    void noDefaultBeforeMeansNoDefaultAfter()
    {
        m_printers.current.clear();
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.texts(), QStringList());
        QVERIFY(QFile::exists(record("args")));
        QCOMPARE(m_printers.calls, QStringList({"default", "set Quillmark PDF Writer", "clear"}));
        QCOMPARE(m_printers.current, QString());
    }

    void unusableTempFolderIsReportedAtLine100AndNothingElseHappens()
    {
        qputenv("TEMP", QByteArray("/nonexistent/corvane"));
        ExportPdf(m_grid, m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.boxes.size(), 1);
        QVERIFY2(m_desktop.boxes[0].text.contains(QStringLiteral("mnuPDF_Click at line 100")),
                 qPrintable(m_desktop.boxes[0].text));
        QCOMPARE(m_printers.calls, QStringList());
    }

    void tempFolderFallsBackFromTempToTmpdirToTmp_data()
    {
        QTest::addColumn<QByteArray>("temp");
        QTest::addColumn<QByteArray>("tmpdir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TEMP") << QByteArray("/a/temp") << QByteArray("/b/tmpdir") << "/a/temp";
        QTest::newRow("empty TEMP") << QByteArray("") << QByteArray("/b/tmpdir") << "/b/tmpdir";
        QTest::newRow("TMPDIR") << QByteArray() << QByteArray("/b/tmpdir") << "/b/tmpdir";
        QTest::newRow("neither") << QByteArray() << QByteArray() << "/tmp";
    }
    void tempFolderFallsBackFromTempToTmpdirToTmp()
    {
        QFETCH(QByteArray, temp);
        QFETCH(QByteArray, tmpdir);
        QFETCH(QString, expected);
        const QByteArray savedTmpdir = qgetenv("TMPDIR");
        temp.isNull() ? qunsetenv("TEMP") : qputenv("TEMP", temp);
        tmpdir.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmpdir);
        const QString folder = tempFolder();
        qputenv("TMPDIR", savedTmpdir);
        QCOMPARE(folder, expected);
    }

    void checkPdfPrinter_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<bool>("instructions");
        QTest::newRow("exact name") << QStringList{QStringLiteral("Office Laser"), Pdf} << false;
        QTest::newRow("other letter case") << QStringList{QStringLiteral("Quillmark PDF writer")} << true;
        QTest::newRow("trailing blank") << QStringList{QStringLiteral("Quillmark PDF Writer ")} << true;
        QTest::newRow("queue name only") << QStringList{QStringLiteral("Quillmark_PDF_Writer")} << true;
        QTest::newRow("no printers") << QStringList{} << true;
    }
    void checkPdfPrinter()
    {
        QFETCH(QStringList, installed);
        QFETCH(bool, instructions);
        m_printers.names = installed;
        CheckPDFPrinter(m_printers, m_desktop, nullptr);
        QCOMPARE(m_desktop.boxes.size(), instructions ? 1 : 0);
        if (!instructions)
            return;
        const FakeDesktop::Box &box = m_desktop.boxes[0];
        QCOMPARE(box.caption, QStringLiteral("Corvane Editor"));
        QCOMPARE(box.icon, Desktop::Icon::None);
        QCOMPARE(box.buttons, Desktop::Buttons::Ok);
        QCOMPARE(box.text,
                 QStringLiteral("Quillmark PDF Writer is not installed. Please follow these instructions:\r\n\r\n"
                                "1) Go to Control Panel -> Printers and Faxes to add a local printer.\r\n"
                                "2) Choose ''CPW2: (Quillmark PDF Writer)'' on Select a Printer Port dialog box, "
                                "click Next.\r\n"
                                "3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.\r\n"
                                "4) Enter Quillmark PDF Writer as Printer name, click Next -> Finish."));
    }

    void signInPageChecksThePrinterLast()
    {
        m_printers.names.clear();
        Services services;
        services.desktop = &m_desktop;
        services.printers = &m_printers;
        Wizard wizard(services);
        wizard.form1();
        QCOMPARE(m_desktop.texts(), QStringList({pdfPrinterMissingText()}));
        QCOMPARE(m_printers.calls, QStringList({"names"}));
    }
};

QTEST_MAIN(TestPdfFlow)
#include "tst_pdf_flow.moc"
