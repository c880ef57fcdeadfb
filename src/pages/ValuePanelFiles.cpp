#include "pages/ValuePanel.h"

#include "core/Failure.h"
#include "frame/Desktop.h"
#include "frame/ExternalEdit.h"
#include "grid/GridModel.h"
#include "grid/TextValueView.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSaveFile>
#include <QScopedValueRollback>

void ValuePanel::loadFromFile()
{
    if (!m_editable)
        return;
    const QString name = m_desktop.openFileName(
        this, QStringLiteral("Load Value from File"), QString(), QStringLiteral("All Files (*)|*"));
    if (name.isEmpty())
        return;
    QFile in(name);
    if (!in.open(QIODevice::ReadOnly)) {
        tell(QStringLiteral("Cannot read \"%1\": %2").arg(name, in.errorString()));
        return;
    }
    const QByteArray bytes = in.readAll();
    m_dirty = false;
    if (m_chosenColumn == m_cell.column() && m_chosenMode != Mode::Hex)
        m_chosenColumn = -1; // the file's own kind decides how it shows (an image, say)
    setHeld(bytes);
    m_note = QStringLiteral("Loaded from %1").arg(QFileInfo(name).fileName());
    updateStatus();
}

void ValuePanel::saveToFile()
{
    flush();
    if (!m_cell.isValid())
        return;
    if (model()->data(m_cell, GridModel::NullRole).toBool()) {
        tell(QStringLiteral("The value is NULL: there is nothing to save."));
        return;
    }
    const QByteArray bytes = model()->data(m_cell, GridModel::BytesRole).toByteArray();
    const QString suffix = ValueKind::suffixFor(m_mode, bytes).mid(1);
    const QString name = m_desktop.saveFileName(this, QStringLiteral("Save Value to File"),
        QStringLiteral("%1 Files (*.%2)|*.%2|All Files (*)|*").arg(suffix.toUpper(), suffix));
    if (name.isEmpty())
        return;
    QSaveFile out(name);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        tell(QStringLiteral("Cannot write \"%1\": %2").arg(name, out.errorString()));
}

void ValuePanel::editExternally()
{
    if (!flush() || !m_editable)
        return;
    // What the panel shows goes out (JSON as laid out here), the raw bytes
    // for hex and images.
    const QByteArray bytes = m_mode == Mode::Text || m_mode == Mode::Json
        ? textView->value().toUtf8()
        : model()->data(m_cell, GridModel::BytesRole).toByteArray();
    try {
        m_external->start(bytes, ValueKind::suffixFor(m_mode, bytes));
    } catch (const Failure &e) {
        tell(e.description());
        return;
    }
    m_externalCell = m_cell;
    m_note = QStringLiteral("Open in the external editor");
    updateStatus();
}

void ValuePanel::externalSaved(const QByteArray &bytes)
{
    if (!m_externalCell.isValid())
        return;
    bool taken = false;
    {
        const QScopedValueRollback<bool> loading(m_loading, true);
        taken = model()->setData(m_externalCell, bytes);
    }
    m_note = taken ? QStringLiteral("Changed in the external editor")
                   : QStringLiteral("The external editor's change was not taken: the grid holds edits of another "
                                    "row");
    if (m_externalCell == m_cell)
        reload();
    updateStatus();
}
