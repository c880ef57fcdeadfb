#include "pages/Form1.h"

#include "core/Failure.h"
#include "db/Connection.h"
#include "export/PdfExport.h"
#include "frame/Locations.h"
#include "frame/Main.h"
#include "frame/PagePointer.h"
#include "frame/SettingsStore.h"
#include "frame/Trap.h"
#include "pages/ConnectionSecurity.h"
#include "pages/Form2.h"
#include "pages/OpenProgress.h"
#include "pages/SecurityBadge.h"
#include "pages/TableList.h"
#include "pages/Wizard.h"
#include "print/Printers.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

Form1::Form1(Wizard &wizard) : m_wizard(wizard), m_pointer(new PagePointer(this))
{
    setObjectName(QStringLiteral("Form1"));
    buildControls();
}

void Form1::buildControls()
{
    setFont(QFont(QStringLiteral("Arial"), 9));
    Frame1 = new QGroupBox(QStringLiteral("MySQL Login"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));

    const auto label = [this](const char *name, const char *caption) {
        auto *l = new QLabel(QString::fromUtf8(caption), Frame1);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    const auto field = [this](const char *name, QLabel *buddy) {
        auto *e = new QLineEdit(Frame1);
        e->setObjectName(QString::fromLatin1(name));
        buddy->setBuddy(e);
        e->setAccessibleName(buddy->text().chopped(1));
        e->installEventFilter(this);
        return e;
    };
    Label2 = label("Label2", "Server:");
    Text1 = field("Text1", Label2);
    Label9 = label("Label9", "Port:");
    Text5 = field("Text5", Label9);
    Label1 = label("Label1", "Username:");
    Text2 = field("Text2", Label1);
    Label4 = label("Label4", "Password:");
    Text3 = field("Text3", Label4);
    Text3->setEchoMode(QLineEdit::Password);
    Label3 = label("Label3", "Database:");
    Text4 = field("Text4", Label3);
    Text5->setMaximumWidth(70);

    const auto button = [this](const char *name, const char *caption, QWidget *parent) {
        auto *b = new QPushButton(QString::fromUtf8(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    PushButton5 = button("PushButton5", "Test Connection", Frame1);
    PushButton2 = button("PushButton2", "Help", Frame1);
    PushButton3 = button("PushButton3", "Next >", this);
    PushButton3->setMinimumHeight(32);
    securityButton = new QToolButton(Frame1);
    securityButton->setObjectName(QStringLiteral("securityButton"));
    securityButton->setIcon(SecurityBadge::lockIcon(true));
    securityButton->setToolTip(QStringLiteral("Connection security"));
    securityButton->setAccessibleName(QStringLiteral("Connection security"));
    securityButton->setFocusPolicy(Qt::StrongFocus);

    auto *grid = new QGridLayout(Frame1);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(Text1, 0, 1);
    grid->addWidget(Label9, 0, 2);
    grid->addWidget(Text5, 0, 3);
    grid->addWidget(securityButton, 0, 4);
    grid->addWidget(Label1, 1, 0);
    grid->addWidget(Text2, 1, 1, 1, 4);
    grid->addWidget(Label4, 2, 0);
    grid->addWidget(Text3, 2, 1, 1, 4);
    grid->addWidget(Label3, 3, 0);
    grid->addWidget(Text4, 3, 1, 1, 4);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(PushButton5, 1);
    buttons->addStretch(1);
    buttons->addWidget(PushButton2, 1);
    grid->addLayout(buttons, 4, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    auto *page = new QVBoxLayout(this);
    page->addWidget(Frame1);
    page->addWidget(PushButton3);
    resize(420, 250);

    setTabOrder(Text1, Text5);
    setTabOrder(Text5, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, Text4);
    setTabOrder(Text4, PushButton5);
    setTabOrder(PushButton5, PushButton2);
    setTabOrder(PushButton2, PushButton3);
    // Last, so the order of the sign-in fields and buttons stays as it was.
    setTabOrder(PushButton3, securityButton);

    // White unless a skin is applied.
    Main::setBackgrounds(this, Qt::white);

    for (QWidget *b : {PushButton2, PushButton3, PushButton5})
        m_pointer->watchButton(b);
    for (QWidget *a : {static_cast<QWidget *>(this), static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Text1),
                       static_cast<QWidget *>(Text2), static_cast<QWidget *>(Text3), static_cast<QWidget *>(Text4)})
        m_pointer->watchArea(a);

    storeOnChange(Text1, "MyServer");
    storeOnChange(Text2, "MyUser");
    storeOnChange(Text3, "MyPassword");
    storeOnChange(Text4, "MyDatabase");
    storeOnChange(Text5, "MyPort");

    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(securityButton, &QToolButton::clicked, this, &Form1::showSecurity);
}

void Form1::showSecurity()
{
    ConnectionSecurity dialog(m_wizard.desktop(), this);
    dialog.setMode(m_tlsMode);
    dialog.setCaFile(m_caFile);
    dialog.setSshHost(m_sshHost);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_tlsMode = dialog.mode();
    m_caFile = dialog.caFile();
    m_sshHost = dialog.sshHost();
    SettingsStore::write(QString::fromLatin1(ConnectionSecurity::ModeKey), m_tlsMode);
    SettingsStore::write(QString::fromLatin1(ConnectionSecurity::CaFileKey), m_caFile);
    SettingsStore::write(QString::fromLatin1(ConnectionSecurity::SshHostKey), m_sshHost);
}

void Form1::storeOnChange(QLineEdit *field, const char *key)
{
    const QString k = QString::fromLatin1(key);
    connect(field, &QLineEdit::textChanged, this, [k](const QString &text) { SettingsStore::write(k, text); });
}

ConnectionFields Form1::fields() const
{
    return {Text1->text(), Text2->text(), Text3->text(), Text4->text(), Text5->text(), m_tlsMode, m_caFile, m_sshHost};
}

void Form1::Form_Load()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form1_Form_Load));
    trap.step(100, [&] { Main::ApplySkin(this); });
    trap.step(104, [&] {
        setWindowTitle(QString::fromLatin1(Main::ProductName));
        setWindowIcon(Main::appIcon());
        Main::SetAppTitle();
    });
    m_pointer->loadHandCursor(trap, 124, 126);
    trap.step(128, [&] { Text1->setText(SettingsStore::read(QStringLiteral("MyServer"), QStringLiteral("localhost"))); });
    trap.step(130, [&] { Text2->setText(SettingsStore::read(QStringLiteral("MyUser"), QString())); });
    trap.step(132, [&] { Text3->setText(SettingsStore::read(QStringLiteral("MyPassword"), QString())); });
    trap.step(134, [&] { Text4->setText(SettingsStore::read(QStringLiteral("MyDatabase"), QString())); });
    trap.step(136, [&] {
        Text5->setText(SettingsStore::read(QStringLiteral("MyPort"), QStringLiteral("3306")));
        // A file without these keys connects as "preferred".
        m_tlsMode = SettingsStore::read(QString::fromLatin1(ConnectionSecurity::ModeKey), QString());
        m_caFile = SettingsStore::read(QString::fromLatin1(ConnectionSecurity::CaFileKey), QString());
        m_sshHost = SettingsStore::read(QString::fromLatin1(ConnectionSecurity::SshHostKey), QString());
    });
    if (trap.test(138, [&] {
            return !Text1->text().isEmpty() && !Text2->text().isEmpty() && !Text3->text().isEmpty()
                && !Text4->text().isEmpty();
        })) {
        if (trap.test(140, [&] { return canConnect(); }))
            trap.step(142, [&] { PushButton3_Click(); });
    }
    // In every case, last: a failure here is reported as step 142 too, the
    // number of the step it has always followed.
    trap.step(142, [&] { checkPdfPrinter(); });
}

void Form1::checkPdfPrinter()
{
    if (Printers *printers = m_wizard.services().printers)
        CheckPDFPrinter(*printers, m_wizard.desktop(), this);
}

void Form1::PushButton5_Click()
{
    // A press while a connect is waited for is not a second request.
    if (m_connecting)
        return;
    const QScopedValueRollback<bool> connecting(m_connecting, true);
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form1_PushButton5_Click));
    std::unique_ptr<Connection> connection;
    if (!trap.step(100, [&] { connection = std::make_unique<Connection>(); }))
        return;
    // From here a failure goes to the local check instead of the report.
    bool failed = false;
    QString secureReason; // a refused certificate or missing TLS is named
    try {
        m_pointer->setState(PagePointer::State::Busy);                        // 102
        m_wizard.desktop().processEvents();                                  // 104
        if (!connectWaiting(*connection)) {                                  // 106
            m_pointer->setState(PagePointer::State::Default);
            return;
        }
        // The fallback to a plain connection is named, as a refusal is.
        const QString clear = connection->tlsCipher().isEmpty() && !connection->isLocalSocket()
            ? QStringLiteral("\r\r") + SecurityBadge::notEncryptedText()
            : QString();
        m_wizard.desktop().message(this, Main::appTitle(), QStringLiteral("Connection successful.") + clear); // 108
        m_pointer->setState(PagePointer::State::Default);                    // 110
    } catch (const Failure &f) {
        failed = true;
        if (f.isTlsFailure() || f.isTunnelFailure())
            secureReason = QStringLiteral("\r\r") + f.description();
    } catch (const std::exception &) {
        failed = true;
    }
    if (failed) { // 112
        m_wizard.desktop().message(this, Main::appTitle(),
                                   QStringLiteral("Could not connect. Please check with your administrator. Make sure you are allowed to connect to your database remotely and not just through web-based control panels.") + secureReason); // 114
        m_pointer->setState(PagePointer::State::Default); // 116
    }
}

