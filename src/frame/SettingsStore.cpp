#include "frame/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <unistd.h>

namespace {

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(SettingsStore::Organisation));
}

// Creates the file empty with mode 0600 before QSettings first writes it;
// QSettings replaces the file atomically and keeps the mode from then on.
void ensurePrivateFile(const QString &path)
{
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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
}
