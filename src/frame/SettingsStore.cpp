#include "frame/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(SettingsStore::Organisation));
}

// Makes the file owner-only before QSettings writes the password into it:
// creates it empty with mode 0600, or narrows the mode of a file that was
// already there (restored from a backup, written by another program).
// QSettings replaces the file atomically and keeps the mode it finds.
void ensurePrivateFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (QFileInfo::exists(path)) {
        ::chmod(name.constData(), 0600);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

QString SettingsStore::fileName()
{
    return settings().fileName();
}

QString SettingsStore::read(const QString &key, const QString &defaultValue)
{
    QSettings s = settings();
    s.beginGroup(QString::fromLatin1(Section));
    return s.value(key, defaultValue).toString();
}

void SettingsStore::write(const QString &key, const QString &value)
{
    QSettings s = settings();
    ensurePrivateFile(s.fileName());
    s.beginGroup(QString::fromLatin1(Section));
    s.setValue(key, value);
    s.sync();
    // Whatever made the file meanwhile, it leaves owner-only.
    ::chmod(QFile::encodeName(s.fileName()).constData(), 0600);
}
