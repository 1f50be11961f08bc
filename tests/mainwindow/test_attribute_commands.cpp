// The node commands that open the attribute windows, on a real window with scripted
// prompts: "EditAttributes", "InsertNode" (and the element arriving through NodeAdded)
// and "EditText"; where each window opens, and that each change is one undo step.
#include "WindowTestBase.h"
#include "frmEdit.h"
#include "frmView.h"
#include "Twips.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace treelark;

class AttributeCommandsTest : public WindowTestBase {
    Q_OBJECT

    static int twX(int px, QWidget* w) { return pixelsToTwipsX(px, w); }
    static int twY(int px, QWidget* w) { return pixelsToTwipsY(px, w); }

private slots:
    void editAttributesOpensBesideTheClickAndOkRelabels()
    {
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, row(w, note(w), 0));
        w.runMenuCommand("EditAttributes");
        QCOMPARE(script->messagesShown(), QStringList{"Node #text has no attributes."});
        QVERIFY(!w.attributeEditor());
        // An element without attributes gets its first one through the editor's Add,
        // by keyboard alone: the menu key in the empty list, Add, name, Tab, value, Tab to OK.
        rightClick(w, note(w));
        w.runMenuCommand("EditAttributes");
        frmView* empty = w.attributeEditor();
        QCOMPARE(empty->lvwInfo->topLevelItemCount(), 0);
        while (QWidget* left = QApplication::activePopupWidget()) // the node menu of the right-click
            left->close();
        QApplication::setActiveWindow(empty); // the headless platform leaves the main window active
        empty->lvwInfo->setFocus();
        QTest::keyClick(empty->lvwInfo, Qt::Key_Menu);
        QCOMPARE(QApplication::activePopupWidget(), empty->mnuPopUp);
        QTest::keyClick(empty->mnuPopUp, Qt::Key_Down); // Edit is disabled: Add comes first
        QCOMPARE(empty->mnuPopUp->activeAction()->text(), QString("Add"));
        QTest::keyClick(empty->mnuPopUp, Qt::Key_Return);
        frmEdit* dialog = frmEdit::openInstance();
        QVERIFY(dialog && dialog->isVisible());
        QApplication::setActiveWindow(dialog);
        dialog->txtName->setFocus();
        dialog->txtName->selectAll();
        QTest::keyClicks(dialog->txtName, "Kind");
        QTest::keyClick(dialog->txtName, Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), "memo");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->cmdOK);
        QTest::keyClick(dialog->cmdOK, Qt::Key_Space);
        QCOMPARE(note(w)->tag.getAttribute("Kind"), QString("memo"));
        QCOMPARE(w.attributeEditor()->lvwInfo->topLevelItemCount(), 1);
        w.attributeEditor()->cmdClose_Click();
        w.toolbarClick("undo");
        QPoint at;
        rightClick(w, layerA(w), &at);
        w.runMenuCommand("EditAttributes");
        frmView* v = w.attributeEditor();
        QVERIFY(v && v->isVisible());
        QCOMPARE(v->lvwInfo->topLevelItemCount(), 2);
        const QPoint corner = w.frameGeometry().topLeft();
        QCOMPARE(v->pos(), QPoint(twipsToPixelsX(twX(corner.x(), &w) + twX(at.x(), w.TreeView1), &w),
                                  twipsToPixelsY(twY(corner.y(), &w) + twY(at.y(), w.TreeView1), &w)));

        // TagName emptied in place: the tree follows the document, by its one label rule
        const QByteArray before = w.document()->saveToBytes();
        doubleClickRow(v, 0);
        QVERIFY(v->txtEditor->isVisible());
        v->txtEditor->clear();
        QTest::keyClick(v->txtEditor, Qt::Key_Return);
        QCOMPARE(layerA(w)->text, QString("ApLayer(Roads)")); // the tree follows the edit
        QSignalSpy added(v, &frmView::NodeAdded);
        v->cmdClose_Click();
        QCOMPARE(layerA(w)->text, QString("ApLayer(Roads)")); // OK writes no label of its own
        QCOMPARE(added.size(), 0); // an element already in the document is no new one
        QVERIFY(w.editor()->isModified());
        QCOMPARE(w.editor()->stepCount(), 1);
        w.editor()->undo();
        QCOMPARE(w.document()->saveToBytes(), before);
    }

    void insertNodeProposesANameAndInsertsOnlyOnOk()
    {
        frmMain w(sample());
        showAndWait(w);
        const QByteArray before = w.document()->saveToBytes();

        // the name proposed: the first child's, or NewNode where there is none; an empty
        // answer or a cancelled box ends the command
        rightClick(w, layerA(w));
        script->queueInput(QString());
        w.runMenuCommand("InsertNode");
        QCOMPARE(script->asked().last().dialog.fileName, QString("ApFields"));
        QVERIFY(!w.attributeEditor());
        rightClick(w, target(w));
        w.runMenuCommand("InsertNode");
        QCOMPARE(script->asked().last().dialog.fileName, QString("NewNode"));
        QVERIFY(!w.attributeEditor());
        script->queueInput(QString("1bad")); // explained, nothing made
        w.runMenuCommand("InsertNode");
        QCOMPARE(script->messagesShown().size(), 1);
        QVERIFY(script->messagesShown().first().contains("1bad"));
        QVERIFY(!w.attributeEditor());
        QCOMPARE(w.document()->saveToBytes(), before);

        script->queueInput(QString("Fresh"));
        w.runMenuCommand("InsertNode");
        frmView* v = w.attributeEditor();
        QVERIFY(v && v->bAddingNode);
        QCOMPARE(v->lvwInfo->topLevelItem(0)->text(0) + "," + v->lvwInfo->topLevelItem(1)->text(0),
                 QString("Name,TagName"));
        v->cmdCancel_Click(); // dropped
        QCOMPARE(w.document()->saveToBytes(), before);
        QCOMPARE(w.treeModel()->childCount(target(w)), 0);
        QVERIFY(!w.editor()->isModified());

        rightClick(w, layerA(w));
        script->queueInput(QString("ApField"));
        w.runMenuCommand("InsertNode");
        v = w.attributeEditor();
        QTRY_VERIFY(v);
        v->cmdClose_Click();
        const DOMNode a = layerA(w)->tag;
        QCOMPARE(a.lastChild().xml(), QString("<ApField Name=\"\" TagName=\"\"/>"));
        QCOMPARE(w.treeModel()->child(layerA(w), 1)->tag, a.lastChild());
        QVERIFY(w.editor()->isModified());
        QCOMPARE(w.editor()->stepCount(), 1);
        QCOMPARE(w.editor()->undoText(), QString("Insert ApField"));
        w.editor()->undo();
        QCOMPARE(w.document()->saveToBytes(), before);
        QCOMPARE(w.treeModel()->childCount(layerA(w)), 1);
    }

    void editTextOpensBelowTheItemAndIsOneStep()
    {
        frmMain w(sample());
        showAndWait(w);
        const QByteArray before = w.document()->saveToBytes();
        QPoint at;
        rightClick(w, note(w), &at);
        w.runMenuCommand("EditText");
        frmEdit* d = frmEdit::openInstance();
        QVERIFY(d && d->isVisible() && d->nodeTextMode());
        QCOMPARE(d->txtValue->text(), QString("plain"));
        const QPoint corner = w.frameGeometry().topLeft();
        const QPoint tree = w.TreeView1->mapTo(&w, QPoint(0, 0));
        QCOMPARE(d->pos(),
                 QPoint(twipsToPixelsX(twX(corner.x(), &w) + twX(tree.x(), &w) + twX(at.x(), w.TreeView1), &w),
                        twipsToPixelsY(twY(corner.y(), &w) + twY(tree.y(), &w) + twY(at.y(), w.TreeView1)
                                           + twY(d->frameGeometry().height(), &w),
                                       &w)));
        d->txtValue->setText("changed");
        d->cmdOK_Click();
        QCOMPARE(note(w)->tag.text(), QString("changed"));
        QVERIFY(w.editor()->isModified());
        QCOMPARE(w.editor()->stepCount(), 1);
        w.editor()->undo();
        QCOMPARE(w.document()->saveToBytes(), before);
    }

    void loadingAnotherDocumentClosesTheWindows()
    {
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, layerA(w));
        w.runMenuCommand("EditAttributes");
        QPointer<frmView> v = w.attributeEditor();
        rightClick(w, note(w));
        w.runMenuCommand("EditText");
        QPointer<frmEdit> d = frmEdit::openInstance();
        QVERIFY(v && d);
        w.txtNodeName->setText(sample());
        w.toolbarClick("load");
        QTRY_VERIFY(!v && !d);
    }
};

QTEST_MAIN(AttributeCommandsTest)
#include "test_attribute_commands.moc"
