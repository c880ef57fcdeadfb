#pragma once

#include <QDialog>

class Desktop;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Connection security" dialog of the sign-in page: how much the
// connection insists on TLS, and the CA file the verifying modes check the
// server's certificate with. Mode names are those of TlsOptions. Browse asks
// `desktop` for the file.
class ConnectionSecurity : public QDialog
{
    Q_OBJECT
public:
    explicit ConnectionSecurity(Desktop &desktop, QWidget *parent = nullptr);

    void setMode(const QString &modeName);
    QString mode() const;
    void setCaFile(const QString &path);
    QString caFile() const;
    // The SSH host the connection goes through; empty: a direct connection.
    void setSshHost(const QString &destination);
    QString sshHost() const;

    // The settings keys beside the five sign-in values.
    static constexpr char ModeKey[] = "MyTlsMode";
    static constexpr char CaFileKey[] = "MyTlsCaFile";
    static constexpr char SshHostKey[] = "MySshHost";

    QLabel *modeLabel, *caFileLabel, *sshHostLabel, *sshHintLabel;
    QComboBox *modeComboBox;
    QLineEdit *caFileEdit, *sshHostEdit;
    QPushButton *browseButton, *okButton, *cancelButton;

private:
    void browse();
    void updateCaFile();

    Desktop &m_desktop;
};
