// The window on a document in large document form: the same rows and labels as the
// document tree, the pane and search working from the index, ShowText and SaveToFile
// copying the file's own bytes, editing refused with a reason, a broken tail shown up
// to the fault, and a normal load bringing the editable tree back.
#include "WindowTestBase.h"
#include "frmMessage.h"

#include <QAbstractItemModelTester>

using namespace treelark;

namespace {

const QByteArray kDoc = R"(<?xml version="1.0"?>
<FrameworkConfig TagName="FrameworkConfig" Name="FrameworkConfig">
  <ApLayers TagName="Layers">
    <ApLayer TagName="Roads" Name="Main roads"><ApFields><ApField TagName="Lanes"/></ApFields></ApLayer>
    <ApLayer TagName="Rivers" Name="Rivers"><ApFields/></ApLayer>
  </ApLayers>
  <Description>Sample &amp; more</Description>
</FrameworkConfig>
)";

// Every row's label, depth first, with the branch each stands in.
QStringList labels(QAbstractItemModel* model, const QModelIndex& parent = QModelIndex(), const QString& at = QString())
{
    QStringList out;
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        const QString here = at + "/" + i.data().toString();
        out << here << labels(model, i, here);
    }
    return out;
}

} // namespace

class LargeFormTest : public WindowTestBase {
    Q_OBJECT

private slots:

    void browsesSearchesAndExtractsWithoutEditing()
    {
        const QString path = write("config.xml", kDoc);
        frmMain dom(path);
        frmMain w;
        w.setAlwaysLargeForm(true);
        w.txtNodeName->setText(path);
        w.toolbarClick("load");
        QVERIFY(w.isLargeForm());
        QAbstractItemModelTester check(w.TreeView1->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(labels(w.TreeView1->model()), labels(dom.TreeView1->model()));
        QVERIFY(w.txtInfo->toPlainText().contains("open read-only in large document form"));

        // Search and Next reach the same rows as on the document.
        for (frmMain* win : {&dom, &w}) {
            win->txtNodeName->setText("ApLayer");
            win->cmdGetNode_MouseDown(Qt::ShiftModifier);
            QCOMPARE(win->statusText(), QString("nNodes=2"));
            win->selectNextMatch();
        }
        QCOMPARE(w.TreeView1->currentIndex().data(), QVariant("ApLayer (Rivers)"));
        QCOMPARE(dom.TreeView1->currentIndex().data(), w.TreeView1->currentIndex().data());
        w.txtNodeName->setText("//ApLayer[1]");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(script->messagesShown().size(), 1); // XPath needs the document in memory

        // The pane describes the row from the file; the path as the document's.
        w.TreeView1->setCurrentIndex(w.TreeView1->model()->index(0, 0, w.TreeView1->model()->index(0, 0)));
        w.treeClick();
        const QString pane = w.txtInfo->toPlainText();
        QVERIFY2(pane.startsWith("ApLayers=NodeType:TypeName=1:element") && pane.contains(" 0:TagName=Layers")
                     && pane.contains("FrameworkConfig/ApLayers"),
                 qPrintable(pane));

        // SaveToFile writes the subtree as its own document, ShowText shows it.
        const QString out = dir.filePath("layers.xml");
        script->queueSave(out);
        QVERIFY(rightClick(w, w.treeModel()->child(w.treeModel()->topLevelItem(0), 0)));
        w.runMenuCommand("SaveToFile");
        frmMain back(out);
        QCOMPARE(back.document()->documentElement().nodeName(), QString("ApLayers"));
        QCOMPARE(back.document()->documentElement().childNodes().length(), 2);
        w.runMenuCommand("ShowText");
        auto* message = w.findChild<frmMessage*>();
        QVERIFY(message);

        // Editing is refused, and says why; nothing is asked when closing.
        QVERIFY(!w.toolbarButton("save")->isEnabled());
        QVERIFY(w.toolbarButton("save")->toolTip().contains("read-only"));
        w.runMenuCommand("Delete");
        QCOMPARE(w.TreeView1->model()->rowCount(w.TreeView1->model()->index(0, 0)), 2);
        script->clearAsked();
        QVERIFY(w.close());
        QVERIFY(script->asked().isEmpty());
    }

    void aBrokenTailShowsTheRowsBeforeItAndANormalLoadComesBack()
    {
        const QString broken = write("broken.xml", "<a>\n  <b/>\n  <c><d/></e>\n</a>\n");
        frmMain w;
        w.setAlwaysLargeForm(true);
        w.txtNodeName->setText(broken);
        w.toolbarClick("load");
        QVERIFY(w.isLargeForm());
        QCOMPARE(labels(w.TreeView1->model()), QStringList({"/a", "/a/b", "/a/c", "/a/c/d"}));
        QVERIFY2(w.txtInfo->toPlainText().contains("Line 3, column"), qPrintable(w.txtInfo->toPlainText()));

        // What the index cannot take at all is read whole when it fits.
        const QString utf16 = QStringLiteral("<x n=\"\u00e9\"/>");
        w.txtNodeName->setText(write("utf16.xml", QByteArray("\xFF\xFE", 2)
                                                       + QByteArray(reinterpret_cast<const char*>(utf16.utf16()),
                                                                    utf16.size() * 2)));
        w.toolbarClick("load");
        QVERIFY(!w.isLargeForm());
        QCOMPARE(w.document()->documentElement().getAttribute("n"), QString(QChar(0xe9)));

        // A single-byte encoding is indexed; opened again, its index is the one kept.
        w.setIndexCacheFolder(dir.filePath("cache"));
        w.txtNodeName->setText(write("latin.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><x n=\"\xe9\"><y/></x>"));
        for (const bool again : {false, true}) {
            w.toolbarClick("load");
            QVERIFY(w.isLargeForm());
            QCOMPARE(labels(w.TreeView1->model()), QStringList({"/x", "/x/y"}));
            QCOMPARE(w.statusText().contains("kept from an earlier opening"), again);
        }

        // A branch long enough to be listed in a block of its own.
        w.txtNodeName->setText(write("wide.xml", "<r>" + QByteArray(300000 * 5, 'x').replace("xxxxx", "<i/>\n") + "</r>"));
        w.toolbarClick("load");
        QVERIFY(w.isLargeForm());
        const QModelIndex wide = w.TreeView1->model()->index(0, 0);
        QCOMPARE(w.TreeView1->model()->rowCount(wide), 300000);
        QCOMPARE(w.TreeView1->model()->index(299999, 0, wide).data(), QVariant("i"));

        w.setAlwaysLargeForm(false);
        w.txtNodeName->setText(write("small.xml", "<x><y/></x>"));
        w.toolbarClick("load");
        QVERIFY(!w.isLargeForm());
        QCOMPARE(labels(w.TreeView1->model()), QStringList({"/x", "/x/y"}));
        QVERIFY(w.toolbarButton("save")->isEnabled());
        QVERIFY(!w.toolbarButton("save")->toolTip().contains("read-only"));
    }
};

QTEST_MAIN(LargeFormTest)
#include "test_large_form.moc"
