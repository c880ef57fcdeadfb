#include "support/TestSshd.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

bool TestSshd::run(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return ok;
}

void TestSshd::endsWithTest(QProcess &process)
{
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

TestSshd::TestSshd(const QString &folder, const QString &authorizedKeys) : m_folder(folder)
{
    const QString sshd = QStringLiteral("/usr/sbin/sshd");
    // sshd wants its privilege separation folder, which only root may make.
    if (!QFile::exists(sshd)
        || (!QDir(QStringLiteral("/run/sshd")).exists() && ::geteuid() == 0
            && !QDir().mkpath(QStringLiteral("/run/sshd")))) {
        m_error = QStringLiteral("no sshd (openssh-server) here");
        return;
    }
    QDir().mkpath(folder);
    QString out;
    if (!run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", folder + "/host_key"}, &out)) {
        m_error = out;
        return;
    }
    m_port = freePort();
    QFile config(folder + "/sshd_config");
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\nAuthorizedKeysFile %3\n"
                                "PidFile %2/sshd.pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication no\nAllowTcpForwarding yes\n"
                                "AllowStreamLocalForwarding yes\nLogLevel DEBUG1\n")
                     .arg(m_port)
                     .arg(folder, authorizedKeys)
                     .toUtf8());
    config.close();
    m_sshd = std::make_unique<QProcess>();
    endsWithTest(*m_sshd);
    m_sshd->start(sshd, {"-D", "-r", "-f", config.fileName(), "-E", folder + "/sshd.log"});
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && m_sshd->state() != QProcess::NotRunning) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, m_port);
        if (s.waitForConnected(200))
            return;
        ::usleep(20000);
    }
    QFile log(folder + "/sshd.log");
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(log.readAll());
}

TestSshd::~TestSshd()
{
    if (m_sshd && m_sshd->state() != QProcess::NotRunning) {
        m_sshd->terminate();
        m_sshd->waitForFinished(5000);
    }
}

QString TestSshd::knownHostsLine() const
{
    QFile pub(m_folder + "/host_key.pub");
    pub.open(QIODevice::ReadOnly);
    const QList<QByteArray> parts = pub.readAll().trimmed().split(' ');
    return QStringLiteral("[127.0.0.1]:%1 %2 %3")
        .arg(m_port)
        .arg(QString::fromLatin1(parts.value(0)), QString::fromLatin1(parts.value(1)));
}
