#include "export/RemoveFile.h"

#include "core/Failure.h"
#include "frame/Desktop.h"

#include <QFile>

void RemoveFile(Desktop &desktop, const QString &path)
{
    desktop.processEvents();
    if (QFile::remove(path))
        return;
    try {
        ForceDeleteFile(path);
    } catch (const std::exception &) {
    }
}

void ForceDeleteFile(const QString &path)
{
    QFile file(path);
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (!file.remove())
        throw Failure(file.errorString());
}
