// The window's manners: the status line stays one line of plain text, and the window
// comes back where it was left.
#include "WindowTestBase.h"
#include "frmMain.h"
#include "ScriptedPrompts.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>

using namespace treelark;

class ComfortsTest : public WindowTestBase {
    Q_OBJECT

private slots:
    void initTestCase() { prepareRun(); }
    void init() { resetState(); }
    void cleanup() { dropPrompts(); }

    void statusLineIsOneLineOfPlainText()
    {
        frmMain w;
        w.resize(500, 400);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* line = w.StatusBar1->findChild<QLabel*>("StatusText");
        QVERIFY(line);
        const int before = w.StatusBar1->height();
        const QString text = "<b>bold</b> first line\nsecond line\nthird line " + QString(300, 'x');
        w.SetMsg(text);
        QCOMPARE(w.statusText(), text); // the whole text stays readable
        QCOMPARE(line->textFormat(), Qt::PlainText);
        QVERIFY(line->text().startsWith("<b>bold</b> first line second line"));
        QVERIFY(!line->text().contains('\n'));
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= w.StatusBar1->width());
        QCOMPARE(line->toolTip(), text);
        QCOMPARE(w.StatusBar1->height(), before);
    }

    void theWindowComesBackWhereItWasLeft()
    {
        {
            frmMain w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.resize(640, 480);
            QVERIFY(w.close());
        }
        QVERIFY(!script->settings.value("Window/Geometry").isEmpty());
        frmMain again;
        QCOMPARE(again.size(), QSize(640, 480));
    }
};

QTEST_MAIN(ComfortsTest)
#include "test_comforts.moc"
