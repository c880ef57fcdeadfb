#pragma once

#include "schema/SchemaOpener.h"

#include "schema/ColumnDefinition.h"
#include "schema/SchemaStatements.h"

#include <QDialog>
#include <QPointer>
#include <QTreeWidget>

#include <memory>

class Connection;
class PagePointer;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Trap;

// The Add Column dialog. Its opener sets `callingform` before showing it:
// "Form3" adds the column to the open table (CurrentTable) over the dialog's
// own connection; "frmNewTable" appends a field row to the list given by
// setFieldList() and sends nothing. Created afresh for every use.
class frmNewColumn : public QDialog
{
    Q_OBJECT
public:
    frmNewColumn(SchemaOpener opener, QWidget *parent);
    ~frmNewColumn() override;

    // Creates the dialog and runs its load, as the openers do.
    static std::unique_ptr<frmNewColumn> load(SchemaOpener opener, QWidget *parent);

    // Load: colours, icon, cursor, first entries, then opens the connection.
    void Form_Load();
    // The position list's choice: AFTER lists the open table's columns.
    void cboPosition_Click();
    // "Add". Does nothing while an add is running or once the dialog is
    // closing, so a double press sends nothing twice.
    void PushButton1_Click();

    // The list that the new-table use appends to (frmNewTable's ListView1).
    void setFieldList(QTreeWidget *list) { m_fieldList = list; }

    // The column as the controls describe it now.
    ColumnDefinition definition() const;
    ColumnPosition position() const;

    // "Error: " + description, CR LF, "SQL: " + sql.
    static QString sqlReportText(const QString &description, const QString &sql);

    PagePointer &pointer() const { return *m_pointer; }
    Connection *connection() const { return m_connection.get(); }

    QString callingform;

    QLabel *Label5, *Label2, *Label1, *Label4, *Label3;
    QLineEdit *txtName, *txtM, *txtD, *txtDefault;
    QComboBox *cboDataType, *cboPosition, *cboColumnName;
    QCheckBox *chkUnsigned, *chkAutoInc, *chkZeroFill;
    QPushButton *PushButton1;

private:
    void buildControls();
    void layoutControls();
    void addColumn();
    void addToOpenTable(Trap &trap);
    void appendFieldRow(Trap &trap);
    void closeDialog();
    Connection &openConnection() const;

    SchemaOpener m_opener;
    PagePointer *m_pointer;
    std::shared_ptr<Connection> m_connection;
    QPointer<QTreeWidget> m_fieldList;
    bool m_adding = false;
    bool m_closing = false;
};
