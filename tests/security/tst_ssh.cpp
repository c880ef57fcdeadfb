#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "db/SshTunnel.h"
#include "db/TlsOptions.h"
#include "frame/AskPass.h"
#include "frame/SettingsStore.h"
#include "grid/GridModel.h"
#include "pages/ConnectionSecurity.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/FaultProxy.h"
#include "support/Modal.h"
#include "support/SignIn.h"
#include "support/TestDb.h"
#include "support/TestSshd.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Db = QStringLiteral("tst_ssh");

void writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

mode_t modeOf(const QByteArray &path)
{
    struct stat st
    {
    };
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

} // namespace

// Connections through a real sshd to the suite's MariaDB, with the user's own
// ssh (a wrapper first on PATH gives it a private configuration) and the
// editor as its ask-pass program, answering from a file.
class TstSsh : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString d;
    std::unique_ptr<TestSshd> m_sshd, m_jump;
    std::unique_ptr<FaultProxy> m_proxy;
    QProcess m_agent;

    void answer(const QStringList &answers)
    {
        writeFile(d + "/answers", answers.join('\n'));
        QFile::remove(d + "/answers.asked");
    }
    QString asked() const { return readFile(d + "/answers.asked"); }
    void trustHosts()
    {
        writeFile(d + "/known_hosts", m_sshd->knownHostsLine() + '\n' + m_jump->knownHostsLine() + '\n');
    }

    ConnectParams params(const QString &sshHost, quint16 dbPort = 0) const
    {
        ConnectionFields f = TestDb::fields(Db);
        f.server = QStringLiteral("127.0.0.1");
        if (dbPort)
            f.port = QString::number(dbPort);
        f.sshHost = sshHost;
        return Connection::paramsFrom(ConnectionString(f));
    }
    // The description of the failure to open, or empty when it opened and
    // read the table.
    static QString openAndRead(const ConnectParams &p)
    {
        try {
            Connection c;
            c.open(p);
            if (c.isLocalSocket())
                return QStringLiteral("a tunnel counted as the local socket");
            return c.select("SELECT v FROM t ORDER BY k")->recordCount() == 2 ? QString() : QStringLiteral("rows?");
        } catch (const Failure &f) {
            return f.description().isEmpty() ? QStringLiteral("?") : f.description();
        }
    }
    void sshKeygen(const QStringList &arguments)
    {
        QString out;
        QVERIFY2(TestSshd::run(QStringLiteral("ssh-keygen"), QStringList{"-q", "-t", "ed25519"} + arguments, &out),
            qPrintable(out));
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test database");
        const QString realSsh = QStandardPaths::findExecutable(QStringLiteral("ssh"));
        if (realSsh.isEmpty())
            QSKIP("no ssh (openssh-client)");
        QVERIFY(m_dir.isValid());
        d = m_dir.path();
        sshKeygen({"-N", "", "-f", d + "/agent_key"});
        sshKeygen({"-N", "secret", "-f", d + "/pass_key"});
        writeFile(d + "/authorized_keys", readFile(d + "/agent_key.pub") + readFile(d + "/pass_key.pub"));
        m_sshd = std::make_unique<TestSshd>(d + "/sshd", d + "/authorized_keys");
        if (!m_sshd->isRunning())
            QSKIP(qPrintable(m_sshd->error()));
        m_jump = std::make_unique<TestSshd>(d + "/jump", d + "/authorized_keys");
        QVERIFY2(m_jump->isRunning(), qPrintable(m_jump->error()));

        // The agent holds the key whose file is then gone.
        const QString agentSocket = d + "/agent.sock";
        // ssh-agent is set-group-id, which drops the parent-death signal: a
        // shell that has it ends the agent.
        TestSshd::endsWithTest(m_agent);
        m_agent.start(
            QStringLiteral("sh"), {"-c", "ssh-agent -D -a \"$0\" & a=$!; trap 'kill $a' TERM; wait", agentSocket});
        QTRY_VERIFY(QFile::exists(agentSocket));
        qputenv("SSH_AUTH_SOCK", QFile::encodeName(agentSocket));
        QString out;
        QVERIFY2(TestSshd::run(QStringLiteral("ssh-add"), {d + "/agent_key"}, &out), qPrintable(out));
        QFile::remove(d + "/agent_key");

        const QString user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
        writeFile(d + "/client_config",
            QStringLiteral("Host agent-host\n HostName 127.0.0.1\n Port %1\n"
                           "Host pass-host\n HostName 127.0.0.1\n Port %1\n IdentityFile %2/pass_key\n"
                           " IdentityAgent none\n"
                           "Host behind-jump\n HostName 127.0.0.1\n Port %3\n ProxyJump agent-host\n"
                           "Host *\n User %4\n UserKnownHostsFile %2/known_hosts\n GlobalKnownHostsFile /dev/null\n"
                           " IdentityFile %2/agent_key.pub\n IdentitiesOnly yes\n UpdateHostKeys no\n"
                           " PasswordAuthentication no\n KbdInteractiveAuthentication no\n")
                .arg(m_sshd->port())
                .arg(d)
                .arg(m_jump->port())
                .arg(user));
        QDir().mkpath(d + "/bin");
        writeFile(d + "/bin/ssh", QStringLiteral("#!/bin/sh\nexec %1 -F %2/client_config \"$@\"\n").arg(realSsh, d));
        QFile::setPermissions(d + "/bin/ssh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(d + "/bin:") + qgetenv("PATH"));
        QDir().mkpath(d + "/run");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(d + "/run"));
        SshTunnel::setAskPassProgram(QStringLiteral(CORVANE_EDITOR_BIN));
        qputenv("CORVANE_ASKPASS_ANSWERS", QFile::encodeName(d + "/answers"));

        TestDb::create(Db);
        TestDb::run(
            Db, {"CREATE TABLE t (k INT PRIMARY KEY, v VARCHAR(20))", "INSERT INTO t VALUES (1, 'a'), (2, 'b')"});
        m_proxy = std::make_unique<FaultProxy>(TestDb::host(), quint16(TestDb::port().toUInt()));
    }

    void init()
    {
        SshTunnel::stopAll();
        if (m_sshd)
            trustHosts();
        answer({});
    }

    void cleanupTestCase()
    {
        SshTunnel::stopAll();
        m_agent.terminate();
        m_agent.waitForFinished();
    }

    void signsInThroughTunnel_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("failure"); // empty: reads the table
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<int>("dbPort"); // 0: the test server's
        QTest::newRow("agent key, Host alias") << "agent-host" << QStringList() << ""
                                               << "" << 0;
        QTest::newRow("user@host:port") << "@" << QStringList() << ""
                                        << "" << 0;
        QTest::newRow("passphrase asked") << "pass-host" << QStringList{"secret"} << ""
                                          << "Enter passphrase for key" << 0;
        QTest::newRow("passphrase refused") << "pass-host" << QStringList{"!refuse"} << "refused the sign-in"
                                            << "Enter passphrase for key" << 0;
        QTest::newRow("through a jump host") << "behind-jump" << QStringList() << ""
                                             << "" << 0;
        QTest::newRow("SSH host unreachable") << "127.0.0.1:1" << QStringList() << "could not be reached"
                                              << "" << 0;
        QTest::newRow("database unreachable from the SSH host")
            << "agent-host" << QStringList() << "could not reach the database server 127.0.0.1 port 1"
            << "" << 1;
    }
    void signsInThroughTunnel()
    {
        QFETCH(QString, destination);
        QFETCH(QStringList, answers);
        QFETCH(QString, failure);
        QFETCH(QString, prompt);
        QFETCH(int, dbPort);
        if (destination == "@")
            destination = QStringLiteral("%1@127.0.0.1:%2")
                              .arg(QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name))
                              .arg(m_sshd->port());
        answer(answers);
        const QString result = openAndRead(params(destination, quint16(dbPort)));
        if (failure.isEmpty())
            QVERIFY2(result.isEmpty(), qPrintable(result));
        else
            QVERIFY2(result.contains(failure), qPrintable(result));
        QVERIFY2(asked().contains(prompt), qPrintable(asked()));
        if (prompt.isEmpty())
            QCOMPARE(asked(), QString());
    }

    // Nothing reaches the database before the user trusted the host; once
    // trusted, the key is remembered.
    void unknownHostKey_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("refused") << "no";
        QTest::newRow("accepted") << "yes";
    }
    void unknownHostKey()
    {
        QFETCH(QString, reply);
        writeFile(d + "/known_hosts", QString());
        answer({reply});
        const int before = m_proxy->accepted();
        const QString result = openAndRead(params("agent-host", m_proxy->port()));
        QVERIFY2(asked().contains("key fingerprint is SHA256:"), qPrintable(asked()));
        const QString hostKey = m_sshd->knownHostsLine().section(' ', 1);
        if (reply == "no") {
            QVERIFY2(result.contains("was not trusted"), qPrintable(result));
            QCOMPARE(m_proxy->accepted(), before);
            QVERIFY(!readFile(d + "/known_hosts").contains(hostKey));
        } else {
            QVERIFY2(result.isEmpty(), qPrintable(result));
            QVERIFY(m_proxy->accepted() > before);
            QVERIFY(readFile(d + "/known_hosts").contains(hostKey));
        }
    }

    void changedHostKeyIsRefused()
    {
        // Another server's key recorded for this one.
        writeFile(d + "/known_hosts",
            QStringLiteral("[127.0.0.1]:%1 %2\n").arg(m_sshd->port()).arg(m_jump->knownHostsLine().section(' ', 1)));
        answer({"yes", "yes"});
        const int before = m_proxy->accepted();
        const QString result = openAndRead(params("agent-host", m_proxy->port()));
        for (const QString &words :
            {QStringLiteral("identity of the SSH host agent-host has changed"), QStringLiteral("may be an attack"),
                QStringLiteral("line 1 of %1/known_hosts").arg(d), QStringLiteral("nothing was sent to the database")})
            QVERIFY2(result.contains(words), qPrintable(result));
        QCOMPARE(asked(), QString());
        QCOMPARE(m_proxy->accepted(), before);
    }

    // The suite's server offers no TLS: a mode that requires it refuses
    // before the sign-in, though the tunnel ends at a local socket.
    void tlsStillAppliesInsideTunnel_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("failure");
        QTest::newRow("required") << "REQUIRED"
                                  << "does not offer an encrypted connection";
        QTest::newRow("host name checked") << "VERIFY_IDENTITY"
                                           << "cannot be checked through an SSH tunnel";
    }
    void tlsStillAppliesInsideTunnel()
    {
        QFETCH(QString, mode);
        QFETCH(QString, failure);
        ConnectParams p = params("agent-host", m_proxy->port());
        p.tls = TlsOptions::modeFrom(mode);
        p.caFile = "/nonexistent.pem";
        m_proxy->resetTurns();
        const QString result = openAndRead(p);
        QVERIFY2(result.contains(failure), qPrintable(result));
        // At most the greeting was read: the client never answered it.
        QCOMPARE(m_proxy->turns(), 0);
    }

    void askPassDialogs()
    {
        FakeDesktop desktop;
        const QString question = QStringLiteral(
            "The authenticity of host 'h (1.2.3.4)' can't be established.\nED25519 key fingerprint is SHA256:abc.\n"
            "Are you sure you want to continue connecting (yes/no/[fingerprint])? ");
        desktop.answers << Desktop::Answer::Yes << Desktop::Answer::No;
        QCOMPARE(AskPass(desktop).answer(question), std::optional<QString>("yes"));
        QCOMPARE(AskPass(desktop).answer(question), std::nullopt);
        QCOMPARE(desktop.boxes.size(), 2);
        QVERIFY(desktop.boxes[0].text.contains("SHA256:abc"));
        QVERIFY(desktop.boxes[0].text.endsWith("continue connecting?"));
        QCOMPARE(desktop.boxes[0].defaultButton, Desktop::Answer::No);

        onNextModal([](QWidget *w) {
            auto *field = w->findChild<QLineEdit *>("txtSecret");
            QVERIFY(field && field->echoMode() == QLineEdit::Password);
            auto *label = w->findChild<QLabel *>();
            QCOMPARE(label->text(), QStringLiteral("Enter passphrase for key '/k':"));
            QCOMPARE(label->buddy(), field);
            QTest::keyClicks(field, "s3cret");
            QTest::keyClick(field, Qt::Key_Return);
        });
        QCOMPARE(AskPass(desktop).answer("Enter passphrase for key '/k': "), std::optional<QString>("s3cret"));
    }

    void socketIsPrivate()
    {
        QCOMPARE(openAndRead(params("agent-host")), QString());
        const SshTunnel::Route route = SshTunnel::route("agent-host", "127.0.0.1", TestDb::port().toUInt());
        const QByteArray folder = QFileInfo(QFile::decodeName(route.socket)).absolutePath().toLocal8Bit();
        QVERIFY2(folder.startsWith(QFile::encodeName(d + "/run/")), folder.constData());
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(route.socket), mode_t(0600));
        if (::geteuid() != 0)
            QSKIP("another user's attempt needs root");
        // Everything above the folder lets others pass.
        for (QString p = QString::fromLocal8Bit(folder); p.size() > 1; p = QFileInfo(p).absolutePath())
            if (p != QString::fromLocal8Bit(folder))
                ::chmod(QFile::encodeName(p).constData(), modeOf(QFile::encodeName(p)) | 0011);
        const QString probe = QStringLiteral("import socket,sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])");
        QString out;
        const bool reached = TestSshd::run(QStringLiteral("setpriv"),
            {"--reuid=65534", "--regid=65534", "--clear-groups", "python3", "-c", probe,
                QString::fromLocal8Bit(route.socket)},
            &out);
        QVERIFY2(!reached && out.contains("Permission denied"), qPrintable(out));
        QVERIFY(TestSshd::run(QStringLiteral("python3"), {"-c", probe, QString::fromLocal8Bit(route.socket)}));
    }

    void tunnelKilledMidSession()
    {
        Connection c;
        try {
            c.open(params("agent-host"));
        } catch (const Failure &f) {
            QFAIL(qPrintable(f.description()));
        }
        const qint64 first = SshTunnel::processId("agent-host", "127.0.0.1", TestDb::port().toUInt());
        QVERIFY(first > 0);
        ::kill(pid_t(first), SIGKILL);
        QTRY_COMPARE(SshTunnel::processId("agent-host", "127.0.0.1", TestDb::port().toUInt()), qint64(0));
        QVERIFY_THROWS_EXCEPTION(Failure, c.select("SELECT 1"));
        QCOMPARE(openAndRead(params("agent-host")), QString());
        const qint64 second = SshTunnel::processId("agent-host", "127.0.0.1", TestDb::port().toUInt());
        QVERIFY(second > 0 && second != first);
    }

    // The SSH host set in the security dialog: the sign-in at start, the
    // table list and the editor's load go through the tunnel; "Test
    // Connection" names a changed host key.
    void signInAtStartThroughTunnel()
    {
        QFile::remove(SettingsStore::fileName());
        ConnectionFields f = TestDb::fields(Db);
        f.server = QStringLiteral("127.0.0.1");
        storeSignIn(f);
        FakeDesktop desktop;
        Services services;
        services.desktop = &desktop;
        {
            Wizard first(services);
            QVERIFY(!first.connectionString().contains("SSHHOST"));
            onNextModal([&](QWidget *w) {
                auto *dialog = qobject_cast<ConnectionSecurity *>(w);
                QVERIFY(dialog);
                QCOMPARE(dialog->sshHostLabel->text(), QStringLiteral("&SSH host:"));
                QCOMPARE(dialog->sshHostLabel->buddy(), dialog->sshHostEdit);
                QVERIFY(dialog->sshHostEdit->text().isEmpty());
                dialog->sshHostEdit->setText("agent-host");
                dialog->okButton->click();
            });
            first.form1()->securityButton->click();
            QCOMPARE(SettingsStore::read("MySshHost", ""), QStringLiteral("agent-host"));
        }
        Wizard w(services);
        w.start();
        QVERIFY2(desktop.boxes.isEmpty(), qPrintable(desktop.texts().join('\n')));
        QVERIFY(w.hasForm2() && w.form2()->isVisible());
        w.form2()->List1->setCurrentRow(0);
        w.form2()->PushButton3->click();
        QTRY_COMPARE(w.form3()->model()->exportSource().rowCount(), qint64(2));

        SshTunnel::stopAll();
        writeFile(d + "/known_hosts",
            QStringLiteral("[127.0.0.1]:%1 %2\n").arg(m_sshd->port()).arg(m_jump->knownHostsLine().section(' ', 1)));
        w.form1()->PushButton5_Click();
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY2(desktop.boxes.first().text.contains("has changed"), qPrintable(desktop.boxes.first().text));
    }
};

QTEST_MAIN(TstSsh)
#include "tst_ssh.moc"
