#include "export/XlsxSpreadsheet.h"

#include "core/Failure.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

XlsxSpreadsheet::XlsxSpreadsheet(XlsxWorkbook::Opener opener)
    : m_opener(opener ? std::move(opener) : XlsxWorkbook::Opener(&XlsxSpreadsheet::openWithDesktop))
{
}

QString XlsxSpreadsheet::defaultProgram()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty())
        return {};
    QProcess query;
    query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), QLatin1String(MimeType)});
    if (!query.waitForFinished(10000)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    // An empty line, with success, is the answer for "none".
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

bool XlsxSpreadsheet::isInstalled()
{
    return !defaultProgram().isEmpty();
}

namespace {

// Runs gio with `arguments`; returns its error text, empty on success.
QString runGio(const QString &gio, const QStringList &arguments)
{
    QProcess run;
    run.setStandardOutputFile(QProcess::nullDevice());
    run.start(gio, arguments);
    if (run.waitForFinished(30000) && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
        return {};
    const QString reason = QString::fromLocal8Bit(run.readAllStandardError()).trimmed();
    if (run.state() != QProcess::NotRunning) {
        run.kill();
        run.waitForFinished();
    }
    return reason.isEmpty() ? QStringLiteral("gio failed.") : reason;
}

} // namespace

void XlsxSpreadsheet::openWithDesktop(const QString &file)
{
    // The program xdg-mime named is launched by its desktop file, so the
    // program checked for is the one started. xdg-open is no help here:
    // without a known desktop it goes by content, sees a zip file and falls
    // back to a browser.
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        throw Failure(QStringLiteral("Cannot open \"%1\": the program gio is missing.").arg(file));
    const QString program = defaultProgram();
    const QString desktopFile = program.isEmpty()
        ? QString()
        : QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("applications/") + program);
    const QString reason = desktopFile.isEmpty() ? runGio(gio, {QStringLiteral("open"), file})
                                                 : runGio(gio, {QStringLiteral("launch"), desktopFile, file});
    if (!reason.isEmpty())
        throw Failure(QStringLiteral("Cannot open \"%1\" in the spreadsheet program: %2").arg(file, reason));
}

QString XlsxSpreadsheet::fileName(const QString &name)
{
    QString out = name;
    out.replace(QLatin1Char('/'), QLatin1Char('_')).remove(QChar(0));
    if (out.isEmpty() || out.startsWith(QLatin1Char('.')))
        out.prepend(QStringLiteral("Book"));
    return out.left(200) + QStringLiteral(".xlsx");
}

namespace {

// LibreOffice's ".~lock.NAME#", and "~$NAME" of others.
bool isLockFile(const QByteArray &name)
{
    return name.startsWith(".~lock.") || name.startsWith("~$");
}

QByteArray lockFile(const QByteArray &workbook)
{
    return QByteArray(".~lock.").append(workbook).append('#');
}

QByteArray officeLockFile(const QByteArray &workbook)
{
    return QByteArray("~$").append(workbook);
}

// Newest change in `folder` (itself or an entry), whether a spreadsheet
// program marks a file in it open, and whether it holds only plain entries.
struct FolderState
{
    qint64 newest = 0;
    bool locked = false;
    bool plain = true;
};

FolderState folderState(const QByteArray &folder, const struct stat &self)
{
    FolderState state;
    state.newest = qint64(self.st_mtime);
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        state.plain = false;
        return state;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
            state.plain = false;
            continue;
        }
        state.newest = std::max(state.newest, qint64(st.st_mtime));
        if (isLockFile(name))
            state.locked = true;
    }
    ::closedir(dir);
    return state;
}

// The workbook the program wrote into the folder `fd`: the name its record
// gives; for a folder made before records were kept, its one .xlsx file when
// nothing but that file's lock files is beside it. Empty when unknown.
QByteArray writtenWorkbook(int fd)
{
    const int record = ::openat(fd, XlsxWorkbook::FolderRecord, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (record >= 0) {
        char name[4096];
        const ssize_t n = ::read(record, name, sizeof name);
        ::close(record);
        return n > 0 ? QByteArray(name, int(n)) : QByteArray();
    }
    const int listing = ::dup(fd);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return {};
    }
    QByteArrayList names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    QByteArray workbook;
    for (const QByteArray &name : std::as_const(names)) {
        if (isLockFile(name))
            continue;
        if (!workbook.isEmpty() || !name.endsWith(".xlsx"))
            return {};
        workbook = name;
    }
    for (const QByteArray &name : std::as_const(names)) {
        if (isLockFile(name) && name != lockFile(workbook) && name != officeLockFile(workbook))
            return {};
    }
    return workbook;
}

// Removes what the program wrote into `folder`, by name (the workbook, the
// spreadsheet program's lock files of it, the record), and the folder when
// that leaves it empty: a file the user saved there stays. True when the
// folder went.
bool removeFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray workbook = writtenWorkbook(fd);
    if (!workbook.isEmpty() && !workbook.contains('/') && workbook != "." && workbook != "..") {
        const QByteArray names[] = {workbook, lockFile(workbook), officeLockFile(workbook)};
        for (const QByteArray &name : names)
            ::unlinkat(fd, name.constData(), 0); // never follows a link
    }
    ::unlinkat(fd, XlsxWorkbook::FolderRecord, 0);
    ::close(fd);
    return ::rmdir(folder.constData()) == 0;
}

// Names the workbook in its folder, so that the cleanup removes that file
// and no other. Without it (a full disk, which the workbook then reports),
// the cleanup still knows a folder holding the one workbook.
void writeRecord(const QByteArray &folder, const QByteArray &workbook)
{
    const QByteArray path = folder + '/' + XlsxWorkbook::FolderRecord;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, workbook.constData(), size_t(workbook.size())) == ssize_t(workbook.size());
    ::close(fd);
    if (!written)
        ::unlink(path.constData());
}

} // namespace

int XlsxSpreadsheet::removeStaleFolders(const QString &tempDir, qint64 nowSeconds)
{
    constexpr qint64 Hour = 3600, Day = 24 * Hour;
    int removed = 0;
    const QStringList names = QDir(tempDir).entryList({QLatin1String(FolderPrefix) + QLatin1Char('*')},
                                                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QByteArray folder = QFile::encodeName(tempDir + QLatin1Char('/') + name);
        struct stat st;
        // Only the user's own folders, never through a link.
        if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const FolderState state = folderState(folder, st);
        const qint64 age = nowSeconds - state.newest;
        if (!state.plain || !(age > Day || (age > Hour && !state.locked)))
            continue;
        if (removeFolder(folder))
            ++removed;
    }
    return removed;
}

std::unique_ptr<Spreadsheet::Workbook> XlsxSpreadsheet::newWorkbook(const QString &name)
{
    removeStaleFolders(QDir::tempPath(), QDateTime::currentSecsSinceEpoch());
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QLatin1Char('/') + QLatin1String(FolderPrefix)
                                          + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(folder.data())) {
        throw Failure(QStringLiteral("Cannot make a folder in \"%1\": %2")
                          .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno))));
    }
    const QString dir = QFile::decodeName(folder);
    const QString file = fileName(name);
    writeRecord(folder, QFile::encodeName(file));
    try {
        return std::make_unique<XlsxWorkbook>(dir + QLatin1Char('/') + file, m_opener, dir);
    } catch (...) {
        QFile::remove(dir + QLatin1Char('/') + QLatin1String(XlsxWorkbook::FolderRecord));
        QDir().rmdir(dir);
        throw;
    }
}
