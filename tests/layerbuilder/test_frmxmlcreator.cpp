// The layer builder form, headless: limits and their messages, serial names, the tag
// name mirroring, the number checks, and what each mode's Ok and Cancel leave behind.
#include "Clipboard.h"
#include "frmXmlCreator.h"
#include "ScriptedPrompts.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace treelark;

namespace {

QStringList entries(const QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

void leave(QWidget* box)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(box, &out);
}

DOMDocumentPtr parsed(const QByteArray& text)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    doc->loadXML(text);
    return doc;
}

const QByteArray kLayers = "<FrameworkConfig><ApLayers><Old/></ApLayers></FrameworkConfig>";
const QByteArray kThreeFields = "<FrameworkConfig><ApLayers>"
                                "<ApLayer TagName='Roads' Name='Main roads' ShapeType='8' Keep='me'>"
                                "<ApFields><ApField TagName='A' Type='4'/><ApField TagName='B'/>"
                                "<ApField TagName='C' AllowNull='No'/></ApFields><ApFields><ApField/></ApFields></ApLayer>"
                                "</ApLayers></FrameworkConfig>";

} // namespace

class FormTest : public QObject {
    Q_OBJECT

    std::shared_ptr<ScriptedPrompts> script;
    std::shared_ptr<RecordingClipboard> clip;
    QPointer<frmXmlCreator> form;

    frmXmlCreator* open(const DOMNode& node = DOMNode(), bool edit = false)
    {
        form = new frmXmlCreator;
        if (edit)
            form->EditLayer(node);
        else if (!node.isNull())
            form->AddLayers(node);
        form->show();
        return form;
    }

    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void init()
    {
        script = std::make_shared<ScriptedPrompts>();
        setPrompts(script);
        clip = std::make_shared<RecordingClipboard>();
        setClipboard(clip);
    }

    void cleanup()
    {
        delete form.data();
        setClipboard(nullptr);
        setPrompts(nullptr);
    }

    void limitsOf25LayersAnd25Fields()
    {
        frmXmlCreator* f = open();
        for (const bool layers : {true, false}) {
            script->clearAsked();
            QPushButton* add = layers ? f->cmdAddLayer : f->cmdAddField;
            for (int i = 0; i < 25; ++i)
                add->click();
            QVERIFY(script->asked().isEmpty());
            add->click();
            QCOMPARE(layers ? f->layerCount() : int(f->workingFields().FieldCount), 25);
            QCOMPARE((layers ? f->cboLayers : f->cboFields)->count(), 25);
            QCOMPARE(script->messagesShown(),
                     QStringList{QStringLiteral("This Program Cannot Create More Than 25 ") + (layers ? "Layers" : "Fields")});
        }
    }

    void serialNamesNeverGoDown()
    {
        frmXmlCreator* f = open();
        f->cmdAddLayer->click();
        QCOMPARE(f->txtLayerTagName->selectedText(), QStringLiteral("NewLayer1")); // ready to be typed over
        for (int i = 0; i < 3; ++i)
            f->cmdAddField->click();
        QCOMPARE(f->txtFieldTagName->selectedText(), QStringLiteral("NewField3"));
        f->cmdAddLayer->click();
        f->cmdRemoveLayer->click();
        f->cmdAddLayer->click();
        QCOMPARE(entries(f->cboLayers), QStringList({"NewLayer1", "NewLayer3"}));
        QCOMPARE(f->cboFields->count(), 0); // a new layer starts without fields
        f->cmdAddField->click();
        QCOMPARE(entries(f->cboFields), QStringList{"NewField4"});
        QCOMPARE(f->txtFieldName->text(), QStringLiteral("NewField4"));

        // Back to the first layer: its three fields are still there.
        f->cboLayers->setCurrentIndex(0);
        QCOMPARE(entries(f->cboFields), QStringList({"NewField1", "NewField2", "NewField3"}));
    }

