#pragma once

#include <QString>

#include <functional>
#include <memory>

class Connection;
class Desktop;
class KeptConnection;
class QWidget;

// What a schema dialog takes from the page that opens it, so the dialogs
// need nothing from the pages: the desktop services, the sign-in text for the
// dialog's connection, and the open table (for the Add Column dialog
// opened by the editor). Both are asked for when needed, as the sign-in
// fields hold them then.
struct SchemaOpener
{
    Desktop &desktop;
    std::function<QString()> connectionString;
    std::function<QString()> currentTable;
    // The pages' kept connection (see KeptConnection); null: the dialog
    // opens one of its own.
    KeptConnection *kept = nullptr;

    // Makes `connection` the dialog's open connection: the kept one when it
    // was opened with the sign-in text's values and looks alive, else
    // `connection` opened while `dialog` holds its input (and kept, when
    // there is a kept connection). Throws what opening throws.
    void open(QWidget *dialog, std::shared_ptr<Connection> &connection) const;
    // Lets go of the dialog's connection: closes it unless it is the kept one.
    void release(std::shared_ptr<Connection> &connection) const;
};
