#include "export/ExportText.h"

#include "frame/Failure.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t currentUmask()
{
    // Read, not set: umask() would change it for every thread for a moment.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ExportText::ExportText(QString path) : m_path(std::move(path)), m_buffer(new char[Capacity]) {}

ExportText::~ExportText()
{
    discard();
}

void ExportText::appendLarge(const char *data, size_t size)
{
    flush();
    if (size <= Capacity) {
        std::memcpy(m_buffer.get(), data, size);
        m_used = size;
    } else {
        writeAll(data, size);
    }
}

void ExportText::flush()
{
    writeAll(m_buffer.get(), m_used);
    m_used = 0;
}

void ExportText::open()
{
    // A symbolic link keeps pointing where it did: the file it names is
    // the one replaced.
    QFileInfo target(m_path);
    if (target.isSymLink())
        target = QFileInfo(target.symLinkTarget());
    const QString folder = target.absolutePath();
    QByteArray name = QFile::encodeName(folder + QLatin1Char('/') + QLatin1Char('.') + target.fileName()) + ".XXXXXX";
    m_fd = ::mkstemp(name.data());
    if (m_fd < 0) {
        fail(QStringLiteral("Cannot create a file in \"%1\"").arg(folder), errno);
        return;
    }
    m_tempPath = QFile::decodeName(name);
    struct stat old;
    const mode_t mode = ::stat(QFile::encodeName(target.absoluteFilePath()).constData(), &old) == 0
        ? (old.st_mode & 07777)
        : (0666 & ~currentUmask());
    ::fchmod(m_fd, mode);
}

void ExportText::writeAll(const char *data, size_t size)
{
    if (failed() || size == 0)
        return;
    if (m_fd < 0) {
        open();
        if (failed())
            return;
    }
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(QStringLiteral("Cannot write \"%1\"").arg(m_path), errno);
            return;
        }
        data += n;
        size -= size_t(n);
    }
}

void ExportText::fail(const QString &what, int error)
{
    if (m_error.isEmpty())
        m_error = what + QStringLiteral(": ") + systemError(error);
    discard();
}

void ExportText::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_tempPath).constData());
        m_tempPath.clear();
    }
    m_used = 0;
}

void ExportText::commit()
{
    if (m_fd < 0 && !failed())
        open(); // an empty text still makes its file
    flush();
    if (!failed() && ::close(m_fd) != 0) {
        m_fd = -1;
        fail(QStringLiteral("Cannot write \"%1\"").arg(m_path), errno);
    }
    m_fd = -1;
    if (!failed()) {
        QFileInfo target(m_path);
        const QString finalPath = target.isSymLink() ? target.symLinkTarget() : m_path;
        if (::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(finalPath).constData()) != 0)
            fail(QStringLiteral("Cannot replace \"%1\"").arg(m_path), errno);
        else
            m_tempPath.clear();
    }
    if (failed())
        throw Failure(m_error);
}

void WriteTextFile(QByteArrayView text, const QString &path)
{
    ExportText file(path);
    file.append(text);
    file.commit();
}
