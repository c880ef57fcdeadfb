#pragma once

#include <QWidget>

#include <memory>

class Connection;

class QGroupBox;
class QListWidget;
class QPushButton;
class PagePointer;
class Wizard;

// The table picker: the tables of the signed-in database; opens the chosen
// one in the editor, creates a table, or goes back to the sign-in page.
class Form2 : public QWidget
{
    Q_OBJECT
public:
    explicit Form2(Wizard &wizard);

    void Form_Load();
    void PushButton2_Click(); // "< Back"
    void PushButton3_Click(); // "Next >"
    void PushButton4_Click(); // "New Table"

    PagePointer &pointer() const { return *m_pointer; }

    // Shows the New Table dialog modally and returns when it has closed.
    void openNewTableDialog();

    QGroupBox *Frame1;
    QListWidget *List1;
    QPushButton *PushButton2, *PushButton3, *PushButton4;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Puts the connection the pages share for the sign-in values (opened
    // now when there is none) into `connection`; false when given up.
    // Throws Failure.
    bool share(std::shared_ptr<Connection> &connection);

    Wizard &m_wizard;
    PagePointer *m_pointer;
    bool m_opening = false; // "Next >" is waiting for a table
};
