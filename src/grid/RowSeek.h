#pragma once

#include "db/RowStatements.h"

#include <QObject>
#include <QPointer>

#include <utility>
#include <vector>

class GridView;
class GridModel;

// Makes the row whose cells hold these values current (at `column`) and
// shows it, as soon as the rows read so far hold it: it looks through the
// rows there and each batch that comes in, and ends itself when it found
// the row (found) or the read ended without it (missing).
class RowSeek : public QObject
{
    Q_OBJECT
public:
    RowSeek(GridView &view, std::vector<std::pair<int, CellValue>> cells, int column);

signals:
    void found(int row);
    void missing();

private:
    void look(int first, int last);

    QPointer<GridView> m_view;
    QPointer<GridModel> m_model;
    std::vector<std::pair<int, CellValue>> m_cells;
    int m_column;
};
