#pragma once

#include <QByteArray>

#include <cstddef>

// Blocking socket helpers for the test proxies. Each returns false (or -1)
// when the peer is gone or the call failed; nothing throws but listenOnLoopback.
bool sendAll(int fd, const char *data, size_t size);
bool readAll(int fd, char *data, size_t size);
// A TCP connection to host:port (IPv4; an empty host is 127.0.0.1), or -1.
int connectTo(const QByteArray &host, quint16 port);
// A listening socket on a free loopback port, which `port` is set to.
// Throws std::runtime_error naming `who` when none can be had.
int listenOnLoopback(quint16 &port, const char *who);
