#pragma once

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>

// The text an export builds, on its way to the file. Appended bytes are
// gathered in a large buffer and written in chunks to a temporary file in
// the target's folder; commit() renames that file over the target. Until
// then any file of the target's name is untouched, and an export that ends
// without commit() (cancelled, failed) leaves no file behind.
//
// A full buffer is written by a thread of the object's own while the next one
// fills, so building the text and writing it overlap. Write failures do not
// throw from append(): the first one is kept, further bytes are dropped, and
// commit() throws it. failed() lets a long export stop early. The object is
// used from one thread.
class ExportText
{
public:
    explicit ExportText(QString path);
    ~ExportText();
    ExportText(const ExportText &) = delete;
    ExportText &operator=(const ExportText &) = delete;

    void append(const char *data, size_t size)
    {
        if (size <= Capacity - m_used) {
            copy(m_buffer.get() + m_used, data, size);
            m_used += size;
        } else {
            appendLarge(data, size);
        }
    }
    void append(QByteArrayView bytes) { append(bytes.data(), size_t(bytes.size())); }
    void append(char c)
    {
        if (m_used == Capacity)
            flush();
        m_buffer[m_used++] = c;
    }

    bool failed() const { return m_failed.load(std::memory_order_relaxed); }
    const QString &path() const { return m_path; }

    // Writes what is left and puts the file in place of the target. Throws
    // Failure with the reason when the file could not be written.
    void commit();

    static constexpr size_t Capacity = size_t(4) << 20;

private:
    // Short copies inline, as two fixed-size moves that may overlap: most
    // cells and tags are a few bytes, for which a call to memcpy costs more
    // than the bytes. An empty cell may come without any storage.
    static void copy(char *to, const char *from, size_t size)
    {
        if (size <= 16) {
            if (size >= 8) {
                std::memcpy(to, from, 8);
                std::memcpy(to + size - 8, from + size - 8, 8);
            } else if (size >= 4) {
                std::memcpy(to, from, 4);
                std::memcpy(to + size - 4, from + size - 4, 4);
            } else if (size > 0) {
                to[0] = from[0];
                to[size / 2] = from[size / 2];
                to[size - 1] = from[size - 1];
            }
        } else if (size <= 32) {
            std::memcpy(to, from, 16);
            std::memcpy(to + size - 16, from + size - 16, 16);
        } else {
            std::memcpy(to, from, size);
        }
    }
    void appendLarge(const char *data, size_t size);
    // Hands the full buffer to the writer thread and goes on in the other.
    void flush();
    // Waits until the writer thread has written what it was given.
    void waitForWriter();
    void stopWriter();
    void writerLoop();
    void open();
    void writeAll(const char *data, size_t size);
    void fail(const QString &what, int error);
    void failWith(const QString &text);
    void discard();

    QString m_path;
    QString m_tempPath;
    int m_fd = -1;
    off_t m_written = 0; // by the thread that writes
    std::unique_ptr<char[]> m_buffer;
    size_t m_used = 0;
    std::unique_ptr<char[]> m_spare;

    // Shared with the writer thread, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<char[]> m_job;
    size_t m_jobSize = 0;
    bool m_busy = false;
    bool m_stop = false;
    QString m_error;
    std::atomic<bool> m_failed{false};
    std::thread m_writer;
};

// Writes `text` whole to `path` the same way: into a temporary file beside
// it, renamed over `path` once every byte is written. Throws Failure.
void WriteTextFile(QByteArrayView text, const QString &path);
