#include "pages/ValuePanel.h"

#include "db/RowSet.h"
#include "frame/ExternalEdit.h"
#include "grid/CellDisplay.h"
#include "grid/GridModel.h"
#include "grid/GridView.h"
#include "grid/HexView.h"
#include "grid/JsonText.h"
#include "grid/TextValueView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const ModeNames[] = {"Text", "JSON", "Hex", "Image"};

} // namespace

ValuePanel::ValuePanel(GridView &view, Desktop &desktop, QWidget *parent)
    : QDockWidget(QStringLiteral("Value"), parent), m_view(view), m_desktop(desktop),
      m_external(new ExternalEdit(desktop, this)), m_toggle(new QAction(QStringLiteral("Value Panel"), this)),
      m_focus(new QAction(QStringLiteral("Edit in Value Panel"), this)), m_jsonTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("valuePanel"));
    setAccessibleName(QStringLiteral("Value panel"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    buildControls();
    connectControls();

    m_toggle->setObjectName(QStringLiteral("valuePanelAction"));
    m_toggle->setCheckable(true);
    m_toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    m_toggle->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_toggle, &QAction::triggered, this, [this](bool on) {
        setVisible(on);
        if (!on)
            m_view.setFocus();
    });
    connect(this, &QDockWidget::visibilityChanged, m_toggle, [this] { m_toggle->setChecked(!isHidden()); });
    m_focus->setObjectName(QStringLiteral("valuePanelFocusAction"));
    m_focus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_focus->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_focus, &QAction::triggered, this, [this] {
        if (isVisible() && isAncestorOf(QApplication::focusWidget()))
            returnToGrid();
        else
            focusPanel();
    });

    // The JSON is checked once typing pauses, never on each key.
    m_jsonTimer->setSingleShot(true);
    m_jsonTimer->setInterval(300);
    connect(m_jsonTimer, &QTimer::timeout, this, &ValuePanel::checkJson);
    connect(m_external, &ExternalEdit::saved, this, &ValuePanel::externalSaved);
    connectGrid();
}

ValuePanel::~ValuePanel() = default;