    // Opened empty or emptied again, only a new layer or Cancel can be chosen.
    void removingLayersAndFields()
    {
        frmXmlCreator* f = open();
        QVERIFY(!f->cmdWrite->isEnabled() && !f->cmdAddField->isEnabled());
        for (int i = 0; i < 3; ++i)
            f->cmdAddLayer->click();
        f->cmdRemoveLayer->click(); // the last one shown: the one before takes its place
        QCOMPARE(f->cboLayers->currentText(), QStringLiteral("NewLayer2"));
        QCOMPARE(f->currentLayer(), 2);
        f->cboLayers->setCurrentIndex(0);
        f->cmdRemoveLayer->click(); // the first: the next moves up
        QCOMPARE(f->cboLayers->currentText(), QStringLiteral("NewLayer2"));
        QCOMPARE(f->txtLayerTagName->text(), QStringLiteral("NewLayer2"));
        f->cmdRemoveLayer->click();
        QCOMPARE(f->layerCount(), 0);
        for (QWidget* w : std::initializer_list<QWidget*>{f->cmdWrite, f->cmdRemoveLayer, f->cmdAddField,
                                                          f->cboLayers, f->txtLayerTagName, f->cboHasM})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        QVERIFY(f->cmdAddLayer->isEnabled() && f->cmdCancel->isEnabled());

        f->cmdAddLayer->click();
        for (int i = 0; i < 3; ++i)
            f->cmdAddField->click();
        f->cboFields->setCurrentIndex(1);
        f->cmdRemoveField->click();
        QCOMPARE(entries(f->cboFields), QStringList({"NewField1", "NewField3"}));
        QCOMPARE(f->txtFieldTagName->text(), QStringLiteral("NewField3"));
        f->cmdRemoveField->click();
        f->cmdRemoveField->click();
        QCOMPARE(f->cboFields->count(), 0);
        QVERIFY(!f->cmdRemoveField->isEnabled() && !f->txtFieldTagName->isEnabled());
        QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
        f->close(); // by the frame: nothing to report
        QCOMPARE(done.size(), 0);
    }

    void tagNamesMirrorIntoTheSelectorsAndNameBoxes()
    {
        frmXmlCreator* f = open();
        f->cmdAddLayer->click();
        f->txtLayerTagName->clear();
        QTest::keyClicks(f->txtLayerTagName, "Roads");
        QCOMPARE(f->cboLayers->itemText(0), QStringLiteral("Roads"));
        QCOMPARE(f->txtLayerName->text(), QStringLiteral("Roads"));
        f->cmdAddField->click();
        f->txtFieldTagName->clear();
        QTest::keyClicks(f->txtFieldTagName, "Width");
        QCOMPARE(f->cboFields->itemText(0), QStringLiteral("Width"));
        QCOMPARE(f->txtFieldName->text(), QStringLiteral("Width"));
        // A Name typed after the tag name is the layer's own.
        f->txtLayerName->setText(QStringLiteral("Main roads"));
        f->cmdAddLayer->click();
        f->cboLayers->setCurrentIndex(0);
        QCOMPARE(f->txtLayerName->text(), QStringLiteral("Main roads"));
        QCOMPARE(f->cboLayers->currentText(), QStringLiteral("Roads"));
    }

    void numberChecksOnLeavingTheBoxes()
    {
        const struct {
            bool width;
            const char* text;
            const char* message; // "" when nothing is said
        } cases[] = {
            {true, "1.5", "Please input an integer for Length"}, {true, "abc", "Please input a number for Length"},
            {true, " 12 ", ""}, {false, "1.5", ""}, {false, "x", "Please input a number for Precision"},
        };
        frmXmlCreator* f = open();
        f->cmdAddLayer->click();
        f->cmdAddField->click();
        for (const auto& c : cases) {
            script->clearAsked();
            QLineEdit* box = c.width ? f->txtFieldWidth : f->txtDecimals;
            box->setText(c.text);
            leave(box);
            QCOMPARE(script->messagesShown(), *c.message ? QStringList{c.message} : QStringList());
        }
    }

