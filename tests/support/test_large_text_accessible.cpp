// What a screen reader gets from the message window's text view: the text by ranges
// in UTF-16 offsets (across the lazily counted blocks and multi-byte characters), the
// line around the caret, the selection both ways, and Escape closing it.
#include "LargeTextAccessible.h"
#include "LargeTextView.h"
#include "frmMessage.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QTest>

using namespace treelark;

namespace {

// Several 64 KiB blocks of lines mixing one-, two-, three- and four-byte characters, so
// block edges fall inside characters and surrogate pairs.
QString mixedText()
{
    QString text;
    for (int i = 0; i < 6000; ++i)
        text += QStringLiteral("line %1 héllo wörld € 𝄞 <a b=\"ü\"/>\n").arg(i);
    return text;
}

} // namespace

class LargeTextAccessibleTest : public QObject {
    Q_OBJECT

private slots:
    void readsTextByRangesAndLines()
    {
        frmMessage form;
        const QString text = mixedText();
        form.ShowMessage(text, QStringLiteral("XML Contents"));
        form.show();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(form.txtMessage);
        QVERIFY(iface);
        QAccessibleTextInterface* reader = iface->textInterface();
        QVERIFY(reader);
        QVERIFY(iface->state().readOnly);
        QCOMPARE(iface->text(QAccessible::Name), QString("XML Contents"));

        QCOMPARE(reader->characterCount(), text.size());
        // ranges that cross block edges, asked out of order so the table grows and is reused
        for (int start : {int(text.size()) - 50, 0, 65530, 131070, 200001, 4}) {
            QCOMPARE(reader->text(start, start + 40), text.mid(start, 40));
        }
        QCOMPARE(reader->text(text.size() - 10, -1), text.right(10));

        // the first visible line, as a reader speaks it on arrival
        int start = -1, end = -1;
        const QString firstLine = reader->textAtOffset(0, QAccessible::LineBoundary, &start, &end);
        QCOMPARE(firstLine, text.section(QLatin1Char('\n'), 0, 0) + QLatin1Char('\n'));
        QCOMPARE(start, 0);
        QCOMPARE(end, firstLine.size());
        const QString second = reader->textAfterOffset(0, QAccessible::LineBoundary, &start, &end);
        QCOMPARE(second, text.section(QLatin1Char('\n'), 1, 1) + QLatin1Char('\n'));
        QCOMPARE(reader->textBeforeOffset(end - 1, QAccessible::LineBoundary, &start, &end), firstLine);
        reader->textBeforeOffset(0, QAccessible::LineBoundary, &start, &end);
        QCOMPARE(start, -1);

        const int word = text.indexOf(QStringLiteral("wörld"), 100000);
        QCOMPARE(reader->textAtOffset(word + 2, QAccessible::WordBoundary, &start, &end), QString("wörld"));
        QCOMPARE(start, word);
        const int clef = text.indexOf(QStringLiteral("𝄞"), 70000);
        QCOMPARE(reader->textAtOffset(clef, QAccessible::CharBoundary, &start, &end), QString("𝄞"));
        QCOMPARE(end - start, 2);
    }

    void selectionAndCaretBothWays()
    {
        frmMessage form;
        const QString text = mixedText();
        form.ShowMessage(text);
        form.show();
        LargeTextView* view = form.txtMessage;
        QAccessibleTextInterface* reader = QAccessible::queryAccessibleInterface(view)->textInterface();
        QCOMPARE(reader->selectionCount(), 0);

        // a selection made in the view, read in characters
        const QByteArray bytes = text.toUtf8();
        const qint64 from = bytes.indexOf("héllo", 100000), to = bytes.indexOf("<a", from);
        view->setSelection(from, to);
        int start = -1, end = -1;
        reader->selection(0, &start, &end);
        QCOMPARE(reader->text(start, end), view->selectedText());
        QCOMPARE(reader->cursorPosition(), end);

        // and one made by the reader, seen by the view
        const int wanted = text.indexOf(QStringLiteral("€"), 150000);
        reader->setSelection(0, wanted, wanted + 4);
        QCOMPARE(view->selectedText(), text.mid(wanted, 4));
        reader->setCursorPosition(wanted);
        QCOMPARE(reader->selectionCount(), 0);
        QCOMPARE(reader->cursorPosition(), wanted);

        // the caret moved by the keyboard is where the reader finds it
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(reader->cursorPosition(), wanted + 1);
    }

    void escapeClosesTheWindowAfterTheFindBar()
    {
        frmMessage form;
        form.ShowMessage(QStringLiteral("one\ntwo\n"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.txtMessage->setFocus();
        form.txtMessage->showFindBar();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(form.isVisible());
        form.txtMessage->setFocus();
        QTest::keyClick(form.txtMessage, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
    }
};

QTEST_MAIN(LargeTextAccessibleTest)
#include "test_large_text_accessible.moc"
