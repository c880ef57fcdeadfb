// CupsPrinters and the whole PDF export against a private cupsd (started by
// cups-fixture.sh) with a cups-pdf queue described "Quillmark PDF Writer":
// a table of the test server, exported from the editor, comes back as text
// of a PDF in the queue's output folder.
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "frame/Main.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "print/CupsPrinters.h"
#include "support/FakeDesktop.h"
#include "support/TestDb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

QMap<QString, QString> readEnv(const QString &path)
{
    QMap<QString, QString> env;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return env;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))
            value = value.mid(1, value.size() - 2);
        env.insert(QString::fromUtf8(line.left(eq)), value);
    }
    return env;
}

QString lpoptionsPath()
{
    return qEnvironmentVariable("HOME") + QStringLiteral("/.cups/lpoptions");
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestPdfCups : public QObject
{
    Q_OBJECT
    QMap<QString, QString> m_env;

private slots:
    void initTestCase()
    {
        m_env = readEnv(qEnvironmentVariable("CORVANE_CUPS_ENV"));
        if (m_env.contains(QStringLiteral("CORVANE_CUPS_SKIP")))
            QSKIP(qPrintable(m_env.value(QStringLiteral("CORVANE_CUPS_SKIP"))));
        QVERIFY2(m_env.contains(QStringLiteral("CORVANE_CUPS_SERVER")), "the cups fixture did not run");
        // Before libcups reads its settings: our scheduler, a home of our own
        // for lpoptions, and none of the machine's client settings.
        const QString home = qEnvironmentVariable("CORVANE_TEST_HOME");
        QVERIFY(QDir().mkpath(home + QStringLiteral("/home")));
        QVERIFY(QDir().mkpath(home + QStringLiteral("/cups-client")));
        qputenv("HOME", (home + QStringLiteral("/home")).toLocal8Bit());
        qputenv("CUPS_SERVERROOT", (home + QStringLiteral("/cups-client")).toLocal8Bit());
        qputenv("CUPS_SERVER", m_env.value(QStringLiteral("CORVANE_CUPS_SERVER")).toLocal8Bit());
        qunsetenv("LPDEST");
        qunsetenv("PRINTER");
    }

    void init()
    {
        QFile::remove(lpoptionsPath());
        qunsetenv("LPDEST");
    }

    void printersAreNamedByTheirDescription()
    {
        const QStringList names = CupsPrinters().deviceNames();
        QVERIFY2(names.contains(QStringLiteral("Previous Printer")), qPrintable(names.join(", ")));
        QVERIFY(names.contains(QStringLiteral("Third Printer")));
        QVERIFY(!names.contains(QStringLiteral("Corvane_Third")));
        if (m_env.contains(QStringLiteral("CORVANE_CUPS_PDF_QUEUE")))
            QVERIFY(names.contains(QStringLiteral("Quillmark PDF Writer")));
    }

    void defaultIsSetInTheUsersLpoptions()
    {
        CupsPrinters printers;
        QCOMPARE(printers.defaultPrinter(), QString());
        printers.setDefaultPrinter(QStringLiteral("Third Printer"));
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Third Printer"));
        QCOMPARE(CupsPrinters::defaultQueue(), QStringLiteral("Corvane_Third"));
        QVERIFY2(readText(lpoptionsPath()).contains(QStringLiteral("Default Corvane_Third")),
                 qPrintable(readText(lpoptionsPath())));
        printers.setDefaultPrinter(QStringLiteral("Previous Printer"));
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Previous Printer"));
        printers.clearDefaultPrinter();
        QCOMPARE(printers.defaultPrinter(), QString());
    }

    void unknownNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("other letter case") << "third printer";
        QTest::newRow("queue name of a described printer") << "Corvane_Third";
        QTest::newRow("no such printer") << "Nowhere";
        QTest::newRow("empty") << "";
    }
    void unknownNamesAreRefused()
    {
        QFETCH(QString, name);
        CupsPrinters printers;
        printers.setDefaultPrinter(QStringLiteral("Previous Printer"));
        QVERIFY_THROWS_EXCEPTION(Failure, printers.setDefaultPrinter(name));
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Previous Printer"));
    }

    void lpdestWinsSoItIsWhatChanges()
    {
        qputenv("LPDEST", "Corvane_Previous");
        CupsPrinters printers;
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Previous Printer"));
        printers.setDefaultPrinter(QStringLiteral("Third Printer"));
        QCOMPARE(qgetenv("LPDEST"), QByteArray("Corvane_Third"));
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Third Printer"));
        QVERIFY(!QFile::exists(lpoptionsPath()));
        printers.setDefaultPrinter(QStringLiteral("Previous Printer"));
        QCOMPARE(qgetenv("LPDEST"), QByteArray("Corvane_Previous"));
    }

    void exportedTableArrivesAsPdfAndTheDefaultComesBack()
    {
        if (!m_env.contains(QStringLiteral("CORVANE_CUPS_PDF_QUEUE")))
            QSKIP(qPrintable(m_env.value(QStringLiteral("CORVANE_CUPS_PDF_SKIP"))));
        if (!TestDb::available())
            QSKIP("the test database server is not running");
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        const QString db = QStringLiteral("tst_pdf_cups");
        const ConnectionFields fields = TestDb::create(db);
        QStringList sql{QStringLiteral("CREATE TABLE staff (id INT PRIMARY KEY, name VARCHAR(40), city VARCHAR(40) "
                                       "NULL, salary DECIMAL(10,2))")};
        for (int i = 1; i <= 30; ++i)
            sql << QStringLiteral("INSERT INTO staff VALUES (%1, 'Person %1', %2, %3)")
                       .arg(i)
                       .arg(i % 7 == 0 ? QStringLiteral("NULL") : QStringLiteral("'Z\u00fcrich %1'").arg(i))
                       .arg(1000 + i * 12.5, 0, 'f', 2);
        TestDb::run(db, sql);

        const QString out = m_env.value(QStringLiteral("CORVANE_CUPS_PDF_OUT"));
        QDir(out).removeRecursively();
        QVERIFY(QDir().mkpath(out));
        CupsPrinters printers;
        printers.setDefaultPrinter(QStringLiteral("Previous Printer"));
        Main::setProgramFolder(QCoreApplication::applicationDirPath());

        FakeDesktop desktop;
        Services services;
        services.desktop = &desktop;
        services.printers = &printers;
        Wizard wizard(services);
        wizard.CurrentTable = QStringLiteral("staff");
        auto connection = std::make_unique<Connection>();
        connection->open(ConnectionString(fields));
        auto rows = std::make_unique<RowSet>();
        rows->open(QStringLiteral("SELECT * FROM `staff`;"), *connection);
        wizard.form3()->session().open(wizard.CurrentTable, std::move(connection), std::move(rows));
        wizard.form3()->mnuPDF_Click();

        QCOMPARE(desktop.texts(), QStringList());
        QCOMPARE(printers.defaultPrinter(), QStringLiteral("Previous Printer"));
        QCOMPARE(QDir(qEnvironmentVariable("TMPDIR")).entryList({QStringLiteral("corvane-pdf-*")}, QDir::AllEntries),
                 QStringList());

        // cups-pdf writes the file once the job has gone through the queue.
        QStringList pdfs;
        QTRY_VERIFY_WITH_TIMEOUT(!(pdfs = QDir(out).entryList({QStringLiteral("*.pdf")}, QDir::Files)).isEmpty(), 60000);
        // Named after the table, not the temporary file it was printed from.
        QCOMPARE(pdfs.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^staff-job_\\d+\\.pdf$")).match(pdfs.first()).hasMatch(),
                 qPrintable(pdfs.first()));
        const QString pdf = QDir(out).filePath(pdfs.first());
        QString text;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QProcess p;
                p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
                p.waitForFinished(30000);
                text = QString::fromUtf8(p.readAllStandardOutput());
                return text.contains(QStringLiteral("Person 30"));
            }(),
            20000);
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("id\\s+name\\s+city\\s+salary"))));
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(30000));
        const QString meta = QString::fromUtf8(info.readAllStandardOutput());
        // Ghostscript behind cups-pdf copies the PostScript title with its
        // string brackets.
        QVERIFY2(meta.contains(QRegularExpression(QStringLiteral("(^|\\n)Title:\\s+\\(?staff\\)?\\n"))), qPrintable(meta));
        for (int i = 1; i <= 30; ++i) {
            QVERIFY2(text.contains(QStringLiteral("Person %1 ").arg(i)), qPrintable(QString::number(i)));
            QVERIFY(text.contains(QStringLiteral("%1").arg(1000 + i * 12.5, 0, 'f', 2)));
            if (i % 7)
                QVERIFY(text.contains(QStringLiteral("Z\u00fcrich %1").arg(i)));
        }
        Main::setProgramFolder(QString());
    }
};

QTEST_MAIN(TestPdfCups)
#include "tst_pdf_cups.moc"
