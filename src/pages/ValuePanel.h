#pragma once

#include "grid/ValueKind.h"

#include <QDockWidget>
#include <QImage>
#include <QPersistentModelIndex>

#include <functional>

class Desktop;
class ExternalEdit;
class GridModel;
class GridView;
class HexView;
class TextValueView;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

// The grid's current cell, whole, beside the grid: as text, JSON, hex or an
// image, following the current cell as it moves. What the user types is the
// grid's own edit of the current row: handed to the model (flush()) when
// focus leaves the panel, before the grid writes the row, and by the
// panel's own commands; the row is written as every grid edit is, when the
// user leaves it or by "Save Row". Files and the user's own editor take and
// give the cell's raw bytes.
class ValuePanel : public QDockWidget
{
    Q_OBJECT
public:
    using Mode = ValueKind::Mode;

    ValuePanel(GridView &view, Desktop &desktop, QWidget *parent = nullptr);
    ~ValuePanel() override;

    // Writes the held row (the page's, as it tells the user); false when it
    // could not be written.
    void setCommitHandler(std::function<bool()> handler) { m_commit = std::move(handler); }
    // Tells the user why something could not be done.
    void setTellHandler(std::function<void(const QString &)> handler) { m_tell = std::move(handler); }

    // Shows and hides the panel (Ctrl+Shift+E), and moves the focus between
    // the grid and the panel, showing it first (Ctrl+E; Escape in the panel
    // returns to the grid too). For the page to add where its shortcuts reach.
    QAction *toggleAction() const { return m_toggle; }
    QAction *focusAction() const { return m_focus; }

    // Hands what was typed in the panel to the grid as the cell's held edit.
    // False when the grid would not take it (the panel keeps it then).
    bool flush();
    Mode mode() const { return m_mode; }
    // Shows the cell in `mode` from now on for its column.
    void setMode(Mode mode);
    // The cell shown, as the model's index (invalid when none).
    QModelIndex cell() const { return m_cell; }
    bool hasPendingEdit() const { return m_dirty; }

    void loadFromFile();
    void saveToFile();
    void editExternally();
    void compactJson();
    void saveRow();
    ExternalEdit &externalEdit() const { return *m_external; }
    // The panel's controls in the order Tab visits them.
    QList<QWidget *> tabOrder() const;

    QComboBox *modeBox;
    QCheckBox *nullBox;
    QCheckBox *wrapBox;
    QPushButton *compactButton;
    QPushButton *loadButton;
    QPushButton *saveButton;
    QPushButton *externalButton;
    QPushButton *saveRowButton;
    QLabel *valueLabel;
    QLabel *status;
    QStackedWidget *pages;
    TextValueView *textView;
    HexView *hexView;
    QLabel *imageView;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void connectControls();
    void connectGrid();
    void currentChanged(const QModelIndex &current);
    // Shows the cell anew from the model (drops what was typed).
    void reload();
    void showValue(const QByteArray &bytes);
    void showImage(const QByteArray &bytes);
    void setNull(bool isNull);
    void setHeld(const QVariant &value);
    void modelChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void typed();
    void checkJson();
    void updateStatus();
    void updateControls();
    void returnToGrid();
    void focusPanel();
    void externalSaved(const QByteArray &bytes);
    QByteArray shownBytes() const;
    GridModel *model() const;
    void tell(const QString &text);

    GridView &m_view;
    Desktop &m_desktop;
    ExternalEdit *m_external;
    QAction *m_toggle;
    QAction *m_focus;
    QTimer *m_jsonTimer;
    std::function<bool()> m_commit;
    std::function<void(const QString &)> m_tell;
    QPersistentModelIndex m_cell;
    QPersistentModelIndex m_externalCell;
    Mode m_mode = Mode::Text;
    int m_chosenColumn = -1; // the column whose mode the user chose
    Mode m_chosenMode = Mode::Text;
    bool m_dirty = false;
    bool m_loading = false; // the panel itself changes the views or the model
    bool m_editable = false;
    bool m_isNull = false;
    qsizetype m_bytes = 0; // of the value shown
    QImage m_image;
    QString m_imageInfo;
    QString m_jsonState;
    QString m_note;
};
