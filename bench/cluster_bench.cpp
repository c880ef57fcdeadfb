// The editor on a Galera cluster. Arguments: galeraDir port1 port2 port3
// user password database. Prints key=value lines (times in ms):
//   multi_host_signin_ms - sign-in through a list whose first host never
//     answers (a loopback listener whose backlog is full, so its SYNs are
//     dropped: a black hole), median of 5;
//   failover_write_ms - from killing the node in use (SIGKILL) to the next
//     edit written through the grid on another node;
//   failover_stop_write_ms - the same for a node stopped (SIGTERM);
//   failover_cluster_ms, failover_stop_cluster_ms - the cluster's own share
//     of each: from the kill to the first write committed by a session that
//     was open on the third node all along (the survivors take no write until
//     they have given up on the dead node).
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "grid/GridModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A loopback port that takes no connection: listening with a backlog of
// one, filled by a connection never accepted.
int blackHole(int &filler)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr *>(&a), n);
    ::listen(s, 0);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler, reinterpret_cast<sockaddr *>(&a), n);
    return ntohs(a.sin_port);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 8) {
        std::fprintf(stderr, "usage: %s galeraDir port1 port2 port3 user password database\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const auto node = [&](int n) { return QStringLiteral("127.0.0.1:") + QString::fromLocal8Bit(argv[1 + n]); };
    const auto params = [&](const QString &servers) {
        return Connection::paramsFrom(ConnectionString({servers, QString::fromLocal8Bit(argv[5]),
            QString::fromLocal8Bit(argv[6]), QString::fromLocal8Bit(argv[7]), QString()}));
    };
    int filler = -1;
    const int hole = blackHole(filler);
    std::vector<double> signIns;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        Connection c;
        c.open(params(QStringLiteral("127.0.0.1:%1,%2").arg(hole).arg(node(1))));
        signIns.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("multi_host_signin_ms=%.0f\n", median(signIns));

    Connection admin;
    admin.open(params(node(1)));
    admin.exec("CREATE OR REPLACE TABLE failover (id INT PRIMARY KEY, v INT)");
    admin.exec("INSERT INTO failover VALUES (1, 0)");
    admin.exec("CREATE OR REPLACE TABLE failover_probe (id INT PRIMARY KEY, v INT)");
    admin.exec("INSERT INTO failover_probe VALUES (1, 0)");
    admin.close();
    Connection probe;
    probe.open(params(node(3)));
    Connection connection;
    connection.open(params(node(1) + QLatin1Char(',') + node(2) + QLatin1Char(',') + node(3)));
    RowSet rows;
    rows.open("SELECT * FROM `failover`;", connection);
    GridModel model;
    model.setRowSet(&rows, &connection);
    // A crash of the node in use first (its peers wait for it until they
    // give up on it), then a clean stop of the next one (it leaves at once).
    bool written = true;
    int value = 0;
    for (const auto &[n, sig, key] :
        {std::tuple{1, SIGKILL, "failover_write_ms"}, {2, SIGTERM, "failover_stop_write_ms"}}) {
        QFile pidFile(dir + QStringLiteral("/n%1/pid").arg(n));
        if (!pidFile.open(QIODevice::ReadOnly))
            return 1;
        const pid_t pid = pid_t(pidFile.readAll().trimmed().toLong());
        QElapsedTimer clock;
        clock.start();
        ::kill(pid, sig);
        double cluster = -1;
        std::thread prober([&] {
            try {
                probe.exec("UPDATE failover_probe SET v = v + 1");
                cluster = double(clock.nsecsElapsed()) / 1e6;
            } catch (const Failure &) { }
        });
        // The edit once the node has closed our session (a stopping node
        // does so first; a killed one as it dies), as a user's would come.
        while (connection.looksAlive() && ::kill(pid, 0) == 0 && clock.elapsed() < 30000)
            usleep(1000);
        model.setData(model.index(0, 1), QString::number(++value));
        written = written && model.commitRow() == GridModel::Outcome::Done;
        std::printf("%s=%.0f\n", key, written ? double(clock.nsecsElapsed()) / 1e6 : -1.0);
        prober.join();
        std::printf("%s=%.0f\n", n == 1 ? "failover_cluster_ms" : "failover_stop_cluster_ms", cluster);
        std::printf("server_after_%d=%s\n", n, connection.serverInUse().constData());
    }
    ::close(filler);
    return written ? 0 : 1;
}
