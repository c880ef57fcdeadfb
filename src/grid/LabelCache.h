#pragma once

#include "db/ForeignLabels.h"
#include "db/RowStore.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
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

    // The table's own foreign key that `column` is part of, and the grid
    // columns of its columns, in its order; none until the keys are read.
    struct KeyPlace
    {
        ForeignKey key;
        std::vector<int> columns;
    };
    std::optional<KeyPlace> keyAt(int column) const;

    // The grid columns of the key shown at `column`, in the key's order, and
    // the table it refers to.
    std::vector<int> keyColumns(int column) const;
    QString referredTable(int column) const;

    // Searches the rows the key at `column` refers to for `text` (keys and
    // labels that begin with it; with `contains`, labels that hold it):
    // one screen of matches, given by matchesFound() with the ticket this
    // returns (0: no search). A later search of the column replaces it.
    quint64 search(int column, const QString &text, bool contains);
    // A row picked: its label is known from now on.
    void pickedRow(int column, const std::vector<CellValue> &values, const QString &label);

    // Rows about to be written (their values as read, or none for a new
    // row, and their changes): where a foreign key's last column was given
    // a text that is no key of the table it refers to, but the label of
    // exactly one of its rows, that row's key goes in its place. One
    // statement per key asked about, waited for; none when the labels known
    // tell already. Throws Failure (number 0) with what to tell the user
    // when a text is neither a key nor one row's label; the server's own
    // check judges what cannot be asked.
    struct Edit
    {
        const RowValues *original = nullptr;
        CellChanges *changes = nullptr;
    };
    void keysForLabels(const std::vector<Edit> &edits);

    // The tables whose foreign keys refer to this one, each with how many
    // of its rows refer to `row` (the row's values by column name): one
    // statement, waited for. None when the server could not tell.
    std::optional<ForeignLabels::Referring> referringRows(const NamedValues &row);

signals:
    // Labels of the columns between came in.
    void labelsChanged(int firstColumn, int lastColumn);
    // A search's matches came in.
    void matchesFound(const ForeignLabels::Found &found);

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
        QString refTable;
        ForeignKey foreignKey;
    };
    static QByteArray packed(const std::vector<CellValue> &values);
    void askLater(Shown &shown, std::vector<CellValue> values, QByteArray key) const;
    void askNow();
    void showKeys();
    bool knownKey(const Shown &shown, const std::vector<CellValue> &values) const;
    void keysForLabels(int column, const std::vector<Edit> &edits);

    CellReader m_cells;
    std::vector<QByteArray> m_names; // the grid's column names
    std::unique_ptr<ForeignLabels> m_reader;
    mutable std::map<int, Shown> m_shown; // by the column that shows them
    std::vector<KeyPlace> m_places;       // every key the grid shows whole
    mutable bool m_askQueued = false;
    quint64 m_tickets = 0;
    std::optional<ConnectParams> m_params; // of the table shown
    QByteArray m_table;
    Recall m_recall;
    Remember m_remember;
};