    void clipboardOkWritesTheText()
    {
        frmXmlCreator* f = open();
        QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
        f->cmdAddLayer->click();
        f->txtLayerTagName->setText(QStringLiteral("RoadsTag"));
        f->txtLayerName->setText(QStringLiteral("Roads"));
        f->cboShapeType->setCurrentText(QStringLiteral("Polyline"));
        f->cmdAddField->click();
        f->txtFieldTagName->setText(QStringLiteral("F1"));
        f->txtFieldName->setText(QStringLiteral("Width"));
        f->cboFieldType->setCurrentText(QStringLiteral("Double"));
        f->txtDecimals->setText(QStringLiteral("2.00"));
        f->cboNull->setCurrentText(QStringLiteral("No"));
        f->cmdWrite->click();

        QFile golden(QStringLiteral(TREELARK_LAYER_GOLDEN_DIR "/roads_clipboard.txt"));
        QVERIFY(golden.open(QIODevice::ReadOnly));
        QCOMPARE(clip->current.toUtf8(), golden.readAll());
        QCOMPARE(clip->clears, 1);
        QCOMPARE(script->messagesShown(),
                 QStringList{"XML has been written to clipboard.\r\nYou may now paste the text into your XML file."});
        QCOMPARE(QList<QVariantList>(done), QList<QVariantList>{{true}});
        flushDeletes();
        QVERIFY(form.isNull());
    }

    // Ok reads the width and the decimals again: a bad one stops the text.
    void clipboardOkWithABadNumberPutsNothingThere()
    {
        for (const bool width : {true, false}) {
            delete form.data();
            frmXmlCreator* f = open();
            QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
            f->cmdAddLayer->click();
            f->cmdAddField->click();
            (width ? f->txtFieldWidth : f->txtDecimals)->setText(QStringLiteral("wide"));
            f->cmdWrite->click();
            QVERIFY(clip->texts.isEmpty());
            QCOMPARE(script->asked().last().title, QStringLiteral("13"));
            QCOMPARE(QList<QVariantList>(done), QList<QVariantList>{{false}});
        }
    }

    // Enter leaves the box first, as a click on Ok would: a refused number stops it there.
    // On a focused button Enter presses that button.
    void enterChecksTheBoxItLeavesAndPressesTheFocusedButton()
    {
        frmXmlCreator* f = open();
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
        f->cmdAddLayer->click();
        f->cmdAddField->setFocus();
        QTest::keyClick(f->cmdAddField, Qt::Key_Return);
        QCOMPARE(int(f->workingFields().FieldCount), 1);
        f->txtFieldWidth->setFocus();
        f->txtFieldWidth->setText(QStringLiteral("wide"));
        QTest::keyClick(f->txtFieldWidth, Qt::Key_Enter);
        QCOMPARE(script->messagesShown(), QStringList{"Please input a number for Length"});
        QVERIFY(done.isEmpty() && clip->texts.isEmpty());
        QCOMPARE(QApplication::focusWidget(), f->txtFieldWidth);
    }

    void addModeOkAppendsThroughTheHookAsOneStep()
    {
        const DOMDocumentPtr doc = parsed(kLayers);
        const DOMNode layers = doc->selectSingleNode(QStringLiteral("//ApLayers"));
        frmXmlCreator* f = open(layers);
        QCOMPARE(f->windowTitle(), QStringLiteral("Add ApLayers"));
        QStringList steps;
        f->setApplyEdit([&](const QString& step, const DOMNode& target, const std::function<void()>& change) {
            steps << step;
            QCOMPARE(target, layers);
            QCOMPARE(layers.childNodes().length(), 1); // nothing written before the hook runs it
            change();
        });
        QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
        f->cmdAddLayer->click();
        f->cmdAddField->click();
        f->cmdAddLayer->click();
        f->cmdWrite->click();
        QCOMPARE(steps, QStringList{"Add layers"});
        QCOMPARE(QList<QVariantList>(done), QList<QVariantList>{{true}});
        const DOMNodeList children = layers.childNodes();
        QCOMPARE(children.length(), 3);
        QCOMPARE(children.item(0).nodeName(), QStringLiteral("Old"));
        QCOMPARE(children.item(1).attributes().getNamedItem("TagName").text(), QStringLiteral("NewLayer1"));
        QCOMPARE(children.item(1).firstChild().childNodes().length(), 1);
        QCOMPARE(children.item(2).attributes().getNamedItem("TagName").text(), QStringLiteral("NewLayer2"));
        QVERIFY(!children.item(2).hasChildNodes());
        QVERIFY(clip->texts.isEmpty());
    }

