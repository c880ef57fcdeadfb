#include "frame/ExternalEdit.h"

#include "core/Failure.h"
#include "frame/Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

ExternalEdit::ExternalEdit(Desktop &desktop, QObject *parent)
    : QObject(parent), m_desktop(desktop), m_settle(new QTimer(this))
{
    // Editors write a file in more than one step: read it once they paused.
    m_settle->setSingleShot(true);
    m_settle->setInterval(50);
    connect(m_settle, &QTimer::timeout, this, &ExternalEdit::reread);
}

ExternalEdit::~ExternalEdit()
{
    stop();
}

void ExternalEdit::start(const QByteArray &bytes, const QString &suffix)
{
    stop();
    // mkdtemp: a new folder that only its owner may enter.
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/corvane-value-XXXXXX"));
    if (!dir->isValid())
        throw Failure(QStringLiteral("Cannot make a temporary folder: %1").arg(dir->errorString()));
    const QString file = dir->filePath(QStringLiteral("value") + suffix);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || out.write(bytes) != bytes.size() || !out.flush())
        throw Failure(QStringLiteral("Cannot write \"%1\": %2").arg(file, out.errorString()));
    out.close();
    m_dir = std::move(dir);
    m_file = file;
    m_last = bytes;
    m_watcher = new QFileSystemWatcher(this);
    m_watcher->addPath(m_file);
    m_watcher->addPath(m_dir->path()); // a save by rename replaces the file watched
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle, qOverload<>(&QTimer::start));
    try {
        open();
    } catch (...) {
        stop();
        throw;
    }
}

void ExternalEdit::open()
{
    for (const char *name : {"VISUAL", "EDITOR"}) {
        const QString command = qEnvironmentVariable(name).trimmed();
        if (command.isEmpty())
            continue;
        QStringList words = QProcess::splitCommand(command);
        if (words.isEmpty())
            continue;
        const QString program = words.takeFirst();
        words << m_file;
        if (!QProcess::startDetached(program, words))
            throw Failure(
                QStringLiteral("Cannot start the editor \"%1\" (from %2).").arg(command, QLatin1String(name)));
        return;
    }
    if (!m_desktop.openFile(m_file))
        throw Failure(QStringLiteral("No program is set to open \"%1\". Set the VISUAL or EDITOR variable to your "
                                     "editor.")
                          .arg(m_file));
}

void ExternalEdit::stop()
{
    m_settle->stop();
    delete m_watcher;
    m_watcher = nullptr;
    m_dir.reset(); // removes the folder and the file
    m_file.clear();
    m_last.clear();
}

void ExternalEdit::reread()
{
    if (!m_watcher)
        return;
    QFile in(m_file);
    if (!in.open(QIODevice::ReadOnly))
        return; // between an editor's delete and its rename: the folder's change comes next
    if (!m_watcher->files().contains(m_file))
        m_watcher->addPath(m_file);
    const QByteArray bytes = in.readAll();
    if (bytes == m_last)
        return;
    m_last = bytes;
    emit saved(bytes);
}
