#include "support/TestDb.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "db/RowSet.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <csignal>

#include <sys/types.h>
#include <unistd.h>

namespace {

QMap<QString, QString> readEnv(const char *variable)
{
    QMap<QString, QString> out;
    QFile f(qEnvironmentVariable(variable));
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : f.readAll().split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0)
                out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
        }
    }
    return out;
}

const QMap<QString, QString> &env()
{
    static const QMap<QString, QString> values = readEnv("CORVANE_DB_ENV");
    return values;
}

} // namespace

namespace TestDb {

bool available() { return env().contains(QStringLiteral("CORVANE_DB_PORT")); }
QString host() { return env().value(QStringLiteral("CORVANE_DB_HOST")); }
QString port() { return env().value(QStringLiteral("CORVANE_DB_PORT")); }
QString user() { return env().value(QStringLiteral("CORVANE_DB_USER")); }
QString password() { return env().value(QStringLiteral("CORVANE_DB_PASSWORD")); }
QString socket() { return env().value(QStringLiteral("CORVANE_DB_SOCKET")); }

QString secondPort()
{
    static const QMap<QString, QString> second = readEnv("CORVANE_SECOND_DB_ENV");
    return second.value(QStringLiteral("CORVANE_DB_PORT"));
}

ConnectionFields fields(const QString &database)
{
    return {host(), user(), password(), database, port()};
}

std::unique_ptr<Connection> admin(const QString &database)
{
    auto c = std::make_unique<Connection>();
    c->open(ConnectionString(fields(database)));
    return c;
}

ConnectionFields create(const QString &name)
{
    auto c = admin();
    c->exec("DROP DATABASE IF EXISTS `" + name.toUtf8() + "`");
    c->exec("CREATE DATABASE `" + name.toUtf8() + "` CHARACTER SET utf8mb4");
    return fields(name);
}

void run(const QString &database, const QStringList &statements)
{
    auto c = admin(database);
    for (const QString &s : statements)
        c->exec(s.toUtf8());
}

QStringList rows(const QString &database, const QString &sql)
{
    auto c = admin(database);
    RowSet rs;
    rs.open(sql, *c);
    QStringList out;
    for (qint64 r = 0; r < rs.recordCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < rs.fieldCount(); ++f) {
            const RowStore::Cell cell = rs.rows().cell(r, f);
            cells << (cell.isNull() ? QStringLiteral("NULL") : QString::fromUtf8(cell.text().data(), qsizetype(cell.text().size())));
        }
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QString scalar(const QString &database, const QString &sql)
{
    auto c = admin(database);
    RowSet rs;
    rs.open(sql, *c);
    const RowStore::Cell cell = rs.recordCount() ? rs.rows().cell(0, 0) : RowStore::Cell();
    if (cell.isNull())
        return QString();
    return QString::fromUtf8(cell.text().data(), qsizetype(cell.text().size()));
}

void stopServer()
{
    const pid_t pid = [] {
        QFile f(env().value(QStringLiteral("CORVANE_DB_DIR")) + QStringLiteral("/pid"));
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toLong()) : pid_t(0);
    }();
    if (pid <= 0)
        return;
    // A signal, not a kill program: QProcess's child shares this process's
    // memory until it execs, and what it does there upsets ThreadSanitizer's
    // view of the calling thread for the rest of the run.
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
        QThread::msleep(100);
}

void startServer()
{
    const QString dir = env().value(QStringLiteral("CORVANE_DB_DIR"));
    QStringList args{QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + dir + QStringLiteral("/data"),
                     QStringLiteral("--socket=") + socket(), QStringLiteral("--port=") + port(),
                     QStringLiteral("--bind-address=127.0.0.1"), QStringLiteral("--pid-file=") + dir + QStringLiteral("/pid"),
                     QStringLiteral("--log-error=") + dir + QStringLiteral("/error.log"),
                     QStringLiteral("--sql-mode=STRICT_TRANS_TABLES,NO_ENGINE_SUBSTITUTION")};
    if (::getuid() == 0)
        args << QStringLiteral("--user=root");
    QProcess::startDetached(QStringLiteral("/usr/sbin/mariadbd"), args);
    for (int i = 0; i < 300; ++i) {
        try {
            admin();
            return;
        } catch (const Failure &) {
            QThread::msleep(100);
        }
    }
}

} // namespace TestDb
