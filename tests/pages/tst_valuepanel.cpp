#include "EditorSession.h"
#include "frame/ExternalEdit.h"
#include "grid/HexView.h"
#include "grid/JsonText.h"
#include "grid/TextValueView.h"
#include "grid/WriteHistory.h"
#include "pages/ValuePanel.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Db = QStringLiteral("tst_valuepanel");

// A stand-in for the user's editor ($VISUAL): writes `first` straight into
// the file, then, once `gate` exists (when given), `second` by writing a new
// file and renaming it over the old, as many editors save.
QString fakeEditor(const QTemporaryDir &dir, const QString &first, const QString &second, const QString &gate = {})
{
    const QString path = dir.filePath(QStringLiteral("editor.sh"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("#!/bin/sh\n"
                           "stat -c %a \"$1\" \"$(dirname \"$1\")\" > '%1/modes'\n"
                           "printf '%s' '%2' > \"$1\"\n"
                           "while [ -n '%4' ] && [ ! -e '%4' ]; do sleep 0.05; done\n"
                           "sleep 0.3\n"
                           "printf '%s' '%3' > \"$1.new\" && mv \"$1.new\" \"$1\"\n")
                .arg(dir.path(), first, second, gate)
                .toUtf8());
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

// The value panel beside the grid, over a real table: what it shows, what
// it writes back through the grid's checked row write, and the round trip
// through files and the user's own editor.
class TestValuePanel : public QObject, private EditorPages
{
    Q_OBJECT

    ValuePanel *panel() { return editor()->valuePanel; }

    void openAt(int row, int column)
    {
        TestDb::run(Db,
            {"DROP TABLE IF EXISTS vals",
                "CREATE TABLE vals (id INT PRIMARY KEY, doc JSON, txt TEXT NULL, bin VARBINARY(64), "
                "img MEDIUMBLOB)",
                "INSERT INTO vals VALUES (1, '{\"a\":[1,2.50,1E+2],\"b\":\"x, y: {z}\"}', 'hello', "
                "0x00FF10, NULL), (2, '[]', NULL, NULL, NULL)"});
        openTable(Db, QStringLiteral("vals"));
        view()->setCurrentIndex(view()->model()->index(row, column));
        panel()->show();
    }

    QString stored(const QString &expression)
    {
        return TestDb::scalar(Db, QStringLiteral("SELECT %1 FROM vals WHERE id = 1").arg(expression));
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::available())
            QSKIP("no test server");
        TestDb::create(Db);
    }

    void cleanup()
    {
        qunsetenv("VISUAL");
        m_wizard.reset();
        m_desktop.clear();
    }

    void checksJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("line"); // 0: valid
        QTest::addColumn<int>("column");
        QTest::newRow("object") << QByteArray("{\"a\": [1, -0.5e-3, true, null], \"b\": {}}") << 0 << 0;
        QTest::newRow("escapes") << QByteArray("[\"\\u00e9\\n\\\"\"]") << 0 << 0;
        QTest::newRow("unclosed") << QByteArray("[1,2") << 1 << 5;
        QTest::newRow("second line") << QByteArray("{\n  \"é\": tru\n}") << 2 << 8;
        QTest::newRow("leading zero") << QByteArray("{\"a\":01}") << 1 << 7;
        QTest::newRow("bad escape") << QByteArray("\"\\x\"") << 1 << 3;
        QTest::newRow("trailing comma") << QByteArray("[1,]") << 1 << 4;
        QTest::newRow("text after") << QByteArray("{} x") << 1 << 4;
        QTest::newRow("deep") << QByteArray(200000, '[') << 1 << 200001;
    }

    void checksJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, line);
        QFETCH(int, column);
        const JsonText::Check check = JsonText::check(json);
        QCOMPARE(check.ok, line == 0);
        QCOMPARE(check.line, line);
        QCOMPARE(check.column, column);
        if (!check.ok)
            QCOMPARE(JsonText::pretty(json), json); // left alone
    }

    void reindentsKeepingEveryToken()
    {
        const QByteArray json
            = " {\"n\":[1.0E+2,-0.0,12345678901234567890,[] ],\"s\":\"a, b: {c} [\\\"d\\\"]\",\"o\":{ }}";
        const QByteArray pretty = JsonText::pretty(json, 2);
        QCOMPARE(pretty,
            QByteArray("{\n  \"n\": [\n    1.0E+2,\n    -0.0,\n    12345678901234567890,\n    []\n  ],\n"
                       "  \"s\": \"a, b: {c} [\\\"d\\\"]\",\n  \"o\": {}\n}"));
        QCOMPARE(JsonText::compact(pretty),
            QByteArray("{\"n\":[1.0E+2,-0.0,12345678901234567890,[]],\"s\":\"a, b: {c} [\\\"d\\\"]\",\"o\":{}}"));
    }

    void givesTextBackAsItCame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("enterAt"); // -1: not edited
        QTest::addColumn<bool>("exact");
        const QString astral = QString(TextValueView::LongLine - 1, 'a') + QStringLiteral("\U0001F600b");
        QTest::newRow("long line") << QString(3 * TextValueView::LongLine + 7, 'x') << -1 << true;
        QTest::newRow("pair at a cut") << astral << -1 << true;
        QTest::newRow("enter in a piece")
            << QString(2 * TextValueView::LongLine, 'y') + "\nz" << TextValueView::LongLine + 10 << true;
        QTest::newRow("crlf") << QStringLiteral("a\r\nb\u00a0c\r\n") << 1 << true;
        QTest::newRow("lone cr") << QStringLiteral("a\rb\nc") << -1 << false;
    }

    void givesTextBackAsItCame()
    {
        QFETCH(QString, text);
        QFETCH(int, enterAt);
        QFETCH(bool, exact);
        TextValueView view;
        view.setValue(text);
        view.finishLoading();
        QCOMPARE(view.isExact(), exact);
        QCOMPARE(view.characterCount(), text.size());
        if (!exact)
            return;
        QString expected = text;
        if (enterAt >= 0) {
            // The position in the document: one more for each cut before it.
            QTextCursor cursor(view.document());
            cursor.setPosition(enterAt + enterAt / TextValueView::LongLine);
            view.setTextCursor(cursor);
            QTest::keyClick(&view, Qt::Key_Return);
            expected.insert(enterAt, text.contains('\r') ? "\r\n" : "\n");
        }
        QCOMPARE(view.value(), expected);
    }

    void refusedJsonIsShownAndTheRowKept()
    {
        openAt(0, 1);
        QCOMPARE(panel()->mode(), ValuePanel::Mode::Json);
        QVERIFY(panel()->textView->toPlainText().startsWith("{\n    \"a\": [\n        1,\n        2.50,\n"));
        panel()->textView->moveCursor(QTextCursor::End);
        QTest::keyClicks(panel()->textView, ",");
        QTRY_VERIFY(panel()->status->text().contains("Not valid JSON: line 8, column 2"));
        panel()->saveRow();
        QVERIFY2(m_desktop.texts().join('\n').contains("CONSTRAINT"), qPrintable(m_desktop.texts().join('\n')));
        QVERIFY(model()->hasHeldRow());
        QCOMPARE(stored("doc"), QStringLiteral("{\"a\":[1,2.50,1E+2],\"b\":\"x, y: {z}\"}"));
        // Mended, the row is written as the user laid it out.
        QTest::keyClick(panel()->textView, Qt::Key_Backspace);
        panel()->saveRow();
        QVERIFY(!model()->hasHeldRow());
        QCOMPARE(stored("doc"), panel()->textView->value());
        QVERIFY(editor()->session().history().canUndo());
    }

    void editsBytesInHex_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("hex");
        QTest::newRow("overwrite") << QList<int>{} << "ff00"
                                   << "FF0010";
        QTest::newRow("append") << QList<int>{Qt::Key_End} << ""
                                << "00FF10";
        QTest::newRow("append after") << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right} << "0a"
                                      << "00FF100A";
        QTest::newRow("ascii half") << QList<int>{Qt::Key_Tab} << "A"
                                    << "41FF10";
        QTest::newRow("delete") << QList<int>{Qt::Key_Delete} << ""
                                << "FF10";
        QTest::newRow("backspace at end") << QList<int>{Qt::Key_Down, Qt::Key_Backspace} << ""
                                          << "00FF";
    }

    void editsBytesInHex()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, typed);
        QFETCH(QString, hex);
        openAt(0, 3);
        HexView *hexView = panel()->hexView;
        QCOMPARE(panel()->mode(), ValuePanel::Mode::Hex);
        QCOMPARE(hexView->bytes(), QByteArray("\0\xff\x10", 3));
        hexView->setFocus();
        for (int key : keys)
            QTest::keyClick(hexView, Qt::Key(key));
        QTest::keyClicks(hexView, typed);
        panel()->saveRow();
        QCOMPARE(m_desktop.texts(), QStringList());
        QCOMPARE(stored("HEX(bin)"), hex);
    }

    void replacesAnImageFromAFile()
    {
        openAt(0, 4);
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        QTemporaryDir dir;
        const QString file = dir.filePath("in.png");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(png) == png.size());
        f.close();
        m_desktop.fileNames << file;
        panel()->loadFromFile();
        QCOMPARE(panel()->mode(), ValuePanel::Mode::Image);
        QVERIFY2(
            panel()->status->text().startsWith(QStringLiteral("PNG, 7 \u00d7 5 pixels, %L1 bytes").arg(png.size())),
            qPrintable(panel()->status->text()));
        panel()->saveRow();
        QCOMPARE(stored("HEX(img)"), QString::fromLatin1(png.toHex().toUpper()));
        // And out again, byte for byte.
        m_desktop.fileNames << dir.filePath("out.png");
        panel()->saveToFile();
        QFile out(dir.filePath("out.png"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), png);
    }

    void keepsNullApartFromEmpty_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("tickNull"); // else the text is cleared
        QTest::addColumn<QString>("stored");
        QTest::newRow("text cleared") << 0 << false << "0:";
        QTest::newRow("NULL ticked") << 0 << true << "1:";
        QTest::newRow("NULL unticked") << 1 << true << "0:";
    }

    void keepsNullApartFromEmpty()
    {
        QFETCH(int, row);
        QFETCH(bool, tickNull);
        QFETCH(QString, stored);
        openAt(row, 2);
        QCOMPARE(panel()->nullBox->isChecked(), row == 1);
        if (tickNull) {
            panel()->nullBox->click();
        } else {
            panel()->textView->selectAll();
            QTest::keyClick(panel()->textView, Qt::Key_Delete);
        }
        QCOMPARE(panel()->nullBox->isChecked(), row == 1 ? false : tickNull);
        panel()->saveRow();
        const int id = row + 1;
        QCOMPARE(TestDb::scalar(Db,
                     QStringLiteral("SELECT CONCAT(txt IS NULL, ':', IFNULL(txt, '')) FROM vals "
                                    "WHERE id = %1")
                         .arg(id)),
            stored);
        // Shown again as stored.
        view()->setCurrentIndex(view()->model()->index(1 - row, 2));
        view()->setCurrentIndex(view()->model()->index(row, 2));
        QCOMPARE(panel()->nullBox->isChecked(), stored.startsWith('1'));
    }

    void bringsBackEachSaveOfTheExternalEditor()
    {
        QTemporaryDir dir;
        qputenv("VISUAL", fakeEditor(dir, "first", "second").toLocal8Bit());
        openAt(0, 2);
        panel()->editExternally();
        const QString file = panel()->externalEdit().filePath();
        QVERIFY(file.endsWith("/value.txt"));
        QTRY_COMPARE(model()->data(model()->index(0, 2), GridModel::BytesRole).toByteArray(), QByteArray("first"));
        QTRY_COMPARE(model()->data(model()->index(0, 2), GridModel::BytesRole).toByteArray(), QByteArray("second"));
        QCOMPARE(panel()->textView->toPlainText(), QStringLiteral("second"));
        QVERIFY(panel()->status->text().contains("Changed in the external editor"));
        QFile modes(dir.filePath("modes"));
        QVERIFY(modes.open(QIODevice::ReadOnly));
        QCOMPARE(modes.readAll(), QByteArray("600\n700\n"));
        // Leaving the row writes it and removes the file and its folder.
        view()->setCurrentIndex(view()->model()->index(1, 2));
        QCOMPARE(stored("txt"), QStringLiteral("second"));
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(!QFileInfo::exists(QFileInfo(file).path()));
    }

    void aRowChangedMeanwhileIsNotWrittenOver()
    {
        QTemporaryDir dir;
        const QString gate = dir.filePath("go");
        qputenv("VISUAL", fakeEditor(dir, "mine", "mine too", gate).toLocal8Bit());
        openAt(0, 2);
        panel()->editExternally();
        TestDb::run(Db, {"UPDATE vals SET txt = 'theirs' WHERE id = 1"});
        QFile(gate).open(QIODevice::WriteOnly);
        QTRY_COMPARE(panel()->textView->toPlainText(), QStringLiteral("mine too"));
        panel()->saveRow();
        QVERIFY2(m_desktop.texts().join('\n').contains("changed or deleted by someone else"),
            qPrintable(m_desktop.texts().join('\n')));
        QCOMPARE(stored("txt"), QStringLiteral("theirs"));
        QVERIFY(model()->hasHeldRow());
    }

    void reachedAndLeftByKeyboard()
    {
        openAt(0, 2);
        panel()->hide();
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_E, Qt::ControlModifier);
        QVERIFY(panel()->isVisible());
        QTRY_VERIFY(panel()->textView->hasFocus());
        QTest::keyClicks(panel()->textView, "!");
        QTest::keyClick(panel()->textView, Qt::Key_Escape);
        QTRY_VERIFY(view()->hasFocus());
        QCOMPARE(model()->data(model()->index(0, 2), GridModel::BytesRole).toByteArray(), QByteArray("!hello"));
        QCOMPARE(panel()->valueLabel->buddy(), panel()->textView);
    }
};

QTEST_MAIN(TestValuePanel)
#include "tst_valuepanel.moc"
