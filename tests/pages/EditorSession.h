#pragma once

#include "grid/GridModel.h"
#include "grid/GridView.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Wizard.h"
#include "support/FakeDesktop.h"
#include "support/SignIn.h"
#include "support/TestDb.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <memory>

// The pages over the test server, as the page tests drive them: a wizard
// whose sign-in page holds the database's values (`port` overrides the
// server's, e.g. for a proxy in between), and the picker set to one table.
inline std::unique_ptr<Wizard> signedInWizard(FakeDesktop &desktop, const QString &db, const QString &port = QString())
{
    ConnectionFields fields = TestDb::fields(db);
    if (!port.isEmpty())
        fields.port = port;
    return signedInWizard(desktop, fields);
}

// Shows the picker, as a user sees it: its waits for the server are given up
// when it is hidden, which a slow connect on a busy machine would otherwise meet.
inline void pickTable(Wizard &wizard, const QString &table)
{
    Form2 *f2 = wizard.form2();
    f2->show();
    f2->List1->clear();
    f2->List1->addItem(table);
    f2->List1->setCurrentRow(0);
}

// What each page test holds: the fake desktop, the pages once signed in
// (m_wizard), and the parts of the editor the tests reach for.
struct EditorPages
{
    FakeDesktop m_desktop;
    std::unique_ptr<Wizard> m_wizard;

    Form2 *picker() { return m_wizard->form2(); }
    Form3 *editor() { return m_wizard->form3(); }
    GridModel *model() { return editor()->model(); }
    GridOrder *order() { return editor()->order(); }
    GridView *view() { return editor()->DataGrid1; }

    // Signs in to `db` and opens `table` in the editor, read to its end.
    void openTable(const QString &db, const QString &table) { openTable(TestDb::fields(db), table); }
    void openTable(const ConnectionFields &fields, const QString &table)
    {
        m_wizard = signedInWizard(m_desktop, fields);
        pickTable(*m_wizard, table);
        m_wizard->form2()->PushButton3_Click();
        QVERIFY(model()->exportSource().waitUntilLoaded({}));
    }
};
