// The window's manners: the status line stays one line of plain text, the window and its
// split come back where they were left, a load can be stopped, a failed one says where,
// the keys move through the tree as clicks do, and someone else's changes to the file are
// not overwritten unasked.
#include "WindowTestBase.h"

#include <QAccessible>

#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "DocumentEditor.h"
#include "Twips.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace treelark;

namespace {

// A server that takes connections (the system does, from its backlog) and never answers.
struct SilentServer {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    SilentServer()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd, 4) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~SilentServer() { ::close(fd); }
};

} // namespace

class ComfortsTest : public WindowTestBase {
    Q_OBJECT

private slots:

    void statusLineIsOneLineOfPlainText()
    {
        frmMain w;
        showAndWait(w, QSize(500, 400));
        auto* line = w.StatusBar1->findChild<QLabel*>("StatusText");
        QVERIFY(line);
        const int before = w.StatusBar1->height();
        const QString text = "<b>bold</b> first line\nsecond line\nthird line " + QString(300, 'x');
        w.SetMsg(text);
        QCOMPARE(w.statusText(), text); // the whole text stays readable
        QVERIFY(line->text().startsWith("<b>bold</b> first line second line"));
        QVERIFY(!line->text().contains('\n'));
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= w.StatusBar1->width());
        QCOMPARE(line->toolTip(), text);
        // a screen reader is given the whole message, not the cut line
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(line);
        QVERIFY(spoken);
        QCOMPARE(spoken->text(QAccessible::Name), text);
        QCOMPARE(w.StatusBar1->height(), before);
    }

    void theWindowAndItsSplitComeBackWhereTheyWereLeft()
    {
        QList<int> split;
        {
            frmMain w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.resize(640, 480);
            QVERIFY(!w.windowIcon().pixmap(32).isNull()); // the program's own, drawn from its SVG
            // First run: the pane as tall as it always was.
            QVERIFY(qAbs(w.txtInfo->height() - twipsToPixelsY(1770, &w)) <= 8);
            auto* splitter = w.findChild<QSplitter*>("PaneTreeSplit");
            splitter->setSizes({250, 150});
            split = splitter->sizes();
            QVERIFY(w.close());
        }
        QVERIFY(!script->settings.value("Window/Geometry").isEmpty());
        frmMain again;
        QCOMPARE(again.size(), QSize(640, 480));
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.findChild<QSplitter*>("PaneTreeSplit")->sizes(), split);
    }

    void escAndCancelStopALoadThatHangs()
    {
        SilentServer silent;
        QVERIFY(silent.port > 0);
        const QString kept = write("kept.xml", "<kept/>");
        frmMain w(kept);
        showAndWait(w);
        auto* cancel = w.findChild<QPushButton*>("CancelLoad");
        QVERIFY(cancel && cancel->isHidden());
        for (const bool useButton : {false, true}) {
            w.txtNodeName->setText(QString("http://127.0.0.1:%1/x.xml").arg(silent.port));
            w.selectItem(nullptr);
            const QPoint row = w.TreeView1->visualRect(w.treeModel()->index(0, 0)).center();
            QTimer poke;
            connect(&poke, &QTimer::timeout, &w, [&] {
                // held back while loading: a click must not select the row
                QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {}, row);
                if (!useButton)
                    QTest::keyClick(w.TreeView1, Qt::Key_Escape);
                else if (cancel->isVisible())
                    QTest::mouseClick(cancel, Qt::LeftButton);
            });
            poke.start(100);
            w.toolbarClick("load");
            poke.stop();
            QCOMPARE(w.document()->documentElement().nodeName(), QString("kept"));
            QCOMPARE(w.currentUrl(), kept);
            QVERIFY2(w.statusText().contains("was cancelled"), qPrintable(w.statusText()));
            QVERIFY(cancel->isHidden());
            QVERIFY(!w.TreeView1->currentIndex().isValid());
        }
    }

    void aFailedLoadShowsTheLineAndACaret()
    {
        const QString path = write("broken.xml", "<a>\n  <b>text</a>\n</a>\n");
        frmMain w;
        w.txtNodeName->setText(path);
        w.toolbarClick("load");
        const DOMParseError err = w.document()->parseError();
        QCOMPARE(err.line, 2);
        const QString pane = w.txtInfo->toPlainText();
        QVERIFY2(pane.startsWith(path + " loaded. Length="), qPrintable(pane));
        QVERIFY(pane.contains("The document could not be loaded: " + err.reason));
        QVERIFY2(pane.endsWith(QString("Line 2, column %1:\n  <b>text</a>\n").arg(err.linepos)
                               + QString(err.linepos - 1, ' ') + '^'),
                 qPrintable(pane));

        // Tabs stay in the caret line; a long line is shown around the fault.
        QCOMPARE(frmMain::faultExcerpt("\t\t<a b>", 5), QString("\t\t<a b>\n\t\t  ^"));
        const QString longLine = QString(300, 'x') + "<" + QString(300, 'y');
        const QString shown = frmMain::faultExcerpt(longLine, 301);
        const QStringList lines = shown.split('\n');
        QVERIFY(lines[0].startsWith("...") && lines[0].endsWith("..."));
        QCOMPARE(lines[0].at(lines[1].size() - 1), QChar('<'));
    }

    void arrowKeysShowTheRowAsAClickDoes()
    {
        frmMain w(write("k.xml", "<a><b/><c/></a>"));
        showAndWait(w);
        w.TreeView1->setFocus();
        w.selectItem(w.treeModel()->itemFromIndex(w.treeModel()->index(0, 0)));
        QTest::keyClick(w.TreeView1, Qt::Key_Down);
        QCOMPARE(w.selectedItem()->text, QString("b"));
        const QString status = w.statusText(), pane = w.txtInfo->toPlainText();
        QVERIFY(status.contains("Path="));
        w.treeClick();
        QCOMPARE(w.statusText(), status);
        QCOMPARE(w.txtInfo->toPlainText(), pane);
        // A selection the program makes is not a move of the user's.
        w.SetMsg("untouched");
        QTest::keyClick(w.TreeView1, Qt::Key_Down);
        QVERIFY(w.statusText() != "untouched");
        w.SetMsg("untouched");
        w.selectItem(w.treeModel()->itemFromIndex(w.treeModel()->index(0, 0)));
        QCOMPARE(w.statusText(), QString("untouched"));
    }

    void savingOverAFileChangedOnDiskAsksFirst()
    {
        const QString path = write("a.xml", "<a><b/></a>\n");
        const QString address = QUrl::fromLocalFile(path).toString();
        frmMain w(address);
        w.editor()->setAttribute(w.document()->documentElement(), "n", "1");
        const QByteArray theirs = "<a><c/></a>\n";
        write("a.xml", theirs);
        const QString question = "The file " + path + " has changed on disk since it was loaded. Overwrite it?";
        for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
            script->clearAsked();
            script->queueSave(path);
            script->queueMessage(MsgResult::Yes); // "... already exist." stays the first question
            script->queueMessage(answer);
            w.SaveDocument();
            QCOMPARE(script->asked().first().dialog.initialFolder, dir.path() + "/"); // where file:/// points
            QCOMPARE(script->messagesShown().size(), 2);
            QCOMPARE(script->messagesShown().last(), question);
            QCOMPARE(readAll(path) == theirs, answer == MsgResult::No);
            QCOMPARE(w.editor()->isModified(), answer == MsgResult::No);
        }
        // What we wrote ourselves is not someone else's change.
        w.editor()->setAttribute(w.document()->documentElement(), "n", "2");
        script->clearAsked();
        script->queueSave(path);
        script->queueMessage(MsgResult::Yes);
        w.SaveDocument();
        QCOMPARE(script->messagesShown().size(), 1);
        QVERIFY(!w.editor()->isModified());
    }
};

QTEST_MAIN(ComfortsTest)
#include "test_comforts.moc"
