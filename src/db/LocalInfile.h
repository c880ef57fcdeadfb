#pragma once

#include <QString>

#include <functional>

struct st_mysql;
typedef struct st_mysql MYSQL;

// LOAD DATA LOCAL INFILE served from a stream of ours, never from a file.
// The server names the file it wants, and a hostile or tampered server may
// ask for one at any time, not only after our LOAD DATA statement: left to
// the client library, any file the user can read would be sent. So every
// session refuses such requests, and the one that may take LOAD DATA
// LOCAL (the import's) answers only the statement it sent, with its own
// rows, whatever file name comes back.
class LocalInfile
{
public:
    // Fills `buffer` with up to `size` bytes of the statement's data and
    // returns how many; 0 at the end; -1 fails the statement. Must not throw.
    using Feed = std::function<long(char *buffer, unsigned size)>;

    // Before sign-in. With `allow` the session offers LOAD DATA LOCAL;
    // without it the client refuses it. Either way a request of the server
    // is refused unless a Serving is answering.
    static void setUp(MYSQL *mysql, bool allow);

    // Answers the session's next request of a file, and no other, with
    // `feed` while it lives: around one LOAD DATA LOCAL statement.
    class Serving
    {
    public:
        Serving(MYSQL *mysql, Feed feed);
        ~Serving();
        Serving(const Serving &) = delete;
        Serving &operator=(const Serving &) = delete;

        // Whether the server asked for the data (and got the feed).
        bool wasAsked() const { return m_asked; }

    private:
        friend class LocalInfile;
        MYSQL *m_mysql;
        Feed m_feed;
        bool m_asked = false;
    };

    // The message of a refused request, as the statement's error reads.
    static QString refusal();

private:
    static void install(MYSQL *mysql, Serving *serving);
};
