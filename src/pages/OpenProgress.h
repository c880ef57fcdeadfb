#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

// The wait for a table whose first rows are slow to come: after a moment, a
// dialog that says so, with a Cancel button. waiting() is what
// RowSet::openInBackground calls while it waits; it returns false once the
// user cancelled or `stillWanted` says the table is no longer wanted.
class OpenProgress
{
public:
    explicit OpenProgress(QWidget *parent, const QString &table, std::function<bool()> stillWanted = {});
    ~OpenProgress();
    OpenProgress(const OpenProgress &) = delete;
    OpenProgress &operator=(const OpenProgress &) = delete;

    static constexpr int ShowAfterMs = 400;

    std::function<bool(qint64 ms)> waiting();
    bool wasCancelled() const { return m_cancelled; }

private:
    bool update(qint64 ms);

    QPointer<QWidget> m_parent;
    QString m_table;
    std::function<bool()> m_stillWanted;
    std::unique_ptr<QProgressDialog> m_dialog;
    bool m_cancelled = false;
};
