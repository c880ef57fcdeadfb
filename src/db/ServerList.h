#pragma once

#include <QByteArray>

#include <vector>

// One server of a list of several: a host name or address and its port.
struct ServerAddress
{
    QByteArray host;
    unsigned port = 0; // 0: the client's default

    bool operator==(const ServerAddress &) const = default;
    // "host:port", "[v6]:port", or the host alone for the default port.
    QByteArray text() const;
};

// Reads the server setting: hosts separated by commas, each "host",
// "host:port", "[IPv6]" or "[IPv6]:port"; an address with more than one
// colon outside brackets is an IPv6 address without a port. Blanks around
// each entry are dropped. A host without a port gets `defaultPort`.
// Throws Failure on an empty entry, a port that is not from 1 to 65535, or
// a bracket not closed.
std::vector<ServerAddress> parseServerList(const QByteArray &text, unsigned defaultPort);
// Whether `text` is more than one plain host (a list or a host with its own port).
bool isServerList(const QByteArray &text);
