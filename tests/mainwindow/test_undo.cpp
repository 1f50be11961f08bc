// Undo and redo on the real window: buttons, keys, status line, the changed flag (which
// the close prompt reads), the tree keeping what the user had open, and a long run of random
// edits after each of which the tree's loaded rows are exactly the document's children.
#include "WindowTestBase.h"
#include "dom_meaning.h"
#include "treelark/dCollection.h"

#include <QAbstractItemModelTester>

#include <algorithm>
#include <random>
#include <unordered_set>

using namespace treelark;

namespace {

// Every loaded branch of the tree against the document: same nodes, same order (except
// a row a drag or the layer builder showed last), same texts. Returns the first mismatch.
QString treeMismatch(DocumentTreeModel* m, TreeItem* item, const DOMNode& node,
                     const std::unordered_set<DOMNode>& shownLast = {})
{
    if (item->tag != node)
        return "item " + item->text + " shows another node";
    if (item->text != treeItemText(node))
        return "item text " + item->text + " is not " + treeItemText(node);
    std::vector<DOMNode> children;
    for (DOMNode c = node.firstChild(); !c.isNull(); c = c.nextSibling())
        children.push_back(c);
    if (m->childCount(item) != qsizetype(children.size()))
        return QString("%1 has %2 rows for %3 children").arg(item->text).arg(m->childCount(item)).arg(children.size());
    if (m->rowCount(m->indexOf(item)) != m->childCount(item))
        return item->text + ": the view is told another row count";
    // rows in document order, apart from rows a drag showed last: those may stand anywhere
    std::vector<DOMNode> inOrder;
    for (const DOMNode& c : children)
        if (!shownLast.count(c))
            inOrder.push_back(c);
    size_t next = 0;
    for (qsizetype i = 0; i < m->childCount(item); ++i) {
        TreeItem* row = m->child(item, i);
        DOMNode expected;
        if (shownLast.count(row->tag)) {
            if (std::find(children.begin(), children.end(), row->tag) == children.end())
                return item->text + ": a row shows a node that is not a child";
            expected = row->tag;
        } else if (next < inOrder.size()) {
            expected = inOrder[next++];
        }
        if (row->tag != expected)
            return QString("%1: row %2 is %3, the document has %4 there")
                .arg(item->text).arg(i).arg(row->text, expected.isNull() ? QString("nothing") : treeItemText(expected));
        if (QString deeper = treeMismatch(m, row, expected, shownLast); !deeper.isEmpty())
            return deeper;
    }
    return QString();
}

} // namespace

class UndoTest : public WindowTestBase {
    Q_OBJECT

private slots:
    void deleteUndoneByKeysAndButtons()
    {
        frmMain w(sample());
        showAndWait(w, w.size());
        QAction* undo = w.toolbarButton("undo");
        QAction* redo = w.toolbarButton("redo");
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());

        TreeItem* layers = row(w, root(w), 0);
        const DOMNode a = layerA(w)->tag;
        rightClick(w, layerA(w));
        script->queueMessage(MsgResult::Yes);
        w.runMenuCommand("Delete");
        QCOMPARE(w.treeModel()->childCount(layers), 1);
        QVERIFY(undo->isEnabled());
        QVERIFY(w.editor()->isModified());

        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.TreeView1->setFocus();
        QTest::keyClick(w.TreeView1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.treeModel()->childCount(layers), 2);
        QCOMPARE(row(w, layers, 0)->tag, a); // the same node, back at its place
        QCOMPARE(w.statusText(), QString("Undo: Delete ApLayer"));
        QVERIFY(!w.editor()->isModified()); // back where it was loaded
        QVERIFY(!undo->isEnabled() && redo->isEnabled());

        QTest::keyClick(w.TreeView1, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(w.treeModel()->childCount(layers), 1);
        QCOMPARE(w.statusText(), QString("Redo: Delete ApLayer"));
        QVERIFY(w.editor()->isModified());
        undo->trigger();
        QTest::keyClick(w.TreeView1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.treeModel()->childCount(layers), 1);
    }

