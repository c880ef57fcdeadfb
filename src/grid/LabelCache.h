#pragma once

#include "db/ForeignLabels.h"
#include "db/RowStore.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

struct FieldInfo;

// The labels a grid shows after its foreign keys: the label of the row each
// key refers to, read for the rows asked about (those on screen) in one
// statement per key and kept. A label not read yet is asked for once and
// comes later (labelsChanged); nothing waits for it.
class LabelCache : public QObject
{
    Q_OBJECT
public:
    // The cells of the grid's rows, by row and column.
    using CellReader = std::function<RowStore::Cell(int row, int column)>;
    explicit LabelCache(CellReader cells, QObject *parent = nullptr);
    ~LabelCache() override;

    // A table of these fields over this connection; none with no params.
    void reset(const ConnectParams *params, const QByteArray &table, const std::vector<FieldInfo> &fields);

    // Whether `column` shows labels: the last column of a foreign key whose
    // referenced table has a label column.
    bool showsLabels(int column) const;
    // The label of the row the key of `row` refers to, when `column` shows
    // labels; "(no such row)" when none has those values; empty when the
    // key holds a NULL or its label is not read yet.
    QString labelAt(int row, int column) const;

    // The columns the labels at `column` may come from, and the one they do.
    std::vector<QByteArray> labelChoices(int column) const;
    QByteArray labelColumn(int column) const;
    // Labels at `column` come from `name` (one of labelChoices) from now on,
    // and the choice is remembered.
    void chooseLabel(int column, const QByteArray &name);
    // Where the choices are kept, by the key's constraint name: `recall`
    // gives the column chosen before (empty: none), `remember` keeps one.
    using Recall = std::function<QByteArray(const QByteArray &constraint)>;
    using Remember = std::function<void(const QByteArray &constraint, const QByteArray &column)>;
    void setMemory(Recall recall, Remember remember);

signals:
    // Labels of the columns between came in.
    void labelsChanged(int firstColumn, int lastColumn);

private slots:
    void takeLabels(); // posted by name from the reader's thread

private:
    struct Shown
    {
        size_t key = 0; // ForeignLabels' index
        QByteArray constraint;
        QByteArray labelColumn;
        std::vector<QByteArray> choices;
        std::vector<int> columns;             // the grid columns of the key, in its order
        std::map<QByteArray, QString> labels; // by the key's values, packed
        std::set<QByteArray> asked;           // packed values asked for, not answered
        std::vector<std::vector<CellValue>> toAsk;
    };
    static QByteArray packed(const std::vector<CellValue> &values);
    void askLater(Shown &shown, std::vector<CellValue> values, QByteArray key) const;
    void askNow();
    void showKeys();

    CellReader m_cells;
    std::vector<QByteArray> m_names; // the grid's column names
    std::unique_ptr<ForeignLabels> m_reader;
    mutable std::map<int, Shown> m_shown; // by the column that shows them
    mutable bool m_askQueued = false;
    Recall m_recall;
    Remember m_remember;
};