void ValuePanel::buildControls()
{
    auto *body = new QWidget(this);
    const auto button = [body](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, body);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
        b->setAutoDefault(false);
        return b;
    };
    modeBox = new QComboBox(body);
    modeBox->setObjectName(QStringLiteral("modeBox"));
    for (const char *name : ModeNames)
        modeBox->addItem(QLatin1String(name));
    auto *modeLabel = new QLabel(QStringLiteral("&Mode:"), body);
    modeLabel->setBuddy(modeBox);
    nullBox = new QCheckBox(QStringLiteral("&NULL"), body);
    nullBox->setObjectName(QStringLiteral("nullBox"));
    nullBox->setAccessibleName(QStringLiteral("NULL"));
    wrapBox = new QCheckBox(QStringLiteral("&Wrap"), body);
    wrapBox->setObjectName(QStringLiteral("wrapBox"));
    wrapBox->setAccessibleName(QStringLiteral("Wrap lines"));
    wrapBox->setChecked(true);
    compactButton = button("compactButton", QStringLiteral("Com&pact"));

    valueLabel = new QLabel(QStringLiteral("&Value:"), body);
    pages = new QStackedWidget(body);
    textView = new TextValueView(pages);
    textView->setObjectName(QStringLiteral("textView"));
    textView->setAccessibleName(QStringLiteral("Value as text"));
    hexView = new HexView(pages);
    hexView->setObjectName(QStringLiteral("hexView"));
    hexView->setAccessibleName(QStringLiteral("Value as hex"));
    imageView = new QLabel(pages);
    imageView->setObjectName(QStringLiteral("imageView"));
    imageView->setAccessibleName(QStringLiteral("Value as image"));
    imageView->setAlignment(Qt::AlignCenter);
    imageView->setMinimumSize(16, 16);
    imageView->setFocusPolicy(Qt::StrongFocus);
    pages->addWidget(textView);
    pages->addWidget(hexView);
    pages->addWidget(imageView);
    valueLabel->setBuddy(textView);
    status = new QLabel(body);
    status->setObjectName(QStringLiteral("valueStatus"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    status->setWordWrap(true);

    loadButton = button("loadButton", QStringLiteral("&Load from File..."));
    saveButton = button("saveButton", QStringLiteral("&Save to File..."));
    externalButton = button("externalButton", QStringLiteral("Edit E&xternally"));
    saveRowButton = button("saveRowButton", QStringLiteral("Save &Row"));
    saveRowButton->setToolTip(QStringLiteral("Writes the row to the server now (Ctrl+Return)"));

    auto *top = new QHBoxLayout;
    top->addWidget(modeLabel);
    top->addWidget(modeBox);
    top->addWidget(nullBox);
    top->addWidget(wrapBox);
    top->addWidget(compactButton);
    top->addStretch();
    auto *files = new QHBoxLayout;
    for (QPushButton *b : {loadButton, saveButton, externalButton, saveRowButton})
        files->addWidget(b);
    files->addStretch();
    auto *layout = new QVBoxLayout(body);
    layout->addLayout(top);
    layout->addWidget(valueLabel);
    layout->addWidget(pages, 1);
    layout->addWidget(status);
    layout->addLayout(files);
    setWidget(body);
}

void ValuePanel::connectControls()
{
    for (QWidget *w :
        {static_cast<QWidget *>(textView), static_cast<QWidget *>(hexView), static_cast<QWidget *>(imageView)})
        w->installEventFilter(this);

    connect(modeBox, &QComboBox::activated, this, [this](int index) { setMode(Mode(index)); });
    connect(nullBox, &QCheckBox::clicked, this, &ValuePanel::setNull);
    connect(wrapBox, &QCheckBox::toggled, textView, &TextValueView::setWrapped);
    connect(compactButton, &QPushButton::clicked, this, &ValuePanel::compactJson);
    connect(loadButton, &QPushButton::clicked, this, &ValuePanel::loadFromFile);
    connect(saveButton, &QPushButton::clicked, this, &ValuePanel::saveToFile);
    connect(externalButton, &QPushButton::clicked, this, &ValuePanel::editExternally);
    connect(saveRowButton, &QPushButton::clicked, this, &ValuePanel::saveRow);
    connect(textView, &QPlainTextEdit::textChanged, this, &ValuePanel::typed);
    connect(textView, &TextValueView::characterCounted, this, &ValuePanel::updateStatus);
    connect(hexView, &HexView::edited, this, &ValuePanel::typed);
}

QList<QWidget *> ValuePanel::tabOrder() const
{
    return {modeBox, nullBox, wrapBox, compactButton, textView, hexView, imageView, loadButton, saveButton,
        externalButton, saveRowButton};
}

GridModel *ValuePanel::model() const
{
    return m_view.gridModel();
}

void ValuePanel::connectGrid()
{
    connect(m_view.selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex &current) { currentChanged(current); });
    GridModel *grid = model();
    connect(grid, &QAbstractItemModel::dataChanged, this, &ValuePanel::modelChanged);
    connect(grid, &QAbstractItemModel::modelReset, this, [this] {
        m_chosenColumn = -1;
        currentChanged(m_view.currentIndex());
    });
    connect(grid, &QAbstractItemModel::rowsRemoved, this, [this] { currentChanged(m_view.currentIndex()); });
}

void ValuePanel::currentChanged(const QModelIndex &current)
{
    flush(); // a move within the row: the grid wrote nothing yet
    const QModelIndex cell = m_view.toModel(current);
    if (m_external->isActive()
        && (!cell.isValid() || cell.row() != m_externalCell.row() || !m_externalCell.isValid())) {
        m_external->stop(); // the row was left: its file goes
        m_externalCell = QPersistentModelIndex();
    }
    if (cell == QModelIndex(m_cell) && !m_dirty)
        return;
    m_cell = cell;
    m_note.clear();
    reload();
}

void ValuePanel::modelChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (m_loading || !m_cell.isValid() || m_dirty)
        return;
    if (m_cell.row() >= topLeft.row() && m_cell.row() <= bottomRight.row() && m_cell.column() >= topLeft.column()
        && m_cell.column() <= bottomRight.column())
        reload();
}

void ValuePanel::showEvent(QShowEvent *event)
{
    QDockWidget::showEvent(event);
    m_cell = m_view.toModel(m_view.currentIndex());
    reload();
}

