#pragma once

#include "export/GridWalk.h"

#include <QString>

class Desktop;
class GridSource;
class QWidget;

// The grid's text exports. Each walks every row of `grid` once, in display
// order (waiting first for a background load to finish), builds the text and
// puts it in place of `path` only once the whole text is written: a failed or
// cancelled export leaves any file of that name as it was and no file of its
// own behind. Text is UTF-8 without a byte-order mark, and nothing follows
// the text: the tab-separated file ends with its last line's CR LF, the XML
// file with "</xml>".
//
// Failures are reported in the "Application Error" box under the writer's
// own location and step number; the writers always return. The result tells
// whether the file was written.
//
// `progress` may be empty; a caller with a window hands in a ProgressDialog's.

// Tab-separated: captions, then one line per row, a TAB after every field
// and CR LF after every line. Nothing is quoted or escaped.
bool SaveDataGridToFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                        const ExportProgress &progress);

// "<xml>", then per row "<row>", one "<caption>text</caption>" line per
// column and "</row>", then "</xml>"; CR LF after every line but the last.
// Nothing is escaped and captions are used as element names unchanged.
bool SaveDataGridToXMLFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                           const ExportProgress &progress);

// Comma-separated values as RFC 4180 has them: the captions, then one
// record per row, CR LF after each. A field holding a comma, double quote,
// CR or LF is quoted, its quotes doubled. NULL is an empty field and an
// empty text is "", so the two stay apart.
bool SaveDataGridToCSVFile(GridSource &grid, const QString &path, Desktop &desktop, QWidget *parent,
                           const ExportProgress &progress);
