#include "grid/ClipboardText.h"

#include <QTest>

using ClipboardText::Block;

Q_DECLARE_METATYPE(Block)

// The tab-separated form spreadsheets exchange: what is quoted, and reading
// back what they put on the clipboard.
class TestClipboardText : public QObject
{
    Q_OBJECT

    static QByteArray field(const QByteArray &text)
    {
        QByteArray out;
        ClipboardText::appendTextField(out, std::string_view(text.constData(), size_t(text.size())));
        return out;
    }

private slots:
    void quotesOnlyWhatNeedsIt_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << QByteArray("abc def") << QByteArray("abc def");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("comma and semicolon") << QByteArray("a,b;c") << QByteArray("a,b;c");
        QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("\"a\tb\"");
        QTest::newRow("lf") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
        QTest::newRow("cr") << QByteArray("a\rb") << QByteArray("\"a\rb\"");
        QTest::newRow("quote") << QByteArray("say \"hi\"") << QByteArray("\"say \"\"hi\"\"\"");
        QTest::newRow("non-ascii") << QByteArray("Grüße 日本") << QByteArray("Grüße 日本");
    }
    void quotesOnlyWhatNeedsIt()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, field);
        QCOMPARE(TestClipboardText::field(text), field);
    }

    void htmlEscapesAndLeavesNullEmpty()
    {
        QByteArray out;
        ClipboardText::appendHtmlField(out, "<b>&\"x\"</b>", false);
        ClipboardText::appendHtmlField(out, "", true);
        ClipboardText::appendHtmlField(out, "a\r\nb", false);
        QCOMPARE(out, QByteArray("<td>&lt;b&gt;&amp;&quot;x&quot;&lt;/b&gt;</td><td></td><td>a<br>b</td>"));
    }

    void readsSpreadsheetBlocks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Block>("block");
        QTest::newRow("one value") << "x" << Block{{"x"}};
        QTest::newRow("one value, line end") << "x\n" << Block{{"x"}};
        QTest::newRow("crlf rows") << "a\tb\r\nc\td\r\n" << Block{{"a", "b"}, {"c", "d"}};
        QTest::newRow("empty fields") << "\t\n\tx\n" << Block{{"", ""}, {"", "x"}};
        QTest::newRow("empty line inside") << "a\n\nb\n" << Block{{"a"}, {""}, {"b"}};
        QTest::newRow("quoted multi-line") << "\"line 1\nline 2\"\tz\n\"a\"\"b\"\tq\n"
                                           << Block{{"line 1\nline 2", "z"}, {"a\"b", "q"}};
        QTest::newRow("quoted tab and crlf") << "\"a\tb\r\nc\"\n" << Block{{"a\tb\r\nc"}};
        QTest::newRow("quote inside a field is text") << "5\" disk\tx\n" << Block{{"5\" disk", "x"}};
        QTest::newRow("unclosed quote keeps the rest") << "\"abc\ndef" << Block{{"abc\ndef"}};
        QTest::newRow("nothing") << "" << Block{};
    }
    void readsSpreadsheetBlocks()
    {
        QFETCH(QString, text);
        QFETCH(Block, block);
        QCOMPARE(ClipboardText::parse(text), block);
    }

    void writtenTextReadsBack()
    {
        const Block block{{"tab\there", "line\nbreak", "\"quoted\""}, {"", "crlf\r\nend", "Grüße"}};
        QByteArray text;
        for (const auto &row : block) {
            for (size_t i = 0; i < row.size(); ++i) {
                if (i)
                    text += '\t';
                text += field(row[i].toUtf8());
            }
            text += '\n';
        }
        QCOMPARE(ClipboardText::parse(QString::fromUtf8(text)), block);
    }
};

QTEST_APPLESS_MAIN(TestClipboardText)
#include "tst_clipboardtext.moc"
