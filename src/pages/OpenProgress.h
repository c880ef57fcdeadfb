#pragma once

#include <QString>

#include <functional>
#include <memory>

class Connection;
class KeptConnection;
class DelayedProgress;
class QWidget;

// The wait for a table whose first rows are slow to come, or for a server
// slow to answer a sign-in: after a moment, a dialog that says so, with a
// Cancel button. waiting() is what
// RowSet::openInBackground calls while it waits; it returns false once the
// user cancelled or `stillWanted` says the table is no longer wanted.
class OpenProgress
{
public:
    explicit OpenProgress(QWidget *parent, const QString &table, std::function<bool()> stillWanted = {});
    // The wait for a connection with `connectionString` (Connection::openWaiting),
    // which names its server.
    static std::unique_ptr<OpenProgress> connecting(QWidget *parent, const QString &connectionString,
                                                    std::function<bool()> stillWanted = {});
    ~OpenProgress();
    OpenProgress(const OpenProgress &) = delete;
    OpenProgress &operator=(const OpenProgress &) = delete;

    static constexpr int ShowAfterMs = 400;

    std::function<bool(qint64 ms)> waiting();
    bool wasCancelled() const { return m_cancelled; }

private:
    bool update(qint64 ms);

    std::function<bool()> m_stillWanted;
    std::unique_ptr<DelayedProgress> m_progress;
    bool m_cancelled = false;
};

// Opens `connection` with Connection::openWaiting, the window alive
// meanwhile: after a moment a dialog on `page` says who is being waited
// for, and its Cancel (or `stillWanted` turning false) gives up. Returns
// false when given up; throws Failure as Connection::open does.
bool openConnection(QWidget *page, Connection &connection, const QString &connectionString,
                    std::function<bool()> stillWanted);

// The connection `kept` shares for the connection text, opened as
// openConnection() does when there is none to share. Null when given up;
// throws Failure as Connection::open does.
std::shared_ptr<Connection> shareConnection(
    QWidget *page, KeptConnection &kept, const QString &connectionString, std::function<bool()> stillWanted);
