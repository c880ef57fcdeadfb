#pragma once

#include "export/GridSource.h"

#include <QAbstractTableModel>

class Connection;
class RowSet;

// The table model of the editor's grid, over the rows of a RowSet. data()
// reads only the rows held in memory; it never runs SQL.
class GridModel : public QAbstractTableModel, public GridSource
{
    Q_OBJECT
public:
    explicit GridModel(QObject *parent = nullptr);

    // Shows `rows` (not owned; null shows nothing). `connection` is the one
    // the rows were read on.
    void setRowSet(RowSet *rows, Connection *connection);
    RowSet *rowSet() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // GridSource
    int columnCount() const override { return columnCount(QModelIndex()); }
    QString caption(int column) const override;
    qint64 rowCount() const override;
    QByteArray cellText(qint64 row, int column) const override;
    bool isNull(qint64 row, int column) const override;

private:
    RowSet *m_rows = nullptr;
    Connection *m_connection = nullptr;
};
