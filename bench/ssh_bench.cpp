// The editor's connections through an SSH tunnel against direct ones, on the
// same server: opening (the first through the tunnel starts ssh) and reading
// a whole table. Arguments: host port user password database table sshHost
// runs. Prints key=value lines (times in ms; ratios tunnel / direct, the
// median of interleaved pairs).
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowSet.h"
#include "db/SshTunnel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

template <typename F> double timed(F &&f)
{
    QElapsedTimer clock;
    clock.start();
    f();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 9) {
        std::fprintf(stderr, "usage: %s host port user password database table sshHost runs\n", argv[0]);
        return 2;
    }
    ConnectionFields f{argv[1], argv[3], argv[4], argv[5], argv[2]};
    const ConnectParams direct = Connection::paramsFrom(ConnectionString(f));
    f.sshHost = QString::fromLocal8Bit(argv[7]);
    const ConnectParams tunnel = Connection::paramsFrom(ConnectionString(f));
    const QByteArray select = "SELECT * FROM " + QByteArray(argv[6]);
    const int runs = std::max(1, atoi(argv[8]));
    std::vector<double> openExtra, loadRatio, directLoad, tunnelLoad;
    qint64 rows = 0;
    for (int i = 0; i < runs; ++i) {
        SshTunnel::stopAll();
        const double d = timed([&] { Connection().open(direct); });
        const double t = timed([&] { Connection().open(tunnel); });
        openExtra.push_back(t - d);
        Connection a;
        a.open(direct);
        Connection b;
        b.open(tunnel);
        directLoad.push_back(timed([&] { rows = a.select(select)->recordCount(); }));
        tunnelLoad.push_back(timed([&] { rows = b.select(select)->recordCount(); }));
        loadRatio.push_back(tunnelLoad.back() / directLoad.back());
    }
    SshTunnel::stopAll();
    std::printf("rows=%lld\ndirect_load_ms=%.0f\ntunnel_load_ms=%.0f\nload_ratio=%.3f\nopen_extra_ms=%.0f\n",
        static_cast<long long>(rows), median(directLoad), median(tunnelLoad), median(loadRatio), median(openExtra));
    return 0;
}
