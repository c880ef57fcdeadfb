#pragma once

#include <QString>

class Desktop;
class GridSource;
class QWidget;

// The grid's text exports. Each walks every row of `grid` once, in display
// order, builds the whole text and writes it to `path`; failures are reported
// in the "Application Error" box under the writer's own location, and the
// writer always returns.
void SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent);
void SaveDataGridToXMLFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent);
