#include "export/Wordpad1.h"

#include "frame/Main.h"

#include <QFileInfo>

QString GetWordPadPath()
{
    const QFileInfo program(Main::programFolder() + QLatin1Char('/') + QLatin1String(PrintProgramName));
    if (!program.isFile() || !program.isExecutable())
        return {};
    return program.absoluteFilePath();
}
