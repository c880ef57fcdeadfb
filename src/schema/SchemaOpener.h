#pragma once

#include <QString>

#include <functional>

class Desktop;

// What a schema dialog takes from the page that opens it, so the dialogs
// need nothing from the pages: the desktop services, the sign-in text for the
// dialog's own connection, and the open table (for the Add Column dialog
// opened by the editor). Both are asked for when needed, as the sign-in
// fields hold them then.
struct SchemaOpener
{
    Desktop &desktop;
    std::function<QString()> connectionString;
    std::function<QString()> currentTable;
};
