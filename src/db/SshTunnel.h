#pragma once

#include <QByteArray>
#include <QString>

// The program's tunnels to database servers behind SSH: the user's own
// `ssh -N`, found on PATH, forwarding a private Unix socket to the database
// server as the SSH host sees it. Keys, agent, jump hosts and certificates
// come from the user's ssh configuration; ssh's questions (passphrases, an
// unknown host key) go to the ask-pass program, which shows them as dialogs.
//
// One tunnel serves every connection to the same server through the same
// SSH host. It ends with the program, also when the program crashes (the
// parent-death signal), and one found ended is started again on the next
// connect. Thread-safe; the functions that start a tunnel block until its
// socket accepts a connection or ssh gave up, so call them off the window's
// thread (Connection::openWaiting does).
namespace SshTunnel {

// Where a connection reaches the database through a tunnel, and the length of
// ssh's log before the connection tried it (see troubleSince()).
struct Route
{
    QByteArray socket;
    QString log;
    qint64 logSize = 0;
    QByteArray sshHost;
    QByteArray dbHost;
    unsigned dbPort = 0;
};

// The running tunnel to `dbHost`:`dbPort` through `sshHost` ("[user@]host[:port]"
// or a Host alias of the ssh configuration), started when there is none or
// the last one ended. Throws Failure (Failure::SshTunnel) in plain words with
// ssh's last lines when ssh fails or its socket is not private.
Route route(const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort);

// Ends the tunnel of `route`, whose socket no longer answers, so that the
// next route() starts a new one.
void end(const Route &route);

// What ssh wrote to `route`'s log since the route was taken, in plain words
// (a forward the SSH host refused, a database it could not reach); empty
// when it wrote nothing.
QString troubleSince(const Route &route);

// The program ssh runs to ask its questions (SSH_ASKPASS). It runs with
// AskPassVariable set in its environment and ssh's prompt as its argument.
// Unset: ssh cannot ask, and a key that needs a passphrase fails.
void setAskPassProgram(const QString &path);
inline constexpr char AskPassVariable[] = "CORVANE_EDITOR_ASKPASS";

// Ends every tunnel and removes its folder.
void stopAll();

// The process id of the tunnel to that server, or 0 when none runs.
qint64 processId(const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort);

} // namespace SshTunnel
