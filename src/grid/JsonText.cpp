#include "grid/JsonText.h"

#include <vector>

namespace JsonText {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A single pass with its own stack of open containers, so a deeply nested
// document cannot exhaust the call stack.
class Checker
{
public:
    explicit Checker(QByteArrayView json) : m_begin(json.data()), m_p(json.data()), m_end(json.data() + json.size()) { }

    Check run()
    {
        std::vector<char> open;
        for (;;) {
            if (!value(open))
                return m_result;
            for (;;) {
                skipSpace();
                if (open.empty()) {
                    if (m_p != m_end)
                        fail(QStringLiteral("Text after the end of the document"));
                    return m_result;
                }
                const char close = open.back() == '{' ? '}' : ']';
                if (m_p < m_end && *m_p == close) {
                    ++m_p;
                    open.pop_back();
                    continue;
                }
                if (m_p < m_end && *m_p == ',') {
                    ++m_p;
                    if (open.back() == '{' && !member())
                        return m_result;
                    break;
                }
                fail(close == '}' ? QStringLiteral("Expected , or }") : QStringLiteral("Expected , or ]"));
                return m_result;
            }
        }
    }

private:
    void skipSpace()
    {
        while (m_p < m_end && isSpace(*m_p))
            ++m_p;
    }

    bool fail(const QString &message)
    {
        if (!m_result.ok)
            return false;
        m_result.ok = false;
        m_result.offset = m_p - m_begin;
        m_result.message = m_p == m_end ? QStringLiteral("Unexpected end of the document") : message;
        int line = 1;
        int column = 1;
        for (const char *q = m_begin; q < m_p; ++q) {
            if (*q == '\n') {
                ++line;
                column = 1;
            } else if ((uchar(*q) & 0xC0) != 0x80) {
                ++column;
            }
        }
        m_result.line = line;
        m_result.column = column;
        return false;
    }

    // A name in quotes and its colon, then the value follows.
    bool member()
    {
        skipSpace();
        if (m_p == m_end || *m_p != '"')
            return fail(QStringLiteral("Expected a name in quotes"));
        if (!string())
            return false;
        skipSpace();
        if (m_p == m_end || *m_p != ':')
            return fail(QStringLiteral("Expected :"));
        ++m_p;
        return true;
    }

    // One value; an opening bracket is left open on `open` (false on error).
    bool value(std::vector<char> &open)
    {
        for (;;) {
            skipSpace();
            if (m_p == m_end)
                return fail({});
            const char c = *m_p;
            if (c == '{' || c == '[') {
                ++m_p;
                skipSpace();
                const char close = c == '{' ? '}' : ']';
                if (m_p < m_end && *m_p == close) {
                    ++m_p;
                    return true;
                }
                open.push_back(c);
                if (c == '{' && !member())
                    return false;
                continue;
            }
            if (c == '"')
                return string();
            if (c == '-' || isDigit(c))
                return number();
            for (const char *word : {"true", "false", "null"}) {
                const qsizetype n = qsizetype(qstrlen(word));
                if (m_end - m_p >= n && QByteArrayView(m_p, n) == QByteArrayView(word, n)) {
                    m_p += n;
                    return true;
                }
            }
            return fail(QStringLiteral("Unexpected character"));
        }
    }

    bool string()
    {
        ++m_p; // the opening quote
        while (m_p < m_end) {
            const char c = *m_p;
            if (c == '"') {
                ++m_p;
                return true;
            }
            if (uchar(c) < 0x20)
                return fail(QStringLiteral("Control character in a string"));
            if (c == '\\') {
                ++m_p;
                if (m_p == m_end)
                    break;
                const char e = *m_p;
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i)
                        if (m_p + i >= m_end || !isHex(m_p[i])) {
                            m_p += i;
                            return fail(QStringLiteral("Expected four hex digits after \\u"));
                        }
                    m_p += 4;
                } else if (!QByteArrayView("\"\\/bfnrt").contains(e)) {
                    return fail(QStringLiteral("Unknown escape in a string"));
                }
            }
            ++m_p;
        }
        return fail({});
    }

    bool digits()
    {
        if (m_p == m_end || !isDigit(*m_p))
            return fail(QStringLiteral("Expected a digit"));
        while (m_p < m_end && isDigit(*m_p))
            ++m_p;
        return true;
    }

    bool number()
    {
        if (*m_p == '-')
            ++m_p;
        if (m_p < m_end && *m_p == '0')
            ++m_p;
        else if (!digits())
            return false;
        if (m_p < m_end && *m_p == '.') {
            ++m_p;
            if (!digits())
                return false;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digits())
                return false;
        }
        return true;
    }

    const char *m_begin;
    const char *m_p;
    const char *m_end;
    Check m_result;
};

// Copies a string token from `p` (at its opening quote) and returns where it ends.
const char *copyString(const char *p, const char *end, QByteArray &out)
{
    const char *start = p++;
    while (p < end && *p != '"')
        p += *p == '\\' ? 2 : 1;
    p = qMin(p + 1, end);
    out.append(start, p - start);
    return p;
}

QByteArray reindent(QByteArrayView json, int indent, bool lines)
{
    if (!check(json).ok)
        return json.toByteArray();
    QByteArray out;
    out.reserve(json.size() + json.size() / 4);
    int depth = 0;
    const auto newLine = [&] {
        if (!lines)
            return;
        out.append('\n');
        out.append(qsizetype(depth) * indent, ' ');
    };
    const char *p = json.data();
    const char *end = p + json.size();
    while (p < end) {
        const char c = *p;
        if (isSpace(c)) {
            ++p;
        } else if (c == '"') {
            p = copyString(p, end, out);
        } else if (c == '{' || c == '[') {
            const char *q = p + 1;
            while (q < end && isSpace(*q))
                ++q;
            if (q < end && (*q == '}' || *q == ']')) {
                out.append(c).append(*q); // an empty container stays on its line
                p = q + 1;
                continue;
            }
            out.append(c);
            ++depth;
            newLine();
            ++p;
        } else if (c == '}' || c == ']') {
            --depth;
            newLine();
            out.append(c);
            ++p;
        } else if (c == ',') {
            out.append(c);
            newLine();
            ++p;
        } else if (c == ':') {
            out.append(lines ? QByteArrayView(": ") : QByteArrayView(":"));
            ++p;
        } else {
            const char *q = p;
            while (q < end && !isSpace(*q) && !QByteArrayView(",:]}").contains(*q))
                ++q;
            out.append(p, q - p);
            p = q;
        }
    }
    return out;
}

} // namespace

Check check(QByteArrayView json)
{
    return Checker(json).run();
}

bool isDocument(QByteArrayView json)
{
    qsizetype i = 0;
    while (i < json.size() && isSpace(json[i]))
        ++i;
    return i < json.size() && (json[i] == '{' || json[i] == '[') && check(json).ok;
}

QByteArray pretty(QByteArrayView json, int indent)
{
    return reindent(json, indent, true);
}

QByteArray compact(QByteArrayView json)
{
    return reindent(json, 0, false);
}

} // namespace JsonText
