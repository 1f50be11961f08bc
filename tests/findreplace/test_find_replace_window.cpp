// The Find and Replace window on a real main window: opened by Ctrl+H, driven by the
// keyboard, its changes one step of the history, its faults shown in the window.
#include "../mainwindow/WindowTestBase.h"
#include "DocumentEditor.h"
#include "FindReplaceWindow.h"

#include <QCheckBox>
#include <QLabel>

using namespace treelark;

class FindReplaceWindowTest : public WindowTestBase {
    Q_OBJECT

private:
    static FindReplaceWindow* openWith(frmMain& w)
    {
        QTest::keyClick(&w, Qt::Key_H, Qt::ControlModifier);
        auto* dialog = w.findChild<FindReplaceWindow*>();
        if (dialog && !QTest::qWaitForWindowExposed(dialog))
            return nullptr;
        return dialog;
    }

    static DOMNode layerNamed(frmMain& w, const QString& name)
    {
        return w.document()->selectSingleNode("//ApLayer[@Name='" + name + "']");
    }

private slots:
    void initTestCase() { prepareRun(); }
    void init() { resetState(); }
    void cleanupTestCase() { dropPrompts(); }

    void replaceAllByKeyboardIsOneStep()
    {
        frmMain w(sample());
        showAndWait(w);
        FindReplaceWindow* dialog = openWith(w);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Find and Replace"));
        QCOMPARE(QApplication::focusWidget(), dialog->findBox);

        QTest::keyClicks(QApplication::focusWidget(), "Roads");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->replaceBox);
        QTest::keyClicks(QApplication::focusWidget(), "Streets");
        // on through the buttons to Replace All, pressed with the space bar
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->replaceAllButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);

        QVERIFY(layerNamed(w, "Streets"));
        QVERIFY(!layerNamed(w, "Roads"));
        QCOMPARE(w.editor()->stepCount(), 1);
        QCOMPARE(w.editor()->undoText(), QString("Replace 1 match"));
        QCOMPARE(w.statusText(), QString("1 replacement in 1 node."));
        w.editor()->undo();
        QVERIFY(layerNamed(w, "Roads"));
        QVERIFY(!w.editor()->isModified());
        // Ctrl+F in the main window still goes to the name box
        dialog->close();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.TreeView1->setFocus();
        QTest::keyClick(w.TreeView1, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w.txtNodeName->hasFocus());
    }

    void findNextSelectsAndFindAllJumps()
    {
        frmMain w(write("f.xml", "<r><a k='x'>one x</a><b>x</b></r>"));
        showAndWait(w);
        FindReplaceWindow* dialog = openWith(w);
        QVERIFY(dialog);
        dialog->findBox->setText("x");
        dialog->findNext();
        QVERIFY(w.selectedItem());
        QCOMPARE(w.selectedItem()->tag, w.document()->selectSingleNode("/r/a"));
        QVERIFY(w.statusText().startsWith("Match 1 of 3: attribute value (k) at /r/a[1]/@k"));
        dialog->findPrevious(); // from the first back round to the last
        QVERIFY(w.statusText().startsWith("Match 3 of 3"));

        dialog->findAllMatches();
        QAbstractItemModel* listed = dialog->results->model();
        QCOMPARE(listed->rowCount(), 3);
        QCOMPARE(listed->index(1, 0).data().toString(), QString("/r/a[1]/text()[1]"));
        QCOMPARE(listed->index(1, 2).data().toString(), QString("one \u00ABx\u00BB"));
        w.selectItem(nullptr);
        dialog->results->setFocus();
        dialog->results->setCurrentIndex(listed->index(2, 0));
        QTest::keyClick(dialog->results, Qt::Key_Return);
        QVERIFY(w.selectedItem());
        QVERIFY(w.selectedItem()->tag == w.document()->selectSingleNode("/r/b/text()")
                || w.selectedItem()->tag == w.document()->selectSingleNode("/r/b"));

        // Replace: the listed match gone to is replaced, then the next (round to the top)
        dialog->replaceBox->setText("y");
        dialog->replaceCurrent();
        QCOMPARE(w.document()->documentElement().xmlUtf8(), QByteArray("<r><a k=\"x\">one x</a><b>y</b></r>"));
        QVERIFY(w.statusText().startsWith("1 replacement in 1 node"));
        dialog->replaceCurrent();
        QCOMPARE(w.document()->documentElement().xmlUtf8(), QByteArray("<r><a k=\"y\">one x</a><b>y</b></r>"));
        QCOMPARE(w.editor()->stepCount(), 2);
    }

    void faultsAreShownAndChangeNothing()
    {
        frmMain w(sample());
        showAndWait(w);
        FindReplaceWindow* dialog = openWith(w);
        QVERIFY(dialog);
        const QByteArray before = w.document()->saveToBytes();
        dialog->regularExpression->setChecked(true);
        dialog->findBox->setText("Ro(ads");
        QVERIFY(dialog->problemLabel->isVisibleTo(dialog));
        QVERIFY2(dialog->problemLabel->text().contains("position 7"), qPrintable(dialog->problemLabel->text()));
        dialog->replaceEverything();
        dialog->findBox->setText("Roads");
        QVERIFY(!dialog->problemLabel->isVisibleTo(dialog));
        dialog->xpathBox->setText("//ApLayer[");
        dialog->replaceEverything();
        QVERIFY2(dialog->problemLabel->text().startsWith("XPath"), qPrintable(dialog->problemLabel->text()));
        QCOMPARE(w.document()->saveToBytes(), before);
        QCOMPARE(w.editor()->stepCount(), 0);

        // a name a replacement would spoil is left out and listed with its reason
        dialog->xpathBox->clear();
        dialog->regularExpression->setChecked(false);
        dialog->elementNames->setChecked(true);
        dialog->wholeWord->setChecked(true);
        dialog->findBox->setText("ApLayer");
        dialog->replaceBox->setText("1ApLayer");
        dialog->replaceEverything();
        QCOMPARE(w.document()->saveToBytes(), before);
        QCOMPARE(dialog->results->model()->rowCount(), 2);
        QVERIFY(dialog->results->model()->index(0, 2).data().toString().startsWith("left out:"));
    }

    // The large form's Find streams the file: Find All lists, a row jumps to its element,
    // Find Next steps; nothing can be replaced and an XPath is not offered.
    void largeFormFindsButCannotChange()
    {
        const QString path = sample();
        frmMain w;
        w.setAlwaysLargeForm(true);
        w.txtNodeName->setText(path);
        w.toolbarClick("load");
        QVERIFY(w.isLargeForm());
        showAndWait(w);
        FindReplaceWindow* dialog = openWith(w);
        QVERIFY(dialog);
        QVERIFY(!dialog->replaceAllButton->isEnabled());
        QVERIFY(!dialog->replaceButton->isEnabled());
        QCOMPARE(dialog->replaceAllButton->toolTip(), w.session().readOnlyTip());
        QVERIFY(!dialog->xpathBox->isEnabled());
        dialog->findBox->setText("Roads");
        dialog->findAllMatches();
        QAbstractItemModel* listed = dialog->results->model();
        QVERIFY(listed->rowCount() > 0);
        const QString first = listed->index(0, 0).data().toString();
        QVERIFY2(first.endsWith("/@TagName") || first.endsWith("/@Name"), qPrintable(first));
        dialog->results->setFocus();
        dialog->results->setCurrentIndex(listed->index(0, 0));
        QTest::keyClick(dialog->results, Qt::Key_Return);
        QVERIFY(w.selectedItem());
        QVERIFY2(w.selectedItem()->text.contains("Roads"), qPrintable(w.selectedItem()->text));
        dialog->findNext();
        QVERIFY(w.statusText().startsWith(QStringLiteral("Match 1 of %1").arg(listed->rowCount())));
    }
};

QTEST_MAIN(FindReplaceWindowTest)
#include "test_find_replace_window.moc"
