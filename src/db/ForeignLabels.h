#pragma once

#include "db/Connection.h"
#include "db/ForeignKeys.h"

#include <QString>

#include <functional>

#include <memory>
#include <optional>
#include <vector>

class QObject;

// The labels of the rows a table's foreign keys refer to, read on a
// connection and a thread of their own, so the grid never waits for them.
//
// Once started, it reads the table's foreign keys and picks each one's label
// column: the first text column of the referenced table whose name is, or
// ends with, name, title, label, description or code; else its first text
// column outside the key. Then it answers ask() in order, one statement per
// ask, each value looked up as the server's own check of the key would (its
// collation), and hands what it read to the window thread: it calls `slot`
// of `receiver` by name, and the slot takes it (keys(), take()).
class ForeignLabels
{
public:
    enum class KeyKind { Integer, Text, Other };
    struct Key
    {
        ForeignKey key;
        QByteArray labelColumn; // empty: the referenced table has no text to show
        std::vector<QByteArray> textColumns; // of the referenced table, in order
        std::vector<KeyKind> refKinds;       // of refColumns
        QByteArray extraColumn;              // one more to show in a search: the first outside key and label
    };
    // A row a search found: its key's values, label and extra column.
    struct Match
    {
        std::vector<CellValue> values;
        QString label;
        QString extra;
    };
    struct Found
    {
        quint64 ticket = 0;
        std::vector<Match> matches;
        bool tooSlow = false; // the server gave up on (part of) the search
    };
    // What the rows say of key values typed: whether a row has them as its
    // key, else how many have the last one as their label, and the key of
    // the one when it is one.
    struct Resolved
    {
        bool isKey = false;
        qint64 count = 0;
        std::vector<CellValue> values;
    };
    // The values of one key's columns in one row, and its label: nullopt
    // when no row has them.
    struct Label
    {
        size_t key = 0;
        std::vector<CellValue> values;
        std::optional<QString> label;
        QByteArray labelColumn; // the column it was read from
    };

    ForeignLabels(ConnectParams params, QByteArray table, QObject *receiver, const char *slot);
    // Never waits for the server: a statement in hand ends on its own.
    ~ForeignLabels();
    ForeignLabels(const ForeignLabels &) = delete;
    ForeignLabels &operator=(const ForeignLabels &) = delete;

    // The table's own foreign keys; empty until read (or when it has none).
    std::vector<Key> keys() const;
    // Asks for the labels of these values of key `key`.
    void ask(size_t key, std::vector<std::vector<CellValue>> values);
    // The labels read since the last take().
    std::vector<Label> take();
    // Searches the rows key `key` refers to for `text` (ForeignSearch), at
    // most `limit` rows a part; a search asked for later of the same key
    // replaces it when it has not started. The answer comes with the slot's
    // call, by takeFound().
    void search(size_t key, const QString &text, bool contains, int limit, quint64 ticket);
    std::vector<Found> takeFound();
    // Resolves key values typed (see Resolved); `done` is called on the
    // reader's thread with the answer, or with none when the server failed.
    void resolve(size_t key, std::vector<std::vector<CellValue>> tuples,
        std::function<void(std::optional<std::vector<Resolved>>)> done);

    // The tables whose foreign keys refer to this one, and how many of their
    // rows refer to the row of these values; `done` as for resolve().
    using Referring = std::vector<std::pair<ForeignKey, qint64>>;
    void referring(NamedValues row, std::function<void(std::optional<Referring>)> done);

    // Reads the labels of key `key` from `column` (one of its textColumns)
    // from the next ask on.
    void setLabelColumn(size_t key, const QByteArray &column);

    // The label column of a table of these columns (name, whether text, in
    // order) for a key over `keyColumns`; empty when none suits.
    static QByteArray labelColumnOf(
        const std::vector<std::pair<QByteArray, bool>> &columns, const std::vector<QByteArray> &keyColumns);

private:
    struct Request;
    struct State;
    static void run(const std::shared_ptr<State> &state);
    static void answer(State &state, Connection &connection, const Key &key, Request request);
    static Found search(Connection &connection, const Key &key, const Request &request);
    static void countReferring(Connection &connection, const std::vector<ForeignKey> &keys, Request request);
    std::shared_ptr<State> m_state;
};
