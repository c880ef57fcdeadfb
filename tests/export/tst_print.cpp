// The print program: reading the text export back, laying it out, and the
// corvane-print executable writing PDF pages that pdftotext reads back.
#include "StringGrid.h"
#include "export/PrintableGrid.h"
#include "export/TextExports.h"
#include "print/TablePrinter.h"
#include "print/TextTable.h"
#include "support/FakeDesktop.h"

#include <QCoreApplication>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString printProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/corvane-print");
}

struct Run
{
    int code = -1;
    QString err;
};

Run runPrint(const QStringList &args, const QString &pdf, const QStringList &env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    if (pdf.isEmpty())
        e.remove(QStringLiteral("CORVANE_PRINT_TO_PDF"));
    else
        e.insert(QStringLiteral("CORVANE_PRINT_TO_PDF"), pdf);
    for (const QString &kv : env)
        e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.start(printProgram(), args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardError())};
}

QString pdfText(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TextTable table(int columns, int chars, int rows)
{
    TextTable t;
    for (int c = 0; c < columns; ++c)
        t.header << QStringLiteral("c%1").arg(c);
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << QString(chars, QLatin1Char('x'));
        t.rows << row;
    }
    return t;
}

} // namespace

class TestPrint : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("header");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::newRow("export form") << "A\tB\t\r\nx\ty\t\r\n\tz\t\r\n" << QStringList{"A", "B"}
                                     << QList<QStringList>{{"x", "y"}, {"", "z"}};
        QTest::newRow("empty last cell") << "A\tB\t\r\nx\t\t\r\n" << QStringList{"A", "B"}
                                         << QList<QStringList>{{"x", ""}};
        QTest::newRow("header only") << "A\tB\t\r\n" << QStringList{"A", "B"} << QList<QStringList>{};
        QTest::newRow("no final line end") << "A\t\r\nx\t" << QStringList{"A"} << QList<QStringList>{{"x"}};
        QTest::newRow("plain text, LF") << "one line\nanother\n" << QStringList{"one line"}
                                        << QList<QStringList>{{"another"}};
        QTest::newRow("blank line kept") << "A\t\r\n\r\nx\t\r\n" << QStringList{"A"}
                                         << QList<QStringList>{{""}, {"x"}};
        QTest::newRow("empty") << "" << QStringList{} << QList<QStringList>{};
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, header);
        QFETCH(QList<QStringList>, rows);
        const TextTable t = TextTable::parse(text);
        QCOMPARE(t.header, header);
        QCOMPARE(t.rows, rows);
    }

    void decodeTakesUtf8ElseLatin1()
    {
        QCOMPARE(TextTable::decode(QByteArray("Z\xc3\xbcrich")), QStringLiteral("Zürich"));
        QCOMPARE(TextTable::decode(QByteArray("Z\xfcrich")), QStringLiteral("Zürich"));
    }

    void longCellsAreCutWithAnEllipsis()
    {
        QCOMPARE(TablePrinter::fitted(QStringLiteral("abcdef"), 6), QStringLiteral("abcdef"));
        QCOMPARE(TablePrinter::fitted(QStringLiteral("abcdefg"), 6), QStringLiteral("abcde") + QChar(0x2026));
        QCOMPARE(TablePrinter::font(9).family(), QStringLiteral("DejaVu Sans Mono"));
        QVERIFY(QFontInfo(TablePrinter::font(9)).fixedPitch());
    }

    void layoutFollowsTheTableWidth_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("chars");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("baseSize");
        QTest::addColumn<bool>("oneBand");
        QTest::newRow("narrow: portrait") << 4 << 10 << int(QPageLayout::Portrait) << true << true;
        QTest::newRow("wide: landscape") << 8 << 13 << int(QPageLayout::Landscape) << true << true;
        QTest::newRow("wider: smaller type") << 10 << 15 << int(QPageLayout::Landscape) << false << true;
        QTest::newRow("widest: column bands") << 30 << 60 << int(QPageLayout::Landscape) << false << false;
    }
    void layoutFollowsTheTableWidth()
    {
        QFETCH(int, columns);
        QFETCH(int, chars);
        QFETCH(int, orientation);
        QFETCH(bool, baseSize);
        QFETCH(bool, oneBand);
        const TextTable t = table(columns, chars, 3);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::A4));
        TablePrinter layout(t);
        layout.fit(printer);
        QCOMPARE(int(layout.orientation()), orientation);
        QCOMPARE(layout.pointSize() == TablePrinter::BasePointSize, baseSize);
        QVERIFY(layout.pointSize() >= TablePrinter::MinPointSize);
        QCOMPARE(layout.bands().size() == 1, oneBand);
        // Every column in exactly one band, in order, none wider than its cap.
        int next = 0;
        for (const auto &[first, end] : layout.bands()) {
            QCOMPARE(first, next);
            QVERIFY(end > first);
            next = end;
        }
        QCOMPARE(next, columns);
        for (int w : layout.columnChars())
            QCOMPARE(w, std::min(chars, int(TablePrinter::MaxCellChars)));
        QCOMPARE(layout.pageCount(), int(layout.bands().size()));
    }

    void programRendersEveryCellWithHeaderAndNumberOnEveryPage()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir dir;
        QByteArray tsv = "id\tcity\tamount\tremark\t\r\n";
        const int rows = 150;
        for (int r = 1; r <= rows; ++r)
            tsv += QStringLiteral("%1\tZ\u00fcrich-%1\t%2\t%3\t\r\n")
                       .arg(r)
                       .arg(r * 1.25, 0, 'f', 2)
                       .arg(r % 10 == 0 ? QString() : QStringLiteral("note & <%1>").arg(r))
                       .toUtf8();
        const QString txt = dir.filePath(QStringLiteral("tmp.txt"));
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        writeFile(txt, tsv);
        const Run run = runPrint({QStringLiteral("/p"), txt}, pdf);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);

        const QString text = pdfText(pdf);
        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QVERIFY2(pages.size() >= 2, qPrintable(text.left(2000)));
        for (int i = 0; i < pages.size(); ++i) {
            QVERIFY2(pages[i].contains(QRegularExpression(QStringLiteral("^\\s*id\\s+city\\s+amount\\s+remark"))),
                     qPrintable(pages[i].left(300)));
            QVERIFY(pages[i].contains(QStringLiteral("Page %1 of %2").arg(i + 1).arg(pages.size())));
        }
        for (int r = 1; r <= rows; ++r) {
            const QString line = QStringLiteral("%1\\s+Z\u00fcrich-%1\\s+%2").arg(r).arg(r * 1.25, 0, 'f', 2);
            QVERIFY2(text.contains(QRegularExpression(QStringLiteral("(^|\\n)\\s*") + line)), qPrintable(line));
            if (r % 10)
                QVERIFY(text.contains(QStringLiteral("note & <%1>").arg(r)));
        }
    }

    void programNamesTheDocumentAfterItsTitle_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("title");
        QTest::newRow("no title") << QStringList{} << "tmp.txt";
        QTest::newRow("title") << QStringList{"--title=orders"} << "orders";
        QTest::newRow("title first") << QStringList{"--title=-x y"} << "-x y";
    }
    void programNamesTheDocumentAfterItsTitle()
    {
        QFETCH(QStringList, extra);
        QFETCH(QString, title);
        if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("pdfinfo (poppler-utils) is not installed");
        QTemporaryDir dir;
        const QString txt = dir.filePath(QStringLiteral("tmp.txt"));
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        writeFile(txt, "id\t\r\n1\t\r\n");
        const QString arg0 = title.startsWith(QLatin1Char('-')) ? extra.value(0) : QString();
        QStringList args{QStringLiteral("/p"), txt};
        // Options may come before or after "/p FILE".
        args = arg0.isEmpty() ? args + extra : extra + args;
        const Run run = runPrint(args, pdf);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(30000));
        const QString out = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression(QStringLiteral("(^|\\n)Title:\\s+") + QRegularExpression::escape(title)
                                                 + QStringLiteral("\n"))),
                 qPrintable(out));
    }

    // Cells holding TAB and line breaks, written for the print program as
    // the PDF export writes them: each cell's text stays in its column.
    void cellsWithTabsAndLineBreaksPrintInTheirColumns()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        StringGrid grid;
        grid.captions = {QStringLiteral("id"), QStringLiteral("note"), QStringLiteral("after")};
        grid.rows = {{QStringLiteral("1"), QStringLiteral("alpha\tbeta\r\ngamma"), QStringLiteral("end1")},
                     {QStringLiteral("2"), QStringLiteral("delta\nepsilon"), QStringLiteral("end2")}};
        QTemporaryDir dir;
        const QString txt = dir.filePath(QStringLiteral("tmp.txt"));
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        FakeDesktop desktop;
        PrintableGrid printable(grid);
        QVERIFY(SaveDataGridToFile(printable, txt, desktop, nullptr, {}));
        const Run run = runPrint({QStringLiteral("/p"), txt}, pdf);
        QCOMPARE(run.code, 0);
        const QString text = pdfText(pdf);
        for (const char *line : {"1\\s+alpha beta\\s+gamma\\s+end1", "2\\s+delta epsilon\\s+end2"})
            QVERIFY2(text.contains(QRegularExpression(QStringLiteral("(^|\\n)\\s*") + QLatin1String(line))),
                     qPrintable(text));
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("(^|\\n)\\s*(beta|gamma|epsilon)"))));
    }

    void programFailsWithAMessage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no arguments") << QStringList{} << QStringList{} << 2 << "usage: corvane-print /p FILE";
        QTest::newRow("no /p") << QStringList{"file.txt"} << QStringList{} << 2 << "usage: corvane-print /p FILE";
        QTest::newRow("unknown option") << QStringList{"/p", "EXISTING", "--colour"} << QStringList{} << 2
                                        << "usage: corvane-print /p FILE";
        QTest::newRow("missing file") << QStringList{"/p", "/nonexistent/tmp.txt"} << QStringList{} << 1
                                      << "corvane-print: Cannot read /nonexistent/tmp.txt";
        QTest::newRow("no printing system")
            << QStringList{"/p", "EXISTING"}
            << QStringList{"CUPS_SERVER=/nonexistent/cups.sock", "LPDEST=", "PRINTER="} << 1
            << "corvane-print: There is no default printer";
    }
    void programFailsWithAMessage()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString existing = dir.filePath(QStringLiteral("tmp.txt"));
        writeFile(existing, "A\t\r\nx\t\r\n");
        args.replaceInStrings(QStringLiteral("EXISTING"), existing);
        const Run run = runPrint(args, QString(), env);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
