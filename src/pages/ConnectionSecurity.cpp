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

    lblMode = new QLabel(QStringLiteral("&Encryption:"), this);
    cboMode = new QComboBox(this);
    cboMode->setObjectName(QStringLiteral("cboMode"));
    cboMode->addItem(QStringLiteral("Preferred: encrypt when the server offers it"),
                     TlsOptions::modeName(TlsMode::Preferred));
    cboMode->addItem(QStringLiteral("Required"), TlsOptions::modeName(TlsMode::Required));
    cboMode->addItem(QStringLiteral("Required, check the certificate against the CA file"),
                     TlsOptions::modeName(TlsMode::VerifyCa));
    cboMode->addItem(QStringLiteral("Required, check the certificate and the host name"),
                     TlsOptions::modeName(TlsMode::VerifyIdentity));
    lblMode->setBuddy(cboMode);
    cboMode->setAccessibleName(QStringLiteral("Encryption"));

    lblCaFile = new QLabel(QStringLiteral("&CA file:"), this);
    txtCaFile = new QLineEdit(this);
    txtCaFile->setObjectName(QStringLiteral("txtCaFile"));
    lblCaFile->setBuddy(txtCaFile);
    txtCaFile->setAccessibleName(QStringLiteral("CA file"));
    cmdBrowse = new QPushButton(QStringLiteral("&Browse..."), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setAccessibleName(QStringLiteral("Browse"));
    cmdBrowse->setAutoDefault(false);

    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setAccessibleName(cmdOk->text());
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAccessibleName(cmdCancel->text());

    auto *grid = new QGridLayout(this);
    grid->addWidget(lblMode, 0, 0);
    grid->addWidget(cboMode, 0, 1, 1, 2);
    grid->addWidget(lblCaFile, 1, 0);
    grid->addWidget(txtCaFile, 1, 1);
    grid->addWidget(cmdBrowse, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    setTabOrder(cboMode, txtCaFile);
    setTabOrder(txtCaFile, cmdBrowse);
    setTabOrder(cmdBrowse, cmdOk);
    setTabOrder(cmdOk, cmdCancel);

    connect(cmdBrowse, &QPushButton::clicked, this, &ConnectionSecurity::browse);
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cboMode, &QComboBox::currentIndexChanged, this, &ConnectionSecurity::updateCaFile);
    updateCaFile();
}

void ConnectionSecurity::setMode(const QString &modeName)
{
    const int i = cboMode->findData(TlsOptions::modeName(TlsOptions::modeFrom(modeName)));
    cboMode->setCurrentIndex(i < 0 ? 0 : i);
}

QString ConnectionSecurity::mode() const
{
    return cboMode->currentData().toString();
}

void ConnectionSecurity::setCaFile(const QString &path)
{
    txtCaFile->setText(path);
}

QString ConnectionSecurity::caFile() const
{
    return txtCaFile->text();
}

void ConnectionSecurity::updateCaFile()
{
    // The CA file matters to the verifying modes only.
    const TlsMode m = TlsOptions::modeFrom(mode());
    const bool verifies = m == TlsMode::VerifyCa || m == TlsMode::VerifyIdentity;
    for (QWidget *w : {static_cast<QWidget *>(lblCaFile), static_cast<QWidget *>(txtCaFile),
                       static_cast<QWidget *>(cmdBrowse)})
        w->setEnabled(verifies);
}

void ConnectionSecurity::browse()
{
    const QString path = m_desktop.openFileName(this, QStringLiteral("CA file"), txtCaFile->text(),
        QStringLiteral("Certificates (*.pem *.crt)|*.pem;*.crt|All files (*)|*"));
    if (!path.isEmpty())
        txtCaFile->setText(path);
}
