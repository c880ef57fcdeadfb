#pragma once

#include <functional>
#include <memory>

class Connection;
struct ConnectParams;

// The signed-in connection the pages share, so that the sign-in check, the
// table list and the editor sign in once instead of once each. It is shared
// only for equal sign-in values (TLS settings included) and only while it
// looks alive (Connection::looksAlive: no statement is sent to find out); a
// session lost without a sign is found on use, as any other. Its users run
// on the window thread, one statement at a time.
class KeptConnection
{
public:
    // The kept connection when it was opened with `params` and looks alive;
    // else a new one, opened by `open` and kept from then on. Null when
    // `open` returns false (the user gave up). Throws what `open` throws.
    std::shared_ptr<Connection> share(const ConnectParams &params, const std::function<bool(Connection &)> &open);
    // Lets go of the kept connection; it closes once no page holds it.
    void forget() { m_connection.reset(); }

private:
    std::shared_ptr<Connection> m_connection;
};
