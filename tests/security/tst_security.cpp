#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "export/ExcelExport.h"
#include "export/ExportText.h"
#include "export/MemoryGrid.h"
#include "export/XlsxSpreadsheet.h"
#include "frame/SettingsStore.h"
#include "support/FakeAuthServer.h"
#include "support/FakeDesktop.h"

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <mysql.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Secret = "S3cret-Pa55word";

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A user other than the one running the tests, or -1.
void makeFolder(const QString &path, qint64 ageSeconds, const QStringList &files)
{
    QDir().mkpath(path);
    const qint64 when = QDateTime::currentSecsSinceEpoch() - ageSeconds;
    const timespec times[2] = {{time_t(when), 0}, {time_t(when), 0}};
    for (const QString &name : files) {
        QFile f(path + '/' + name);
        f.open(QIODevice::WriteOnly);
        f.close();
        ::utimensat(AT_FDCWD, QFile::encodeName(f.fileName()).constData(), times, 0);
    }
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

// The real workbook writer with the program reported present.
class InstalledSpreadsheet : public XlsxSpreadsheet
{
public:
    using XlsxSpreadsheet::XlsxSpreadsheet;
    bool isInstalled() override { return true; }
};

uid_t otherUser()
{
    const passwd *nobody = ::getpwnam("nobody");
    return nobody && nobody->pw_uid != ::geteuid() ? nobody->pw_uid : uid_t(-1);
}

} // namespace

