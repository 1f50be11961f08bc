// The main window, headless: start-up, loading, Browse, Save, the close prompt and the
// document tree, with every dialog answered by scripted prompts.
#include "WindowTestBase.h"
#include "modUtils.h"

#include <QClipboard>
#include <QMimeData>


using namespace treelark;

class FrmMainTest : public WindowTestBase {
    Q_OBJECT

private:

    static const char* config()
    {
        return "<FrameworkConfig TagName=\"FrameworkConfig\">\n"
               "  <a TagName=\"x\" Name=\"x\"/>\n  <a TagName=\"x\" Name=\"y\"/>\n  <a Name=\"y\"/>\n"
               "  <a tagname=\"x\"/>\n  <b>text<!--note--></b>\n</FrameworkConfig>\n";
    }

private slots:

    void startsWithTheStarterDocument()
    {
        frmMain w;
        QCOMPARE(childTexts(w, nullptr), QStringList{"FrameworkConfig (FrameworkConfig)"});
        QVERIFY(w.TreeView1->isExpanded(w.treeModel()->indexOf(w.treeModel()->topLevelItem(0))));
        QVERIFY(w.validation());
        QCOMPARE(FindMenuByCaption(w.popupEntries(), "Paste"), w.popupEntries().at(4));

        // the last document is remembered, not loaded
        script->settings["LastURL/LastURL"] = "/some/where/last.xml";
        frmMain again;
        QCOMPARE(again.txtNodeName->text(), QString("/some/where/last.xml"));
        QCOMPARE(childTexts(again, nullptr), QStringList{"FrameworkConfig (FrameworkConfig)"});
    }

    void commandLineLoadsWithValidationAndSwitchStaysUnset()
    {
        const QString path = write("cmd line.xml", config());
        frmMain w("\"" + path + "\"");
        QCOMPARE(childTexts(w, nullptr), QStringList{"FrameworkConfig (FrameworkConfig)"});
        QVERIFY(!w.optOn->isChecked() && !w.optOff->isChecked());
        QVERIFY(!w.validation());
        QCOMPARE(QStringList({w.txtNodeName->text(), w.documentFile(), w.loadedFile(), script->settings.value("LastURL/LastURL")}),
                 QStringList(4, path));
        QVERIFY(w.windowTitle().startsWith("Treelark [win] " + path + " ["));
        QVERIFY(w.statusText().startsWith("TotalNodes=8, nChars="));
        QVERIFY(w.txtInfo->toPlainText().startsWith(path + " loaded. Length="));

        // an invalid document is refused by the first (validating) load
        const QString invalid = write("invalid.xml", "<!DOCTYPE r [<!ELEMENT r EMPTY>]><r><x/></r>");
        frmMain v(invalid);
        QCOMPARE(childTexts(v, nullptr), (QStringList{"", "FrameworkConfig (FrameworkConfig)"}));
    }

    void treeTextsFollowTagNameAndName()
    {
        frmMain w(write("texts.xml", config()));
        DocumentTreeModel* m = w.treeModel();
        QCOMPARE(childTexts(w, root(w)), (QStringList{"a (x)", "a (x,y)", "a(y)", "a", "b"}));
        TreeItem* b = m->child(root(w), 4);
        QCOMPARE(childTexts(w, b), (QStringList{"#text", "#comment"}));
        QVERIFY(!w.TreeView1->isExpanded(m->indexOf(b)));
        QCOMPARE(m->child(b, 0)->tag.nodeValue(), QString("text"));
    }

    void wideBranchesMaterialiseOnlyWhatIsShown()
    {
        QByteArray text = "<r>";
        for (int i = 0; i < 100000; ++i)
            text += "<i Name=\"n" + QByteArray::number(i) + "\"/>";
        text += "</r>";
        frmMain w(write("wide.xml", text));
        showAndWait(w, QSize(600, 500));
        QCOMPARE(w.treeModel()->rowCount(w.treeModel()->index(0, 0)), 100000);
        QVERIFY(w.treeModel()->materialisedItems() < 500);
        w.TreeView1->scrollToBottom();
        QApplication::processEvents();
        QVERIFY(w.treeModel()->materialisedItems() < 1000);
        const QModelIndex last = w.treeModel()->index(99999, 0, w.treeModel()->index(0, 0));
        QCOMPARE(last.data().toString(), QString("i(n99999)"));
    }

    void brokenFileLeavesOneEmptyItemAndLoadFollowsTheSwitch()
    {
        const QString broken = write("broken.xml", "<a><b></a>");
        frmMain w;
        w.txtNodeName->setText(broken);
        w.toolbarClick("load");
        QCOMPARE(childTexts(w, nullptr), QStringList{""});
        QVERIFY(w.treeModel()->topLevelItem(0)->tag.isNull());
        QCOMPARE(script->settings.value("LastURL/LastURL"), broken); // remembered all the same
        QVERIFY(w.windowTitle().startsWith("Treelark [win] " + broken));
        // and the program goes on: a good file loads over it
        w.txtNodeName->setText(write("good.xml", "<g/>"));
        w.toolbarClick("load");
        QCOMPARE(childTexts(w, nullptr), QStringList{"g"});

        // an empty box loads nothing; the switch decides whether an invalid file loads
        const QString invalid = write("inv.xml", "<!DOCTYPE r [<!ELEMENT r EMPTY>]><r><x/></r>");
        w.txtNodeName->clear();
        const QString title = w.windowTitle();
        w.toolbarClick("load");
        QCOMPARE(w.windowTitle(), title);
        w.txtNodeName->setText(invalid);
        w.toolbarClick("load"); // validation on: refused
        QCOMPARE(childTexts(w, nullptr), QStringList{""});
        w.optOff->click();
        QVERIFY(!w.validation());
        w.toolbarClick("load");
        QCOMPARE(childTexts(w, nullptr), QStringList{"r"});
    }

