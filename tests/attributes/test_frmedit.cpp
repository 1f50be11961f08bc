// The edit dialog, headless: its three modes, the order OK writes in, the descendant
// step, Cancel after "Add", focus and tab order, and refused names.
#include "AttributeTestBase.h"


using namespace treelark;

namespace {

const char* kDoc = "<r a='1' b='2' c='3'><k a='x' z='z'><g z='z'/></k>text<k b='y'/></r>";

} // namespace

class FrmEditTest : public AttributeTestBase {
    Q_OBJECT

    // A visible list standing in for the attribute editor's, with one row per attribute.
    std::unique_ptr<QWidget> listWindow;
    QTreeWidget* list = nullptr;

    QTreeWidgetItem* rowFor(const QString& name)
    {
        auto* row = new QTreeWidgetItem(list, QStringList{name, root().getAttribute(name)});
        row->setData(0, Qt::UserRole, QVariant::fromValue(root().attributes().getNamedItem(name)));
        return row;
    }

    frmEdit* editDialog(const QString& name)
    {
        auto* d = frmEdit::instance(nullptr, editor.get());
        d->SetAttribute(root(), root().attributes().getNamedItem(name), rowFor(name), false);
        return d;
    }

    frmEdit* addDialog()
    {
        auto* d = frmEdit::instance(nullptr, editor.get());
        d->SetAttribute(root(), DOMNode(), new QTreeWidgetItem(list), true);
        return d;
    }

    QString descendants(const QString& name) const
    {
        QStringList out;
        const DOMNodeList all = root().selectNodes(".//*");
        for (qint64 i = 0; i < all.length(); ++i) {
            const DOMNode a = all.item(i).attributes().getNamedItem(name);
            out << (a.isNull() ? QStringLiteral("-") : a.value());
        }
        return out.join(' ');
    }

private slots:
    void init()
    {
        begin(kDoc);
        listWindow = std::make_unique<QWidget>();
        list = new QTreeWidget(listWindow.get());
        list->setColumnCount(2);
        listWindow->show();
    }
    void cleanup()
    {
        end();
        listWindow.reset();
    }

    void loadsHiddenAddBoxAndTabOrder()
    {
        frmEdit d;
        QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!d.chkChildNodes->isChecked());
        QVERIFY(d.chkAdd->isChecked() && d.chkAdd->isHidden());
        QVERIFY(!d.cmdOK->isDefault() && !d.cmdOK->autoDefault() && !d.cmdCancel->autoDefault());
        const QList<QWidget*> order{d.txtName, d.txtValue, d.cmdOK, d.cmdCancel, d.chkChildNodes, d.chkAdd};
        auto nextStop = [](QWidget* w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            return w;
        };
        for (qsizetype i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(nextStop(order[i]), order[i + 1]);

        d.show();
        QTest::mouseClick(d.chkChildNodes, Qt::LeftButton);
        QVERIFY(d.chkAdd->isVisible());
        QTest::mouseClick(d.chkChildNodes, Qt::LeftButton);
        QVERIFY(d.chkAdd->isHidden());
    }

    void nodeTextReplacesTheChildrenAsOneStep()
    {
        frmEdit* d = frmEdit::instance(nullptr, editor.get());
        const QByteArray before = doc->saveToBytes();
        d->SetNodeText(root());
        QCOMPARE(d->txtName->text() + "|" + d->txtValue->text(), QString("r|text"));
        QVERIFY(!d->txtName->isEnabled() && d->nodeTextMode());
        d->show();
        // said before OK: the child elements go (a text child alone would not say so)
        QVERIFY(d->lblReplaces->isVisible());
        QVERIFY2(d->lblReplaces->text().contains(QString::number(root().selectNodes("*").length()) + " child element"),
                 qPrintable(d->lblReplaces->text()));
        QCOMPARE(d->focusWidget(), d->txtValue);
        d->txtValue->setText("only this");
        d->cmdOK_Click();
        QCOMPARE(root().childCount(), 1);
        QCOMPARE(root().firstChild().nodeType(), int(NODE_TEXT));
        QCOMPARE(root().text(), QString("only this"));
        QVERIFY(editor->isModified());
        QCOMPARE(editor->stepCount(), 1);
        QTRY_VERIFY(!frmEdit::openInstance());
        editor->undo();
        QCOMPARE(doc->saveToBytes(), before);
    }

