#pragma once

#include <QString>

#include <optional>

class Desktop;

// The ask-pass program of the SSH tunnels (db/SshTunnel): ssh starts this
// editor again, with SshTunnel::AskPassVariable set and its question as the
// one argument, and reads the answer from its output. A passphrase, password
// or one-time code is asked in a password field under ssh's own prompt; the
// question about an unknown host key (with its fingerprint) is answered by
// accepting or refusing. A changed host key is never asked: ssh refuses it.
class AskPass
{
public:
    explicit AskPass(Desktop &desktop) : m_desktop(desktop) { }

    // The answer to ssh's `prompt`; none when the user refused or cancelled.
    std::optional<QString> answer(const QString &prompt);
    // ssh asks whether to trust a host key it does not know.
    static bool isHostKeyQuestion(const QString &prompt);

    // This process is ssh's ask-pass program.
    static bool isRequested();
    // Runs the ask-pass program: 0 with the answer written for ssh, 1 when
    // refused. With CORVANE_ASKPASS_ANSWERS naming a file (for tests), the
    // answer is that file's first line, taken out of it ("!refuse" refuses),
    // and the prompt is added to the file named as it plus ".asked".
    static int main(int argc, char *argv[]);
    // Makes this program the one the tunnels ask through.
    static void install();

private:
    std::optional<QString> secret(const QString &prompt);

    Desktop &m_desktop;
};