bool Form1::connectWaiting(Connection &connection)
{
    // Runs before the page shows too (the sign-in at start).
    return openConnection(this, connection, m_wizard.connectionString(), [this] { return !m_wizard.hasEnded(); });
}

bool Form1::canConnect()
{
    // The connection stays open for the table list, shared (KeptConnection).
    try {
        return shareConnection(this, m_wizard.keptConnection(), m_wizard.connectionString(), [this] {
            return !m_wizard.hasEnded();
        }) != nullptr;
    } catch (const Failure &) {
        return false;
    }
}

QString Form1::helpText()
{
    return QStringLiteral("If you cannot establish connection to your database with this program, please go to: ")
        + QStringLiteral("\r\r") + QStringLiteral("https://dev.mysql.com/downloads/workbench/") + QStringLiteral("\r\r")
        + QStringLiteral("Download and install the MySQL Workbench. Try to connect to the same database (with the same login information you are using here). This will determine if the login you are using is correct.")
        + QStringLiteral("\r\r")
        + QStringLiteral("Finally, make sure your host allows a direct connection to your MySQL database -- not a web based connection, for example.");
}

void Form1::PushButton2_Click()
{
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form1_PushButton2_Click));
    QString text;
    trap.step(110, [&] { text = helpText(); });
    trap.step(112, [&] { m_wizard.desktop().message(this, Main::appTitle(), text); });
}

