// A document's rows on screen while it loads: read-only rows found ahead of the
// document, editing disabled with the reason until it is ready, the branches, selection
// and scroll position kept when the tree changes to the document, what was shown before
// back when the load is stopped, and only browsing let through while it runs.
#include "WindowTestBase.h"
#include "LoadInputGate.h"
#include "LoadPreview.h"

#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

#include "treelark/Busy.h"

using namespace treelark;

namespace {

// Big enough to be previewed; comments and blanks between the elements, which the
// document has as rows and the rows found ahead of it do not, and text-only elements.
QByteArray bigDocument()
{
    QByteArray out = "<?xml version='1.0'?>\n<FrameworkConfig TagName='FrameworkConfig' Name='Big'>\n";
    for (int i = 0; out.size() < LoadPreview::kSmallestFile + (1 << 20); ++i) {
        const QByteArray n = QByteArray::number(i);
        out += "  <!-- layer " + n + " -->\n  <ApLayer TagName='L" + n + "' Name='layer " + n + "'>\n"
               "    <!-- c --><Description>about " + n + "</Description>\n"
               "    <ApFields><ApField TagName='F" + n + "'/><ApField TagName='G" + n + "'/></ApFields>\n"
               "  </ApLayer>\n";
    }
    return out + "</FrameworkConfig>\n";
}

QString label(const QModelIndex& index) { return index.data().toString(); }

} // namespace

class LoadPreviewTest : public WindowTestBase {
    Q_OBJECT

    // Runs `whileLoading` as soon as the tree shows the loading rows of `path`, once at
    // least `rows` of the document element's rows are there.
    void loadWith(frmMain& w, const QString& path, int rows, const std::function<void()>& whileLoading)
    {
        bool ran = false;
        connect(
            &w.session(), &DocumentSession::rowsShown, this,
            [&] {
                QVERIFY(w.session().isLoading());
                QTRY_VERIFY_WITH_TIMEOUT(w.treeModel()->rowCount(w.treeModel()->index(0, 0)) >= rows, 30000);
                whileLoading();
                ran = true;
            },
            Qt::SingleShotConnection);
        w.txtNodeName->setText(path);
        w.toolbarClick("load");
        QVERIFY(ran);
    }

private slots:
    void init() { resetState(); }
    void cleanupTestCase() { dropPrompts(); }

    void theDocumentTakesOverTheBranchesSelectionAndScrollOfItsRows()
    {
        const QString path = write("big.xml", bigDocument());
        frmMain w;
        w.resize(600, 500);
        w.show();
        QTreeView* tree = w.TreeView1;
        QString open, current, top;
        loadWith(w, path, 60, [&] {
            // Editing waits for the document and says why.
            QVERIFY(w.session().isReadOnly());
            QVERIFY(!w.toolbarButton("save")->isEnabled());
            QVERIFY(w.toolbarButton("save")->toolTip().contains("still being read"));
            QVERIFY(!w.toolbarButton("merge")->isEnabled());
            // A search by name reads the rows found so far; XPath waits for the document.
            w.txtNodeName->setText("Description");
            w.cmdGetNode_MouseDown(Qt::ShiftModifier);
            QVERIFY(w.statusText().endsWith(" in the rows read so far"));
            QVERIFY(w.statusText().section(' ', 0, 0).mid(7).toInt() >= 60);
            QCOMPARE(label(tree->currentIndex()), QString("Description"));
            QVERIFY(w.txtInfo->toPlainText().startsWith("Node: 1 Description"));
            w.txtNodeName->setText("//ApLayer[1]");
            w.cmdGetNode_MouseDown(Qt::NoModifier);
            QCOMPARE(script->messagesShown().size(), 1);
            QVERIFY(script->messagesShown().first().contains("still being read"));
            const QModelIndex root = w.treeModel()->index(0, 0);
            const QModelIndex layer = w.treeModel()->index(30, 0, root);
            tree->expand(layer);
            const QModelIndex description = w.treeModel()->index(0, 0, layer);
            tree->expand(description);
            QTRY_VERIFY(w.treeModel()->rowCount(description) == 1);
            tree->setCurrentIndex(w.treeModel()->index(0, 0, description)); // its "#text"
            tree->scrollTo(w.treeModel()->index(25, 0, root), QAbstractItemView::PositionAtTop);
            open = label(layer);
            current = label(tree->currentIndex()) + " in " + label(description);
            top = label(tree->indexAt(QPoint(1, 1)));
        });
        QVERIFY(!w.session().isLoading());
        QVERIFY(!w.isLargeForm());
        QVERIFY(w.session().readOnlyReason().isEmpty());
        QVERIFY(!w.toolbarButton("save")->toolTip().contains("still being read"));
        QCOMPARE(open, QString("ApLayer (L30,layer 30)"));
        // The same elements, though the document has a comment row before each.
        const QModelIndex now = tree->currentIndex();
        QCOMPARE(label(now) + " in " + label(now.parent()), current);
        QVERIFY(now.data().toString() == "#text");
        QVERIFY(tree->isExpanded(now.parent().parent()));
        QCOMPARE(label(now.parent().parent()), open);
        QCOMPARE(label(tree->indexAt(QPoint(1, 1))), top);
        QCOMPARE(top, QString("ApLayer (L25,layer 25)"));
        QVERIFY(!w.document()->documentElement().isNull());
    }

