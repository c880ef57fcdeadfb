#include "db/SshTunnel.h"

#include "core/Failure.h"
#include "db/SshFailure.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace SshTunnel {
namespace {

// How long ssh may take to come up, a passphrase typed in its dialog included.
constexpr int ReadyTimeoutMs = 120'000;
constexpr int PollMs = 5;

[[noreturn]] void fail(const QString &text)
{
    throw Failure(text, Failure::SshTunnel);
}

// The parent-death signal follows the thread that forked, not the process:
// a tunnel started from a connecting thread would end with it. So every
// ssh is forked by one thread that lives as long as the program.
pid_t forkFromKeeper(std::function<pid_t()> start)
{
    struct Keeper
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::packaged_task<pid_t()>> jobs;
    };
    // Never destroyed: the thread waits on it until the program ends.
    static Keeper *keeper = [] {
        auto *k = new Keeper;
        std::thread([k] {
            for (;;) {
                std::unique_lock lock(k->mutex);
                k->wake.wait(lock, [k] { return !k->jobs.empty(); });
                std::packaged_task<pid_t()> job = std::move(k->jobs.front());
                k->jobs.pop_front();
                lock.unlock();
                job();
            }
        }).detach();
        return k;
    }();
    std::packaged_task<pid_t()> job(std::move(start));
    std::future<pid_t> pid = job.get_future();
    {
        const std::lock_guard lock(keeper->mutex);
        keeper->jobs.push_back(std::move(job));
    }
    keeper->wake.notify_one();
    return pid.get();
}

// A folder of our own, mode 0700, under the runtime folder (else the temp
// folder). Its path must not hold ":", which -L would read as a separator.
QString makePrivateFolder()
{
    QStringList bases;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        bases << runtime;
    bases << QDir::tempPath();
    for (const QString &base : bases) {
        if (base.contains(QLatin1Char(':')) || !QDir::isAbsolutePath(base))
            continue;
        QByteArray path = QFile::encodeName(base + QStringLiteral("/corvane-ssh-XXXXXX"));
        if (::mkdtemp(path.data()))
            return QFile::decodeName(path);
    }
    fail(QStringLiteral("No private folder could be made for the SSH tunnel's socket (%1).")
             .arg(QString::fromLocal8Bit(strerror(errno))));
}

bool isPrivate(const QByteArray &path, mode_t type, mode_t allowed)
{
    struct stat st
    {
    };
    return ::lstat(path.constData(), &st) == 0 && (st.st_mode & S_IFMT) == type && st.st_uid == ::geteuid()
        && (st.st_mode & 07777 & ~allowed) == 0;
}

bool acceptsConnection(const QByteArray &socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(socketPath.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// "[user@]host[:port]" as ssh's destination and port; a bracketed address
// keeps its colons. Refuses what ssh would read as an option.
void splitDestination(const QByteArray &text, QByteArray &destination, QByteArray &port)
{
    destination = text.trimmed();
    const qsizetype at = destination.lastIndexOf('@');
    const qsizetype colon = destination.lastIndexOf(':');
    const qsizetype close = destination.lastIndexOf(']');
    if (colon > at && colon > close && destination.indexOf(':', at + 1) == colon) {
        port = destination.mid(colon + 1);
        destination.truncate(colon);
    }
    const QByteArray host = destination.mid(at + 1);
    if (host.startsWith('[') && host.endsWith(']'))
        destination = destination.left(at + 1) + host.mid(1, host.size() - 2);
    bool portOk = true;
    if (!port.isEmpty())
        portOk = port.toUInt() > 0 && port.toUInt() < 65536 && QByteArray::number(port.toUInt()) == port;
    const bool plain
        = std::none_of(destination.begin(), destination.end(), [](char c) { return uchar(c) <= ' ' || c == '\x7f'; });
    if (destination.isEmpty() || destination.startsWith('-') || !plain || !portOk)
        fail(QStringLiteral("The SSH host \"%1\" is not a destination ssh can use: write [user@]host[:port] or a "
                            "Host name of your ssh configuration.")
                 .arg(QString::fromUtf8(text)));
}

QByteArray forwardTarget(const QByteArray &dbHost, unsigned dbPort)
{
    const QByteArray host = dbHost.contains(':') ? '[' + dbHost + ']' : dbHost;
    return host + ':' + QByteArray::number(dbPort);
}

struct Tunnel
{
    QByteArray sshHost;
    QByteArray dbHost;
    unsigned dbPort = 0;
    pid_t pid = 0;
    QString folder;
    QByteArray socket;
    QString log;

    bool isRunning()
    {
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0)
            return true;
        pid = 0;
        return false;
    }
    void stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            QElapsedTimer clock;
            clock.start();
            while (::waitpid(pid, nullptr, WNOHANG) == 0) {
                if (clock.elapsed() > 2000)
                    ::kill(pid, SIGKILL);
                ::usleep(5000);
            }
            pid = 0;
        }
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        folder.clear();
        socket.clear();
    }
    void start();
    void waitReady();
};

QString g_askPass;

std::vector<QByteArray> sshArguments(const Tunnel &t)
{
    QByteArray destination;
    QByteArray port;
    splitDestination(t.sshHost, destination, port);
    std::vector<QByteArray> args = {"ssh", "-N", "-T", "-o", "ExitOnForwardFailure=yes", "-o", "ServerAliveInterval=15",
        "-o", "ServerAliveCountMax=3", "-o", "StreamLocalBindMask=0177", "-o", "StreamLocalBindUnlink=yes", "-o",
        "ControlPath=none", "-o", "ControlMaster=no", "-L", t.socket + ':' + forwardTarget(t.dbHost, t.dbPort)};
    if (!port.isEmpty()) {
        args.push_back("-p");
        args.push_back(port);
    }
    args.push_back("--");
    args.push_back(destination);
    return args;
}

