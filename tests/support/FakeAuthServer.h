#pragma once

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>

// A minimal impostor of a MySQL server on a loopback port: it sends a
// handshake (no TLS offered), reads the client's answer, then asks the client
// to switch to the clear-text password method and keeps whatever comes back.
// Everything the client sent is in received(), for tests that check a
// password never leaves the process.
class FakeAuthServer
{
public:
    FakeAuthServer();
    ~FakeAuthServer();
    FakeAuthServer(const FakeAuthServer &) = delete;
    FakeAuthServer &operator=(const FakeAuthServer &) = delete;

    quint16 port() const { return m_port; }
    QByteArray received() const;
    // True once the client sent its handshake answer.
    bool sawLogin() const { return m_sawLogin; }

private:
    void serve();
    void serveClient(int fd);

    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_sawLogin{false};
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};
