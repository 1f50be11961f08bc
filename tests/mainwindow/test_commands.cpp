// The node menu, the tree drag, files dropped on the name box and merging, on a real
// window with every dialog answered by scripted prompts.
#include "WindowTestBase.h"
#include "../shared/dom_meaning.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QRubberBand>
#include <QUrl>

using namespace treelark;

namespace {

void mouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers keys)
{
    QMouseEvent e(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons, keys);
    QApplication::sendEvent(target, &e);
}

} // namespace

class CommandsTest : public WindowTestBase {
    Q_OBJECT

private:
    // Press, move and (unless told otherwise) release on the tree, with the keys held.
    static void drag(frmMain& w, QPoint a, QPoint b, Qt::KeyboardModifiers keys, bool release = true)
    {
        QWidget* vp = w.TreeView1->viewport();
        mouse(vp, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton, keys);
        mouse(vp, QEvent::MouseMove, a + QPoint(0, 2), Qt::NoButton, Qt::LeftButton, keys);
        mouse(vp, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton, keys);
        if (release)
            mouse(vp, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton, keys);
    }

    static void shiftDrag(frmMain& w, TreeItem* from, TreeItem* to, Qt::KeyboardModifiers keys = Qt::ShiftModifier)
    {
        centre(w, to); // opening the drop item's branch may move the dragged row
        drag(w, centre(w, from), centre(w, to), keys);
    }

    // A drag entering the widget and moving over it; a drop must follow an enter.
    static void hover(QWidget* to, QMimeData* data)
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &enter);
        QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &move);
    }

    static void drop(QWidget* to, QMimeData* data)
    {
        hover(to, data);
        QDropEvent drop(QPointF(6, 6), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &drop);
    }

