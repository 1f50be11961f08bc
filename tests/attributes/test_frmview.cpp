// The attribute editor window, headless: its list and popup, the in-place editor, each
// popup command with its questions, sorting, the resize rule and closing, with every
// change checked against the document and the undo history.
#include "AttributeTestBase.h"
#include "stop_long_commands.h"
#include "Twips.h"

#include <QSignalSpy>

using namespace treelark;

Q_DECLARE_METATYPE(treelark::MsgResult)

namespace {

const char* kDoc = "<r xmlns:p='urn:p' Name='Rn' TagName='Rt' p:Alias='pa' Desc='rd'>"
                   "<c Name='c1' Desc='cd'><g Desc='gd' Name='g1'/></c><c Name='c2'/></r>";

} // namespace

class FrmViewTest : public AttributeTestBase {
    Q_OBJECT

private slots:
    void init() { begin(kDoc); }
    void cleanup() { end(); }

    void opensAsAToolWindowListingTheElement()
    {
        frmView v(nullptr, editor.get());
        v.FilllvwInfo(root());
        QVERIFY(v.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(v.windowType(), Qt::Tool);
        // in the element's order; a prefixed name without its prefix; tags are the attributes
        QCOMPARE(column(v.lvwInfo, 0), (QStringList{"p", "Name", "TagName", "Alias", "Desc"}));
        QCOMPARE(column(v.lvwInfo, 1), (QStringList{"urn:p", "Rn", "Rt", "pa", "rd"}));
        QCOMPARE(v.lvwInfo->topLevelItem(3)->data(0, Qt::UserRole).value<DOMNode>(),
                 GetAttr("p:Alias"));
    }

    void rightClickEnablesEditAndDeleteOnlyOnNamedRows()
    {
        frmView& v = rootView();
        QVERIFY(rightClick(v, 1));
        QCOMPARE(v.selectedRow(), v.lvwInfo->topLevelItem(1));
        QCOMPARE(v.selectedAttribute(), GetAttr("Name"));
        QVERIFY(entry(v, "Edit")->isEnabled() && entry(v, "Delete")->isEnabled());
        const QPoint at = v.lvwInfo->viewport()->mapTo(v.lvwInfo, rowCentre(v.lvwInfo, 1));
        QCOMPARE(v.popupPosition(), QPoint(pixelsToTwipsX(at.x(), &v), pixelsToTwipsY(at.y(), &v)));

        new QTreeWidgetItem(v.lvwInfo); // an empty row, as "Add" leaves while its dialog is open
        QVERIFY(rightClick(v, 5));
        QVERIFY(v.selectedAttribute().isNull());
        QVERIFY(!entry(v, "Edit")->isEnabled() && !entry(v, "Delete")->isEnabled());
        for (const char* other : {"Add", "CopyNameValue", "ToUpper", "ToLower"})
            QVERIFY(entry(v, other)->isEnabled());

        // empty space: nothing selected, no editor; the menu offers only what needs no row
        QVERIFY(rightClick(v, -1));
        QVERIFY(!v.lvwInfo->currentItem() && !v.selectedRow());
        for (const char* caption : {"Edit", "Delete", "ToUpper", "ToLower"})
            QVERIFY(!entry(v, caption)->isEnabled());
        QVERIFY(entry(v, "Add")->isEnabled() && entry(v, "CopyNameValue")->isEnabled());
        doubleClick(v, -1);
        QVERIFY(!v.txtEditor->isVisible());
    }

    void inPlaceEditCommitsOnEnterOrLeavingAsOneStep()
    {
        frmView& v = rootView();
        const QByteArray before = doc->saveToBytes();

        doubleClick(v, 4);
        QVERIFY(v.txtEditor->isVisible());
        QCOMPARE(v.txtEditor->text(), QString("rd"));
        // over the VALUE cell of that row
        const QRect cell = v.lvwInfo->visualItemRect(v.lvwInfo->topLevelItem(4));
        const QPoint cellTop = v.lvwInfo->viewport()->mapTo(&v, QPoint(v.lvwInfo->columnViewportPosition(1), cell.top()));
        QCOMPARE(v.txtEditor->geometry(), QRect(cellTop.x() + twipsToPixelsX(40, &v), cellTop.y(),
                                                v.lvwInfo->columnWidth(1), cell.height()));
        v.txtEditor->setText("new desc");
        QTest::keyClick(v.txtEditor, Qt::Key_Return);
        QVERIFY(!v.txtEditor->isVisible());
        QCOMPARE(root().getAttribute("Desc"), QString("new desc"));
        QCOMPARE(v.lvwInfo->topLevelItem(4)->text(1), QString("new desc"));
        QCOMPARE(editor->stepCount(), 1);
        QVERIFY(editor->isModified()); // a commit is a change, whatever the window does next

        // leaving the box commits too; a second double-click toggles it away
        doubleClick(v, 1);
        v.txtEditor->setText("Other");
        v.lvwInfo->setFocus();
        QVERIFY(!v.txtEditor->isVisible());
        QCOMPARE(root().getAttribute("Name"), QString("Other"));
        QCOMPARE(editor->stepCount(), 2);

        // on a prefixed row the unprefixed name is set
        doubleClick(v, 3);
        v.txtEditor->setText("plain");
        QTest::keyClick(v.txtEditor, Qt::Key_Return);
        QCOMPARE(root().getAttribute("Alias") + "|" + root().getAttribute("p:Alias"), QString("plain|pa"));

        for (int i = 0; i < 3; ++i)
            editor->undo();
        QCOMPARE(doc->saveToBytes(), before);
    }

    void aRefusedCommitIsExplainedAndChangesNothing()
    {
        frmView& v = rootView();
        v.lvwInfo->topLevelItem(4)->setText(0, "bad name");
        const QByteArray before = doc->saveToBytes();
        doubleClick(v, 4);
        v.txtEditor->setText("x");
        QTest::keyClick(v.txtEditor, Qt::Key_Return);
        QCOMPARE(script->messagesShown().size(), 1);
        const QString shown = script->messagesShown().first();
        QVERIFY2(shown.contains("bad name") && shown.contains("not a valid attribute name"), qPrintable(shown));
        QCOMPARE(doc->saveToBytes(), before);
        QCOMPARE(v.lvwInfo->topLevelItem(4)->text(1), QString("rd"));
        QCOMPARE(editor->stepCount(), 0);
        QVERIFY(v.isVisible());
    }

    // Delete and the case changes ask Yes (down the subtree), No (here) or Cancel. A delete
    // is one undo step that leaves the document unmarked; a case change marks it.
    void walksAskHereOrDownTheSubtree_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<MsgResult>("answer");
        QTest::addColumn<QString>("values"); // Desc (for Delete) or Name on r, c, g
        QTest::newRow("delete, recursive") << "Delete" << MsgResult::Yes << "||";
        QTest::newRow("delete, here") << "Delete" << MsgResult::No << "|cd|gd";
        QTest::newRow("delete, cancel") << "Delete" << MsgResult::Cancel << "rd|cd|gd";
        QTest::newRow("upper, recursive") << "ToUpper" << MsgResult::Yes << "RN|C1|G1";
        QTest::newRow("lower, here") << "ToLower" << MsgResult::No << "rn|c1|g1";
        QTest::newRow("upper, cancel") << "ToUpper" << MsgResult::Cancel << "Rn|c1|g1";
    }
    void walksAskHereOrDownTheSubtree()
    {
        QFETCH(QString, command);
        QFETCH(MsgResult, answer);
        QFETCH(QString, values);
        const bool remove = command == "Delete", cancel = answer == MsgResult::Cancel;
        const QString name = remove ? "Desc" : "Name";
        frmView& v = rootView();
        const QByteArray before = doc->saveToBytes();
        rightClick(v, remove ? 4 : 1);
        script->queueMessage(answer);
        v.mnuCommands_Click(command);
        QCOMPARE(script->asked().last().buttons, MsgButtons::YesNoCancel);
        const DOMNode c = root().firstChild();
        QCOMPARE(QStringList({root().getAttribute(name), c.getAttribute(name), c.firstChild().getAttribute(name)}).join('|'),
                 values);
        if (remove) {
            QCOMPARE(v.lvwInfo->topLevelItemCount(), cancel ? 5 : 4);
            QCOMPARE(editor->stepCount(), cancel ? 0 : 1);
        } else {
            QCOMPARE(v.lvwInfo->topLevelItem(1)->text(1), root().getAttribute("Name"));
            QVERIFY(editor->stepCount() <= 1);
        }
        QCOMPARE(editor->isModified(), !cancel); // the change, and nothing but a change, counts
        editor->undo();
        QCOMPARE(doc->saveToBytes(), before);
    }

