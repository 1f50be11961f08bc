// Validate in the window: F7 fills the Problems panel, a row opened by Enter (or walked
// to with F8, Shift+F8) selects its node, an edit greys the list, the schema chosen by
// "Validate against…" is remembered for the document; the large form validates its
// file; a schema that cannot be used is said, never thrown. The document never changes.
#include "WindowTestBase.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"

#include <QDockWidget>
#include <QTreeWidget>
#include <QUrl>

using namespace treelark;

namespace {

const char* kSchema = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="List"><xs:complexType><xs:sequence>
    <xs:element name="Item" minOccurs="0" maxOccurs="unbounded"><xs:complexType>
      <xs:attribute name="Name" use="required"/>
    </xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
</xs:schema>
)";

// Items with no attributes at all: every named Item is an error here.
const char* kRelaxNg = R"(<element name="List" xmlns="http://relaxng.org/ns/structure/1.0">
  <zeroOrMore><element name="Item"><empty/></element></zeroOrMore>
</element>
)";

const char* kDoc = "<List xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                   "xsi:noNamespaceSchemaLocation=\"need.xsd\">\n"
                   "  <Item Name=\"a\"/>\n"
                   "  <Item/>\n"
                   "  <Item/>\n"
                   "</List>\n";

} // namespace

class ValidationWindowTest : public WindowTestBase {
    Q_OBJECT

    static QTreeWidget* problems(frmMain& w) { return w.findChild<QTreeWidget*>("lvwProblems"); }
    static QDockWidget* dock(frmMain& w) { return w.findChild<QDockWidget*>("Problems"); }
    static DOMNode item(frmMain& w, int i)
    {
        return w.session().document()->documentElement().selectNodes("Item").item(i);
    }
    static void open(frmMain& w, int row)
    {
        problems(w)->setFocus();
        problems(w)->setCurrentItem(problems(w)->topLevelItem(row));
        QTest::keyClick(problems(w), Qt::Key_Return);
    }

private slots:
    void validateListsWalksAndGoesStale()
    {
        write("need.xsd", kSchema);
        const QString path = write("doc.xml", kDoc);
        frmMain w(path);
        showAndWait(w);
        QVERIFY(w.toolbarButton("validate")->toolTip().contains("(F7)"));
        QVERIFY(!dock(w)->isVisible());
        const QByteArray before = w.session().document()->saveToBytes();

        QTest::keyClick(&w, Qt::Key_F7);
        QVERIFY(dock(w)->isVisible());
        QTreeWidget* list = problems(w);
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("error"));
        QVERIFY(list->topLevelItem(0)->text(1).startsWith("3:"));
        QVERIFY(list->topLevelItem(0)->text(2).contains("Name"));
        QCOMPARE(list->topLevelItem(1)->text(3), QString("/List/Item[3]"));
        QVERIFY(w.statusText().contains("2 errors"));

        open(w, 0);
        QCOMPARE(w.selectedItem()->tag, item(w, 1));
        QVERIFY(w.txtInfo->toPlainText().contains("List/Item")); // the node, in the pane
        QTest::keyClick(&w, Qt::Key_F8);
        QCOMPARE(w.selectedItem()->tag, item(w, 2));
        QTest::keyClick(&w, Qt::Key_F8); // round the end
        QCOMPARE(w.selectedItem()->tag, item(w, 1));
        QTest::keyClick(&w, Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(w.selectedItem()->tag, item(w, 2));
        QCOMPARE(w.session().document()->saveToBytes(), before);
        QVERIFY(!w.session().hasUnsavedChanges());

        // an edit leaves the list, greyed, until the next F7
        const QBrush ink = list->topLevelItem(0)->foreground(0);
        w.session().editor()->perform("Name", [&] { item(w, 1).setAttribute("Name", "b"); });
        QVERIFY(list->topLevelItem(0)->foreground(0) != ink);
        QVERIFY(w.statusText().contains("re-validate"));
        QTest::keyClick(&w, Qt::Key_F7);
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->foreground(0), ink);

        // another schema, chosen and then remembered for this document
        const QString rng = write("plain.rng", kRelaxNg);
        script->queueOpen(rng);
        w.toolbarClick("validateagainst");
        QCOMPARE(script->settings.value("Schemas/" + QString::fromLatin1(QUrl::toPercentEncoding(path))), rng);
        QVERIFY(dock(w)->windowTitle().contains("RELAX NG"));
        const int againstRng = list->topLevelItemCount();
        QVERIFY(againstRng >= 2);
        QTest::keyClick(&w, Qt::Key_F7);
        QVERIFY(dock(w)->windowTitle().contains("RELAX NG"));
        QCOMPARE(list->topLevelItemCount(), againstRng);

        // a new document (the edit not saved): the old list goes
        script->queueMessage(MsgResult::No);
        w.txtNodeName->setText(write("other.xml", "<List/>"));
        w.toolbarClick("load");
        QVERIFY(!dock(w)->isVisible());
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    void largeFormValidatesItsFile()
    {
        write("need.xsd", kSchema);
        const QString path = write("doc.xml", kDoc);
        frmMain w;
        showAndWait(w);
        w.setAlwaysLargeForm(true);
        w.txtNodeName->setText(path);
        w.toolbarClick("load");
        QVERIFY(w.isLargeForm());
        w.toolbarClick("validate");
        QCOMPARE(problems(w)->topLevelItemCount(), 2);
        open(w, 1);
        QVERIFY(w.selectedItem());
        QCOMPARE(w.selectedItem(), row(w, root(w), 2)); // the third Item, found by its index row
    }

    void anUnusableSchemaIsSaid()
    {
        const QString path = write("lost.xml", QByteArray(kDoc).replace("need.xsd", "missing.xsd"));
        frmMain w(path);
        showAndWait(w);
        w.toolbarClick("validate");
        QCOMPARE(problems(w)->topLevelItemCount(), 1);
        QVERIFY(w.statusText().startsWith("Not validated: "));
        QVERIFY(w.statusText().contains("missing.xsd"));
        script->queueOpen(write("bad.xsd", "this is no schema"));
        w.toolbarClick("validateagainst");
        QVERIFY(problems(w)->topLevelItem(0)->text(2).contains("bad.xsd"));
        QVERIFY(!w.session().hasUnsavedChanges());
    }
};

QTEST_MAIN(ValidationWindowTest)
#include "test_validation_window.moc"
