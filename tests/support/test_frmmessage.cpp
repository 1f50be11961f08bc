// The message window and its text view, headless: caption and resize rules, the line
// index against a plain split, and what a reader does with the text (select, copy, find).
#include "LargeTextView.h"
#include "TextFindBar.h"
#include "TextLineIndex.h"
#include "Twips.h"
#include "frmMessage.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

using namespace treelark;

namespace {

// The lines of `text` as an editor shows them: split at "\n", a "\r" before it dropped.
QStringList plainLines(const QByteArray& text)
{
    QStringList out;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        out << QString::fromUtf8(line);
    }
    return out;
}

QStringList viewLines(const LargeTextView& view)
{
    QStringList out;
    for (qint64 i = 0; i < view.lineCount(); ++i)
        out << view.lineText(i);
    return out;
}

void waitForIndex(LargeTextView& view)
{
    QTRY_VERIFY_WITH_TIMEOUT(view.indexComplete(), 20000);
}

} // namespace

class FrmMessageTest : public QObject {
    Q_OBJECT

private slots:
    // The caption follows only titles that are not empty; a later message replaces the
    // text and drops the selection.
    void captionAndTextFollowEachMessage()
    {
        frmMessage form;
        QCOMPARE(form.windowTitle(), QString("Message"));
        const struct {
            const char* title;
            const char* caption;
        } steps[] = {{"", "Message"}, {"First", "First"}, {"", "First"}, {"Second", "Second"}};
        for (const auto& step : steps) {
            form.ShowMessage(QStringLiteral("one\ntwo ") + step.title, step.title);
            QCOMPARE(form.windowTitle(), QString(step.caption));
        }
        QVERIFY(!form.isVisible()); // the caller shows it
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        form.txtMessage->setSelection(2, 6);
        form.ShowMessage(QStringLiteral("only"));
        QCOMPARE(viewLines(*form.txtMessage), QStringList{"only"});
        QCOMPARE(form.txtMessage->selectedText(), QString());
    }

    // The text box follows the outer size, frame included, while both sides exceed 1000
    // twips, however large (beyond 16-bit twips too); too small or minimised, it stays.
    void textBoxFollowsOnlyUsableSizes()
    {
        frmMessage form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto resized = [&form](int w, int h) {
            form.resize(twipsToPixelsX(w, &form), twipsToPixelsY(h, &form));
            const int W = pixelsToTwipsX(form.frameGeometry().width(), &form);
            const int H = pixelsToTwipsY(form.frameGeometry().height(), &form);
            return QRect(twipsToPixelsX(100, &form), twipsToPixelsY(100, &form), twipsToPixelsX(W - 200, &form),
                         twipsToPixelsY(H - 500, &form));
        };
        QCOMPARE(resized(40005, 36000), form.txtMessage->geometry());
        QCOMPARE(form.width(), twipsToPixelsX(40005, &form)); // the platform allowed it
        const QRect big = resized(6000, 5000);
        QCOMPARE(form.txtMessage->geometry(), big);
        for (const QSize tooSmall : {QSize(900, 5000), QSize(6000, 900)}) {
            resized(tooSmall.width(), tooSmall.height());
            QCOMPARE(form.size(), QSize(twipsToPixelsX(tooSmall.width(), &form), twipsToPixelsY(tooSmall.height(), &form)));
            QCOMPARE(form.txtMessage->geometry(), big);
        }
        form.setWindowState(Qt::WindowMinimized);
        if (!form.isMinimized())
            QSKIP("this platform does not minimise windows");
        form.resize(twipsToPixelsX(3000, &form), twipsToPixelsY(3000, &form));
        QCOMPARE(form.txtMessage->geometry(), big);
    }

