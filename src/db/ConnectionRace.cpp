// Connection::openAny: signing in to one of several servers.
#include "core/Failure.h"
#include "db/Connection.h"
#include "db/Workers.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <mysql.h>
#include <optional>
#include <thread>

namespace {

// How long a server may take to answer before the next one is tried too.
constexpr std::chrono::milliseconds NextServerAfter{250};

// The attempts of one openAny(), shared with their threads: an attempt
// still signing in when another won ends on its own, and its session
// closes with the last owner of this.
struct Race
{
    struct Attempt
    {
        Connection connection;
        std::exception_ptr failure;
        // Also read without the mutex, by Workers (which holds its own).
        std::atomic<bool> ended{false};
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Attempt> attempts;
    int running = 0;
    std::optional<size_t> winner;

    explicit Race(size_t n) : attempts(n) { }
};

ConnectParams onlyServer(const ConnectParams &params, const ServerAddress &server)
{
    ConnectParams one = params;
    one.servers.clear();
    one.host = server.host;
    one.port = server.port;
    one.forceTcp = server.port != 0 && server.port != 3306;
    return one;
}

QString failureText(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Failure &f) {
        return f.description();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    }
}

long failureNumber(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Failure &f) {
        return f.number();
    } catch (...) {
        return 0;
    }
}

void start(const std::shared_ptr<Race> &race, size_t i, const ConnectParams &params)
{
    ++race->running;
    std::thread worker([race, i, one = onlyServer(params, params.servers[i])] {
        mysql_thread_init();
        std::exception_ptr failure;
        try {
            race->attempts[i].connection.open(one);
        } catch (...) {
            failure = std::current_exception();
        }
        std::unique_lock lock(race->mutex);
        race->attempts[i].failure = failure;
        race->attempts[i].ended = true;
        --race->running;
        race->changed.notify_all();
        // Too late: another server won.
        if (race->winner && *race->winner != i)
            race->attempts[i].connection.close();
        lock.unlock();
        mysql_thread_end();
    });
    Workers::adopt(std::move(worker), [race, i] { return race->attempts[i].ended.load(); });
}

} // namespace

// Tries the servers in order; when one has not answered within
// NextServerAfter, the next is tried meanwhile. The first writable server to
// answer wins; a read-only one is taken only when no writable one is left.
// The losers' sessions are closed. Throws a Failure naming every server's
// failure when none could be signed in to.
//
// Opened again after its session was lost, the connection tries the server
// that lost it last: it is stopping or gone, and a stopping server may keep
// the handshake waiting.
void Connection::openAny(const ConnectParams &given)
{
    ConnectParams params = given;
    const auto lost = std::find_if(params.servers.begin(), params.servers.end(),
        [this](const ServerAddress &s) { return !m_serverInUse.isEmpty() && s.text() == m_serverInUse; });
    if (lost != params.servers.end())
        std::rotate(lost, lost + 1, params.servers.end());
    close();
    const size_t n = params.servers.size();
    auto race = std::make_shared<Race>(n);
    std::unique_lock lock(race->mutex);
    size_t started = 0;
    std::optional<size_t> &winner = race->winner;
    while (!winner) {
        if (started < n)
            start(race, started++, params);
        const auto next = std::chrono::steady_clock::now() + NextServerAfter;
        // Wake at the next attempt's time, or when one ends.
        race->changed.wait_until(lock, next, [&] {
            for (size_t i = 0; i < started; ++i) {
                const Race::Attempt &a = race->attempts[i];
                if (a.ended && !a.failure && !a.connection.isReadOnly())
                    return true;
            }
            return race->running == 0;
        });
        for (size_t i = 0; i < started && !winner; ++i) {
            const Race::Attempt &a = race->attempts[i];
            if (a.ended && !a.failure && !a.connection.isReadOnly())
                winner = i;
        }
        if (winner || race->running > 0 || started < n)
            continue;
        // All ended, none writable: the first read-only one, in list order.
        for (size_t i = 0; i < n && !winner; ++i)
            if (!race->attempts[i].failure)
                winner = i;
        if (!winner)
            break;
    }
    if (!winner) {
        QStringList said;
        for (size_t i = 0; i < n; ++i)
            said << QStringLiteral("%1: %2").arg(
                QString::fromUtf8(params.servers[i].text()), failureText(race->attempts[i].failure));
        const long number = failureNumber(race->attempts[0].failure);
        lock.unlock();
        Workers::reap();
        throw Failure(
            QStringLiteral("None of the servers could be signed in to.\n") + said.join(QLatin1Char('\n')), number);
    }
    takeOver(race->attempts[*winner].connection);
    m_params = given;
    m_serverInUse = params.servers[*winner].text();
    // The others' sessions close as their threads end and let go.
    for (Race::Attempt &a : race->attempts)
        if (a.ended)
            a.connection.close();
    lock.unlock();
    Workers::reap();
}