private slots:
    void rightClickSetsTheLayerCommands()
    {
        frmMain w(sample());
        showAndWait(w);
        QVERIFY(rightClick(w, layerA(w)));
        QCOMPARE(w.selectedItem(), layerA(w));
        QVERIFY(entry(w, "Edit")->isEnabled() && entry(w, "Add")->isEnabled());

        QVERIFY(rightClick(w, layers(w)));
        QVERIFY(!entry(w, "Edit")->isEnabled() && entry(w, "Add")->isEnabled());

        QVERIFY(rightClick(w, target(w))); // the menu still opens
        QVERIFY(!entry(w, "Edit")->isEnabled() && !entry(w, "Add")->isEnabled());
        for (const char* other : {"Delete", "Copy", "Paste", "EditAttributes", "SaveToFile"})
            QVERIFY(entry(w, other)->isEnabled());

        // a text item is selected but gets no menu
        TreeItem* text = w.treeModel()->child(note(w), 0);
        QVERIFY(!rightClick(w, text));
        QCOMPARE(w.selectedItem(), text);
        // nor does empty space, which clears the selection
        QTest::mouseClick(w.TreeView1->viewport(), Qt::RightButton, {},
                          QPoint(5, w.TreeView1->viewport()->height() - 5));
        QVERIFY(!w.mnuPopUp->isVisible());
        QVERIFY(!w.selectedItem());
    }

    void deleteAsksAndRemovesNodeAndItem()
    {
        frmMain w(sample());
        showAndWait(w);
        DOMNode apLayers = w.document()->documentElement().firstChild();
        rightClick(w, layerB(w));

        script->queueMessage(MsgResult::Cancel); // anything but Yes keeps the node
        w.runMenuCommand("Delete");
        QCOMPARE(apLayers.childCount(), 2);
        QCOMPARE(w.treeModel()->childCount(layers(w)), 2);
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(script->asked().last().text, QString("Confirm to delete node: ApLayer"));
        QCOMPARE(script->asked().last().buttons, MsgButtons::YesNoCancel);

        script->queueMessage(MsgResult::Yes);
        w.runMenuCommand("Delete");
        QCOMPARE(apLayers.childCount(), 1);
        QCOMPARE(apLayers.firstChild().getAttribute("TagName"), QString("A"));
        QCOMPARE(childTexts(w, layers(w)), QStringList{"ApLayer (A,Roads)"});
        QVERIFY(w.editor()->isModified());

        // the deleted node is gone for good: another Delete asks nothing
        script->clearAsked();
        w.runMenuCommand("Delete");
        QVERIFY(script->asked().isEmpty());

        // after path insertion rebuilds the whole tree from the same document, the
        // selected node's new item is the one the command finds
        rightClick(w, note(w));
        w.txtNodeName->setText("FrameworkConfig/Extra");
        w.cmdGetNode_MouseDown(Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(childTexts(w, root(w)), (QStringList{"ApLayers", "Note", "Target", "Extra"}));
        script->queueMessage(MsgResult::Yes);
        w.runMenuCommand("Delete");
        QVERIFY(w.document()->documentElement().selectSingleNode("Note").isNull());
        QCOMPARE(childTexts(w, root(w)), (QStringList{"ApLayers", "Target", "Extra"}));
    }

    void copyThenPasteTwiceGivesIndependentCopies()
    {
        frmMain w(sample());
        showAndWait(w);
        w.selectItem(nullptr); // nothing selected, then nothing copied: each said
        w.runMenuCommand("Paste");
        rightClick(w, target(w));
        w.runMenuCommand("Paste");
        QCOMPARE(script->messagesShown(),
                 (QStringList{"Please select an element node to paste the node in memory.", "Nothing to copy."}));
        script->clearAsked();

        DOMNode a = w.document()->documentElement().firstChild().firstChild();
        rightClick(w, layerA(w));
        w.runMenuCommand("Copy");
        QVERIFY(!w.editor()->isModified());
        // the copy was taken at Copy: later edits of the original do not reach it
        a.setAttribute("Name", "Changed");

        rightClick(w, target(w));
        w.runMenuCommand("Paste");
        w.runMenuCommand("Paste");
        QVERIFY(script->asked().isEmpty());
        DOMNode t = w.document()->documentElement().lastChild();
        QCOMPARE(t.childCount(), 2);
        DOMNode first = t.firstChild(), second = t.lastChild();
        QCOMPARE(childTexts(w, target(w)), (QStringList{"ApLayer (A,Roads)", "ApLayer (A,Roads)"}));
        first.setAttribute("TagName", "Z");
        QCOMPARE(second.getAttribute("TagName"), QString("A"));
        QCOMPARE(a.getAttribute("TagName"), QString("A"));
        QCOMPARE(second.firstChild().nodeName(), QString("ApFields"));
        QCOMPARE(a.parentNode().nodeName(), QString("ApLayers")); // the original stays put
        QCOMPARE(w.treeModel()->child(target(w), 1)->tag, second);
        QVERIFY(w.editor()->isModified());

        // A has a child and was never expanded: its rows are taken when it is pasted into
        rightClick(w, layerA(w));
        w.TreeView1->collapse(w.treeModel()->indexOf(layerA(w)));
        w.runMenuCommand("Paste");
        QCOMPARE(childTexts(w, layerA(w)), (QStringList{"ApFields", "ApLayer (A,Roads)"}));

        // on a text node: nothing, not even with a copy in memory
        rightClick(w, row(w, note(w), 0));
        w.runMenuCommand("Paste");
        QVERIFY(script->asked().isEmpty());
        QCOMPARE(w.document()->documentElement().selectSingleNode("Note").childCount(), 1);
    }

    void pasteIntoANodeThatTakesNoChildrenChangesNothing()
    {
        frmMain w(write("comment.xml", "<r><!--c--><e/></r>"));
        showAndWait(w);
        TreeItem* r = w.treeModel()->topLevelItem(0);
        rightClick(w, w.treeModel()->child(r, 1));
        w.runMenuCommand("Copy");
        TreeItem* comment = w.treeModel()->child(r, 0);
        QVERIFY(rightClick(w, comment)); // a comment gets the menu, but takes no children
        const QString before = w.document()->xml();
        w.runMenuCommand("Paste");
        QCOMPARE(w.document()->xml(), before);
        QCOMPARE(w.treeModel()->childCount(comment), 0);
        QVERIFY(!w.editor()->isModified());
    }

    // The node as its own document; the open one untouched; a failed write reported. The
    // overwrite and read-only questions are the document Save's (one dialog loop asks both).
    void saveToFileWritesTheNodeAsItsOwnDocument()
    {
        frmMain w(sample());
        showAndWait(w);
        const QString before = w.document()->xml();
        rightClick(w, layerA(w));
        const QString path = dir.filePath("node.xml");
        script->queueSave(path);
        w.runMenuCommand("SaveToFile");
        QCOMPARE(script->messagesShown(), QStringList{"XMLNode: ApLayer is saved to " + path});

        DOMDocumentPtr saved = DOMDocument::create();
        QVERIFY(saved->load(path));
        DOMNode root = saved->documentElement();
        QCOMPARE(root.nodeName(), QString("ApLayer"));
        QCOMPARE(root.firstChild().nodeName(), QString("ApFields"));
        // the open document and what the program remembers are untouched
        QCOMPARE(w.document()->xml(), before);
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(w.loadedFile(), sample());
        QCOMPARE(script->settings.value("LastURL/LastURL"), sample());

        // a prefixed node takes its declaration along; the message names it without the prefix
        w.txtNodeName->setText(write("ns.xml", "<r xmlns:p=\"urn:p\"><p:item p:k=\"v\"/></r>"));
        w.toolbarClick("load");
        rightClick(w, w.treeModel()->child(w.treeModel()->topLevelItem(0), 0));
        const QString item = dir.filePath("item.xml");
        script->clearAsked();
        script->queueSave(item);
        w.runMenuCommand("SaveToFile");
        QCOMPARE(script->messagesShown(), QStringList{"XMLNode: item is saved to " + item});
        QVERIFY2(saved->load(item), qPrintable(saved->parseError().reason));
        QCOMPARE(saved->documentElement().nodeName(), QString("p:item"));

        // a write that fails is reported instead of the success text
        script->clearAsked();
        const QString nowhere = dir.filePath("no/such/folder/x.xml");
        script->queueSave(nowhere);
        w.runMenuCommand("SaveToFile");
        const QStringList shown = script->messagesShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(!shown.first().startsWith("XMLNode: ") && shown.first().contains(nowhere));
    }

    // Moved out of the element that declares its prefix, copied and pasted: the saved
    // file loads again and every name keeps its namespace.
    void dragCopyAndPasteKeepNamespaces()
    {
        frmMain w(write("ns2.xml", "<r><a xmlns:x=\"urn:x\"><e x:k=\"1\" k=\"2\"/></a><b/></r>"));
        showAndWait(w);
        TreeItem* r = w.treeModel()->topLevelItem(0);
        TreeItem* eItem = w.treeModel()->child(w.treeModel()->child(r, 0), 0);
        centre(w, eItem); // its branch open first: the rows below move down
        shiftDrag(w, eItem, w.treeModel()->child(r, 1));
        DOMNode e = w.document()->selectSingleNode("//e");
        QVERIFY(!e.isNull());
        QCOMPARE(e.parentNode().nodeName(), QString("b"));
        TreeItem* b = w.treeModel()->child(r, 1);
        rightClick(w, w.treeModel()->child(b, 0));
        w.runMenuCommand("Copy");
        rightClick(w, b);
        w.runMenuCommand("Paste");
        const QString path = dir.filePath("saved.xml");
        script->queueSave(path);
        QVERIFY(w.SaveDocument());
        DOMDocumentPtr saved = DOMDocument::create();
        QVERIFY2(saved->load(path), qPrintable(saved->parseError().reason));
        QCOMPARE(testsupport::meaningOf(saved->asNode()), testsupport::meaningOf(w.document()->asNode()));
        QCOMPARE(saved->selectNodes("//*[@*[local-name()='k' and namespace-uri()='urn:x']]").length(), 2);
    }

    void commandsAfterLoadingAnotherFileLeaveTheOldNodeAlone()
    {
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, layerA(w));
        w.runMenuCommand("Copy");
        w.txtNodeName->setText(write("next.xml", "<Next><Child/></Next>"));
        w.toolbarClick("load");
        const QString loaded = w.document()->xml();

        w.runMenuCommand("Delete"); // the stored node is not in the open document
        w.runMenuCommand("Copy");
        w.runMenuCommand("SaveToFile");
        w.runMenuCommand("Paste");
        w.runMenuCommand("EditAttributes");
        QCOMPARE(script->messagesShown(),
                 (QStringList{"Nothing to save.", "Please select an element node to paste the node in memory."}));
        QCOMPARE(w.document()->xml(), loaded);
        QVERIFY(!w.editor()->isModified());

        // what was copied before the load is pasted into the new document
        TreeItem* child = w.treeModel()->child(w.treeModel()->topLevelItem(0), 0);
        rightClick(w, child);
        w.runMenuCommand("Paste");
        DOMNode pasted = w.document()->documentElement().firstChild().firstChild();
        QCOMPARE(pasted.getAttribute("TagName"), QString("A"));
        QVERIFY(pasted.ownerDocument() == w.document());
        QCOMPARE(childTexts(w, child), QStringList{"ApLayer (A,Roads)"});
    }

    void keyboardShortcutsReachTheCommands()
    {
        frmMain w(sample());
        showAndWait(w);
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        centre(w, layerB(w));
        w.TreeView1->setFocus();

        w.selectItem(layerB(w));
        script->queueMessage(MsgResult::Yes);
        QTest::keyClick(w.TreeView1, Qt::Key_Delete);
        QCOMPARE(childTexts(w, layers(w)), QStringList{"ApLayer (A,Roads)"});

        w.selectItem(layerA(w));
        QTest::keyClick(w.TreeView1, Qt::Key_C, Qt::ControlModifier);
        w.selectItem(target(w));
        QTest::keyClick(w.TreeView1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(childTexts(w, target(w)), QStringList{"ApLayer (A,Roads)"});

        // the menu keys open the menu for the selected item, with its layer rules
        for (const bool menuKey : {true, false}) {
            w.selectItem(menuKey ? layers(w) : layerA(w));
            QTest::keyClick(w.TreeView1, menuKey ? Qt::Key_Menu : Qt::Key_F10, menuKey ? Qt::NoModifier : Qt::ShiftModifier);
            QVERIFY(w.mnuPopUp->isVisible());
            QCOMPARE(entry(w, "Edit")->isEnabled(), !menuKey);
            w.mnuPopUp->hide();
        }

        // Delete on a text item does what the menu does there: nothing
        script->clearAsked();
        w.selectItem(w.treeModel()->child(note(w), 0));
        QTest::keyClick(w.TreeView1, Qt::Key_Delete);
        QVERIFY(script->asked().isEmpty());
        QCOMPARE(w.document()->documentElement().selectSingleNode("Note").childCount(), 1);
    }

    // Only a drag with Shift alone, from an element onto another element outside its
    // branch, moves anything; a refused move leaves the window working.
    void shiftDragMovesTheNodeUnderTheDropItemAndNothingElseMoves()
    {
        frmMain w(sample());
        showAndWait(w);
        const QString before = w.document()->xml();
        for (Qt::KeyboardModifiers keys : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier),
                                           Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier)}) {
            shiftDrag(w, target(w), layers(w), keys);
            QVERIFY(!w.statusText().contains("dropped on"));
        }
        shiftDrag(w, target(w), row(w, note(w), 0)); // onto a text: reported, nothing moves
        QCOMPARE(w.statusText(), QString("Target dropped on #text"));
        w.SetMsg("kept"); // onto itself, or below the last row: not even a report
        shiftDrag(w, target(w), target(w));
        const QPoint empty(5, w.TreeView1->viewport()->height() - 5);
        QVERIFY(!w.TreeView1->indexAt(empty).isValid());
        drag(w, centre(w, target(w)), empty, Qt::ShiftModifier);
        QCOMPARE(w.statusText(), QString("kept"));
        QVERIFY(!w.editor()->isModified());

        TreeItem* a = layerA(w);
        shiftDrag(w, layers(w), a); // into its own branch
        QVERIFY2(w.statusText().startsWith("From TreeView_DragDrop: 3, "), qPrintable(w.statusText()));
        QCOMPARE(w.document()->xml(), before);
        QCOMPARE(childTexts(w, root(w)), (QStringList{"ApLayers", "Note", "Target"}));
        QCOMPARE(layerA(w), a);
        QVERIFY(!w.editor()->isModified()); // a refused move leaves nothing to save

        DOMNode t = w.document()->documentElement().lastChild();
        TreeItem* moving = target(w);
        QWidget* vp = w.TreeView1->viewport();
        const QPoint to = centre(w, layers(w));
        drag(w, centre(w, moving), to, Qt::ShiftModifier, false);
        // the highlight follows the pointer, the dragged item stays selected
        auto* band = vp->findChild<QRubberBand*>();
        QVERIFY(band && band->isVisible());
        QCOMPARE(band->geometry(), w.TreeView1->visualRect(w.treeModel()->indexOf(layers(w))));
        QCOMPARE(w.selectedItem(), moving);
        mouse(vp, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
        QCOMPARE(w.statusText(), QString("Target dropped on ApLayers"));
        QCOMPARE(w.document()->documentElement().firstChild().firstChild(), t); // first in the document
        QCOMPARE(row(w, layers(w), 2), moving); // last in the tree
        QCOMPARE(moving->parent, layers(w));
        QCOMPARE(childTexts(w, root(w)), (QStringList{"ApLayers", "Note"}));
        QVERIFY(!band->isVisible());
    }

    void nameBoxTakesDroppedFilesByTheirEndingGreenWhileOneHovers()
    {
        frmMain w;
        showAndWait(w);
        auto colour = [&w] { return w.txtNodeName->palette().color(QPalette::Base); };
        const QColor normal = colour();
        QVERIFY(normal != QColor(0, 255, 0));
        QMimeData file;
        file.setUrls({QUrl::fromLocalFile(write("hover.xml", "<h/>"))});
        hover(w.txtNodeName, &file);
        QCOMPARE(colour(), QColor(0, 255, 0));
        QDragLeaveEvent leave;
        QApplication::sendEvent(w.txtNodeName, &leave);
        QCOMPARE(colour(), normal);
        drop(w.txtNodeName, &file);
        QCOMPARE(colour(), normal);
        QCOMPARE(w.treeModel()->topLevelItem(0)->text, QString("h"));

        // a drag of plain text is no file: not taken, not inserted, no colour
        QMimeData text;
        text.setText("typed");
        w.txtNodeName->setText("box");
        hover(w.txtNodeName, &text);
        QCOMPARE(colour(), normal);
        drop(w.txtNodeName, &text);
        QCOMPARE(w.txtNodeName->text(), QString("box"));

        // a file is taken by its ending, whatever the letters' case; .ini is the pane's, not
        // the name box's; only the first file counts
        const struct {
            QStringList files;
            const char* shown;
        } drops[] = {{{"x.Xml"}, "x.Xml"}, {{"a.html"}, "a.html"}, {{"x.ini"}, "a.html"},
                     {{"x.ini", "second.xml"}, "a.html"}, {{"first.xml", "other.xml"}, "first.xml"}, {{}, "first.xml"}};
        for (const auto& d : drops) {
            QStringList paths;
            for (const QString& name : d.files)
                paths << write(name, "<" + QFileInfo(name).baseName().toUtf8() + "/>");
            w.txtNodeName_DropFiles(paths);
            QCOMPARE(w.txtNodeName->text(), dir.filePath(d.shown));
            QCOMPARE(w.treeModel()->topLevelItem(0)->text, QFileInfo(d.shown).baseName());
        }
    }

    void mergeFoldsAFileInByNameAndByKey()
    {
        const QString open = write("target.xml", "<Config TagName=\"Config\"><Layers><ApLayer TagName=\"A\"/>"
                                                 "<ApLayer TagName=\"B\" v=\"1\"/></Layers><Title>old</Title></Config>");
        const QString source = write("source.xml", "<Config x=\"2\"><Layers><ApLayer TagName=\"B\" v=\"2\"/>"
                                                   "<ApLayer TagName=\"C\"/></Layers><Fields/><Title>new</Title></Config>");
        frmMain w(open);
        const QString title = w.windowTitle();
        script->queueOpen(source);
        QVERIFY(w.MergeDocument());

        QCOMPARE(script->asked().last().dialog.initialFolder, dir.path() + "/");
        // the pairing rules are the merge suite's; the tree shows the merged document
        QCOMPARE(w.treeModel()->topLevelCount(), 1);
        QCOMPARE(childTexts(w, root(w)), (QStringList{"Layers", "Title", "Fields"}));
        QCOMPARE(childTexts(w, w.treeModel()->child(root(w), 0)),
                 (QStringList{"ApLayer (A)", "ApLayer (B)", "ApLayer (C)"}));

        QCOMPARE(w.statusText(), QString("TotalNodes=8"));
        QCOMPARE(w.txtInfo->toPlainText(), open + " loaded.");
        // the merged file is never remembered; the merge is an edit of the open document
        QVERIFY(w.editor()->isModified());
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(QStringList({w.currentUrl(), w.loadedFile(), w.documentFile(), script->settings.value("LastURL/LastURL")}),
                 QStringList(4, open));
        w.editor()->markSaved();

        // a source that does not parse, or a cancelled dialog, changes nothing at all
        const QString before = w.document()->xml();
        script->queueOpen(write("broken.xml", "<a><b></a>"));
        w.toolbarClick("merge");
        QCOMPARE(w.document()->xml(), before);
        QCOMPARE(childTexts(w, root(w)), (QStringList{"Layers", "Title", "Fields"}));
        QVERIFY(!w.editor()->isModified());
        w.SetMsg("kept");
        w.toolbarClick("merge");
        QCOMPARE(w.statusText(), QString("kept"));

        // the window goes on merging, and one undo takes a merge back whole
        script->queueOpen(write("more.xml", "<Config><Extra/></Config>"));
        w.toolbarClick("merge");
        QCOMPARE(childTexts(w, root(w)), (QStringList{"Layers", "Title", "Fields", "Extra"}));
        w.toolbarClick("undo");
        QCOMPARE(w.document()->xml(), before);
        QVERIFY(!w.editor()->isModified());
    }
};

QTEST_MAIN(CommandsTest)
#include "test_commands.moc"
