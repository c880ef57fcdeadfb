#include "MemoryGrid.h"
#include "core/Failure.h"
#include "export/ExportText.h"
#include "export/TextExports.h"
#include "frame/Locations.h"
#include "frame/ProgressDialog.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

enum class Format { Txt, Xml, Csv };

bool save(Format format, GridSource &grid, const QString &path, Desktop &desktop, const ExportProgress &progress = {})
{
    switch (format) {
    case Format::Txt: return SaveDataGridToFile(grid, path, desktop, nullptr, progress);
    case Format::Xml: return SaveDataGridToXMLFile(grid, path, desktop, nullptr, progress);
    case Format::Csv: return SaveDataGridToCSVFile(grid, path, desktop, nullptr, progress);
    }
    return false;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

struct Table
{
    QStringList captions;
    std::vector<MemoryGrid::Row> rows;
};

// The tables every format is tried on, with the bytes each gives.
void addTables(Format format)
{
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QList<QList<QByteArray>>>("rows");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray N; // NULL
    const auto add = [&](const char *name, QStringList captions, QList<QList<QByteArray>> rows, const char *txt,
                         const char *xml, const char *csv) {
        const char *bytes = format == Format::Txt ? txt : format == Format::Xml ? xml : csv;
        QTest::newRow(name) << captions << rows << QByteArray(bytes);
    };
    add("A and B, (x, y) and (NULL, z)", {"A", "B"}, {{"x", "y"}, {N, "z"}},
        "A\tB\t\r\nx\ty\t\r\n\tz\t\r\n",
        "<xml>\r\n<row>\r\n<A>x</A>\r\n<B>y</B>\r\n</row>\r\n<row>\r\n<A></A>\r\n<B>z</B>\r\n</row>\r\n</xml>",
        "A,B\r\nx,y\r\n,z\r\n");
    add("no rows", {"A", "B"}, {}, "A\tB\t\r\n", "<xml>\r\n</xml>", "A,B\r\n");
    add("captions with spaces", {"first name", "B"}, {{"Ann", "1"}},
        "first name\tB\t\r\nAnn\t1\t\r\n",
        "<xml>\r\n<row>\r\n<first name>Ann</first name>\r\n<B>1</B>\r\n</row>\r\n</xml>",
        "first name,B\r\nAnn,1\r\n");
    add("TAB, CR, LF, & and < unchanged", {"A"}, {{"a\tb"}, {"c\rd\ne"}, {"R&D <b>"}},
        "A\t\r\na\tb\t\r\nc\rd\ne\t\r\nR&D <b>\t\r\n",
        "<xml>\r\n<row>\r\n<A>a\tb</A>\r\n</row>\r\n<row>\r\n<A>c\rd\ne</A>\r\n</row>\r\n"
        "<row>\r\n<A>R&D <b></A>\r\n</row>\r\n</xml>",
        "A\r\na\tb\r\n\"c\rd\ne\"\r\nR&D <b>\r\n");
    add("non-ASCII as UTF-8 without BOM", {"Straße"}, {{"Zoë"}, {"日本"}},
        "Straße\t\r\nZoë\t\r\n日本\t\r\n",
        "<xml>\r\n<row>\r\n<Straße>Zoë</Straße>\r\n</row>\r\n<row>\r\n<Straße>日本</Straße>\r\n</row>\r\n</xml>",
        "Straße\r\nZoë\r\n日本\r\n");
    add("NULL and empty text", {"A", "B"}, {{N, ""}},
        "A\tB\t\r\n\t\t\r\n",
        "<xml>\r\n<row>\r\n<A></A>\r\n<B></B>\r\n</row>\r\n</xml>",
        "A,B\r\n,\"\"\r\n");
    add("CSV quoting", {"a,b", "say \"hi\""}, {{"1,5", "\"q\""}, {" x ", "plain"}},
        "a,b\tsay \"hi\"\t\r\n1,5\t\"q\"\t\r\n x \tplain\t\r\n",
        "<xml>\r\n<row>\r\n<a,b>1,5</a,b>\r\n<say \"hi\">\"q\"</say \"hi\">\r\n</row>\r\n"
        "<row>\r\n<a,b> x </a,b>\r\n<say \"hi\">plain</say \"hi\">\r\n</row>\r\n</xml>",
        "\"a,b\",\"say \"\"hi\"\"\"\r\n\"1,5\",\"\"\"q\"\"\"\r\n x ,plain\r\n");
}

MemoryGrid gridOf(const QStringList &captions, const QList<QList<QByteArray>> &rows)
{
    std::vector<MemoryGrid::Row> out;
    for (const QList<QByteArray> &r : rows) {
        MemoryGrid::Row cells;
        for (const QByteArray &c : r)
            cells.push_back(c.isNull() ? std::nullopt : std::optional<QByteArray>(c));
        out.push_back(cells);
    }
    return MemoryGrid(captions, out);
}

const char *formatName(Format f)
{
    return f == Format::Txt ? "TXT" : f == Format::Xml ? "XML" : "CSV";
}

} // namespace

