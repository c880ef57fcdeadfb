#pragma once

#include "db/ForeignLabels.h"
#include "grid/LabelCache.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <optional>
#include <utility>
#include <vector>

// The cell editor of a foreign key's column. As the user types, it searches
// the rows the key refers to on the server (keys and labels that begin with
// the text at once, labels that hold it after a pause) and offers one screen
// of them under the cell: key, label and one more column. Up and Down move
// in the list, Enter or a click picks a row (its whole key, all columns),
// Escape closes the list and keeps what was typed. Any text may be typed:
// a key, or a label that the write turns into its key.
class KeyPicker : public QLineEdit
{
    Q_OBJECT
public:
    KeyPicker(LabelCache &labels, int column, QWidget *parent);
    ~KeyPicker() override;

    // The key columns (the grid's) and values of the row picked, while the
    // text is still the one it put there.
    std::vector<std::pair<int, CellValue>> picked() const;

    bool listShown() const;
    void hideList();
    // Picks the list's current row; false when there is none.
    bool pickCurrent();
    QTreeWidget *list() const { return m_list; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void typed(const QString &text);
    void searchNow(bool contains);
    void showFound(const ForeignLabels::Found &found);
    void placeList();
    void pick(int match);

    QPointer<LabelCache> m_labels;
    int m_column;
    QPointer<QTreeWidget> m_list;
    QTimer m_pause;
    quint64 m_prefixTicket = 0;
    quint64 m_containsTicket = 0;
    std::vector<ForeignLabels::Match> m_matches;
    std::optional<ForeignLabels::Match> m_picked;
    QString m_pickedText;
};
