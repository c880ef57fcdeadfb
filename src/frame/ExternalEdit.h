#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class Desktop;
class QFileSystemWatcher;
class QTemporaryDir;
class QTimer;

// A value edited in the user's own program: written to a private temporary
// file (0600, in a folder of its own, 0700) and opened in $VISUAL or
// $EDITOR when set, else in the desktop's program for its type. Each save
// of the file is told by saved(), also when the program saves by writing a
// new file and renaming it over the old one. The folder and the file go
// when the edit ends: stop(), a new start(), or the object's end.
class ExternalEdit : public QObject
{
    Q_OBJECT
public:
    explicit ExternalEdit(Desktop &desktop, QObject *parent = nullptr);
    ~ExternalEdit() override;

    // Writes `bytes` to a new file "value" + `suffix` and opens it. Throws
    // Failure when the file cannot be written or nothing opens it.
    void start(const QByteArray &bytes, const QString &suffix);
    void stop();
    bool isActive() const { return m_dir != nullptr; }
    QString filePath() const { return m_file; }

signals:
    // The file was saved with `bytes`, which differ from what it held before.
    void saved(const QByteArray &bytes);

private:
    void open();
    void reread();

    Desktop &m_desktop;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
    QByteArray m_last;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settle;
};