void Form1::PushButton3_Click()
{
    if (m_connecting)
        return;
    const QScopedValueRollback<bool> connecting(m_connecting, true);
    Trap trap(m_wizard.desktop(), this, QLatin1String(Location::Form1_PushButton3_Click));
    std::shared_ptr<Connection> connection;
    trap.step(100, [&] { connection = std::make_shared<Connection>(); });
    if (trap.test(104, [&] { return !canConnect(); }))
        return;
    trap.step(106, [&] { m_pointer->setState(PagePointer::State::Busy); });
    bool gaveUp = false;
    trap.step(110, [&] {
        // The connection the check at 104 opened, unless it was lost since.
        std::shared_ptr<Connection> shared = shareConnection(
            this, m_wizard.keptConnection(), m_wizard.connectionString(), [this] { return !m_wizard.hasEnded(); });
        gaveUp = !shared;
        if (shared)
            connection = std::move(shared);
    });
    if (gaveUp) {
        m_pointer->setState(PagePointer::State::Default);
        return;
    }
    // The first reference to the picker creates and loads it.
    Form2 *picker = m_wizard.form2();
    FillTableList(trap, connection, picker->List1, m_wizard.desktop());
    trap.step(132, [&] { picker->show(); });
    trap.step(134, [&] {
        hide();
        m_wentOn = true;
    });
    trap.step(136, [&] { m_pointer->setState(PagePointer::State::Default); });
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_wizard.endProgram();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Getting the focus selects the whole text, so typing replaces it. Run
    // after the focus change so a mouse click does not undo the selection.
    if (event->type() == QEvent::FocusIn) {
        if (auto *edit = qobject_cast<QLineEdit *>(watched))
            QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
    }
    return QWidget::eventFilter(watched, event);
}
