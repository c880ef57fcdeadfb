#pragma once

#include <QString>

class QWidget;

// The desktop services that handlers use and tests cannot drive: message
// boxes, the file dialogs and letting pending events run. The real one is
// QtDesktop; tests use a scripted double.
class Desktop
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum class Buttons { Ok, YesNo, OkCancel, YesNoCancel };
    enum class Answer { Ok, Yes, No, Cancel };

    virtual ~Desktop() = default;

    // Shows a modal message box and returns the button pressed. Closing the
    // box without a button gives Cancel, No or Ok, in that order of
    // availability.
    virtual Answer message(QWidget *parent, const QString &caption, const QString &text,
                           Icon icon = Icon::None, Buttons buttons = Buttons::Ok,
                           Answer defaultButton = Answer::Ok) = 0;

    // Asks for a file name to save to. `filter` is written in the
    // "Text Files (*.txt)|*.txt" form, pairs separated by "|". Returns the
    // name as chosen, with no extension added, or empty when cancelled.
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter) = 0;

    // Asks for an existing file to open, starting at `start` (a file or a
    // folder; may be empty). `filter` as for saveFileName. Returns the name
    // chosen, or empty when cancelled.
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter)
        = 0;

    // Opens a file in the desktop's own program for its type, without
    // waiting for it; false when there is none to open it.
    virtual bool openFile(const QString &path)
    {
        Q_UNUSED(path);
        return false;
    }

    // Lets pending window events run once.
    virtual void processEvents() = 0;
};