    void aCancelledLoadPutsBackWhatWasShown()
    {
        const QString big = write("big.xml", bigDocument());
        frmMain w(sample());
        w.resize(600, 500);
        w.show();
        QTreeView* tree = w.TreeView1;
        tree->expand(w.treeModel()->indexOf(layers(w)));
        w.selectItem(layerB(w));
        const DOMDocumentPtr before = w.document();
        // Esc while the document is read: once it reports its first progress.
        loadWith(w, big, 10, [&] {
            connect(w.xmlMgr(), &ApXmlMgr::LoadProgress, this, [] { requestCancel(); }, Qt::SingleShotConnection);
        });
        QVERIFY(w.statusText().contains("was cancelled"));
        QCOMPARE(w.document(), before);
        QVERIFY(!w.session().isLoading());
        QVERIFY(w.session().readOnlyReason().isEmpty());
        QCOMPARE(label(w.treeModel()->index(0, 0)), QString("FrameworkConfig (FrameworkConfig)"));
        QVERIFY(tree->isExpanded(w.treeModel()->indexOf(layers(w))));
        QCOMPARE(w.selectedItem(), layerB(w));
    }

    void onlyBrowsingReachesTheTreeWhileALoadRuns()
    {
        QTreeView tree;
        QStandardItemModel model;
        for (int i = 0; i < 5; ++i)
            model.appendRow(new QStandardItem(QString::number(i)));
        tree.setModel(&model);
        tree.show();
        tree.setCurrentIndex(model.index(0, 0));
        QPushButton cancel("Cancel");
        int cancels = 0;
        LoadInputGate gate(&cancel, [&] { ++cancels; });
        qApp->installEventFilter(&gate);
        QTest::keyClick(&tree, Qt::Key_Down);
        QCOMPARE(tree.currentIndex().row(), 0); // nothing reaches it by default
        gate.setBrowsable(&tree);
        QTest::keyClick(&tree, Qt::Key_Down);
        // as a person's keys come: to the window, then on to the focus widget
        tree.activateWindow();
        tree.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&tree));
        QTest::keyClick(tree.windowHandle(), Qt::Key_Down);
        QCOMPARE(tree.currentIndex().row(), 2);
        // Keys that would act on a row, the right button, and the rest of the window: held.
        bool menu = false;
        tree.setContextMenuPolicy(Qt::CustomContextMenu);
        connect(&tree, &QWidget::customContextMenuRequested, [&] { menu = true; });
        QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, tree.visualRect(model.index(4, 0)).center());
        QTest::keyClick(&tree, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(tree.currentIndex().row(), 2);
        QVERIFY(!menu);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(model.index(4, 0)).center());
        QCOMPARE(tree.currentIndex().row(), 4);
        QTest::keyClick(&tree, Qt::Key_Escape);
        QCOMPARE(cancels, 1);
        // The name box takes what is typed while the view is browsable, and only then.
        QLineEdit box;
        box.show();
        box.activateWindow();
        box.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        gate.setSearchable({&box});
        for (char c : std::string("Name"))
            QTest::keyClick(box.windowHandle(), c);
        QCOMPARE(box.text(), QString("Name"));
        gate.setBrowsable(nullptr);
        QTest::keyClicks(&box, "More");
        QCOMPARE(box.text(), QString("Name"));
        qApp->removeEventFilter(&gate);
    }
};

QTEST_MAIN(LoadPreviewTest)
#include "test_load_preview.moc"
