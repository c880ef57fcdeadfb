#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "frame/KeptConnection.h"
#include "frame/SettingsStore.h"
#include "grid/GridModel.h"
#include "pages/ConnectionSecurity.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/Modal.h"
#include "support/SignIn.h"
#include "support/TestDb.h"
#include "support/TlsStripProxy.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

const QString Db = QStringLiteral("tst_tls");

QString envValue(const QString &file, const QString &key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    }
    return {};
}

QString tlsEnv(const char *key)
{
    return envValue(qEnvironmentVariable("CORVANE_DB_ENV"), QString::fromLatin1(key));
}

ConnectionFields secured(const QString &host, const QString &mode, const QString &ca)
{
    ConnectionFields f = TestDb::fields(Db);
    f.server = host;
    f.tlsMode = mode;
    f.caFile = ca;
    return f;
}

QString openFailure(const ConnectionFields &fields)
{
    Connection c;
    try {
        c.open(ConnectionString(fields));
    } catch (const Failure &f) {
        return f.description();
    }
    return {};
}

} // namespace

// Against a server that has a certificate made for this run and refuses
// plain connections (require_secure_transport), and against the ordinary
// test server, which offers no TLS.
class TestTls : public QObject
{
    Q_OBJECT
    QString m_ca, m_otherCa;

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("the TLS test server is not running");
        m_ca = tlsEnv("CORVANE_DB_CA");
        m_otherCa = tlsEnv("CORVANE_DB_OTHER_CA");
        QVERIFY(QFile::exists(m_ca) && QFile::exists(m_otherCa));
        TestDb::create(Db);
        TestDb::run(Db, {"CREATE TABLE notes (id INT PRIMARY KEY, body VARCHAR(40))",
                         "INSERT INTO notes VALUES (1, 'first'), (2, 'second')"});
    }

    void preferredEncryptsWhenOffered()
    {
        Connection c;
        c.open(ConnectionString(TestDb::fields(Db)));
        QVERIFY(!c.tlsCipher().isEmpty());
        QVERIFY2(c.tlsVersion().startsWith("TLS"), qPrintable(c.tlsVersion()));
        const auto rows = TestDb::rows(Db, "SHOW STATUS LIKE 'Ssl_cipher'");
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.first().section('|', 1) == c.tlsCipher(), qPrintable(rows.first()));
    }

    // The methods that never reveal the password still sign in.
    void safeAuthenticationMethodsWork()
    {
        TestDb::run(Db, {"INSTALL SONAME 'auth_ed25519'",
                         "CREATE OR REPLACE USER 'edwards'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('ed-pass')",
                         "CREATE OR REPLACE USER 'edwards'@'localhost' IDENTIFIED VIA ed25519 USING PASSWORD('ed-pass')",
                         "GRANT SELECT ON tst_tls.* TO 'edwards'@'%'", "GRANT SELECT ON tst_tls.* TO 'edwards'@'localhost'"});
        for (const QString &mode : {QString(), QStringLiteral("VERIFY_IDENTITY")}) {
            ConnectionFields f = secured("localhost", mode, m_ca);
            f.user = "edwards";
            f.password = "ed-pass";
            const QString failure = openFailure(f);
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
    }

    void plainServerPreferredWorksRequiredRefuses()
    {
        const QString plain = qEnvironmentVariable("CORVANE_PLAIN_DB_ENV");
        ConnectionFields f{envValue(plain, "CORVANE_DB_HOST"), envValue(plain, "CORVANE_DB_USER"),
                           envValue(plain, "CORVANE_DB_PASSWORD"), "", envValue(plain, "CORVANE_DB_PORT")};
        if (f.port.isEmpty())
            QSKIP("the plain test server is not running");
        Connection c;
        c.open(ConnectionString(f));
        QVERIFY(c.tlsCipher().isEmpty());
        c.close();
        f.tlsMode = "REQUIRED";
        QVERIFY(openFailure(f).contains("does not offer an encrypted connection"));
        f.tlsMode = "VERIFY_IDENTITY";
        f.caFile = m_ca;
        QVERIFY(openFailure(f).contains("secure connection"));
    }

    void certificateChecks_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("rightCa");
        QTest::addColumn<QString>("refusal"); // empty: signs in
        QTest::newRow("required") << "127.0.0.1" << "REQUIRED" << true << "";
        QTest::newRow("CA right") << "127.0.0.1" << "VERIFY_CA" << true << "";
        QTest::newRow("CA wrong") << "127.0.0.1" << "VERIFY_CA" << false << "could not be checked against the CA file";
        QTest::newRow("host right") << "localhost" << "VERIFY_IDENTITY" << true << "";
        QTest::newRow("host wrong") << "127.0.0.1" << "VERIFY_IDENTITY" << true
                                    << "not made out to the host \"127.0.0.1\"";
        QTest::newRow("host, CA wrong") << "localhost" << "VERIFY_IDENTITY" << false << "CA file";
        // In a list each host's certificate is checked against its own name.
        QTest::newRow("list, second host right") << "127.0.0.1,localhost"
                                                 << "VERIFY_IDENTITY" << true << "";
        QTest::newRow("list, no host right") << "127.0.0.1,127.0.0.1"
                                             << "VERIFY_IDENTITY" << true << "not made out to the host \"127.0.0.1\"";
    }
    void certificateChecks()
    {
        QFETCH(QString, host);
        QFETCH(QString, mode);
        QFETCH(bool, rightCa);
        QFETCH(QString, refusal);
        const ConnectionFields f = secured(host, mode, rightCa ? m_ca : m_otherCa);
        const QString failure = openFailure(f);
        if (refusal.isEmpty()) {
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        } else {
            QVERIFY2(failure.contains(refusal), qPrintable(failure));
            QVERIFY2(failure.contains("certificate was refused"), qPrintable(failure));
        }
    }

    // The pages share one signed-in connection; other TLS settings alone
    // sign in anew, so a certificate they refuse is still refused.
    void keptConnectionIsNotSharedAcrossTlsSettings()
    {
        KeptConnection kept;
        const auto opener = [](const ConnectParams &p) {
            return [p](Connection &c) {
                c.open(p);
                return true;
            };
        };
        const ConnectParams required = Connection::paramsFrom(ConnectionString(secured("127.0.0.1", "REQUIRED", "")));
        const std::shared_ptr<Connection> first = kept.share(required, opener(required));
        QCOMPARE(kept.share(required, opener(required)), first);
        const ConnectParams wrongCa
            = Connection::paramsFrom(ConnectionString(secured("127.0.0.1", "VERIFY_CA", m_otherCa)));
        QVERIFY_THROWS_EXCEPTION(Failure, kept.share(wrongCa, opener(wrongCa)));
    }

    // A man in the middle clears the TLS flag in the server's greeting: in
    // every mode that requires TLS the connect fails, and nothing of the
    // sign-in has crossed.
    void strippedTlsRefusedBeforeSignIn_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("required") << "REQUIRED"
                                  << "does not offer an encrypted connection";
        QTest::newRow("verify CA") << "VERIFY_CA"
                                   << "does not offer an encrypted connection";
        QTest::newRow("verify identity") << "VERIFY_IDENTITY"
                                         << "does not support";
    }
    void strippedTlsRefusedBeforeSignIn()
    {
        QFETCH(QString, mode);
        QFETCH(QString, refusal);
        TlsStripProxy proxy(TestDb::host(), TestDb::port().toUShort());
        ConnectionFields f = secured("localhost", mode, m_ca);
        f.port = QString::number(proxy.port());
        const QString failure = openFailure(f);
        QCOMPARE(proxy.strippedCount(), 1);
        QVERIFY2(!proxy.fromClients().contains(f.user.toUtf8()), proxy.fromClients().toHex().constData());
        QCOMPARE(proxy.fromClients(), QByteArray());
        QVERIFY2(failure.contains(refusal), qPrintable(failure));
    }

    // The whole path through the pages: the dialog stores the choice, the
    // start signs in with it, the editor shows the lock, a cell is written
    // back and the table exported.
    void signInLoadEditExport()
    {
        QFile::remove(SettingsStore::fileName());
        ConnectionFields f = TestDb::fields(Db);
        f.server = QStringLiteral("localhost");
        storeSignIn(f);

        FakeDesktop desktop;
        Services services;
        services.desktop = &desktop;
        {
            // The dialog, from the keyboard: reachable, and its choice kept.
            Wizard first(services);
            Form1 *page = first.form1();
            QCOMPARE(page->securityButton->accessibleName(), QStringLiteral("Connection security"));
            QVERIFY(page->securityButton->focusPolicy() & Qt::TabFocus);
            onNextModal([&](QWidget *w) {
                auto *dialog = qobject_cast<ConnectionSecurity *>(w);
                QVERIFY(dialog);
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Connection security"));
                QCOMPARE(dialog->modeLabel->buddy(), dialog->modeComboBox);
                QCOMPARE(dialog->caFileLabel->buddy(), dialog->caFileEdit);
                dialog->modeComboBox->setCurrentIndex(dialog->modeComboBox->findData("VERIFY_IDENTITY"));
                // Browse asks the desktop, so a test can answer it.
                desktop.fileNames.enqueue(m_ca);
                dialog->browseButton->click();
                QCOMPARE(desktop.openDialogs.size(), 1);
                QCOMPARE(dialog->caFileEdit->text(), m_ca);
                dialog->okButton->click();
            });
            page->securityButton->click();
            QCOMPARE(SettingsStore::read("MyTlsMode", ""), QStringLiteral("VERIFY_IDENTITY"));
            QCOMPARE(SettingsStore::read("MyTlsCaFile", ""), m_ca);
        }

        Wizard w(services);
        w.start();
        QVERIFY2(desktop.boxes.isEmpty(), qPrintable(desktop.texts().join('\n')));
        Form2 *picker = w.form2();
        QVERIFY(picker->isVisible());
        picker->List1->setCurrentRow(0);
        picker->PushButton3->click();
        Form3 *editor = w.form3();
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->Label2->text(), QStringLiteral(" Now Editing: notes"));
        QVERIFY2(editor->securityLabel->toolTip().startsWith("Encrypted connection (TLS"),
            qPrintable(editor->securityLabel->toolTip()));
        QTRY_COMPARE(editor->model()->exportSource().rowCount(), qint64(2));

        QVERIFY(editor->model()->setData(editor->model()->index(0, 1), QStringLiteral("edited")));
        QVERIFY(editor->session().commitHeldRow());
        QCOMPARE(TestDb::scalar(Db, "SELECT body FROM notes WHERE id = 1"), QStringLiteral("edited"));

        QTemporaryDir dir;
        const QString file = dir.path() + "/notes.csv";
        desktop.fileNames << file;
        editor->mnuCSV_Click();
        QFile out(file);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QVERIFY2(out.readAll().contains("1,edited"), qPrintable(desktop.texts().join('\n')));

        // A wrong CA: "Test Connection" names the reason.
        w.form1()->Text1->setText("localhost");
        SettingsStore::write("MyTlsCaFile", m_otherCa);
        Wizard again(services);
        desktop.clear();
        again.start();
        QVERIFY(!again.hasForm2());
        again.form1()->PushButton5_Click();
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY2(desktop.boxes.first().text.startsWith("Could not connect."), qPrintable(desktop.boxes.first().text));
        QVERIFY2(desktop.boxes.first().text.contains("certificate was refused"), qPrintable(desktop.boxes.first().text));
    }
};

QTEST_MAIN(TestTls)
#include "tst_tls.moc"