void ValuePanel::reload()
{
    m_dirty = false;
    m_jsonTimer->stop();
    if (isHidden() && !m_external->isActive())
        return; // read when shown: a hidden panel costs the grid nothing
    GridModel *grid = model();
    const bool valid = m_cell.isValid() && grid->rowSet() && m_cell.column() < grid->columnCount();
    m_isNull = !valid || grid->data(m_cell, GridModel::NullRole).toBool();
    m_editable = valid && (grid->flags(m_cell) & Qt::ItemIsEditable);
    const QByteArray bytes = valid ? grid->data(m_cell, GridModel::BytesRole).toByteArray() : QByteArray();
    if (valid) {
        const FieldInfo &field = grid->rowSet()->field(m_cell.column());
        setWindowTitle(QStringLiteral("Value: %1").arg(field.name));
        // An editable text cell is UTF-8 (the grid remembers it of a large one).
        const bool utf8 = grid->isEditable() && !field.isBytes() && !field.isGeometry()
            ? m_editable || m_isNull
            : CellDisplay::isValidUtf8({bytes.constData(), size_t(bytes.size())});
        m_mode = m_chosenColumn == m_cell.column() ? m_chosenMode : ValueKind::modeFor(field, bytes, utf8);
    } else {
        setWindowTitle(QStringLiteral("Value"));
    }
    showValue(bytes);
}

void ValuePanel::showValue(const QByteArray &bytes)
{
    const QScopedValueRollback<bool> loading(m_loading, true);
    m_bytes = bytes.size();
    m_jsonState.clear();
    m_image = QImage();
    modeBox->setCurrentIndex(int(m_mode));
    nullBox->setChecked(m_isNull);
    switch (m_mode) {
    case Mode::Text:
    case Mode::Json: {
        QByteArray shown = bytes;
        if (m_mode == Mode::Json && !m_isNull) {
            const JsonText::Check check = JsonText::check(bytes);
            if (check.ok)
                shown = JsonText::pretty(bytes);
            m_jsonState = check.ok ? QStringLiteral("Valid JSON")
                                   : QStringLiteral("Not valid JSON: line %1, column %2: %3")
                                         .arg(check.line)
                                         .arg(check.column)
                                         .arg(check.message);
        }
        textView->setValue(shown, !m_editable || m_isNull);
        pages->setCurrentWidget(textView);
        break;
    }
    case Mode::Hex:
        hexView->setBytes(bytes);
        hexView->setReadOnly(!m_editable || m_isNull);
        pages->setCurrentWidget(hexView);
        break;
    case Mode::Image:
        showImage(bytes);
        pages->setCurrentWidget(imageView);
        break;
    }
    valueLabel->setBuddy(pages->currentWidget());
    updateControls();
    updateStatus();
}

