#include "export/ExcelExport.h"
#include "export/XlsxNumber.h"
#include "export/XlsxSpreadsheet.h"
#include "export/XlsxWorkbook.h"
#include "frame/Main.h"
#include "support/FakeDesktop.h"
#include "FakeSpreadsheet.h"
#include "MemoryGrid.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const char NotInstalled[] =
    "Excel is not installed on this computer. You need to have it installed to use this feature.";

// Workbooks written to files of the test's choosing, sheets of `limit` rows.
class FileSpreadsheet : public Spreadsheet
{
public:
    FileSpreadsheet(QString file, qint64 limit) : m_file(std::move(file)), m_limit(limit) {}
    bool isInstalled() override { return true; }
    std::unique_ptr<Workbook> newWorkbook(const QString &) override
    {
        return std::make_unique<XlsxWorkbook>(m_file, XlsxWorkbook::Opener(), QString(), m_limit);
    }

private:
    QString m_file;
    qint64 m_limit;
};

// Every sheet of a workbook as openpyxl reads it: per sheet its title,
// column widths and rows of [value, number format].
QJsonArray readWorkbook(const QString &file)
{
    QProcess py;
    py.start("/usr/bin/python3", {"-c", R"(
import json, sys, openpyxl
from openpyxl.utils import get_column_letter
wb = openpyxl.load_workbook(sys.argv[1])
out = []
for ws in wb.worksheets:
    widths = [ws.column_dimensions[get_column_letter(c)].width for c in range(1, ws.max_column + 1)]
    rows = [[[c.value, c.number_format] for c in r] for r in ws.iter_rows()]
    out.append({'title': ws.title, 'widths': widths, 'rows': rows})
print(json.dumps(out))
)", file});
    if (!py.waitForFinished(60000) || py.exitCode() != 0)
        qWarning() << py.readAllStandardError();
    return QJsonDocument::fromJson(py.readAllStandardOutput()).array();
}

QJsonArray cell(const QJsonArray &rows, int row, int column)
{
    return rows.at(row - 1).toArray().at(column - 1).toArray();
}

// The cells of a small CSV text, each marked "t:" when quoted (text) or
// "n:" when bare (a number); quotes inside quoted cells are doubled.
QList<QStringList> typedCells(const QByteArray &bytes)
{
    QList<QStringList> rows;
    const QString text = QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList row;
    qsizetype i = 0;
    while (i < text.size()) {
        QString cell;
        bool quoted = text[i] == u'"';
        if (quoted) {
            for (++i; i < text.size(); ++i) {
                if (text[i] == u'"' && (i + 1 >= text.size() || text[i + 1] != u'"'))
                    break;
                if (text[i] == u'"')
                    ++i;
                cell += text[i];
            }
            ++i;
        } else {
            while (i < text.size() && text[i] != u',' && text[i] != u'\n')
                cell += text[i++];
        }
        row << (quoted ? QStringLiteral("t:") : QStringLiteral("n:")) + cell;
        if (i >= text.size() || text[i] == u'\n') {
            rows << row;
            row.clear();
        }
        ++i;
    }
    return rows;
}

} // namespace

class TestXlsxExport : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    void exportTo(FakeSpreadsheet &sheet, MemoryGrid &grid, FakeDesktop &desktop, const ExportProgress &progress = {})
    {
        SaveDataGridToWorkbook(grid, &sheet, QStringLiteral("orders"), desktop, nullptr, nullptr, progress);
    }

