#pragma once

#include "schema/SchemaOpener.h"

#include "schema/ColumnDefinition.h"

#include <QDialog>

#include <memory>
#include <vector>

class PagePointer;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The New Table dialog: a table name and a list of field rows collected
// through the Add Column dialog; "Save" sends one CREATE TABLE over a
// connection of its own and closes. Created afresh for every use.
class frmNewTable : public QDialog
{
    Q_OBJECT
public:
    frmNewTable(SchemaOpener opener, QWidget *parent);
    ~frmNewTable() override;

    // Creates the dialog and runs its load, as the picker does.
    static std::unique_ptr<frmNewTable> load(SchemaOpener opener, QWidget *parent);

    // Load: colours, icon, cursor, the list's eight columns and their widths.
    void Form_Load();
    void cmdAdd_Click();      // "Add" (PushButton4): the Add Column dialog
    void PushButton1_Click(); // "Delete Selected"
    void PushButton2_Click(); // "Save"; a press while one runs, or after it closed the dialog, does nothing
    void PushButton3_Click(); // "Cancel"

    // The list's rows, in list order, as FieldText reads them.
    std::vector<FieldRow> fieldRows() const;

    // Twips (1/1440 inch) to pixels at `dpi` pixels per inch, rounded.
    static int twipsToPixels(int twips, int dpi);

    PagePointer &pointer() const { return *m_pointer; }

    QGroupBox *Frame2, *Frame1;
    QLineEdit *txtName;
    QTreeWidget *ListView1;
    QPushButton *PushButton4, *PushButton1, *PushButton2, *PushButton3;

private:
    void buildControls();

    SchemaOpener m_opener;
    PagePointer *m_pointer;
    bool m_saving = false;
    bool m_saved = false;
};
