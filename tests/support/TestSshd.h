#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

// A private sshd for tests (Debian's openssh-server) on a free loopback
// port, with a host key made now, in a folder of the test's: it lets in the
// keys listed in `authorizedKeys` and forwards to TCP ports and Unix sockets.
class TestSshd
{
public:
    // Starts it; error() says why when it did not.
    TestSshd(const QString &folder, const QString &authorizedKeys);
    ~TestSshd();
    TestSshd(const TestSshd &) = delete;
    TestSshd &operator=(const TestSshd &) = delete;

    bool isRunning() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    quint16 port() const { return m_port; }
    // The known_hosts line for it: "[127.0.0.1]:PORT ssh-ed25519 AAAA...".
    QString knownHostsLine() const;

    // Runs a program of the test; false (and its output in `output`) when it failed.
    static bool run(const QString &program, const QStringList &arguments, QString *output = nullptr);
    // A server the test starts in `process` ends with the test, also when the
    // test crashes, and keeps nothing of the test's output open (ctest
    // waits for that output to end).
    static void endsWithTest(QProcess &process);

private:
    QString m_folder;
    quint16 m_port = 0;
    QString m_error;
    std::unique_ptr<QProcess> m_sshd;
};