    void browseOnlyFillsTheNameBox()
    {
        script->settings["LastURL/LastURL"] = "C:\\data\\a.xml";
        frmMain w;
        const QString chosen = write("chosen.xml", "<c/>");
        script->queueOpen(chosen);
        w.toolbarClick("browse");
        const auto& asked = script->asked().last();
        QCOMPARE(asked.dialog.initialFolder, QString("C:\\data\\"));
        QCOMPARE(asked.dialog.fileName, QString("a.xml"));
        QCOMPARE(w.txtNodeName->text(), chosen);
        QCOMPARE(childTexts(w, nullptr), QStringList{"FrameworkConfig (FrameworkConfig)"}); // nothing loaded
        // cancel changes nothing
        w.txtNodeName->setText("kept");
        w.toolbarClick("browse");
        QCOMPARE(w.txtNodeName->text(), QString("kept"));
    }

    void saveToANewAnExistingAndAReadOnlyFile()
    {
        const QString source = write("src.xml", config());
        frmMain w(source);
        dirty(w);
        const QString fresh = dir.filePath("fresh.xml");
        script->queueSave(fresh);
        QVERIFY(w.SaveDocument());
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(QFile(fresh).exists(), true);
        QCOMPARE(script->asked().last().dialog.initialFolder, dir.path() + "/");
        QCOMPARE(script->asked().last().dialog.fileName, QString("src.xml"));
        QCOMPARE(w.documentFile(), source);

        // existing: No goes back to the dialog, Yes overwrites
        dirty(w);
        const QString existing = write("existing.xml", "<old/>");
        script->clearAsked();
        script->queueSave(existing);
        script->queueMessage(MsgResult::No);
        script->queueSave(existing);
        script->queueMessage(MsgResult::Yes);
        QVERIFY(w.SaveDocument());
        QCOMPARE(script->messagesShown(), QStringList(2, existing + " already exist.\nOverwrite ? "));
        QVERIFY(QFile(existing).size() > 10);

        // read-only: told, then asked again; cancel ends it with the flag kept
        dirty(w);
        script->clearAsked();
        script->setReadOnly(existing);
        script->queueSave(existing);
        QVERIFY(!w.SaveDocument());
        QCOMPARE(script->messagesShown(), QStringList{existing + " is ReadOnly.\nAccess denied !!!  "});
        QCOMPARE(script->asked().size(), 3); // save dialog, message, save dialog again
        QVERIFY(w.editor()->isModified());

        // the name chosen is not remembered (failed saves: the hostile window suite)
        QCOMPARE(w.loadedFile(), source);
        QCOMPARE(script->settings.value("LastURL/LastURL"), source);
    }

    void closePromptTextsAndAnswers()
    {
        frmMain changed;
        changed.show();
        dirty(changed);
        changed.session().setDocumentFile("");
        script->queueMessage(MsgResult::Cancel);
        QVERIFY(!changed.close());
        QCOMPARE(script->asked().last().buttons, MsgButtons::YesNoCancel);

        changed.session().setDocumentFile("/data/configs/a.xml");
        script->queueMessage(MsgResult::Yes); // then the save dialog is cancelled
        QVERIFY(!changed.close());
        QCOMPARE(script->asked().at(script->asked().size() - 2).text,
                 QString("Do you want to save the changes you made to a.xml ?"));
        QCOMPARE(script->asked().at(script->asked().size() - 2).title, QString("XML /data/configs/a.xml is changed."));
        QCOMPARE(script->asked().last().kind, QString("save"));

        script->queueMessage(MsgResult::No);
        QVERIFY(changed.close());
    }

    void aPasteWithoutTextIntoThePaneChangesNothing()
    {
        frmMain w(sample());
        showAndWait(w);
        const QString shown = w.txtInfo->toPlainText();
        QApplication::clipboard()->clear();
        w.txtInfo->setFocus();
        QTest::keyClick(w.txtInfo, Qt::Key_V, Qt::ControlModifier);
        QApplication::clipboard()->setMimeData(new QMimeData); // data, but no text in it
        QTest::keyClick(w.txtInfo, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.txtInfo->toPlainText(), shown);
    }

    void closingUnloadsTheOtherForms()
    {
        frmMain w;
        w.show();
        auto* other = new QWidget;
        registerForm(other);
        QPointer<QWidget> watch(other);
        QVERIFY(w.close());
        QVERIFY(script->asked().isEmpty()); // unchanged: nothing asked
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(watch.isNull());
        QVERIFY(!UnloadAllForms(&w)); // only the main window is left
    }
};

QTEST_MAIN(FrmMainTest)
#include "test_frmmain.moc"
