// Whatever a user changes, through whichever window, is unsaved work: closing the window
// and opening another document ask first, undoing back to the saved state asks nothing,
// and a refused change leaves nothing to save. Open tool windows follow the document.
#include "WindowTestBase.h"
#include "frmEdit.h"
#include "frmView.h"
#include "frmXmlCreator.h"

#include <functional>

using namespace treelark;

Q_DECLARE_METATYPE(std::function<void(treelark::frmMain&)>)

namespace {

using Change = std::function<void(frmMain&)>;

frmXmlCreator* builder(frmMain& w)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QList<frmXmlCreator*> open = w.findChildren<frmXmlCreator*>();
    return open.size() == 1 ? open.first() : nullptr;
}

} // namespace

class UnsavedWorkTest : public WindowTestBase {
    Q_OBJECT

    // Double-click on the attribute editor's row, type, Enter: the in-place commit.
    static void commitInPlace(frmView* v, int rowIndex, const QString& value)
    {
        doubleClickRow(v, rowIndex);
        v->txtEditor->setText(value);
        QTest::keyClick(v->txtEditor, Qt::Key_Return);
    }

    static int undoToClean(frmMain& w)
    {
        int steps = 0;
        while (w.editor()->isModified() && w.editor()->canUndo()) {
            w.toolbarClick("undo");
            ++steps;
        }
        return steps;
    }

private slots:
    void everyChangeIsAskedAboutBeforeItCanBeLost_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("Delete") << Change([this](frmMain& w) {
            QVERIFY(rightClick(w, note(w)));
            script->queueMessage(MsgResult::Yes);
            w.runMenuCommand("Delete");
        });
        QTest::newRow("Paste") << Change([this](frmMain& w) {
            rightClick(w, note(w));
            w.runMenuCommand("Copy");
            rightClick(w, target(w));
            w.runMenuCommand("Paste");
        });
        QTest::newRow("drag") << Change([this](frmMain& w) {
            w.selectItem(target(w));
            w.treeDrop(layers(w));
        });
        QTest::newRow("path insertion") << Change([this](frmMain& w) {
            w.txtNodeName->setText("FrameworkConfig/Extra;Key=1");
            w.cmdGetNode_MouseDown(Qt::ControlModifier | Qt::ShiftModifier);
        });
        QTest::newRow("merge") << Change([this](frmMain& w) {
            script->queueOpen(write("more.xml", "<FrameworkConfig><Extra/></FrameworkConfig>"));
            w.toolbarClick("merge");
        });
        QTest::newRow("attribute commit, then CANCEL") << Change([this](frmMain& w) {
            rightClick(w, layerA(w));
            w.runMenuCommand("EditAttributes");
            commitInPlace(w.attributeEditor(), 1, "Lakes");
            w.attributeEditor()->cmdCancel_Click();
        });
        QTest::newRow("edit dialog OK") << Change([this](frmMain& w) {
            rightClick(w, note(w));
            w.runMenuCommand("EditText");
            frmEdit::openInstance()->txtValue->setText("changed");
            frmEdit::openInstance()->cmdOK_Click();
        });
        QTest::newRow("InsertNode OK") << Change([this](frmMain& w) {
            rightClick(w, target(w));
            script->queueInput("Fresh");
            w.runMenuCommand("InsertNode");
            w.attributeEditor()->cmdClose_Click();
        });
        QTest::newRow("Edit layer, Ok") << Change([this](frmMain& w) {
            rightClick(w, layerA(w));
            w.runMenuCommand("Edit");
            builder(w)->txtLayerTagName->setText("A2");
            builder(w)->cmdWrite->click();
        });
        QTest::newRow("Add layer, Ok") << Change([this](frmMain& w) {
            rightClick(w, layers(w));
            w.runMenuCommand("Add");
            builder(w)->txtLayerName->setText("Lakes");
            builder(w)->txtLayerTagName->setText("L");
            builder(w)->cmdAddLayer->click();
            builder(w)->cmdWrite->click();
        });
    }

    void everyChangeIsAskedAboutBeforeItCanBeLost()
    {
        QFETCH(Change, change);
        const QString path = sample();
        const QString other = write("other.xml", "<other/>");
        frmMain w(path);
        showAndWait(w);
        const QByteArray loaded = w.document()->saveToBytes();
        change(w);
        QVERIFY(w.editor()->isModified());
        const QByteArray edited = w.document()->saveToBytes();
        QVERIFY(edited != loaded);

        // Cancel keeps everything: the window, the document, its history.
        script->clearAsked();
        script->queueMessage(MsgResult::Cancel);
        w.txtNodeName->setText(other);
        w.toolbarClick("load");
        QCOMPARE(script->messagesShown(), QStringList{"Save changes to sample.xml?"});
        QCOMPARE(w.document()->saveToBytes(), edited);
        QCOMPARE(w.currentUrl(), path);
        script->queueMessage(MsgResult::Cancel);
        QVERIFY(!w.close());
        QCOMPARE(script->messagesShown().last(), QString("Do you want to save the changes you made to sample.xml ?"));

        // Undone back to the state loaded: nothing to ask; done again: asked again.
        QVERIFY(undoToClean(w) > 0);
        QCOMPARE(w.document()->saveToBytes(), loaded);
        QVERIFY(!w.editor()->isModified());
        while (w.editor()->canRedo())
            w.toolbarClick("redo");
        QVERIFY(w.editor()->isModified());

        // Yes saves first, through the save dialog; only then is the other one opened.
        const QString saved = dir.filePath(QStringLiteral("saved-%1.xml").arg(QTest::currentDataTag()));
        script->clearAsked();
        script->queueMessage(MsgResult::Yes);
        script->queueSave(saved);
        w.toolbarClick("load");
        QCOMPARE(readAll(saved), edited);
        QCOMPARE(w.document()->documentElement().nodeName(), QString("other"));
        QVERIFY(!w.editor()->isModified());
        script->clearAsked();
        QVERIFY(w.close());
        QVERIFY(script->asked().isEmpty());
    }

    void droppedDocumentsAskAndNoLetsTheWorkGo()
    {
        frmMain w(sample());
        dirty(w);
        const QString dropped = write("dropped.xml", "<dropped/>");
        // A save that is cancelled is no answer: the document stays.
        script->queueMessage(MsgResult::Yes);
        w.txtNodeName_DropFiles({dropped});
        QCOMPARE(w.document()->documentElement().nodeName(), QString("FrameworkConfig"));
        QVERIFY(w.editor()->isModified());
        script->queueMessage(MsgResult::No);
        w.txtNodeName_DropFiles({dropped});
        QCOMPARE(w.document()->documentElement().nodeName(), QString("dropped"));
        QVERIFY(!w.editor()->isModified());
    }

    void refusedChangesLeaveNothingToSave()
    {
        frmMain w(sample());
        showAndWait(w);
        w.selectItem(layers(w));
        w.treeDrop(layerA(w)); // into its own branch
        rightClick(w, layerA(w));
        w.runMenuCommand("Copy");
        rightClick(w, row(w, note(w), 0));
        w.runMenuCommand("Paste"); // a text takes no children
        w.txtNodeName->setText("1bad/name");
        w.cmdGetNode_MouseDown(Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(w.editor()->stepCount(), 0);
        QVERIFY(w.close());
    }

    void toolWindowsFollowUndo()
    {
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, layerA(w));
        w.runMenuCommand("EditAttributes");
        QPointer<frmView> v = w.attributeEditor();
        commitInPlace(v, 1, "Lakes");
        QCOMPARE(v->lvwInfo->topLevelItem(1)->text(1), QString("Lakes"));
        w.toolbarClick("undo");
        QCOMPARE(v->lvwInfo->topLevelItem(1)->text(1), QString("Roads")); // the list shows the element as it is

        rightClick(w, layerA(w));
        w.runMenuCommand("EditText");
        QPointer<frmEdit> dialog = frmEdit::openInstance();
        script->clearAsked();
        script->queueMessage(MsgResult::Yes);
        rightClick(w, layerA(w));
        w.runMenuCommand("Delete"); // the element leaves the document: both windows go, saying so
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(v.isNull() && dialog.isNull());
        QCOMPARE(script->messagesShown().size(), 3); // the question, then one word from each window
    }

    void startingWithoutANameShowsTheStarterAndLoadsNothing()
    {
        const QString last = write("last.xml", "<last/>");
        script->settings["LastURL/LastURL"] = last;
        frmMain w(QString(), nullptr, frmMain::StartLoad::WhenShown);
        showAndWait(w);
        QTest::qWait(100); // what a load started on showing would have had time for
        QCOMPARE(w.windowTitle(), QString("Treelark"));
        QCOMPARE(w.txtNodeName->text(), last);
        QCOMPARE(childTexts(w, nullptr), QStringList{"FrameworkConfig (FrameworkConfig)"});
        QVERIFY(!w.editor()->isModified());
    }
};

QTEST_MAIN(UnsavedWorkTest)
#include "test_unsaved_work.moc"
