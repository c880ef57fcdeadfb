#include "frame/Main.h"

#include "core/Failure.h"
#include "core/Version.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QSvgRenderer>
#include <QWidget>

// QT_LOGGING_RULES="corvane.files.debug=true" says where the optional
// files were taken from: the answer to "why is my cursor or skin not used".
Q_LOGGING_CATEGORY(lcFiles, "corvane.files", QtWarningMsg)

namespace {

QString g_appTitle;
QString g_programFolder;

void setBackground(QWidget *w, const QColor &colour)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace

// The library's resources must be registered by hand: a static library's
// initializer is otherwise dropped by the linker.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace Main {

QString shortenedTitle(const QString &name)
{
    QString title = name;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle()
{
    g_appTitle = shortenedTitle(QString::fromLatin1(ProductName));
    QApplication::setApplicationDisplayName(QString());
}

QString appTitle()
{
    if (g_appTitle.isEmpty())
        return shortenedTitle(QString::fromLatin1(ProductName));
    return g_appTitle;
}

QString programFolder()
{
    if (!g_programFolder.isEmpty())
        return g_programFolder;
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString &folder)
{
    g_programFolder = folder;
}

QString programFile(const QString &relative)
{
    const QString beside = programFolder() + QLatin1Char('/') + relative;
    const QString installed = QDir::cleanPath(programFolder() + QLatin1Char('/') + QLatin1String(CorvaneDataFromBin)
                                              + QLatin1Char('/') + relative);
    QString path = beside;
    if (!QFileInfo::exists(beside) && QFileInfo::exists(installed))
        path = installed;
    if (QFileInfo::exists(path))
        qCDebug(lcFiles, "%s: using %s", qPrintable(relative), qPrintable(path));
    else
        qCDebug(lcFiles, "%s: not found in %s or %s", qPrintable(relative), qPrintable(beside), qPrintable(installed));
    return path;
}

bool FileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.lastModified().isValid();
}

QColor standardColour()
{
    return QApplication::style()->standardPalette().color(QPalette::Button);
}

void setBackgrounds(QWidget *page, const QColor &colour)
{
    setBackground(page, colour);
    const auto children = page->findChildren<QWidget *>();
    for (QWidget *w : children) {
        if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w)
            || qobject_cast<QGroupBox *>(w) || qobject_cast<QLabel *>(w))
            setBackground(w, colour);
    }
}

void SetStandardColours(QWidget *page)
{
    setBackgrounds(page, standardColour());
}

bool ApplySkin(QWidget *signInPage)
{
    const QString path = programFile(QStringLiteral("x/o.cjs"));
    if (!QFileInfo::exists(path))
        return false;
    SetStandardColours(signInPage);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read the skin file %1: %2").arg(path, file.errorString()));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}

QIcon appIcon()
{
    static QIcon icon;
    if (icon.isNull()) {
        initResources();
        QSvgRenderer renderer(QStringLiteral(":/corvane.svg"));
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QPixmap pm(size, size);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            renderer.render(&p);
            p.end();
            icon.addPixmap(pm);
        }
    }
    return icon;
}

QString handCursorPath()
{
    return programFile(QStringLiteral("HAND-M.CUR"));
}

QCursor loadCursor(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()), Failure::FileNotFound);
    const QByteArray bytes = file.readAll();
    QPixmap pm;
    if (!pm.loadFromData(bytes, "CUR") && !pm.loadFromData(bytes))
        throw Failure(QStringLiteral("Invalid picture: %1").arg(path), Failure::InvalidPicture);
    // A .cur directory entry keeps the hotspot where an icon keeps planes
    // and bit count (bytes 10..13 of the file).
    int hx = -1, hy = -1;
    if (bytes.size() >= 14 && bytes.at(2) == 2) {
        hx = uchar(bytes.at(10)) | (uchar(bytes.at(11)) << 8);
        hy = uchar(bytes.at(12)) | (uchar(bytes.at(13)) << 8);
    }
    return QCursor(pm, hx, hy);
}

} // namespace Main