    void undoKeepsExpansionAndSelectionWhereNodesStay()
    {
        frmMain w(sample());
        showAndWait(w, w.size());
        TreeItem* a = layerA(w);
        w.TreeView1->expand(w.treeModel()->indexOf(layers(w)));
        w.TreeView1->expand(w.treeModel()->indexOf(a));
        w.selectItem(a);
        // a path insertion and a merge change the tree without building it again
        w.txtNodeName->setText("FrameworkConfig/Services/Service");
        w.cmdGetNode_MouseDown(Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.treeModel()->childCount(root(w)), 4);
        QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(a)));
        QCOMPARE(w.selectedItem(), a);
        w.editor()->undo();
        QCOMPARE(w.treeModel()->childCount(root(w)), 3);
        QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(layers(w))));
        QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(a)));
        QCOMPARE(w.selectedItem(), a);

        // a loaded document starts a fresh history (the edits were let go when asked)
        w.editor()->redo();
        w.txtNodeName->setText(write("other.xml", "<r/>"));
        script->queueMessage(MsgResult::No);
        w.toolbarClick("load");
        QVERIFY(!w.toolbarButton("undo")->isEnabled());
        QVERIFY(!w.toolbarButton("redo")->isEnabled());
    }

    // Random steps through the window's edit layer; after each, every branch the tree has
    // loaded matches the document. Undoing all gives the file as loaded, redoing all the
    // document as edited. The seed is fixed: every run takes the same steps.
    void randomEditsKeepTheTreeInStepWithTheDocument()
    {
        QByteArray text = "<FrameworkConfig>\n";
        for (int i = 0; i < 6; ++i) {
            text += "  <ApLayers TagName=\"L" + QByteArray::number(i) + "\">\n";
            for (int j = 0; j < 4; ++j)
                text += "    <ApLayer TagName=\"T" + QByteArray::number(j) + "\" Name=\"n\"><ApFields/>text</ApLayer>\n";
            text += "  </ApLayers>\n";
        }
        text += "</FrameworkConfig>\n";
        frmMain w(write("random.xml", text));
        showAndWait(w, w.size());
        DocumentEditor* e = w.editor();
        const DOMDocumentPtr doc = w.document();
        const QByteArray loaded = doc->saveToBytes();
        std::mt19937 rng(20261206);
        auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        auto anyNode = [&] {
            std::vector<DOMNode> all;
            for (DOMNode n = doc->documentElement(); !n.isNull(); n = testsupport::following(n, doc->asNode()))
                all.push_back(n);
            return all[size_t(pick(int(all.size())))];
        };
        int steps = 0;
        std::unordered_set<DOMNode> shownLast; // nodes a drag moved
        // every change signal the edits send must leave the model consistent for any view
        QAbstractItemModelTester tester(w.TreeView1->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 300; ++i) {
            DOMNode n = anyNode(), other = anyNode();
            try {
                switch (pick(8)) {
                case 0:
                    if (n != doc->documentElement())
                        e->removeNode(n);
                    break;
                case 1:
                    e->appendCopy(other, n.cloneNode(true));
                    break;
                case 2:
                    e->moveToFirstChild(n, other);
                    shownLast.insert(n);
                    break;
                case 3:
                    e->setAttribute(n, pick(2) ? "Name" : "TagName", QString::number(i));
                    break;
                case 4:
                    e->removeAttribute(n, "Name");
                    break;
                case 5:
                    e->setText(n, QString::number(i));
                    break;
                case 6: {
                    dCollection attrs;
                    attrs.Add(QString::number(i), "Name");
                    e->perform("path", [&] {
                        w.xmlMgr()->InsertNodeWithFullPath(w.xmlMgr()->GetFullPath(n) + "/Added", &attrs);
                    });
                    break;
                }
                default: // the user opens a branch, so the tree has more to keep in step
                    if (TreeItem* item = w.treeModel()->existingItem(n))
                        w.TreeView1->expand(w.treeModel()->indexOf(item));
                    else if (TreeItem* top = root(w))
                        w.treeModel()->childCount(top);
                    break;
                }
            } catch (const DOMException&) {
                // refused steps change nothing the tree shows
            }
            const QString mismatch = treeMismatch(w.treeModel(), root(w), doc->documentElement(), shownLast);
            if (!mismatch.isEmpty())
                QFAIL(qPrintable(QString("after step %1: %2").arg(i).arg(mismatch)));
            steps = e->stepCount();
        }
        QVERIFY(steps > 100);
        const QByteArray edited = doc->saveToBytes();
        while (e->canUndo())
            e->undo();
        QCOMPARE(doc->saveToBytes(), loaded);
        QCOMPARE(treeMismatch(w.treeModel(), root(w), doc->documentElement(), shownLast), QString());
        while (e->canRedo())
            e->redo();
        QCOMPARE(doc->saveToBytes(), edited);
        QCOMPARE(treeMismatch(w.treeModel(), root(w), doc->documentElement(), shownLast), QString());
    }
};

QTEST_MAIN(UndoTest)
#include "test_undo.moc"