    // Stopped part way (Esc or Cancel while it runs), a walk is taken back whole.
    void aStoppedWalkLeavesTheDocumentAsItWas()
    {
        frmView& v = rootView();
        const QByteArray before = doc->saveToBytes();
        {
            const testsupport::StopEveryLongCommand stop;
            rightClick(v, 4);
            script->queueMessage(MsgResult::Yes);
            v.mnuCommands_Click("Delete");
        }
        QCOMPARE(doc->saveToBytes(), before);
        QCOMPARE(editor->stepCount(), 0);
        QVERIFY(!editor->isModified());
        QVERIFY(script->messagesShown().last().endsWith("was stopped; the document is as it was."));
        QCOMPARE(v.lvwInfo->topLevelItemCount(), 5);
    }

    void copyNameValueFillsTheExistingAliasesAndRelists()
    {
        frmView& v = rootView();
        rightClick(v, 0);
        v.mnuCommands_Click("CopyNameValue");
        QCOMPARE(attrNames(root()), QString("xmlns:p=urn:p Name=Rn TagName=Rn p:Alias=pa Desc=Rn"));
        QCOMPARE(column(v.lvwInfo, 1), (QStringList{"urn:p", "Rn", "Rn", "pa", "Rn"}));
        QCOMPARE(editor->stepCount(), 1);
        QVERIFY(editor->isModified());
    }