    void editModeShowsOneLayerAndRewritesIt()
    {
        const DOMDocumentPtr doc = parsed(kThreeFields);
        const DOMNode layer = doc->selectSingleNode(QStringLiteral("//ApLayer"));
        frmXmlCreator* f = open(layer, true);
        QCOMPARE(f->windowTitle(), QStringLiteral("Edit ApLayer"));
        QCOMPARE(f->fraLayers->title(), QStringLiteral("ApLayer"));
        for (QWidget* w : std::initializer_list<QWidget*>{f->lblLayer, f->cboLayers, f->cmdAddLayer, f->cmdRemoveLayer})
            QVERIFY2(w->isHidden(), qPrintable(w->objectName()));
        QVERIFY(f->cmdWrite->isEnabled() && f->txtFieldTagName->isEnabled());
        QCOMPARE(f->txtLayerName->text(), QStringLiteral("Main roads"));
        QCOMPARE(f->cboShapeType->currentText(), QStringLiteral("(8)")); // 8 names no shape: shown as read
        QCOMPARE(entries(f->cboFields), QStringList({"A", "B", "C"})); // the first ApFields only
        QCOMPARE(f->cboFieldType->currentText(), QStringLiteral("String"));
        // No selector: the Name box keeps its own value when the tag name changes.
        f->txtLayerTagName->setText(QStringLiteral("Streets"));
        QCOMPARE(f->txtLayerName->text(), QStringLiteral("Main roads"));

        f->cboFields->setCurrentIndex(1);
        f->cmdRemoveField->click();
        f->cmdAddField->click();
        QCOMPARE(f->txtFieldTagName->text(), QStringLiteral("NewField1"));
        f->cmdRemoveField->click();

        QStringList steps;
        f->setApplyEdit([&](const QString& step, const DOMNode& target, const std::function<void()>& change) {
            steps << step;
            QCOMPARE(target, layer);
            change();
        });
        f->cmdWrite->click();
        QCOMPARE(steps, QStringList{"Edit layer"});
        QCOMPARE(layer.attributes().getNamedItem("TagName").text(), QStringLiteral("Streets"));
        QCOMPARE(layer.attributes().getNamedItem("Keep").text(), QStringLiteral("me"));
        QCOMPARE(layer.attributes().getNamedItem("ShapeType").text(), QStringLiteral("8")); // untouched, kept
        const DOMNodeList fields = layer.firstChild().childNodes();
        QCOMPARE(fields.length(), 2);
        QCOMPARE(fields.item(0).attributes().getNamedItem("TagName").text(), QStringLiteral("A"));
        QCOMPARE(fields.item(1).attributes().getNamedItem("TagName").text(), QStringLiteral("C"));
        QCOMPARE(fields.item(1).attributes().getNamedItem("AllowNull").text(), QStringLiteral("No"));
    }

