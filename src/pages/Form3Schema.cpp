#include "pages/Form3.h"

#include "core/Failure.h"
#include "frame/Locations.h"
#include "frame/Trap.h"
#include "pages/Wizard.h"
#include "schema/frmNewColumn.h"

#include <QComboBox>

#include <memory>

void Form3::chkNewColumn_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form3_chkNewColumn_Click));
    std::unique_ptr<frmNewColumn> dialog;
    const auto need = [&]() -> frmNewColumn & {
        if (!dialog)
            throw Failure(QStringLiteral("Object required"), Failure::ObjectRequired);
        return *dialog;
    };
    // Touching the dialog creates it and runs its load.
    trap.step(100, [&] {
        dialog = frmNewColumn::load(m_wizard.schemaOpener(), this);
        dialog->cboPosition->setVisible(true);
    });
    trap.step(102, [&] { need().cboColumnName->setVisible(true); });
    trap.step(104, [&] { need().callingform = QStringLiteral("Form3"); });
    trap.step(106, [&] { need().exec(); });
    dialog.reset();
    // Lines 108 and 110: the grid's query again, and the grid laid out anew,
    // whether a column was added or the dialog was closed.
    trap.step(108, [&] { requeryGrid(); });
}
