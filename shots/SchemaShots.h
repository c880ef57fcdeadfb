#pragma once

#include <QString>

#include <memory>

class QWidget;
class Wizard;
class frmNewColumn;
class frmNewTable;

// The two schema dialogs in a filled state, for screenshots. Neither touches
// the database beyond the connection that the Add Column dialog's load opens
// (point the wizard's sign-in fields at a closed port to skip it).
namespace SchemaShots {

// As the editor opens it: a DECIMAL(10, 2) UNSIGNED column with a default,
// placed AFTER "item".
std::unique_ptr<frmNewColumn> filledNewColumn(Wizard &wizard);

// As the New Table dialog opens it: no position lists; a VARCHAR(40) field.
std::unique_ptr<frmNewColumn> filledNewColumnForList(Wizard &wizard);

// Table "orders" with four field rows, the second one selected.
std::unique_ptr<frmNewTable> filledNewTable(Wizard &wizard);

// Shows `window`, lets it lay out and saves what it draws as a PNG.
bool grab(QWidget *window, const QString &fileName);

} // namespace SchemaShots
