// Writes frmNewColumn.png (as the editor opens it), frmNewColumn-list.png (as
// the New Table dialog opens it) and frmNewTable.png, each in a filled state,
// into the folder given (default: the current one).
//   QT_QPA_PLATFORM=offscreen build/bin/schema-shots docs
#include "SchemaShots.h"

#include "frame/Services.h"
#include "pages/Form1.h"
#include "pages/Wizard.h"
#include "schema/frmNewColumn.h"
#include "schema/frmNewTable.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

int main(int argc, char *argv[])
{
    // The sign-in fields below are stored as they are typed: keep them out
    // of the user's own settings.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    FakeDesktop desktop; // the load's failed connection is reported here, silently
    Wizard wizard(Services{&desktop});
    wizard.form1()->Text1->setText(QStringLiteral("127.0.0.1"));
    wizard.form1()->Text5->setText(QStringLiteral("1"));

    const auto column = SchemaShots::filledNewColumn(wizard);
    const auto forList = SchemaShots::filledNewColumnForList(wizard);
    const auto table = SchemaShots::filledNewTable(wizard);
    const bool ok = SchemaShots::grab(column.get(), folder + QStringLiteral("/frmNewColumn.png"))
        && SchemaShots::grab(forList.get(), folder + QStringLiteral("/frmNewColumn-list.png"))
        && SchemaShots::grab(table.get(), folder + QStringLiteral("/frmNewTable.png"));
    return ok ? 0 : 1;
}
