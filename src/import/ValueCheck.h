#pragma once

#include <QByteArrayView>
#include <QString>

struct TargetColumn;

// Checks a value against its column as the server's strict mode checks it,
// for the preview: a value that fails here would fail its row. Some values
// go in changed without failing (a DECIMAL with more decimals is rounded);
// those get a note.
struct ValueCheck
{
    enum class Verdict { Fits, Note, Fails };
    Verdict verdict = Verdict::Fits;
    QString reason; // empty when it fits

    static ValueCheck of(const TargetColumn &column, QByteArrayView text, bool isNull);
};