private slots:
    void numberRule_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::newRow("decimal keeps its decimals") << QByteArray("10472.90") << true << 10472.9 << 2;
        QTest::newRow("integer") << QByteArray("42") << true << 42.0 << 0;
        QTest::newRow("negative") << QByteArray("-50000") << true << -50000.0 << 0;
        QTest::newRow("zero") << QByteArray("0") << true << 0.0 << 0;
        QTest::newRow("below one") << QByteArray("0.05") << true << 0.05 << 2;
        QTest::newRow("15 significant digits") << QByteArray("123456789012345") << true << 123456789012345.0 << 0;
        QTest::newRow("15 with decimals") << QByteArray("1234567890.12345") << true << 1234567890.12345 << 5;
        QTest::newRow("16 digits stay text") << QByteArray("1234567890123456") << false << 0.0 << 0;
        QTest::newRow("16 by trailing zeros") << QByteArray("12345678901234.50") << false << 0.0 << 0;
        QTest::newRow("leading zeros stay text") << QByteArray("007") << false << 0.0 << 0;
        QTest::newRow("leading zero with point") << QByteArray("00.5") << false << 0.0 << 0;
        QTest::newRow("negative zero") << QByteArray("-0.00") << false << 0.0 << 0;
        QTest::newRow("plus sign") << QByteArray("+5") << false << 0.0 << 0;
        QTest::newRow("exponent") << QByteArray("1e5") << false << 0.0 << 0;
        QTest::newRow("bare point") << QByteArray(".5") << false << 0.0 << 0;
        QTest::newRow("trailing point") << QByteArray("5.") << false << 0.0 << 0;
        QTest::newRow("spaces") << QByteArray(" 5") << false << 0.0 << 0;
        QTest::newRow("date") << QByteArray("2020-01-01") << false << 0.0 << 0;
        QTest::newRow("empty") << QByteArray("") << false << 0.0 << 0;
        QTest::newRow("minus alone") << QByteArray("-") << false << 0.0 << 0;
        QTest::newRow("comma decimal") << QByteArray("1,5") << false << 0.0 << 0;
        QTest::newRow("16 decimals") << QByteArray("0.0000000000000001") << false << 0.0 << 0;
    }
    void numberRule()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        QFETCH(int, decimals);
        const XlsxNumber n = XlsxNumber::parse(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(n.isNumber, isNumber);
        if (isNumber) {
            QCOMPARE(n.value, value);
            QCOMPARE(n.decimals, decimals);
        }
    }

    void copiesEveryCell()
    {
        MemoryGrid grid({"id", "first name"}, {row({"1", "Ann"}), row({"2", QByteArray()}), row({"3", ""})});
        FakeSpreadsheet sheet;
        FakeDesktop desktop;
        exportTo(sheet, grid, desktop);
        QCOMPARE(desktop.boxes.size(), 0);
        QCOMPARE(sheet.books, 1);
        QCOMPARE(sheet.bookName, QStringLiteral("orders"));
        QCOMPARE(sheet.sheets.size(), size_t(1));
        const FakeSpreadsheet::Sheet expected = {{"id", "first name"}, {"1", "Ann"}, {"2", ""}, {"3", ""}};
        QCOMPARE(sheet.sheets[0], expected);
        QVERIFY(sheet.autoFitted);
        QVERIFY(sheet.visible);
    }

    void emptyTableDoesNothing()
    {
        MemoryGrid grid({"id"}, {});
        FakeSpreadsheet sheet;
        FakeDesktop desktop;
        exportTo(sheet, grid, desktop);
        QCOMPARE(sheet.installedChecks, 0);
        QCOMPARE(sheet.books, 0);
        QCOMPARE(desktop.boxes.size(), 0);
    }

    void notInstalledSaysSoAndNothingElse_data()
    {
        QTest::addColumn<bool>("noSpreadsheet");
        QTest::newRow("program missing") << false;
        QTest::newRow("no spreadsheet service") << true;
    }
    void notInstalledSaysSoAndNothingElse()
    {
        QFETCH(bool, noSpreadsheet);
        MemoryGrid grid({"id"}, {row({"1"})});
        FakeSpreadsheet sheet;
        sheet.installed = false;
        FakeDesktop desktop;
        SaveDataGridToWorkbook(grid, noSpreadsheet ? nullptr : &sheet, "t", desktop, nullptr, nullptr, {});
        QCOMPARE(desktop.boxes.size(), 1);
        QCOMPARE(desktop.boxes[0].caption, Main::appTitle());
        QCOMPARE(desktop.boxes[0].text, QString::fromLatin1(NotInstalled));
        QCOMPARE(desktop.boxes[0].icon, Desktop::Icon::None);
        QCOMPARE(desktop.boxes[0].buttons, Desktop::Buttons::Ok);
        QCOMPARE(sheet.books, 0);
    }

    void failingCheckIsSilentFalse()
    {
        FakeSpreadsheet sheet;
        sheet.checkThrows = true;
        FakeDesktop desktop;
        QVERIFY(!IsExcelInstalled(&sheet, desktop, nullptr));
        QCOMPARE(desktop.boxes.size(), 0);
    }

    // 10 rows on sheets of 3 rows under the captions: four sheets, each
    // starting with the captions, and one message.
    void continuesOnFurtherSheets()
    {
        MemoryGrid grid({"n", "text"}, numberedRows(10));
        FakeSpreadsheet sheet;
        sheet.rowLimit = 4;
        FakeDesktop desktop;
        exportTo(sheet, grid, desktop);
        QCOMPARE(sheet.sheets.size(), size_t(4));
        int n = 0;
        for (const FakeSpreadsheet::Sheet &s : sheet.sheets) {
            QCOMPARE(s.front(), QList<QByteArray>({"n", "text"}));
            for (size_t r = 1; r < s.size(); ++r, ++n)
                QCOMPARE(s[r].front(), QByteArray::number(n));
        }
        QCOMPARE(n, 10);
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY(desktop.boxes[0].text.contains("sheets 2 to 4"));
        QVERIFY(sheet.visible);
    }

    void cancelShowsNothing()
    {
        MemoryGrid grid({"n"}, numberedRows(3 * int(GridWalk::ProgressEvery)));
        FakeSpreadsheet sheet;
        FakeDesktop desktop;
        exportTo(sheet, grid, desktop, [](qint64 done, qint64) { return done < GridWalk::ProgressEvery; });
        QVERIFY(!sheet.visible);
        QCOMPARE(desktop.boxes.size(), 0);
    }

    void failuresReportedOnce_data()
    {
        QTest::addColumn<bool>("failNew");
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("visible");
        QTest::newRow("no workbook") << true << 108 << false;
        QTest::newRow("a cell refused") << false << 140 << true;
    }
    void failuresReportedOnce()
    {
        QFETCH(bool, failNew);
        QFETCH(int, line);
        QFETCH(bool, visible);
        MemoryGrid grid({"n", "text", "price"}, numberedRows(100));
        FakeSpreadsheet sheet;
        sheet.failNew = failNew;
        sheet.failAtRow = 5;
        FakeDesktop desktop;
        exportTo(sheet, grid, desktop);
        QCOMPARE(desktop.boxes.size(), 1);
        QCOMPARE(desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY(desktop.boxes[0].text.contains("in Corvane.Form3.mnuXLS_Click at line " + QString::number(line)));
        QCOMPARE(sheet.visible, visible);
    }

    // The real workbook, read back by openpyxl: captions as text, numbers
    // as numbers with their decimals, everything else text, widths fitted,
    // and rows going on in a second sheet.
    void realWorkbookReadBack()
    {
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("no /usr/bin/python3");
        const QByteArray longText(40000, 'x');
        MemoryGrid grid({"id", "price", "code", "when", "name", "42"},
                        {row({"1", "10472.90", "007", "2020-01-01 10:00:00", "Zoë 日本", "a"}),
                         row({"-5", "0.5", "1234567890123456", "2001-02-03", QByteArray(), "b"}),
                         row({"123456789012345", "", "12.", "x", longText, "c"})});
        const QString file = m_dir.filePath("real.xlsx");
        FileSpreadsheet spreadsheet(file, 3);
        FakeDesktop desktop;
        SaveDataGridToWorkbook(grid, &spreadsheet, "t", desktop, nullptr, nullptr, {});
        QCOMPARE(desktop.boxes.size(), 2); // a second sheet, a text cut
        QVERIFY(desktop.boxes[1].text.contains("cut to fit"));

        const QJsonArray sheets = readWorkbook(file);
        QCOMPARE(sheets.size(), 2);
        const QJsonArray first = sheets[0].toObject()["rows"].toArray();
        const QJsonArray second = sheets[1].toObject()["rows"].toArray();
        QCOMPARE(first.size(), 3);
        QCOMPARE(second.size(), 2);
        for (const QJsonArray &rows : {first, second}) {
            QCOMPARE(cell(rows, 1, 1)[0].toString(), QStringLiteral("id"));
            QCOMPARE(cell(rows, 1, 6)[0], QJsonValue("42")); // a caption stays text
        }
        QCOMPARE(cell(first, 2, 1)[0].toDouble(), 1.0);
        QCOMPARE(cell(first, 2, 1)[1].toString(), QStringLiteral("0"));
        QCOMPARE(cell(first, 2, 2)[0].toDouble(), 10472.9);
        QCOMPARE(cell(first, 2, 2)[1].toString(), QStringLiteral("0.00"));
        QCOMPARE(cell(first, 2, 3)[0], QJsonValue("007"));
        QCOMPARE(cell(first, 2, 4)[0], QJsonValue("2020-01-01 10:00:00"));
        QCOMPARE(cell(first, 2, 5)[0], QJsonValue(QStringLiteral("Zoë 日本")));
        QCOMPARE(cell(first, 3, 1)[0].toDouble(), -5.0);
        QCOMPARE(cell(first, 3, 2)[1].toString(), QStringLiteral("0.0"));
        QCOMPARE(cell(first, 3, 3)[0], QJsonValue("1234567890123456"));
        QVERIFY(cell(first, 3, 5)[0].isNull());
        QCOMPARE(cell(second, 2, 1)[0].toDouble(), 123456789012345.0);
        QVERIFY(cell(second, 2, 2)[0].isNull());
        QCOMPARE(cell(second, 2, 3)[0], QJsonValue("12."));
        QCOMPARE(cell(second, 2, 5)[0].toString().size(), 32767);

        // Widths: the longest text of each column on its sheet, plus one
        // (the file stores a little more, for the cell's padding).
        const QJsonArray widths = sheets[0].toObject()["widths"].toArray();
        const auto near = [](const QJsonValue &stored, double width) { return qAbs(stored.toDouble() - width) < 1; };
        QVERIFY(near(widths[0], 3));  // "-5" and "id"
        QVERIFY(near(widths[3], 20)); // "2020-01-01 10:00:00"
        QVERIFY(near(widths[4], 8));  // "Zoë 日本" counts characters
        QVERIFY(near(sheets[1].toObject()["widths"].toArray()[4], 255));
    }

    // LibreOffice, where installed, reads the same cells: numbers as numbers
    // (written unquoted, as shown) and text as text (quoted, since the filter
    // is asked to quote every text cell), whatever its default quoting.
    void libreOfficeReadsIt()
    {
        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed");
        MemoryGrid grid({"id", "price", "code"}, {row({"1", "10472.90", "007"}), row({"2", "0.5", "Zoë"})});
        const QString file = m_dir.filePath("lo.xlsx");
        FileSpreadsheet spreadsheet(file, XlsxWorkbook::SheetRows);
        FakeDesktop desktop;
        SaveDataGridToWorkbook(grid, &spreadsheet, "t", desktop, nullptr, nullptr, {});
        QProcess lo;
        lo.setWorkingDirectory(m_dir.path());
        // Comma, double quote, UTF-8, from line 1; token 7 quotes all text
        // cells, token 9 writes cells as shown.
        lo.start(soffice,
            {"--headless", "-env:UserInstallation=file://" + m_dir.filePath("lo-profile"), "--convert-to",
                "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,true", "--outdir", m_dir.path(), file});
        QVERIFY(lo.waitForFinished(120000));
        QFile csv(m_dir.filePath("lo.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QStringList> expected
            = {{"t:id", "t:price", "t:code"}, {"n:1", "n:10472.90", "t:007"}, {"n:2", "n:0.5", "t:Zoë"}};
        QCOMPARE(typedCells(csv.readAll()), expected);
    }

    // The desktop's program for .xlsx: none registered is "not installed";
    // a registered one is handed the workbook, written in a private folder.
    void desktopProgramOpensWorkbook()
    {
        const QString apps = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/applications";
        const QString desktopFile = apps + "/corvane-test-recorder.desktop";
        QFile::remove(desktopFile);
        XlsxSpreadsheet spreadsheet;
        if (!XlsxSpreadsheet::defaultProgram().isEmpty())
            QSKIP("this machine has a spreadsheet program registered");
        QVERIFY(!spreadsheet.isInstalled());

        const QString recorder = m_dir.filePath("recorder.sh");
        const QString record = m_dir.filePath("opened.txt");
        QFile script(recorder);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\necho \"$1\" > '" + record + "'\n").toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(apps);
        QFile entry(desktopFile);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(("[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder + " %f\nMimeType="
                     + XlsxSpreadsheet::MimeType + ";\n").toUtf8());
        entry.close();
        QVERIFY(spreadsheet.isInstalled());

        MemoryGrid grid({"id"}, {row({"1"})});
        FakeDesktop desktop;
        SaveDataGridToWorkbook(grid, &spreadsheet, "my/table", desktop, nullptr, nullptr, {});
        QVERIFY2(desktop.boxes.isEmpty(), qPrintable(desktop.texts().join('\n')));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
        QFile opened(record);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        const QString path = QString::fromUtf8(opened.readAll()).trimmed();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("my_table.xlsx"));
        QVERIFY(path.startsWith(QDir::tempPath() + "/corvane-xlsx-"));
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFile::permissions(QFileInfo(path).path()) & 0x0077, QFile::Permissions());
        QFile::remove(desktopFile);
        QDir(QFileInfo(path).path()).removeRecursively();
    }

    // A workbook dropped before it is shown leaves nothing behind.
    void droppedWorkbookLeavesNothing()
    {
        XlsxSpreadsheet spreadsheet([](const QString &) { QFAIL("opened"); });
        QString folder;
        {
            auto book = spreadsheet.newWorkbook("t");
            book->setCell(1, 1, "x");
            folder = QFileInfo(static_cast<XlsxWorkbook *>(book.get())->fileName()).path();
            QVERIFY(QDir(folder).exists());
        }
        QVERIFY(!QDir(folder).exists());
    }

    // An old copy's folder loses what the program wrote there, and goes
    // only when nothing else is in it: not a workbook the user saved there.
    void staleFolderKeepsTheUsersFiles_data()
    {
        QTest::addColumn<QStringList>("userFiles");
        QTest::newRow("workbook alone") << QStringList();
        QTest::newRow("user's workbook beside it") << QStringList{"t.xlsx (mine).xlsx", ".~lock.t.xlsx (mine).xlsx#"};
    }

    void staleFolderKeepsTheUsersFiles()
    {
        QFETCH(QStringList, userFiles);
        XlsxSpreadsheet spreadsheet([](const QString &) {});
        auto book = spreadsheet.newWorkbook("t");
        book->setCell(1, 1, "x");
        book->makeVisible();
        const QString file = static_cast<XlsxWorkbook *>(book.get())->fileName();
        const QDir folder = QFileInfo(file).dir();
        for (const QString &name : userFiles) {
            QFile mine(folder.filePath(name));
            QVERIFY(mine.open(QIODevice::WriteOnly));
        }
        const qint64 twoDaysAgo = QDateTime::currentSecsSinceEpoch() - 48 * 3600;
        const timespec times[2] = {{time_t(twoDaysAgo), 0}, {time_t(twoDaysAgo), 0}};
        const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden) << QStringLiteral(".");
        for (const QString &name : entries)
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder.filePath(name)).constData(), times, 0), 0);

        XlsxSpreadsheet::removeStaleFolders(QDir::tempPath(), QDateTime::currentSecsSinceEpoch());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(folder.exists(), !userFiles.isEmpty());
        for (const QString &name : userFiles)
            QVERIFY2(QFile::exists(folder.filePath(name)), qPrintable(name));
        QDir(folder).removeRecursively();
    }
};

QTEST_MAIN(TestXlsxExport)
#include "tst_xlsxexport.moc"
