#include "export/ExportText.h"

#include "core/Failure.h"
#include "export/LinkRule.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
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

// A descriptor of the regular file at `path`, or -1: while it is open, the
// file's data outlives its name.
int holdFile(const QByteArray &path)
{
    struct stat status;
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

// Closes `fd` in a thread of its own. The last close of a replaced file
// frees its blocks, and first waits for any of its pages still being
// written to the disk; the export that replaced it need not wait for that.
void closeLater(int fd)
{
    if (fd < 0)
        return;
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error &) {
        ::close(fd);
    }
}

} // namespace

ExportText::ExportText(QString path) : m_path(std::move(path)), m_buffer(new char[Capacity]) {}

ExportText::~ExportText()
{
    stopWriter();
    discard();
}

void ExportText::appendLarge(const char *data, size_t size)
{
    flush();
    if (size <= Capacity) {
        std::memcpy(m_buffer.get(), data, size);
        m_used = size;
    } else {
        waitForWriter();
        writeAll(data, size);
    }
}

void ExportText::flush()
{
    if (m_used == 0)
        return;
    if (failed()) {
        m_used = 0;
        return;
    }
    if (!m_writer.joinable())
        m_writer = std::thread([this] { writerLoop(); });
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_busy; });
    std::unique_ptr<char[]> written = std::move(m_job);
    m_job = std::move(m_buffer);
    m_jobSize = m_used;
    m_busy = true;
    lock.unlock();
    m_wake.notify_all();
    m_buffer = written ? std::move(written) : std::make_unique<char[]>(Capacity);
    m_used = 0;
}

void ExportText::waitForWriter()
{
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_busy; });
}

void ExportText::stopWriter()
{
    if (!m_writer.joinable())
        return;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_busy; });
        m_stop = true;
    }
    m_wake.notify_all();
    m_writer.join();
}

void ExportText::writerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_busy || m_stop; });
        if (!m_busy)
            return;
        const char *data = m_job.get();
        const size_t size = m_jobSize;
        lock.unlock();
        writeAll(data, size);
        lock.lock();
        m_busy = false;
        m_wake.notify_all();
    }
}

void ExportText::open()
{
    QFileInfo target;
    try {
        target = QFileInfo(exportTarget(m_path));
    } catch (const Failure &f) {
        failWith(f.description());
        return;
    }
    const QString folder = target.absolutePath();
    QByteArray name = QFile::encodeName(folder + QLatin1Char('/') + QLatin1Char('.') + target.fileName()) + ".XXXXXX";
    m_fd = ::mkstemp(name.data());
    if (m_fd < 0) {
        const int error = errno;
        fail(QStringLiteral("Cannot create a file in \"%1\"").arg(folder), error);
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
    const off_t start = m_written;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            fail(QStringLiteral("Cannot write \"%1\"").arg(m_path), error);
            return;
        }
        data += n;
        size -= size_t(n);
        m_written += n;
    }
    // Starts writing the chunk out now, in this thread, while the next one
    // is built. Replacing a file by rename() otherwise makes the file system
    // write the whole text out at that moment (ext4 does, so that after a
    // crash the name holds the old or the complete new file), and the
    // export waits for it at its end. The order is kept: the blocks are
    // given out here, so the rename is still committed after the data.
    ::sync_file_range(m_fd, start, m_written - start, SYNC_FILE_RANGE_WRITE);
}

void ExportText::fail(const QString &what, int error)
{
    failWith(what + QStringLiteral(": ") + systemError(error));
}

void ExportText::failWith(const QString &text)
{
    std::lock_guard lock(m_mutex);
    if (m_error.isEmpty())
        m_error = text;
    m_failed = true;
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
    flush();
    stopWriter();
    if (m_fd < 0 && !failed())
        open(); // an empty text still makes its file
    if (!failed()) {
        const int result = ::close(m_fd);
        const int error = errno;
        m_fd = -1;
        if (result != 0)
            fail(QStringLiteral("Cannot write \"%1\"").arg(m_path), error);
    }
    QByteArray finalPath;
    if (!failed()) {
        // Checked again: the name may have become a link while the text was written.
        try {
            finalPath = QFile::encodeName(exportTarget(m_path));
        } catch (const Failure &f) {
            failWith(f.description());
        }
    }
    if (!failed()) {
        const int replaced = holdFile(finalPath);
        if (::rename(QFile::encodeName(m_tempPath).constData(), finalPath.constData()) != 0) {
            const int error = errno;
            fail(QStringLiteral("Cannot replace \"%1\"").arg(m_path), error);
        } else {
            m_tempPath.clear();
        }
        closeLater(replaced);
    }
    if (failed()) {
        discard();
        throw Failure(m_error);
    }
}

void WriteTextFile(QByteArrayView text, const QString &path)
{
    ExportText file(path);
    file.append(text);
    file.commit();
}
