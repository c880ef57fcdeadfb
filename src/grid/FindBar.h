#pragma once

#include "grid/RowMatcher.h"

#include <QList>
#include <QWidget>

#include <functional>

class GridOrder;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The bar under the grid that finds text in the rows and, with "Filter" on,
// shows only the rows that hold it. Enter and F3 go to the next match,
// Shift+Enter and Shift+F3 to the previous one, Escape closes the bar (and
// ends the filter). Its controls are found by their object names
// ("findEdit", "filterButton", ...).
class FindBar : public QWidget
{
    Q_OBJECT
public:
    FindBar(QTableView &view, GridOrder &order, QWidget *parent = nullptr);

    // Asked before the rows are filtered again; false (the held row could
    // not be written) leaves the filter as it was.
    void setBeforeFilter(std::function<bool()> check) { m_beforeFilter = std::move(check); }

    // Shows the bar with the text box focused; with `filter`, turns the
    // filter on (or off, when it was on and the bar showing).
    void open(bool filter = false);
    void close();
    // Goes to the next (or previous) match from the current cell.
    void step(bool backwards);
    // The column list follows the grid's columns.
    void updateColumns();

    FindQuery query() const;
    // Shows the bar filtering the rows by `query`; its alsoEqual holds until
    // the user changes the bar.
    void filterTo(const FindQuery &query);
    // The controls that take focus, in the order Tab goes through them.
    QList<QWidget *> tabOrder() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void changed();
    void filterToggled(bool on);
    void showCount();
    void goTo(int position);
    int firstMatchingColumn(int shownRow) const;

    QLabel *m_findLabel = nullptr;
    QLineEdit *m_findEdit = nullptr;
    QCheckBox *m_matchCaseCheckBox = nullptr;
    QCheckBox *m_wholeCellCheckBox = nullptr;
    QLabel *m_columnLabel = nullptr;
    QComboBox *m_columnComboBox = nullptr;
    QPushButton *m_previousButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QPushButton *m_filterButton = nullptr;
    QLabel *m_countLabel = nullptr;
    QPushButton *m_closeButton = nullptr;

    QTableView &m_view;
    GridOrder &m_order;
    std::function<bool()> m_beforeFilter;
    int m_pendingStep = 0; // a step asked for before the matches were known: +1 or -1
    int m_position = -1;   // in the matches, of the one gone to last
    std::vector<std::pair<int, QByteArray>> m_alsoEqual;
};
