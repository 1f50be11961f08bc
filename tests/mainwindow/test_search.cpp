// Search, path insertion, node descriptions, the tree click report and the pane's file
// drop, on a real window with scripted prompts.
#include "WindowTestBase.h"

#include <QCompleter>
#include <QMimeData>
#include <QUrl>

using namespace treelark;

class SearchTest : public WindowTestBase {
    Q_OBJECT

private:

    QString sample()
    {
        return write("s.xml", "<FrameworkConfig TagName=\"FrameworkConfig\">\n"
                              "  <ApLayers>\n"
                              "    <ApLayer TagName=\"A\" Name=\"Roads\"/>\n"
                              "    <ApLayer TagName=\"B\"/>\n"
                              "    <Group><ApLayer TagName=\"C\">deep</ApLayer></Group>\n"
                              "  </ApLayers>\n"
                              "  <Note>plain<!--remark--></Note>\n"
                              "</FrameworkConfig>\n");
    }

    void search(frmMain& w, const QString& text, Qt::KeyboardModifiers keys = Qt::NoModifier)
    {
        w.txtNodeName->setText(text);
        w.cmdGetNode_MouseDown(keys);
    }

private slots:
    void firstEveryAndNoMatch()
    {
        frmMain w(sample());
        search(w, "ApLayer");
        QString pane = w.txtInfo->toPlainText();
        QVERIFY(pane.startsWith("Node: 1 ApLayer=NodeType:TypeName=1:element, Text=:ApLayer\n     0:TagName=A\n     1:Name=Roads\n"));
        QVERIFY(pane.endsWith("\nFrameworkConfig/ApLayers/ApLayer\n"));
        QVERIFY(!pane.contains("Node: 2"));
        QCOMPARE(w.statusText(), QString("nNodes=3"));

        search(w, "ApLayer", Qt::ShiftModifier);
        pane = w.txtInfo->toPlainText();
        QVERIFY(pane.contains("Node: 1 ") && pane.contains("\nNode: 2 ") && pane.contains("\nNode: 3 "));
        QVERIFY(pane.contains("Text=deep:ApLayer"));
        QCOMPARE(w.statusText(), QString("nNodes=3"));

        search(w, "ApLayer", Qt::ControlModifier); // Ctrl alone: like no key
        QVERIFY(!w.txtInfo->toPlainText().contains("Node: 2"));
        search(w, "ApLayer", Qt::ShiftModifier | Qt::AltModifier); // any other mix: first only
        QVERIFY(!w.txtInfo->toPlainText().contains("Node: 2"));

        search(w, "Missing");
        QCOMPARE(w.txtInfo->toPlainText(), QString());
        QCOMPARE(w.statusText(), QString("nNodes=0"));

        search(w, "a b");
        QCOMPARE(w.txtInfo->toPlainText(), QString("a b is not found."));
        QCOMPARE(w.statusText(), QString("nNodes=0"));

        search(w, "   ");
        QCOMPARE(w.txtInfo->toPlainText(), QString());
        QCOMPARE(w.statusText(), QString());

        search(w, " Note"); // the untrimmed text is queried: //" Note" still finds Note
        QCOMPARE(w.statusText(), QString("nNodes=1"));
        search(w, "/ApLayers/ApLayer");
        QCOMPARE(w.statusText(), QString("nNodes=2"));
    }

