#pragma once

#include "core/GridSource.h"

#include <QList>
#include <QStringList>

// A grid in memory; a null QString is a NULL cell.
class StringGrid : public GridSource
{
public:
    QStringList captions;
    QList<QStringList> rows;

    int columnCount() const override { return int(captions.size()); }
    QString caption(int column) const override { return captions.at(column); }
    qint64 rowCount() const override { return rows.size(); }
    QByteArray cellText(qint64 row, int column) const override { return rows.at(row).at(column).toUtf8(); }
    bool isNull(qint64 row, int column) const override { return rows.at(row).at(column).isNull(); }
};