void ValuePanel::showImage(const QByteArray &bytes)
{
    const QString type = ValueKind::imageType(bytes);
    m_image = QImage::fromData(bytes);
    if (m_isNull)
        m_imageInfo.clear();
    else if (m_image.isNull())
        m_imageInfo = QStringLiteral("%1, which cannot be shown here, %L2 bytes")
                          .arg(type.isEmpty() ? QStringLiteral("Not an image") : type)
                          .arg(bytes.size());
    else
        m_imageInfo = QStringLiteral("%1, %2 \u00d7 %3 pixels, %L4 bytes")
                          .arg(type)
                          .arg(m_image.width())
                          .arg(m_image.height())
                          .arg(bytes.size());
    imageView->setAccessibleDescription(m_imageInfo);
    if (m_image.isNull()) {
        imageView->setPixmap(QPixmap());
        imageView->setText(m_imageInfo);
        return;
    }
    // Scaled down to fit; a small image keeps its own size.
    const QSize room = imageView->size().boundedTo(m_image.size());
    imageView->setPixmap(QPixmap::fromImage(m_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void ValuePanel::setMode(Mode mode)
{
    flush();
    m_chosenColumn = m_cell.column();
    m_chosenMode = mode;
    m_mode = mode;
    reload();
}

QByteArray ValuePanel::shownBytes() const
{
    if (m_mode == Mode::Text || m_mode == Mode::Json) {
        textView->finishLoading();
        if (textView->isExact())
            return textView->value().toUtf8();
    } else if (m_mode == Mode::Hex) {
        return hexView->bytes();
    }
    return model()->data(m_cell, GridModel::BytesRole).toByteArray();
}

bool ValuePanel::flush()
{
    if (!m_dirty || !m_cell.isValid())
        return true;
    const QScopedValueRollback<bool> loading(m_loading, true);
    if (!model()->setData(m_cell, shownBytes())) {
        m_note = QStringLiteral("Not taken: save or drop the changes of the row being edited first.");
        updateStatus();
        return false;
    }
    m_dirty = false;
    return true;
}

void ValuePanel::setHeld(const QVariant &value)
{
    {
        const QScopedValueRollback<bool> loading(m_loading, true);
        if (!m_cell.isValid() || !model()->setData(m_cell, value))
            tell(QStringLiteral("The cell was not changed: save or drop the changes of the row being edited "
                                "first."));
    }
    reload();
}

void ValuePanel::setNull(bool isNull)
{
    m_dirty = false;
    setHeld(isNull ? QVariant() : QVariant(QByteArray("")));
}

void ValuePanel::typed()
{
    if (m_loading || textView->isLoading())
        return;
    if (!m_dirty) {
        m_dirty = true;
        updateStatus();
    }
    if (m_mode == Mode::Json)
        m_jsonTimer->start();
}

void ValuePanel::checkJson()
{
    if (m_mode != Mode::Json)
        return;
    if (textView->isLoading())
        return;
    const JsonText::Check check = JsonText::check(textView->value().toUtf8());
    m_jsonState = check.ok
        ? QStringLiteral("Valid JSON")
        : QStringLiteral("Not valid JSON: line %1, column %2: %3").arg(check.line).arg(check.column).arg(check.message);
    updateStatus();
}

void ValuePanel::compactJson()
{
    const QByteArray text = shownBytes();
    const JsonText::Check check = JsonText::check(text);
    if (!check.ok) {
        tell(QStringLiteral("The JSON is not valid (line %1, column %2: %3), so it was left as it is.")
                 .arg(check.line)
                 .arg(check.column)
                 .arg(check.message));
        return;
    }
    {
        const QScopedValueRollback<bool> loading(m_loading, true);
        textView->setValue(JsonText::compact(text));
        textView->finishLoading();
    }
    m_dirty = true;
    flush();
    updateStatus();
}

void ValuePanel::saveRow()
{
    if (flush() && m_commit)
        m_commit();
}

void ValuePanel::updateStatus()
{
    QStringList parts;
    if (m_isNull) {
        parts << QStringLiteral("NULL");
    } else if ((m_mode == Mode::Text || m_mode == Mode::Json) && textView->isLoading()) {
        parts << QStringLiteral("Loading...");
    } else if (m_mode == Mode::Text || m_mode == Mode::Json) {
        parts << QStringLiteral("%L1 characters").arg(textView->characterCount());
        if (!m_jsonState.isEmpty())
            parts << m_jsonState;
    } else if (m_mode == Mode::Hex) {
        parts << QStringLiteral("%L1 bytes").arg(hexView->bytes().size());
    } else {
        parts << m_imageInfo;
    }
    if (m_cell.isValid() && !m_editable)
        parts << QStringLiteral("Read-only");
    else if (m_dirty)
        parts << QStringLiteral("Edited");
    if (!m_note.isEmpty())
        parts << m_note;
    status->setText(parts.join(QStringLiteral(" \u00b7 ")));
}

void ValuePanel::updateControls()
{
    const bool valid = m_cell.isValid();
    const bool text = m_mode == Mode::Text || m_mode == Mode::Json;
    const bool nullable = valid && model()->rowSet() && model()->rowSet()->field(m_cell.column()).isNullable();
    modeBox->setEnabled(valid);
    nullBox->setEnabled(m_editable && (nullable || m_isNull));
    wrapBox->setEnabled(text);
    compactButton->setVisible(m_mode == Mode::Json);
    compactButton->setEnabled(m_editable && !m_isNull);
    loadButton->setEnabled(m_editable);
    saveButton->setEnabled(valid && !m_isNull);
    externalButton->setEnabled(m_editable);
    saveRowButton->setEnabled(m_editable);
}

void ValuePanel::returnToGrid()
{
    flush();
    m_view.setFocus();
}

void ValuePanel::focusPanel()
{
    show();
    raise();
    pages->currentWidget()->setFocus(Qt::ShortcutFocusReason);
}

void ValuePanel::tell(const QString &text)
{
    if (m_tell)
        m_tell(text);
}

bool ValuePanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == imageView && event->type() == QEvent::Resize && !m_image.isNull()) {
        const QSize room = imageView->size().boundedTo(m_image.size());
        imageView->setPixmap(QPixmap::fromImage(m_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    } else if (event->type() == QEvent::FocusOut) {
        flush(); // before the grid can write the row
    } else if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            returnToGrid();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && key->modifiers().testFlag(Qt::ControlModifier)) {
            saveRow();
            return true;
        }
    }
    return QDockWidget::eventFilter(watched, event);
}