    // The index, built in pieces on a worker, must agree with a plain split whatever the
    // line endings, characters and sizes.
    void indexMatchesAPlainSplit_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("trailing break") << QByteArray("<a>\n</a>\n");
        QTest::newRow("CRLF") << QByteArray("<a>\r\n  <b/>\r\n</a>");
        QTest::newRow("lone CR stays") << QByteArray("a\rb\n");
        QTest::newRow("UTF-8") << QByteArray("<n>\xC3\xA9t\xC3\xA9</n>\n<n>\xF0\x9F\x98\x80</n>");
        QByteArray many;
        for (int i = 0; i < 300000; ++i)
            many += "  <row n=\"" + QByteArray::number(i) + "\"/>" + (i % 7 ? "\n" : "\r\n");
        QTest::newRow("many pieces") << many;
        QTest::newRow("one huge line") << QByteArray(3 * 1024 * 1024, 'x');
    }

    void indexMatchesAPlainSplit()
    {
        QFETCH(QByteArray, text);
        LargeTextView view;
        view.setText(text);
        waitForIndex(view);
        QCOMPARE(viewLines(view), plainLines(text));
    }

    // Lines scanned in two pieces cut anywhere agree with one scan; each line's columns
    // count characters and tab stops, and every column maps back to a character boundary.
    void scansAndColumnsAgree()
    {
        const QByteArray text = "ab\tc\n\n\t\txyz\n\xC3\xA9\xF0\x9F\x98\x80\n" + QByteArray(100, 'w') + "\nend";
        const LineScan whole = scanLines(text.constData(), 0, 0, text.size(), true);
        for (qint64 cut = 0; cut <= text.size(); ++cut) {
            LineScan a = scanLines(text.constData(), 0, 0, cut, false);
            const qint64 line = a.starts.empty() ? 0 : a.starts.back();
            const LineScan b = scanLines(text.constData(), line, cut, text.size(), true);
            a.starts.insert(a.starts.end(), b.starts.begin(), b.starts.end());
            QCOMPARE(a.starts, whole.starts);
            QCOMPARE(std::max(a.widestBound, b.widestBound), whole.widestBound);
        }
        QVERIFY(whole.widestBound >= 100);
        const QList<QByteArray> lines = text.split('\n');
        const qint64 columns[] = {kTabWidth + 1, 0, 2 * kTabWidth + 3, 2, 100, 3};
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QByteArray& l = lines[i];
            QCOMPARE(advanceColumns(l.constData(), l.size()), columns[i]);
            for (qint64 c = 0; c <= columns[i]; ++c) {
                const ColumnHit hit = offsetAtColumn(l.constData(), l.size(), c);
                QVERIFY(hit.column >= c);
                QCOMPARE(advanceColumns(l.constData(), hit.offset), hit.column);
                QVERIFY(hit.offset == l.size() || (static_cast<unsigned char>(l.at(hit.offset)) & 0xC0) != 0x80);
            }
        }
    }

    // One reader's session over a text that ends in a line of megabytes: keys, mouse and
    // the find bar, each step checked by what the reader would see.
    void aReaderSelectsCopiesAndFinds()
    {
        const QByteArray first = "\xC3\xA9l\xC3\xA9ment beta";
        const QByteArray text = first + "\nsecond line\n<Item/>\n<item/>\n<ITEM/>\n" + QByteArray("line\n").repeated(2000)
            + "<needle/> caf\xC3\xA9 CAF\xC3\x89\n" + QByteArray(2 * 1024 * 1024, 'a') + "\tTAIL";
        LargeTextView view; // on screen, indexed and focused, as a reader's keys need it
        view.resize(500, 300);
        view.setText(text);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        waitForIndex(view);
        view.setFocus();
        auto selected = [&view] { return view.selectedText().toUtf8(); };
        // Shift+Right walks characters, not bytes; Shift+Down keeps the column
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(selected(), QByteArray("\xC3\xA9l\xC3\xA9"));
        QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), first + "\nsec");

        const QFontMetrics fm(view.font());
        const int cw = fm.horizontalAdvance(QLatin1Char('M'));
        const int y = fm.height() / 2;
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(8 * cw, y));
        QTest::mouseMove(view.viewport(), QPoint(12 * cw, y));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(12 * cw, y));
        QCOMPARE(view.selectedText(), QString("beta"));
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(2 * cw, y + fm.height()));
        QCOMPARE(view.selectedText(), QString("second"));

        // the find bar, Enter for the next match and Shift+Enter for the one before: ASCII
        // case is ignored, the end wraps to the start and back, a match far down is
        // scrolled into view, the only match wraps onto itself, nothing found keeps the
        // selection, and beyond ASCII case matters
        QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
        TextFindBar* bar = view.findBar();
        QVERIFY(bar->isVisible());
        const struct {
            const char* typed;
            bool backwards;
            const char* selected;
            const char* outcome;
            qint64 line;
        } finds[] = {{"item", false, "Item", "", 2},           {nullptr, false, "item", "", 3},
                     {nullptr, false, "ITEM", "", 4},          {nullptr, false, "Item", "Wrapped", 2},
                     {nullptr, true, "ITEM", "Wrapped", 4},    {nullptr, true, "item", "", 3},
                     {"NEEDLE", false, "needle", "", 2005},    {nullptr, false, "needle", "Wrapped", 2005},
                     {"tea", false, "needle", "Not found", 2005}, {"CAF\xC3\x89", false, "CAF\xC3\x89", "", 2005}};
        for (const auto& f : finds) {
            if (f.typed) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(f.typed));
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, f.backwards ? Qt::ShiftModifier : Qt::NoModifier);
            QCOMPARE(selected(), QByteArray(f.selected));
            QCOMPARE(bar->outcome(), QString(f.outcome));
            QVERIFY(view.firstVisibleLine() <= f.line && f.line < view.firstVisibleLine() + view.visibleLineCount());
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), &view);
        // a break cannot be typed into the bar, but a find may cross one
        QVERIFY(view.find(QStringLiteral("/>\n<")));
        QCOMPARE(view.selectionStart(), text.indexOf("/>\n<")); // the first, wrapping

        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), text);
        // End goes to the end of the line, Ctrl+End to the end of the text
        QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.cursorPosition(), qint64(first.size()));
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(selected(), text.mid(first.size()));
        // on the long line, the end and a find near it are reached without laying it all out
        QTest::keyClick(&view, Qt::Key_Home);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.cursorPosition(), qint64(text.size()));
        QScrollBar* h = view.horizontalScrollBar();
        QVERIFY(h->value() > 2 * 1024 * 1024 - 200 && h->maximum() >= h->value());
        QVERIFY(view.find(QStringLiteral("tail"), true));
        QCOMPARE(view.selectionStart(), qint64(text.size() - 4));
        QVERIFY(!view.viewport()->grab().isNull());
    }
};

QTEST_MAIN(FrmMessageTest)
#include "test_frmmessage.moc"
