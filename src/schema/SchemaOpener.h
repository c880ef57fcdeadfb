#pragma once

#include <QString>

class Desktop;

// What a schema dialog takes from the page that opens it, so the dialogs
// need nothing from the pages: the desktop services, the sign-in text for the
// dialog's own connection, and the open table (for the Add Column dialog
// opened by the editor). Read when the dialog is opened; both dialogs are
// modal, so neither can change while one is shown.
struct SchemaOpener
{
    Desktop &desktop;
    QString connectionString;
    QString currentTable;
};