    // Codes absent or unknown are shown as read and written back as they were; Ok on an
    // untouched layer leaves every byte, and an edit writes only the attribute it changed.
    void editWritesOnlyWhatTheUserChanged()
    {
        const QByteArray xml = "<FrameworkConfig>\n  <ApLayer TagName=\"Roads\" LayerType=\"77\" ShapeType=\"3\" HasZ=\"2\">\n"
                               "    <ApFields>\n      <ApField TagName=\"A\" Type=\"99\" FieldWidth=\"4\"/>\n"
                               "      <ApField TagName=\"B\" Type=\"4\" AllowNull=\"Maybe\"/>\n    </ApFields>\n"
                               "  </ApLayer>\n</FrameworkConfig>\n";
        const DOMDocumentPtr doc = parsed(xml);
        const DOMNode layer = doc->selectSingleNode(QStringLiteral("//ApLayer"));
        frmXmlCreator* f = open(layer, true);
        QCOMPARE(QStringList({f->cboLayerType->currentText(), f->cboFeatureType->currentText(),
                              f->cboShapeType->currentText(), f->cboHasZ->currentText(), f->cboFieldType->currentText()}),
                 QStringList({"(77)", "(none)", "Polyline", "(2)", "(99)"}));
        f->cboFields->setCurrentIndex(1); // looked at, not changed
        QCOMPARE(f->cboNull->currentText(), QStringLiteral("(Maybe)"));
        f->cboFields->setCurrentIndex(0);
        f->cmdWrite->click();
        QCOMPARE(doc->saveToBytes(), xml);
        flushDeletes();

        f = open(layer, true);
        f->cboFields->setCurrentIndex(1);
        f->txtFieldWidth->setText(QStringLiteral("12"));
        f->cboFeatureType->setCurrentText(QStringLiteral("Annotation"));
        f->cmdWrite->click();
        QByteArray expected = xml;
        expected.replace("HasZ=\"2\"", "HasZ=\"2\" FeatureType=\"11\"")
            .replace("AllowNull=\"Maybe\"", "AllowNull=\"Maybe\" FieldWidth=\"12\"");
        QCOMPARE(doc->saveToBytes(), expected);
    }

    // Without a hook Ok writes directly; Cancel writes nothing and runs no hook.
    void okWithoutAHookWritesCancelWritesNothing()
    {
        for (const bool cancel : {false, true}) {
            const DOMDocumentPtr doc = parsed(kThreeFields);
            const QByteArray before = doc->saveToBytes();
            frmXmlCreator* f = open(doc->selectSingleNode(QStringLiteral("//ApLayer")), true);
            if (cancel)
                f->setApplyEdit([](const QString&, const DOMNode&, const std::function<void()>&) { QFAIL("hook ran"); });
            QSignalSpy done(f, &frmXmlCreator::OperationCompleted);
            f->txtLayerDesc->setText(QStringLiteral("edited"));
            // by keyboard: Enter in a box is Ok, Escape is Cancel
            f->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f));
            f->txtLayerDesc->setFocus();
            QTest::keyClick(f->txtLayerDesc, cancel ? Qt::Key_Escape : Qt::Key_Return);
            QCOMPARE(QList<QVariantList>(done), QList<QVariantList>{{!cancel}});
            QCOMPARE(doc->selectSingleNode("//ApLayer").getAttribute("Desc"), cancel ? QString() : QString("edited"));
            QCOMPARE(doc->saveToBytes() == before, cancel);
            flushDeletes();
            QVERIFY(form.isNull());
        }
    }

    // Reported, and where: the form offers only Cancel, as Ok would write over the layer.
    void anUnreadableLayerIsReportedAndNothingCanBeWritten()
    {
        const DOMDocumentPtr doc = parsed("<ApLayer TagName='x' LayerType='abc'/>");
        frmXmlCreator* f = open(doc->documentElement(), true);
        QCOMPARE(script->asked().size(), 1);
        QCOMPARE(script->asked()[0].title, QStringLiteral("13"));
        QVERIFY(f->fraLayers->title().contains(QStringLiteral("LayerType=\"abc\"")));
        QVERIFY(!f->cmdWrite->isEnabled() && !f->cmdAddField->isEnabled());
        QVERIFY(f->cmdCancel->isEnabled());
    }
};

QTEST_MAIN(FormTest)
#include "test_frmxmlcreator.moc"