std::vector<QByteArray> sshEnvironment()
{
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!entry.startsWith("SSH_ASKPASS=") && !entry.startsWith("SSH_ASKPASS_REQUIRE="))
            env.push_back(entry);
    }
    if (!g_askPass.isEmpty()) {
        env.push_back("SSH_ASKPASS=" + QFile::encodeName(g_askPass));
        env.push_back("SSH_ASKPASS_REQUIRE=force");
        env.push_back(QByteArray(AskPassVariable) + "=1");
    } else {
        env.push_back("SSH_ASKPASS_REQUIRE=never");
    }
    return env;
}

std::vector<char *> pointers(std::vector<QByteArray> &strings)
{
    std::vector<char *> out;
    for (QByteArray &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

void Tunnel::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ssh"));
    if (program.isEmpty())
        fail(QStringLiteral("The ssh program was not found: install OpenSSH's client (openssh-client) to reach "
                            "the database through the SSH host %1.")
                 .arg(QString::fromUtf8(sshHost)));
    folder = makePrivateFolder();
    socket = QFile::encodeName(folder) + "/db.sock";
    log = folder + QStringLiteral("/ssh.log");
    std::vector<QByteArray> args = sshArguments(*this);
    std::vector<QByteArray> env = sshEnvironment();
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);
    const QByteArray path = QFile::encodeName(program);
    const int err = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();
    pid = forkFromKeeper([&] {
        const pid_t child = ::fork();
        if (child != 0)
            return child < 0 ? -errno : child;
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(err >= 0 ? err : null, 2);
        // Nothing else of the program's: no database socket outlives it in ssh.
        ::close_range(3, ~0U, 0);
        ::execve(path.constData(), argv.data(), envp.data());
        ::_exit(127);
    });
    if (err >= 0)
        ::close(err);
    if (null >= 0)
        ::close(null);
    if (pid < 0) {
        const int error = -pid;
        pid = 0;
        fail(QStringLiteral("ssh could not be started: %1").arg(QString::fromLocal8Bit(strerror(error))));
    }
}

QString readLog(const QString &path, qint64 from)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    return QString::fromUtf8(file.read(64 * 1024));
}

void Tunnel::waitReady()
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!isRunning())
            fail(describeSshFailure(readLog(log, 0), sshHost, dbHost, dbPort));
        if (acceptsConnection(socket))
            break;
        if (clock.elapsed() > ReadyTimeoutMs) {
            const QString said = readLog(log, 0);
            stop();
            fail(QStringLiteral("The SSH connection to %1 did not come up within %2 seconds. %3")
                     .arg(QString::fromUtf8(sshHost))
                     .arg(ReadyTimeoutMs / 1000)
                     .arg(describeSshFailure(said, sshHost, dbHost, dbPort)));
        }
        ::usleep(PollMs * 1000);
    }
    // ssh made the socket with the mode asked for; a socket or folder others
    // could reach would let them use the database session's route.
    if (!isPrivate(QFile::encodeName(folder), S_IFDIR, 0700) || !isPrivate(socket, S_IFSOCK, 0600)) {
        stop();
        fail(QStringLiteral("The SSH tunnel's socket %1 is not private to you; the tunnel was closed.")
                 .arg(QString::fromUtf8(socket)));
    }
}

struct Registry
{
    std::mutex mutex;
    std::vector<std::unique_ptr<Tunnel>> tunnels;

    ~Registry()
    {
        for (auto &t : tunnels)
            t->stop();
    }
    Tunnel *find(const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort)
    {
        for (auto &t : tunnels) {
            if (t->sshHost == sshHost && t->dbHost == dbHost && t->dbPort == dbPort)
                return t.get();
        }
        return nullptr;
    }
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

Route route(const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort)
{
    Registry &r = registry();
    // One start at a time: a second caller waits for the first one's tunnel.
    const std::lock_guard lock(r.mutex);
    Tunnel *t = r.find(sshHost, dbHost, dbPort);
    if (!t) {
        r.tunnels.push_back(std::make_unique<Tunnel>());
        t = r.tunnels.back().get();
        t->sshHost = sshHost;
        t->dbHost = dbHost;
        t->dbPort = dbPort;
    }
    // No probe here: each would reach the database as a connection that
    // never signs in.
    if (!t->isRunning() || !isPrivate(t->socket, S_IFSOCK, 0600)) {
        t->stop();
        t->start();
        t->waitReady();
    }
    return {t->socket, t->log, QFileInfo(t->log).size(), sshHost, dbHost, dbPort};
}

void end(const Route &route)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    if (Tunnel *t = r.find(route.sshHost, route.dbHost, route.dbPort); t && t->socket == route.socket)
        t->stop();
}

QString troubleSince(const Route &route)
{
    const QString said = readLog(route.log, route.logSize).trimmed();
    if (said.isEmpty())
        return {};
    return describeSshFailure(said, route.sshHost, route.dbHost, route.dbPort);
}

void setAskPassProgram(const QString &path)
{
    const std::lock_guard lock(registry().mutex);
    g_askPass = path;
}

void stopAll()
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    for (auto &t : r.tunnels)
        t->stop();
    r.tunnels.clear();
}

qint64 processId(const QByteArray &sshHost, const QByteArray &dbHost, unsigned dbPort)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    Tunnel *t = r.find(sshHost, dbHost, dbPort);
    return t && t->isRunning() ? t->pid : 0;
}

} // namespace SshTunnel