    void nextWalksTheMatchesAndWrapsAndTheButtonActsOnMouseDown()
    {
        frmMain w(sample());
        showAndWait(w, w.size());
        search(w, "ApLayer");
        QCOMPARE(w.selectedItem()->text, QString("ApLayer (A,Roads)"));
        for (const char* next : {"ApLayer (B)", "ApLayer (C)", "ApLayer (A,Roads)"}) {
            w.toolbarClick("next");
            QCOMPARE(w.selectedItem()->text, QString(next));
            QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(w.selectedItem()->parent)));
        }

        // the search button acts on mouse down, with the keys held then
        w.txtNodeName->setText("ApLayer");
        QTest::mousePress(w.cmdGetNode, Qt::LeftButton, Qt::ShiftModifier);
        QVERIFY(w.txtInfo->toPlainText().contains("Node: 3 "));
        QTest::mouseRelease(w.cmdGetNode, Qt::LeftButton, Qt::ShiftModifier);
        // Enter in the name box: a first-match search
        w.txtNodeName->setText("Note");
        QTest::keyClick(w.txtNodeName, Qt::Key_Return);
        QCOMPARE(w.statusText(), QString("nNodes=1"));
    }

    // The name box's own reading of the text; the paths themselves are the manager's.
    void pathInsertion()
    {
        frmMain w(sample());
        search(w, "FrameworkConfig/ApLayers/New;Key1=Value1:Key2=Value2", Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.txtInfo->toPlainText(), QString());
        QCOMPARE(w.statusText(), QString());
        DOMNode created = w.document()->documentElement().selectSingleNode("ApLayers/New");
        QVERIFY(!created.isNull());
        QCOMPARE(created.getAttribute("Key2"), QString("Value2"));
        QVERIFY(w.editor()->isModified()); // an insertion is a change like any other
        // the tree was rebuilt from the document: the new node has an item, root expanded
        QCOMPARE(w.treeModel()->topLevelCount(), 1);
        QCOMPARE(childTexts(w, layers(w)).last(), QString("New"));
        QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(root(w))));

        // blanks around "=" stay in key and value; the second pair with two "=" is skipped
        search(w, "Spaced ; K = V : x=1=2 : y=2", Qt::ControlModifier | Qt::ShiftModifier);
        DOMNode spaced = w.document()->documentElement().lastChild();
        QCOMPARE(spaced.nodeName(), QString("Spaced"));
        // "K " is no valid attribute name: that attribute is refused, the rest goes on
        QCOMPARE(spaced.getAttribute("y"), QString("2"));
        QVERIFY(spaced.getAttribute("x").isEmpty());

        // three pieces: the whole text is the path, which names no possible element
        const QString before = w.document()->xml();
        search(w, "a;b;c", Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.document()->xml(), before);
    }

    void nodeDescriptions()
    {
        frmMain w(sample());
        DOMNode layer = w.document()->documentElement().selectSingleNode("ApLayers/ApLayer");
        QCOMPARE(w.GetNodeInfo(layer, " "),
                 QString("ApLayer=NodeType:TypeName=1:element, Text=:ApLayer\n 0:TagName=A\n 1:Name=Roads\n\n"
                         "FrameworkConfig/ApLayers/ApLayer"));
        DOMNode text = w.document()->documentElement().selectSingleNode("Note").firstChild();
        QCOMPARE(w.GetNodeInfo(text, " "), QString(" has no attributes.\nFrameworkConfig/Note/#text"));
        DOMNode bareElement = w.document()->documentElement().selectSingleNode("ApLayers/Group");
        QCOMPARE(w.GetNodeInfo(bareElement, " "),
                 QString("Group=NodeType:TypeName=1:element, Text=deep:Group\nFrameworkConfig/ApLayers/Group"));
        QCOMPARE(w.GetNodeInfo(DOMNode(), " "), QString());
        w.DispAttributes(layer, "Attributes"); // the attribute list as a message
        QCOMPARE(script->asked().last().text + "|" + script->asked().last().title,
                 QString("TagName=A\nName=Roads\n|Attributes"));
    }

    void treeClickReports()
    {
        frmMain w(sample());
        showAndWait(w, w.size());
        // a text that is no valid selector: no count, the description leads the status line
        QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {}, centre(w, layerA(w)));
        QCOMPARE(w.selectedItem(), layerA(w));
        QVERIFY(w.txtInfo->toPlainText().endsWith("nChildNodes=0"));
        QVERIFY(w.statusText().startsWith("ApLayer=NodeType"));
        QVERIFY2(w.statusText().endsWith(" Total=10 Path=FrameworkConfig/ApLayers/ApLayer"), qPrintable(w.statusText()));
        // a plain name: the children of the first element of that name are counted
        QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {}, centre(w, layers(w)));
        QCOMPARE(w.statusText(), QString("Node ApLayers has 3 nodes. Total=10 Path=FrameworkConfig/ApLayers"));
        // nothing under the pointer: no selection, the status line still reports
        QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {}, QPoint(5, w.TreeView1->viewport()->height() - 5));
        QVERIFY(!w.selectedItem());
        QCOMPARE(w.statusText(), QString(" Total=10 Path="));
    }

    void textFilesDroppedOnThePane()
    {
        frmMain w;
        const QString txt = write("a.txt", "x\ty\n\nz\n");
        w.txtInfo_DropFiles({txt, write("ignored.txt", "second")});
        QCOMPARE(w.txtInfo->toPlainText(), QString("x y\nz\n"));
        w.txtInfo_DropFiles({write("c.ini", "[s]\nk=v\n")});
        QCOMPARE(w.txtInfo->toPlainText(), QString("[s]\nk=v\n"));
        w.txtInfo_DropFiles({write("d.doc", "nope")});
        QCOMPARE(w.txtInfo->toPlainText(), QString("[s]\nk=v\n"));

        // through a real drop event
        showAndWait(w, w.size());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(txt)});
        // a drop goes to the widget a drag entered first
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.txtInfo->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.txtInfo->viewport(), &drop);
        QCOMPARE(w.txtInfo->toPlainText(), QString("x y\nz\n"));
    }

    // --- comforts beside the name box's own rules ---

    void xpathInTheNameBoxListsMatchesLikeTheNameSearch()
    {
        frmMain w(write("ns.xml", "<r xmlns:p=\"urn:p\"><p:a k=\"1\"/><b k=\"2\"/><p:a/></r>"));
        showAndWait(w, w.size());
        const struct {
            const char* text;
            const char* status;
        } cases[] = {
            {"//*[@k]", "nNodes=2"},       // a predicate
            {"//p:a", "nNodes=2"},         // a prefix the document element declares
            {"(//p:a)[2]", "nNodes=1"},
            {"/r/*", "nNodes=3"},          // "*" makes it an expression
            {"//@k", "nNodes=2"},          // attributes are listed, not selected
            {"//*[@k='none']", "nNodes=0"},
        };
        for (const auto& c : cases) {
            search(w, c.text, Qt::ShiftModifier);
            QCOMPARE(w.statusText(), QString(c.status));
        }
        search(w, "(//p:a)[2]");
        QCOMPARE(w.selectedItem()->tag, w.document()->documentElement().lastChild());
        search(w, "//p:a");
        QCOMPARE(w.selectedItem()->tag, w.document()->documentElement().firstChild());
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(w.TreeView1, Qt::Key_F3); // Next
        QCOMPARE(w.selectedItem()->tag, w.document()->documentElement().lastChild());

        // a fault is pointed at, and the last matches stay for Next
        script->clearAsked();
        search(w, "//p:a[");
        QCOMPARE(script->messagesShown(),
                 QStringList{"'//p:a[' is not a valid selection: the fault is at character 7."});
        QCOMPARE(w.statusText(), QString("nNodes=2"));

        // Ctrl+F: to the name box, its text selected
        w.TreeView1->setFocus();
        QTest::keyClick(w.TreeView1, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w.txtNodeName->hasFocus());
        QCOMPARE(w.txtNodeName->selectedText(), w.txtNodeName->text());
    }

    void recentDocumentsAreTheLastTenThatLoaded()
    {
        frmMain w;
        for (int i = 0; i < 12; ++i) {
            w.txtNodeName->setText(write(QString("r%1.xml").arg(i), "<r/>"));
            w.toolbarClick("load");
        }
        w.txtNodeName->setText(write("broken.xml", "<r>"));
        w.toolbarClick("load"); // only what loaded is offered again
        const QStringList recent = w.recentDocuments();
        QCOMPARE(recent.size(), 10);
        QCOMPARE(recent.first(), dir.filePath("r11.xml"));
        QCOMPARE(recent.last(), dir.filePath("r2.xml"));
        QCOMPARE(w.txtNodeName->completer()->model()->rowCount(), 10);
        QCOMPARE(script->settings.value("LastURL/LastURL"), dir.filePath("broken.xml"));
    }

    void theWindowComesFirstWhenAskedToLoadOnceShown()
    {
        const QString file = write("late.xml", "<FrameworkConfig TagName=\"FrameworkConfig\"/>");
        frmMain w(file, nullptr, frmMain::StartLoad::WhenShown);
        QVERIFY(w.document() == nullptr || w.document()->documentElement().isNull());
        QCOMPARE(w.txtNodeName->text(), file);
        w.show();
        QTRY_VERIFY(w.document() && !w.document()->documentElement().isNull());
        QCOMPARE(w.treeModel()->topLevelItem(0)->text, QString("FrameworkConfig (FrameworkConfig)"));
        QVERIFY(w.windowTitle().contains(file));
    }
};

QTEST_MAIN(SearchTest)
#include "test_search.moc"
