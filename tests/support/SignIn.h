#pragma once

#include "db/ConnectionString.h"
#include "frame/Services.h"
#include "frame/SettingsStore.h"
#include "pages/Form1.h"
#include "pages/Wizard.h"

#include <QLineEdit>

#include <memory>

class Desktop;

// Stores `fields` as the sign-in page keeps them, for a sign-in at start.
inline void storeSignIn(const ConnectionFields &fields)
{
    SettingsStore::write(QStringLiteral("MyServer"), fields.server);
    SettingsStore::write(QStringLiteral("MyUser"), fields.user);
    SettingsStore::write(QStringLiteral("MyPassword"), fields.password);
    SettingsStore::write(QStringLiteral("MyDatabase"), fields.database);
    SettingsStore::write(QStringLiteral("MyPort"), fields.port);
}

// A wizard over `desktop` whose sign-in page holds `fields`, as the user
// would type them; not started. For tests that link the pages.
inline std::unique_ptr<Wizard> signedInWizard(Desktop &desktop, const ConnectionFields &fields)
{
    Services services;
    services.desktop = &desktop;
    auto wizard = std::make_unique<Wizard>(services);
    Form1 *page = wizard->form1();
    page->Text1->setText(fields.server);
    page->Text2->setText(fields.user);
    page->Text3->setText(fields.password);
    page->Text4->setText(fields.database);
    page->Text5->setText(fields.port);
    return wizard;
}
