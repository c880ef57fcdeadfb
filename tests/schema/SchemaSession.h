#pragma once

#include "db/ConnectionString.h"
#include "frame/SettingsStore.h"
#include "pages/Form1.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/SignIn.h"
#include "support/TestDb.h"

#include <QFile>
#include <QLineEdit>
#include <QStringList>

#include <memory>

// A signed-in program for the schema dialogs: a wizard whose sign-in fields
// point at the test database, with a scripted desktop.
struct SchemaSession
{
    explicit SchemaSession(const ConnectionFields &fields)
    {
        // The settings of an earlier session would sign in by themselves.
        QFile::remove(SettingsStore::fileName());
        wizard = signedInWizard(desktop, fields);
        desktop.clear();
    }

    FakeDesktop desktop;
    std::unique_ptr<Wizard> wizard;
};

// "Field|Type|Default" of every column of `table`, in table order.
inline QStringList columnsOf(const QString &database, const QString &table)
{
    QStringList out;
    for (const QString &row : TestDb::rows(database, QStringLiteral("SHOW COLUMNS FROM `") + table + QStringLiteral("`"))) {
        const QStringList cells = row.split(QLatin1Char('|'));
        out << cells.value(0) + QLatin1Char('|') + cells.value(1) + QLatin1Char('|') + cells.value(4);
    }
    return out;
}

inline QStringList namesOf(const QString &database, const QString &table)
{
    QStringList out;
    for (const QString &c : columnsOf(database, table))
        out << c.section(QLatin1Char('|'), 0, 0);
    return out;
}
