#pragma once

#include "db/ConnectionString.h"

#include <QWidget>

class Connection;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class PagePointer;
class Wizard;

// The sign-in page: the five sign-in values (their one home for the whole
// run), "Test Connection", "Help" and "Next >" to the table picker.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(Wizard &wizard);

    // The load sequence: skin, caption and icon, cursor, the stored values,
    // the automatic sign-in, the PDF printer check.
    void Form_Load();

    void PushButton5_Click(); // "Test Connection"
    void PushButton2_Click(); // "Help"
    void PushButton3_Click(); // "Next >"
    // The small button beside the port: the "Connection security" dialog.
    void showSecurity();

    ConnectionFields fields() const;
    // True once "Next >" went on to the picker (by hand or at start).
    bool wentOn() const { return m_wentOn; }
    // A sign-in or "Test Connection" waits for the server.
    bool isConnecting() const { return m_connecting; }
    PagePointer &pointer() const { return *m_pointer; }

    static QString helpText();

    // Tells the user how to set up the PDF printer when it is missing.
    void checkPdfPrinter();

    QGroupBox *Frame1;
    QLabel *Label2, *Label9, *Label1, *Label4, *Label3;
    QLineEdit *Text1, *Text5, *Text2, *Text3, *Text4;
    QPushButton *PushButton5, *PushButton2, *PushButton3;
    QToolButton *securityButton;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void storeOnChange(QLineEdit *field, const char *key);
    // Opens `connection` with the sign-in values, the window alive meanwhile;
    // false when the user gave up waiting.
    bool connectWaiting(Connection &connection);
    // Whether the sign-in values reach the server, the window alive
    // meanwhile; false too when the user gave up waiting. The connection
    // that tells stays open for the pages (Wizard::keptConnection).
    bool canConnect();

    Wizard &m_wizard;
    PagePointer *m_pointer;
    bool m_wentOn = false;
    bool m_connecting = false; // a sign-in or test waits for the server
    // Connection security, kept in the settings beside the five values.
    QString m_tlsMode;
    QString m_caFile;
    QString m_sshHost;
};