    void editRemovesThenSetsSoTheAttributeMovesToTheEnd()
    {
        frmEdit* d = editDialog("a"); // unchanged: the order kept, no step, nothing to save
        QCOMPARE(d->txtValue->text(), QString("1"));
        d->cmdOK_Click();
        QCOMPARE(attrNames(root()), QString("a=1 b=2 c=3"));
        QVERIFY(!editor->isModified());
        QCOMPARE(editor->stepCount(), 0);

        d = editDialog("a");
        QTreeWidgetItem* row = d->targetRow();
        d->txtValue->setText("9");
        d->cmdOK_Click();
        QCOMPARE(attrNames(root()), QString("b=2 c=3 a=9"));
        QCOMPARE(row->text(1), QString("9"));
        QCOMPARE(row->data(0, Qt::UserRole).value<DOMNode>(), root().attributes().getNamedItem("a"));
        // a second Edit of the same row shows what is on the element now
        frmEdit* again = frmEdit::instance(nullptr, editor.get());
        again->SetAttribute(root(), row->data(0, Qt::UserRole).value<DOMNode>(), row, false);
        QCOMPARE(again->txtName->text() + "=" + again->txtValue->text(), QString("a=9"));
        again->cmdCancel_Click();

        // a list refilled under the dialog is not written into
        d = editDialog("c");
        list->clear();
        d->txtValue->setText("C");
        d->cmdOK_Click();
        QCOMPARE(root().getAttribute("c"), QString("C"));
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    void applyToChildNodes_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("add");
        QTest::addColumn<QString>("attrs");    // on the element
        QTest::addColumn<QString>("newName");  // that name on k, g, k
        QTest::addColumn<QString>("oldName");  // the edited name on k, g, k
        QTest::newRow("unchanged, existing only") << "a" << "a" << false << "a=1 b=2 c=3" << "1 - -" << "1 - -";
        QTest::newRow("unchanged, add") << "a" << "a" << true << "a=1 b=2 c=3" << "1 1 1" << "1 1 1";
        QTest::newRow("rename, existing only") << "b" << "z" << false << "a=1 c=3 z=2" << "2 2 -" << "- - y";
        QTest::newRow("rename, add") << "b" << "z" << true << "a=1 c=3 z=2" << "2 2 2" << "- - y";
    }
    void applyToChildNodes()
    {
        QFETCH(QString, from);
        QFETCH(QString, name);
        QFETCH(bool, add);
        QFETCH(QString, attrs);
        QFETCH(QString, newName);
        QFETCH(QString, oldName);
        const QByteArray before = doc->saveToBytes();
        frmEdit* d = editDialog(from);
        d->txtName->setText(name);
        d->chkChildNodes->setChecked(true);
        d->chkAdd->setChecked(add);
        d->cmdOK_Click();
        QCOMPARE(attrNames(root()), attrs);
        QCOMPARE(descendants(name), newName);
        QCOMPARE(descendants(from), oldName);
        QVERIFY(editor->stepCount() <= 1);
        editor->undo();
        QCOMPARE(doc->saveToBytes(), before);
    }

    void addSetsTheNameAndFillsTheRow()
    {
        frmEdit* d = addDialog();
        d->show();
        QCOMPARE(d->focusWidget(), d->txtName);
        QTreeWidgetItem* row = d->targetRow();
        d->txtName->setText("n");
        d->txtValue->setText("v");
        d->chkChildNodes->setChecked(true);
        d->chkAdd->setChecked(true);
        d->cmdOK_Click();
        QCOMPARE(attrNames(root()), QString("a=1 b=2 c=3 n=v"));
        QCOMPARE(descendants("n"), QString("v v v"));
        QCOMPARE(row->text(0) + "=" + row->text(1), QString("n=v"));
        QCOMPARE(row->data(0, Qt::UserRole).value<DOMNode>(), root().attributes().getNamedItem("n"));
        QCOMPARE(editor->stepCount(), 1);
        QCOMPARE(editor->undoText(), QString("Add attribute n"));

        // adding a name the element has overwrites it in place
        rowFor("b");
        d = addDialog();
        d->txtName->setText("b");
        d->txtValue->setText("B");
        d->cmdOK_Click();
        QCOMPARE(attrNames(root()), QString("a=1 b=B c=3 n=v"));
        QCOMPARE(column(list, 0), (QStringList{"n", "b", "b"}));
    }

    void addWithAnEmptyNameOrCancelled()
    {
        frmEdit* d = addDialog();
        d->txtName->clear();
        d->cmdOK_Click();
        QCOMPARE(list->topLevelItemCount(), 1); // the empty row stays
        QVERIFY(!editor->isModified());
        QCOMPARE(attrNames(root()), QString("a=1 b=2 c=3"));

        editor->markSaved();
        rowFor("a");
        d = addDialog();
        QCOMPARE(list->topLevelItemCount(), 3);
        d->cmdCancel_Click();
        QCOMPARE(column(list, 0), (QStringList{"", "a"})); // the row Add appended went
        QVERIFY(!editor->isModified());
        QCOMPARE(editor->stepCount(), 0);

        // with the attribute editor's window hidden, its list is left alone
        d = addDialog();
        listWindow->hide();
        d->cmdCancel_Click();
        QCOMPARE(list->topLevelItemCount(), 3);
    }

    void aRefusedNameOrValueLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<bool>("adding");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("edit to a bad name") << false << "1a" << "v";
        QTest::newRow("edit to a value XML cannot hold") << false << "a" << QString(QChar(1));
        QTest::newRow("add a bad name") << true << "a b" << "v";
    }
    void aRefusedNameOrValueLeavesEverythingAsItWas()
    {
        QFETCH(bool, adding);
        QFETCH(QString, name);
        QFETCH(QString, value);
        const QByteArray before = doc->saveToBytes();
        frmEdit* d = adding ? addDialog() : editDialog("a");
        QTreeWidgetItem* row = d->targetRow();
        const QString rowText = row->text(0);
        d->txtName->setText(name);
        d->txtValue->setText(value);
        d->chkChildNodes->setChecked(true);
        d->cmdOK_Click();
        QCOMPARE(doc->saveToBytes(), before);
        QCOMPARE(editor->stepCount(), 0);
        QVERIFY(!editor->isModified());
        QCOMPARE(row->text(0), rowText);
        QCOMPARE(script->messagesShown().size(), 1);
        QVERIFY2(script->messagesShown().first().contains(name), qPrintable(script->messagesShown().first()));
        QVERIFY(frmEdit::openInstance()); // still open, to be put right
    }
};

QTEST_MAIN(FrmEditTest)
#include "test_frmedit.moc"
