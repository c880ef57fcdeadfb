#pragma once

#include "export/GridWalk.h"

#include <QString>

class Desktop;
class GridSource;
class PagePointer;
class QWidget;
class Spreadsheet;

// True when the spreadsheet program is there to be started. Otherwise shows
// "Excel is not installed on this computer. You need to have it installed to
// use this feature." and returns false. A check that fails gives false
// without a further message. A null spreadsheet is one not installed.
bool IsExcelInstalled(Spreadsheet *spreadsheet, Desktop &desktop, QWidget *parent);

// The "XLS" export: copies every row of the grid into a new workbook of the
// spreadsheet program and shows it there, unsaved. Captions in row 1, grid
// row n in sheet row n + 2. A table with more rows than a sheet holds goes on
// in further sheets, each starting with the captions again, and says so
// once. Does nothing for a table without rows. Failures are reported under
// the "XLS" handler's location; cancelling the progress shows nothing.
// `name` suggests the workbook's name; `pointer` (may be null) is busy
// while the export runs.
void SaveDataGridToWorkbook(GridSource &grid, Spreadsheet *spreadsheet, const QString &name, Desktop &desktop,
                            QWidget *parent, PagePointer *pointer, const ExportProgress &progress);
