#include "pages/ConnectionSecurity.h"

#include "db/TlsOptions.h"
#include "frame/Desktop.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ConnectionSecurity::ConnectionSecurity(Desktop &desktop, QWidget *parent) : QDialog(parent), m_desktop(desktop)
{
    setObjectName(QStringLiteral("ConnectionSecurity"));
    setWindowTitle(QStringLiteral("Connection security"));

    modeLabel = new QLabel(QStringLiteral("&Encryption:"), this);
    modeComboBox = new QComboBox(this);
    modeComboBox->setObjectName(QStringLiteral("modeComboBox"));
    modeComboBox->addItem(
        QStringLiteral("Preferred: encrypt when the server offers it"), TlsOptions::modeName(TlsMode::Preferred));
    modeComboBox->addItem(QStringLiteral("Required"), TlsOptions::modeName(TlsMode::Required));
    modeComboBox->addItem(
        QStringLiteral("Required, check the certificate against the CA file"), TlsOptions::modeName(TlsMode::VerifyCa));
    modeComboBox->addItem(QStringLiteral("Required, check the certificate and the host name"),
        TlsOptions::modeName(TlsMode::VerifyIdentity));
    modeLabel->setBuddy(modeComboBox);
    modeComboBox->setAccessibleName(QStringLiteral("Encryption"));

    caFileLabel = new QLabel(QStringLiteral("&CA file:"), this);
    caFileEdit = new QLineEdit(this);
    caFileEdit->setObjectName(QStringLiteral("caFileEdit"));
    caFileLabel->setBuddy(caFileEdit);
    caFileEdit->setAccessibleName(QStringLiteral("CA file"));
    browseButton = new QPushButton(QStringLiteral("&Browse..."), this);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setAccessibleName(QStringLiteral("Browse"));
    browseButton->setAutoDefault(false);

    sshHostLabel = new QLabel(QStringLiteral("&SSH host:"), this);
    sshHostEdit = new QLineEdit(this);
    sshHostEdit->setObjectName(QStringLiteral("sshHostEdit"));
    sshHostLabel->setBuddy(sshHostEdit);
    sshHostEdit->setAccessibleName(QStringLiteral("SSH host"));
    sshHostEdit->setPlaceholderText(QStringLiteral("[user@]host[:port]"));
    sshHintLabel = new QLabel(QStringLiteral("Empty: connect directly. Otherwise the connection goes through this host "
                                             "(or Host of ~/.ssh/config) with your ssh, and the server and port name "
                                             "the database as that host sees it."),
        this);
    sshHintLabel->setObjectName(QStringLiteral("sshHintLabel"));
    sshHintLabel->setWordWrap(true);
    sshHostEdit->setAccessibleDescription(sshHintLabel->text());

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setAccessibleName(okButton->text());
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAccessibleName(cancelButton->text());

    auto *grid = new QGridLayout(this);
    grid->addWidget(modeLabel, 0, 0);
    grid->addWidget(modeComboBox, 0, 1, 1, 2);
    grid->addWidget(caFileLabel, 1, 0);
    grid->addWidget(caFileEdit, 1, 1);
    grid->addWidget(browseButton, 1, 2);
    grid->addWidget(sshHostLabel, 2, 0);
    grid->addWidget(sshHostEdit, 2, 1, 1, 2);
    grid->addWidget(sshHintLabel, 3, 1, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    setTabOrder(modeComboBox, caFileEdit);
    setTabOrder(caFileEdit, browseButton);
    setTabOrder(browseButton, sshHostEdit);
    setTabOrder(sshHostEdit, okButton);
    setTabOrder(okButton, cancelButton);

    connect(browseButton, &QPushButton::clicked, this, &ConnectionSecurity::browse);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(modeComboBox, &QComboBox::currentIndexChanged, this, &ConnectionSecurity::updateCaFile);
    updateCaFile();
}

void ConnectionSecurity::setMode(const QString &modeName)
{
    const int i = modeComboBox->findData(TlsOptions::modeName(TlsOptions::modeFrom(modeName)));
    modeComboBox->setCurrentIndex(i < 0 ? 0 : i);
}

QString ConnectionSecurity::mode() const
{
    return modeComboBox->currentData().toString();
}

void ConnectionSecurity::setCaFile(const QString &path)
{
    caFileEdit->setText(path);
}

QString ConnectionSecurity::caFile() const
{
    return caFileEdit->text();
}

void ConnectionSecurity::setSshHost(const QString &destination)
{
    sshHostEdit->setText(destination);
}

QString ConnectionSecurity::sshHost() const
{
    return sshHostEdit->text().trimmed();
}

void ConnectionSecurity::updateCaFile()
{
    // The CA file matters to the verifying modes only.
    const TlsMode m = TlsOptions::modeFrom(mode());
    const bool verifies = m == TlsMode::VerifyCa || m == TlsMode::VerifyIdentity;
    for (QWidget *w :
        {static_cast<QWidget *>(caFileLabel), static_cast<QWidget *>(caFileEdit), static_cast<QWidget *>(browseButton)})
        w->setEnabled(verifies);
}

void ConnectionSecurity::browse()
{
    const QString path = m_desktop.openFileName(this, QStringLiteral("CA file"), caFileEdit->text(),
        QStringLiteral("Certificates (*.pem *.crt)|*.pem;*.crt|All files (*)|*"));
    if (!path.isEmpty())
        caFileEdit->setText(path);
}