    void headerClicksSortAscendingThenToggle()
    {
        frmView& v = rootView();
        auto click = [&](int section) {
            const int x = v.lvwInfo->header()->sectionViewportPosition(section) + 5;
            QTest::mouseClick(v.lvwInfo->header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        };
        click(0);
        QCOMPARE(column(v.lvwInfo, 0), (QStringList{"Alias", "Desc", "Name", "p", "TagName"}));
        click(0);
        QCOMPARE(column(v.lvwInfo, 0), (QStringList{"TagName", "p", "Name", "Desc", "Alias"}));
        click(1); // another column: ascending again
        QCOMPARE(column(v.lvwInfo, 1), (QStringList{"pa", "rd", "Rn", "Rt", "urn:p"}));
        v.FilllvwInfo(root()); // a refill keeps the order the user chose
        QCOMPARE(column(v.lvwInfo, 1), (QStringList{"pa", "rd", "Rn", "Rt", "urn:p"}));
    }

    void resizeSnapsToTheSmallestSizeAndLaysOutTheList()
    {
        frmView& v = rootView();
        const QSize snapped(twipsToPixelsX(500, &v), twipsToPixelsY(1600, &v));
        for (QSize tooSmall : {QSize(10, 400), QSize(400, 20), QSize(5, 5)}) {
            v.resize(tooSmall);
            QTRY_COMPARE(v.frameGeometry().size(), snapped);
        }
        v.resize(twipsToPixelsX(6000, &v), twipsToPixelsY(4000, &v));
        QTRY_COMPARE(v.lvwInfo->width(), twipsToPixelsX(pixelsToTwipsX(v.frameGeometry().width(), &v) - 400, &v));
        const int listWidth = pixelsToTwipsX(v.lvwInfo->width(), &v);
        QCOMPARE(v.lvwInfo->columnWidth(0), twipsToPixelsX(listWidth / 3, &v));
        QCOMPARE(v.Frame1->y(), twipsToPixelsY(pixelsToTwipsY(v.lvwInfo->height(), &v) + 100, &v));
    }

    // Relabelling an element already in the document: the main window's attribute suite.
    void okReportsANewElementCancelDropsIt()
    {
        for (bool ok : {true, false}) {
            editor->markSaved();
            DOMNode fresh = doc->createElement("n");
            fresh.setAttribute("Name", "");
            auto* v = new frmView(nullptr, editor.get());
            QSignalSpy added(v, &frmView::NodeAdded);
            v->bAddingNode = true;
            v->FilllvwInfo(fresh);
            showView(*v);
            // editing a new element changes nothing of the document, so nothing to undo
            const int steps = editor->stepCount();
            doubleClick(*v, 0);
            v->txtEditor->setText("N1");
            QTest::keyClick(v->txtEditor, Qt::Key_Return);
            QCOMPARE(fresh.getAttribute("Name"), QString("N1"));
            QCOMPARE(editor->stepCount(), steps);
            // by keyboard: the editor kept its Enter, the window gets the next one
            QVERIFY(v->isVisible());
            QTest::keyClick(v->lvwInfo, ok ? Qt::Key_Return : Qt::Key_Escape);
            QVERIFY(!v->isVisible());
            QCOMPARE(added.size(), 1);
            QCOMPARE(added[0][0].toBool(), ok);
            if (ok)
                QCOMPARE(added[0][1].value<DOMNode>(), fresh);
            QVERIFY(!editor->isModified()); // the main window inserts it, as a step of its own
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    // The list's own keys: F2 edits in place (Escape there closes nothing), the menu key
    // opens the popup on the current row, Delete asks as the popup's Delete does.
    void listKeysReachEveryCommand()
    {
        frmView& v = rootView();
        v.lvwInfo->setFocus();
        v.lvwInfo->setCurrentItem(v.lvwInfo->topLevelItem(4));
        QTest::keyClick(v.lvwInfo, Qt::Key_F2);
        QVERIFY(v.txtEditor->isVisible() && v.txtEditor->hasFocus());
        QTest::keyClick(v.txtEditor, Qt::Key_Escape);
        QVERIFY(v.isVisible() && v.txtEditor->isVisible());
        v.txtEditor->setText("typed");
        QTest::keyClick(v.txtEditor, Qt::Key_Return);
        QVERIFY(!v.txtEditor->isVisible() && v.lvwInfo->hasFocus());
        QCOMPARE(root().getAttribute("Desc"), QString("typed"));

        QTest::keyClick(v.lvwInfo, Qt::Key_Up);
        QTest::keyClick(v.lvwInfo, Qt::Key_Up);
        QTest::keyClick(v.lvwInfo, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(v.mnuPopUp->isVisible());
        QCOMPARE(v.selectedAttribute(), GetAttr("TagName"));
        v.mnuPopUp->hide();

        script->queueMessage(MsgResult::No);
        QTest::keyClick(v.lvwInfo, Qt::Key_Delete);
        QVERIFY(script->asked().last().title.startsWith("Deleting attribute TagName"));
        QVERIFY(!attrNames(root()).contains("TagName"));
        QVERIFY(v.isVisible());
    }

    void closingTakesTheEditDialogAlong()
    {
        frmView* v = &rootView();
        rightClick(*v, 1);
        v->mnuCommands_Click("Edit");
        QPointer<frmEdit> dialog = frmEdit::openInstance();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->txtName->text(), QString("Name"));
        // placed at the right-click, from this window's corner
        const QPoint corner = v->frameGeometry().topLeft();
        QCOMPARE(dialog->pos(),
                 QPoint(twipsToPixelsX(pixelsToTwipsX(corner.x(), v) + v->popupPosition().x(), v),
                        twipsToPixelsY(pixelsToTwipsY(corner.y(), v) + v->popupPosition().y(), v)));
        v->cmdCancel_Click();
        QTRY_VERIFY(!dialog);
        QCOMPARE(root().getAttribute("Name"), QString("Rn")); // nothing of the dialog ran
    }

private:
    DOMNode GetAttr(const QString& name) const { return root().attributes().getNamedItem(name); }
};

QTEST_MAIN(FrmViewTest)
#include "test_frmview.moc"