class TestTextExport : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void exactBytes(Format format)
    {
        QFETCH(QStringList, captions);
        QFETCH(QList<QList<QByteArray>>, rows);
        QFETCH(QByteArray, bytes);
        MemoryGrid grid = gridOf(captions, rows);
        FakeDesktop desktop;
        const QString file = path(QStringLiteral("out"));
        QVERIFY(save(format, grid, file, desktop));
        QCOMPARE(desktop.texts(), QStringList());
        QCOMPARE(readAll(file), bytes);
    }

private slots:
    void txtBytes_data() { addTables(Format::Txt); }
    void txtBytes() { exactBytes(Format::Txt); }
    void xmlBytes_data() { addTables(Format::Xml); }
    void xmlBytes() { exactBytes(Format::Xml); }
    void csvBytes_data() { addTables(Format::Csv); }
    void csvBytes() { exactBytes(Format::Csv); }

    void eachFormat_data()
    {
        QTest::addColumn<int>("format");
        for (Format f : {Format::Txt, Format::Xml, Format::Csv})
            QTest::newRow(formatName(f)) << int(f);
    }

    // The whole content goes, not just the part the new text covers, and
    // the file keeps its permissions.
    void existingFileReplaced_data() { eachFormat_data(); }
    void existingFileReplaced()
    {
        QFETCH(int, format);
        const QString file = path(QStringLiteral("existing.txt"));
        writeFile(file, QByteArray(100000, 'o'));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        MemoryGrid grid({"A"}, {row({"new"})});
        FakeDesktop desktop;
        QVERIFY(save(Format(format), grid, file, desktop));
        QVERIFY(readAll(file).size() < 100);
        QVERIFY(readAll(file).contains("new"));
        QCOMPARE(QFile::permissions(file) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter("existing"), QStringList{"existing.txt"});
    }

    void nameWithoutExtensionKept()
    {
        MemoryGrid grid({"A"}, {row({"x"})});
        FakeDesktop desktop;
        QDir(path("plain")).mkpath(".");
        const QString file = path(QStringLiteral("plain/table"));
        QVERIFY(SaveDataGridToFile(grid, file, desktop, nullptr, ProgressDialog(nullptr).function()));
        QCOMPARE(QDir(path("plain")).entryList(QDir::Files | QDir::Hidden), QStringList{"table"});
    }

    // A full disk, simulated by a file size limit: the write fails half-way,
    // is reported as the writing step, and the old file stays as it was.
    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("line");
        QTest::newRow("TXT") << int(Format::Txt) << QString(Location::Datagrid1_SaveDataGridToFile) << 134;
        QTest::newRow("XML") << int(Format::Xml) << QString(Location::Datagrid1_SaveDataGridToXMLFile) << 130;
        QTest::newRow("CSV") << int(Format::Csv) << QString(Location::Datagrid1_SaveDataGridToCSVFile) << 134;
    }
    void failedWriteKeepsOldFile()
    {
        QFETCH(int, format);
        QFETCH(QString, location);
        QFETCH(int, line);
        QDir(path("full")).mkpath(".");
        const QString file = path(QStringLiteral("full/old.txt"));
        writeFile(file, "old content\r\n");
        MemoryGrid grid({"A", "B"}, numberedRows(300000)); // about 8 MiB of text

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 1 << 20;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        FakeDesktop desktop;
        const bool written = save(Format(format), grid, file, desktop);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!written);
        QCOMPARE(desktop.boxes.size(), 1);
        QCOMPARE(desktop.boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(desktop.boxes[0].text.contains(location + "at line " + QString::number(line)), qPrintable(desktop.boxes[0].text));
        QCOMPARE(readAll(file), QByteArray("old content\r\n"));
        QCOMPARE(QDir(path("full")).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});
    }

    void missingFolderReported()
    {
        MemoryGrid grid({"A"}, {row({"x"})});
        FakeDesktop desktop;
        QVERIFY(!SaveDataGridToFile(grid, path("no/such/folder/t.txt"), desktop, nullptr, ProgressDialog(nullptr).function()));
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY(desktop.boxes[0].text.contains("SaveDataGridToFile at line 134"));
        QVERIFY(!QDir(path("no")).exists());
    }

    // Rows still loading in the background are waited for; a load that
    // fails leaves the old file alone.
    void waitsForBackgroundLoad()
    {
        MemoryGrid grid({"A", "B", "C"}, numberedRows(2));
        std::vector<MemoryGrid::Row> rest = numberedRows(10);
        rest.erase(rest.begin(), rest.begin() + 2);
        grid.holdBack(rest);
        FakeDesktop desktop;
        const QString file = path("loading.txt");
        QVERIFY(SaveDataGridToFile(grid, file, desktop, nullptr, {}));
        QCOMPARE(readAll(file).count("\r\n"), 11);
        QVERIFY(readAll(file).endsWith("9\tname 9\t13.50\t\r\n"));
    }

    void failedLoadKeepsOldFile_data() { failedWriteKeepsOldFile_data(); }
    void failedLoadKeepsOldFile()
    {
        QFETCH(int, format);
        QFETCH(QString, location);
        MemoryGrid grid({"A", "B", "C"}, {});
        grid.holdBack(numberedRows(10));
        grid.failAfter = 5;
        const QString file = path("failedload.txt");
        writeFile(file, "old");
        FakeDesktop desktop;
        QVERIFY(!save(Format(format), grid, file, desktop));
        QCOMPARE(desktop.boxes.size(), 1);
        const int line = Format(format) == Format::Xml ? 102 : 110;
        QVERIFY(desktop.boxes[0].text.startsWith("The table could not be read to its end"));
        QVERIFY(desktop.boxes[0].text.contains(location + "at line " + QString::number(line)));
        QCOMPARE(readAll(file), QByteArray("old"));
    }

    // Cancelling, while the rows load or while they are written, leaves no
    // file behind and says nothing.
    void cancelLeavesNoFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("whileLoading");
        for (Format f : {Format::Txt, Format::Xml, Format::Csv}) {
            QTest::newRow(qPrintable(QString(formatName(f)) + " loading")) << int(f) << true;
            QTest::newRow(qPrintable(QString(formatName(f)) + " writing")) << int(f) << false;
        }
    }
    void cancelLeavesNoFile()
    {
        QFETCH(int, format);
        QFETCH(bool, whileLoading);
        MemoryGrid grid({"A", "B", "C"}, numberedRows(whileLoading ? 0 : 100000));
        if (whileLoading)
            grid.holdBack(numberedRows(100));
        QDir(path("cancel")).removeRecursively();
        QDir(path("cancel")).mkpath(".");
        const QString file = path("cancel/t.txt");
        FakeDesktop desktop;
        int calls = 0;
        const bool written = save(Format(format), grid, file, desktop, [&](qint64 done, qint64) {
            ++calls;
            return done < 50 || (!whileLoading && done < 2 * GridWalk::ProgressEvery);
        });
        QVERIFY(!written);
        QVERIFY(calls > 1);
        QCOMPARE(desktop.boxes.size(), 0);
        QCOMPARE(QDir(path("cancel")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Every row once, in order, with progress rising to the total.
    void walksEveryRowOnce()
    {
        const int rows = 3 * int(GridWalk::ProgressEvery) + 17;
        MemoryGrid grid({"A", "B", "C"}, numberedRows(rows));
        FakeDesktop desktop;
        QList<qint64> seen;
        QVERIFY(SaveDataGridToFile(grid, path("walk.txt"), desktop, nullptr, [&](qint64 done, qint64 total) {
            if (total != rows)
                return false;
            seen << done;
            return true;
        }));
        QCOMPARE(grid.reads, std::vector<int>(size_t(rows), 3));
        QCOMPARE(seen.first(), 0);
        QCOMPARE(seen.last(), qint64(rows));
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        const QList<QByteArray> lines = readAll(path("walk.txt")).split('\n');
        QCOMPARE(lines.size(), rows + 2);
        for (int i = 0; i < rows; i += 997)
            QVERIFY(lines[i + 1].startsWith(QByteArray::number(i) + "\tname " + QByteArray::number(i) + "\t"));
    }

    // Cells larger than the write buffer and texts that cross its edge.
    void largeCellsExact()
    {
        const QByteArray big(int(ExportText::Capacity) + 12345, 'b');
        std::vector<MemoryGrid::Row> rows;
        QByteArray expected = "A\tB\t\r\n";
        for (int i = 0; i < 3; ++i) {
            const QByteArray small = QByteArray::number(i);
            rows.push_back(row({small, big}));
            expected += small + '\t' + big + "\t\r\n";
        }
        MemoryGrid grid({"A", "B"}, rows);
        FakeDesktop desktop;
        QVERIFY(SaveDataGridToFile(grid, path("large.txt"), desktop, nullptr, {}));
        QVERIFY(readAll(path("large.txt")) == expected);
    }

    // The quote test looks at several bytes at once: a special byte at any
    // place of a field of any length is found, and only then is it quoted.
    // Every length of text is copied exactly, too.
    void csvQuotesAtEveryPlace()
    {
        std::vector<MemoryGrid::Row> rows;
        QByteArray expected = "A\r\n";
        for (const char filler : {'x', '\xff'}) {
            for (int length = 0; length <= 40; ++length) {
                const QByteArray plain(length, filler);
                rows.push_back(row({plain}));
                expected += (length == 0 ? QByteArray("\"\"") : plain) + "\r\n";
                for (int at = 0; at < length; ++at) {
                    for (const char special : {',', '"', '\r', '\n'}) {
                        QByteArray field = plain;
                        field[at] = special;
                        rows.push_back(row({field}));
                        expected += '"' + QByteArray(field).replace("\"", "\"\"") + "\"\r\n";
                    }
                }
            }
        }
        MemoryGrid grid({"A"}, rows);
        FakeDesktop desktop;
        QVERIFY(SaveDataGridToCSVFile(grid, path("places.csv"), desktop, nullptr, {}));
        QVERIFY(readAll(path("places.csv")) == expected);
    }

    void writeTextFileWhole()
    {
        const QString file = path("whole.txt");
        writeFile(file, "previous, longer content");
        WriteTextFile("abc\r\n", file);
        QCOMPARE(readAll(file), QByteArray("abc\r\n"));
        WriteTextFile("", file);
        QCOMPARE(readAll(file), QByteArray());
        QVERIFY_THROWS_EXCEPTION(Failure, WriteTextFile("x", path("missing/whole.txt")));
    }

    // Python's csv module reads back the cells written, NULL as empty.
    void csvReadByPython()
    {
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("no /usr/bin/python3");
        const QByteArray N;
        const QList<QList<QByteArray>> rows = {
            {"plain", "with, comma", "say \"hi\""}, {"line\r\nbreak", "", N}, {"tab\there", "Zoë 日本", " spaced "},
            {"\"", ",", "\n"}};
        MemoryGrid grid = gridOf({"one", "two, three", "four \"4\""}, rows);
        FakeDesktop desktop;
        const QString file = path("read.csv");
        QVERIFY(SaveDataGridToCSVFile(grid, file, desktop, nullptr, {}));
        // QUOTE_NOTNULL (Python 3.12 on) reads an unquoted empty field as None.
        QProcess py;
        py.start("/usr/bin/python3", {"-c", "import csv, json, sys\n"
                                            "q = getattr(csv, 'QUOTE_NOTNULL', csv.QUOTE_MINIMAL)\n"
                                            "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                            "    print(json.dumps([q == csv.QUOTE_MINIMAL] + list(csv.reader(f, quoting=q))))\n",
                                      file});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(py.exitCode(), 0);
        const QJsonArray out = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
        const bool nullsAsEmpty = out.at(0).toBool();
        QCOMPARE(out.size(), rows.size() + 2);
        QCOMPARE(out.at(1).toArray(), QJsonArray({"one", "two, three", "four \"4\""}));
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray cells = out.at(r + 2).toArray();
            QCOMPARE(cells.size(), rows[r].size());
            for (int c = 0; c < rows[r].size(); ++c) {
                const QByteArray &want = rows[r][c];
                if (want.isNull() && !nullsAsEmpty)
                    QVERIFY(cells.at(c).isNull());
                else
                    QCOMPARE(cells.at(c).toString().toUtf8(), want.isNull() ? QByteArray("") : want);
            }
        }
    }

    // The dialog appears once the export has run for a while and its
    // Cancel stops the export.
    void progressDialogCancels()
    {
        QWidget page;
        ProgressDialog progress(&page, 0);
        QVERIFY(progress.update(0, 0));
        QVERIFY(progress.dialog());
        QVERIFY(progress.dialog()->labelText().contains("rows so far"));
        QVERIFY(progress.update(5, 10));
        QCOMPARE(progress.dialog()->labelText(), QStringLiteral("Saving row 5 of 10"));
        QPushButton *cancel = progress.dialog()->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        // The press comes through the event queue, as the user's does. With no
        // total known only update() lets it in (a modal dialog's setValue()
        // runs the pending events itself).
        QMetaObject::invokeMethod(cancel, &QPushButton::click, Qt::QueuedConnection);
        QVERIFY(!progress.update(6, 0));
    }

    void progressDialogWaitsHalfASecond()
    {
        ProgressDialog progress(nullptr);
        QVERIFY(progress.update(1, 10));
        QVERIFY(!progress.dialog());
    }
};

QTEST_MAIN(TestTextExport)
#include "tst_textexport.moc"
