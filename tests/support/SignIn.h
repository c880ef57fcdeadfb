#pragma once

#include "db/ConnectionString.h"
#include "frame/Services.h"
#include "pages/Form1.h"
#include "pages/Wizard.h"

#include <QLineEdit>

#include <memory>

class Desktop;

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
