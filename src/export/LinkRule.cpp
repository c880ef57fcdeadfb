#include "export/LinkRule.h"

#include "core/Failure.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

QString exportTarget(const QString &path)
{
    const QFileInfo info(path);
    struct stat link;
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    struct stat folder;
    const QByteArray folderName = QFile::encodeName(info.absolutePath());
    if (::stat(folderName.constData(), &folder) == 0 && (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH)
        && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid) {
        throw Failure(QStringLiteral("Cannot write \"%1\": it is a link made by another user in a folder anyone can "
                                     "write to, and following it could replace a file of yours. Choose another "
                                     "name or folder.")
                          .arg(path));
    }
    // A symbolic link keeps pointing where it did: the file it names is the
    // one replaced.
    return info.symLinkTarget();
}
