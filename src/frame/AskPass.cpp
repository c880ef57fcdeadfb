#include "frame/AskPass.h"

#include "db/SshTunnel.h"
#include "frame/Desktop.h"
#include "frame/QtDesktop.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr char AnswersVariable[] = "CORVANE_ASKPASS_ANSWERS";

std::optional<QString> answerFromFile(const QString &path, const QString &prompt)
{
    QFile asked(path + QStringLiteral(".asked"));
    if (asked.open(QIODevice::Append))
        asked.write(prompt.toUtf8() + "\n\x1e\n");
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return std::nullopt;
    QList<QByteArray> lines = file.readAll().split('\n');
    const QString first = QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.takeFirst());
    file.resize(0);
    file.write(lines.join('\n'));
    if (first == QLatin1String("!refuse"))
        return std::nullopt;
    return first;
}

} // namespace

bool AskPass::isHostKeyQuestion(const QString &prompt)
{
    return prompt.contains(QLatin1String("(yes/no"));
}

std::optional<QString> AskPass::answer(const QString &prompt)
{
    if (!isHostKeyQuestion(prompt))
        return secret(prompt);
    // ssh's own words, with a question our buttons answer.
    QString text = prompt.trimmed();
    text.replace(QRegularExpression(QStringLiteral("\\s*\\(yes/no[^)]*\\)\\?$")), QStringLiteral("?"));
    const Desktop::Answer a = m_desktop.message(nullptr, QStringLiteral("SSH host key"), text, Desktop::Icon::Question,
        Desktop::Buttons::YesNo, Desktop::Answer::No);
    if (a != Desktop::Answer::Yes)
        return std::nullopt;
    return QStringLiteral("yes");
}

std::optional<QString> AskPass::secret(const QString &prompt)
{
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("AskPass"));
    dialog.setWindowTitle(QStringLiteral("SSH"));
    auto *label = new QLabel(prompt.trimmed(), &dialog);
    label->setWordWrap(true);
    auto *field = new QLineEdit(&dialog);
    field->setObjectName(QStringLiteral("txtSecret"));
    field->setEchoMode(QLineEdit::Password);
    field->setAccessibleName(prompt.trimmed());
    label->setBuddy(field);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

bool AskPass::isRequested()
{
    return qEnvironmentVariableIsSet(SshTunnel::AskPassVariable);
}

int AskPass::main(int argc, char *argv[])
{
    // The question goes away with the ssh that asked it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const QString prompt = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    std::optional<QString> answer;
    const QString answers = qEnvironmentVariable(AnswersVariable);
    if (!answers.isEmpty()) {
        answer = answerFromFile(answers, prompt);
    } else {
        QApplication app(argc, argv);
        QtDesktop desktop;
        answer = AskPass(desktop).answer(prompt);
    }
    if (!answer)
        return 1;
    const QByteArray out = answer->toUtf8() + '\n';
    return std::fwrite(out.constData(), 1, size_t(out.size()), stdout) == size_t(out.size()) ? 0 : 1;
}

void AskPass::install()
{
    SshTunnel::setAskPassProgram(QCoreApplication::applicationFilePath());
}
