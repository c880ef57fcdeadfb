#pragma once

#include "core/Version.h"

#include <QCursor>
#include <QIcon>
#include <QString>

class QWidget;

// Procedures that every page shares: the product name and application title,
// the program folder and its optional files, colours, icon and cursor.
namespace Main {

inline constexpr auto &ProductName = CorvaneProductName;

// Drops the last word of `name` at least once, then until it is at most 40
// characters long.
QString shortenedTitle(const QString &name);

// Derives the application title from the product name; message boxes that
// name no caption of their own show it.
void SetAppTitle();
QString appTitle();

// The folder of the executable. Tests may point it elsewhere.
QString programFolder();
void setProgramFolder(const QString &folder);

// Path of one of the program's optional files ("HAND-M.CUR", "x/o.cjs"):
// beside the executable when it is there, else in the installed data folder
// (../share/corvane-editor from the executable's folder) when it is there,
// else the path beside the executable.
QString programFile(const QString &relative);

// True when the file's modification time can be read; never reports.
bool FileExists(const QString &path);

// The system's button-face colour, used as every page's background.
QColor standardColour();

// Gives the page, and every radio button, check box, frame and label on it,
// the standard colour as background. Other controls keep theirs.
void SetStandardColours(QWidget *page);

// Sets `colour` as the background of the page and of the same kinds of
// controls as SetStandardColours.
void setBackgrounds(QWidget *page, const QColor &colour);

// When "x/o.cjs" exists in the program folder: the sign-in page takes the
// standard colours and the file is applied as the application's style sheet.
// Returns whether the skin was applied.
bool ApplySkin(QWidget *signInPage);

// The application icon, drawn from the SVG in the resources.
QIcon appIcon();

// Path of the hand cursor file, and the cursor loaded from it (with the
// hotspot the file gives). Throws Failure when the file cannot be read.
QString handCursorPath();
QCursor loadCursor(const QString &path);

} // namespace Main