// Defences that need no database: the settings file's mode, the link rule of
// the exports, and a sign-in against an impostor server.
class TestSecurity : public QObject
{
    Q_OBJECT
private slots:
    void settingsFileIsOwnerOnlyAfterEveryWrite_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("new file") << -1;
        QTest::newRow("0644 from a backup") << 0644;
        QTest::newRow("0666") << 0666;
        QTest::newRow("0604") << 0604;
    }
    void settingsFileIsOwnerOnlyAfterEveryWrite()
    {
        QFETCH(int, before);
        const QString path = SettingsStore::fileName();
        QFile::remove(path);
        if (before >= 0) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[Corvane%20Editor%20Software]\nMyServer=old\n");
            f.close();
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
        }
        SettingsStore::write("MyPassword", QString::fromLatin1(Secret));
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(SettingsStore::read("MyPassword", ""), QString::fromLatin1(Secret));
        if (before >= 0)
            QCOMPARE(SettingsStore::read("MyServer", ""), QStringLiteral("old"));
        // Widened again by someone else: the next write narrows it.
        ::chmod(QFile::encodeName(path).constData(), 0644);
        SettingsStore::write("MyUser", "u");
        QCOMPARE(modeOf(path), mode_t(0600));
    }

    void clearTextPasswordNeverLeaves_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("preferred") << "";
        QTest::newRow("required") << "REQUIRED";
        QTest::newRow("verify CA") << "VERIFY_CA";
        QTest::newRow("verify host") << "VERIFY_IDENTITY";
    }
    void clearTextPasswordNeverLeaves()
    {
        QFETCH(QString, mode);
        FakeAuthServer fake;
        QVERIFY(fake.port() != 0);
        ConnectionFields fields{"127.0.0.1", "alice", QString::fromLatin1(Secret), "", QString::number(fake.port()),
                                mode, QStringLiteral("/nonexistent/ca.pem")};
        Connection c;
        try {
            c.open(ConnectionString(fields));
            QFAIL("signed in to the impostor");
        } catch (const Failure &) {
        }
        QVERIFY(!fake.received().contains(Secret));
    }

    // The impostor does catch a client that allows the clear-text method.
    void impostorCatchesAnUnrestrictedClient()
    {
        FakeAuthServer fake;
        MYSQL *m = mysql_init(nullptr);
        const unsigned proto = MYSQL_PROTOCOL_TCP;
        mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &proto);
        const unsigned timeout = 10;
        mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
        QVERIFY(!mysql_real_connect(m, "127.0.0.1", "alice", Secret.constData(), nullptr, fake.port(), nullptr, 0));
        mysql_close(m);
        QVERIFY(fake.sawLogin());
        QVERIFY(fake.received().contains(Secret));
    }

    void linksInStickyFoldersFollowOnlyOwnLinks()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to give a link to another user");
        const uid_t other = otherUser();
        if (other == uid_t(-1))
            QSKIP("no user \"nobody\" to own the planted link");
        QTemporaryDir root;
        const QString shared = root.path() + "/shared", home = root.path() + "/home";
        QVERIFY(QDir().mkpath(shared) && QDir().mkpath(home));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        const QString secret = home + "/private.txt";
        QFile f(secret);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("mine");
        f.close();
        const QString link = shared + "/report.csv";
        QVERIFY(QFile::link(secret, link));
        const QByteArray linkName = QFile::encodeName(link);

        QVERIFY(::lchown(linkName.constData(), other, gid_t(-1)) == 0);
        try {
            WriteTextFile("a,b\r\n", link);
            QFAIL("followed another user's link");
        } catch (const Failure &failure) {
            QVERIFY2(failure.description().contains("link made by another user"), qPrintable(failure.description()));
        }
        QCOMPARE(readAll(secret), QByteArray("mine"));
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"report.csv"});
        QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"private.txt"});

        // The user's own link works as before: the file it names is replaced.
        QVERIFY(::lchown(linkName.constData(), ::geteuid(), gid_t(-1)) == 0);
        WriteTextFile("a,b\r\n", link);
        QCOMPARE(readAll(secret), QByteArray("a,b\r\n"));
        QVERIFY(QFileInfo(link).isSymLink());

        // Outside sticky folders links are followed whoever made them.
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0755) == 0);
        QVERIFY(::lchown(linkName.constData(), other, gid_t(-1)) == 0);
        WriteTextFile("c\r\n", link);
        QCOMPARE(readAll(secret), QByteArray("c\r\n"));
    }

    void staleWorkbookFoldersGo()
    {
        QTemporaryDir tmp;
        const QString t = tmp.path() + '/';
        const qint64 hour = 3600;
        makeFolder(t + "corvane-xlsx-fresh", 60, {"a.xlsx"});
        makeFolder(t + "corvane-xlsx-closed", 2 * hour, {"a.xlsx"});
        makeFolder(t + "corvane-xlsx-open", 2 * hour, {"a.xlsx", ".~lock.a.xlsx#"});
        makeFolder(t + "corvane-xlsx-old", 25 * hour, {"a.xlsx", ".~lock.a.xlsx#"});
        makeFolder(t + "keep-me", 48 * hour, {"a.xlsx"});
        makeFolder(t + "target", 48 * hour, {"precious"});
        QVERIFY(QFile::link(t + "target", t + "corvane-xlsx-link"));
        QCOMPARE(XlsxSpreadsheet::removeStaleFolders(tmp.path(), QDateTime::currentSecsSinceEpoch()), 2);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 (QStringList{"corvane-xlsx-fresh", "corvane-xlsx-link", "corvane-xlsx-open", "keep-me", "target"}));
        QVERIFY(QFile::exists(t + "target/precious"));
    }

    void workbookFolderGoesWhenOpeningFails()
    {
        XlsxSpreadsheet program([](const QString &) { throw Failure("no program"); });
        auto book = program.newWorkbook("t");
        const QString file = static_cast<XlsxWorkbook *>(book.get())->fileName();
        book->setCell(1, 1, "a");
        QVERIFY(QFile::exists(QFileInfo(file).absolutePath()));
        QVERIFY_THROWS_EXCEPTION(Failure, book->makeVisible());
        QVERIFY(!QFile::exists(file));
        QVERIFY(!QFile::exists(QFileInfo(file).absolutePath()));
    }

    void nulInACellIsCutAndToldOnce()
    {
        QString opened;
        InstalledSpreadsheet program([&](const QString &file) { opened = file; });
        MemoryGrid grid({"id", "note"}, {{QByteArray("1"), QByteArray("ab\0cd", 5)},
                                         {QByteArray("2"), QByteArray("\0", 1)},
                                         {QByteArray("3"), QByteArray("plain")}});
        FakeDesktop desktop;
        SaveDataGridToWorkbook(grid, &program, "t", desktop, nullptr, nullptr, {});
        QVERIFY(!opened.isEmpty());
        const QStringList texts = desktop.texts();
        QCOMPARE(texts.filter("NUL").size(), 1);
        QVERIFY2(texts.filter("NUL").first().startsWith("2 cells"), qPrintable(texts.join('\n')));
        QFile::remove(opened);
        QDir().rmdir(QFileInfo(opened).absolutePath());
    }
};

QTEST_GUILESS_MAIN(TestSecurity)
#include "tst_security.moc"
