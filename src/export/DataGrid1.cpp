#include "export/DataGrid1.h"

#include "export/GridSource.h"
#include "frame/Locations.h"
#include "frame/Trap.h"

#include <QFile>

void SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent)
{
    Trap trap(desktop, parent, QLatin1String(Location::Datagrid1_SaveDataGridToFile));
    QByteArray text;
    for (int c = 0; c < grid.columnCount(); ++c)
        text += grid.caption(c).toUtf8() + '\t';
    text += "\r\n";
    for (qint64 r = 0; r < grid.rowCount(); ++r) {
        for (int c = 0; c < grid.columnCount(); ++c)
            text += grid.cellText(r, c) + '\t';
        text += "\r\n";
    }
    trap.step(134, [&] {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
            throw Failure(f.errorString());
    });
}

void SaveDataGridToXMLFile(GridSource &, const QString &, Desktop &, QWidget *)
{
}
