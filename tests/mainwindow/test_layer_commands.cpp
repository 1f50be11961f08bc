// "Edit" and "Add" on layer nodes open the layer builder; what it writes shows in the
// tree once it reports back.
#include "WindowTestBase.h"
#include "Clipboard.h"
#include "frmXmlCreator.h"

#include <QGroupBox>


using namespace treelark;

namespace {

// The child of `item` whose text starts with `prefix`.
TreeItem* childNamed(frmMain& w, TreeItem* item, const QString& prefix)
{
    for (qsizetype i = 0; i < w.treeModel()->childCount(item); ++i)
        if (w.treeModel()->child(item, i)->text.startsWith(prefix))
            return w.treeModel()->child(item, i);
    return nullptr;
}

QStringList layerTags(const DOMDocumentPtr& doc)
{
    QStringList out;
    const DOMNodeList layers = doc->selectNodes(QStringLiteral("//ApLayer"));
    for (qint64 i = 0; i < layers.length(); ++i)
        out << layers.item(i).attributes().getNamedItem(QStringLiteral("TagName")).text();
    return out;
}

} // namespace

class LayerCommandsTest : public WindowTestBase {
    Q_OBJECT

    static TreeItem* layers(frmMain& w) { return childNamed(w, root(w), QStringLiteral("ApLayers")); }

    static frmXmlCreator* builder(frmMain& w)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<frmXmlCreator*> open = w.findChildren<frmXmlCreator*>();
        return open.size() == 1 ? open.first() : nullptr;
    }

private slots:
    void aLayerThatCannotBeReadIsNeverWrittenOver()
    {
        const QString path = write("unreadable.xml", "<FrameworkConfig><ApLayers><ApLayer TagName=\"A\" Name=\"Roads\">"
                                                     "<ApFields><ApField/><!-- note --></ApFields></ApLayer></ApLayers>"
                                                     "</FrameworkConfig>");
        frmMain w(path);
        showAndWait(w);
        const QByteArray before = w.document()->saveToBytes();
        TreeItem* layer = w.treeModel()->child(layers(w), 0);
        rightClick(w, layer);
        w.runMenuCommand(QStringLiteral("Edit"));
        frmXmlCreator* f = builder(w);
        QVERIFY(f);
        QCOMPARE(script->asked().size(), 1); // the failure, as the message box says it
        QVERIFY(!f->cmdWrite->isEnabled());
        QVERIFY2(f->fraLayers->title().contains("child 2 of ApFields (#comment)"), qPrintable(f->fraLayers->title()));
        f->cmdWrite->setEnabled(true); // even a forced Ok writes nothing
        f->cmdWrite->click();
        QCOMPARE(w.document()->saveToBytes(), before);
        QVERIFY(!w.editor()->isModified());
    }

    void layerTextFromTheToolbarGoesToTheClipboardOnly()
    {
        auto clip = std::make_shared<RecordingClipboard>();
        setClipboard(clip);
        frmMain w(sample());
        const QByteArray before = w.document()->saveToBytes();
        w.toolbarClick(QStringLiteral("layertext"));
        frmXmlCreator* f = builder(w);
        QVERIFY(f);
        f->cmdAddLayer->click();
        f->txtLayerTagName->setText(QStringLiteral("LakesTag"));
        f->txtLayerName->setText(QStringLiteral("Lakes"));
        f->cmdWrite->click();
        QVERIFY2(clip->current.contains(QStringLiteral("Lakes")), qPrintable(clip->current));
        QCOMPARE(w.document()->saveToBytes(), before);
        QVERIFY(!w.editor()->isModified());
        setClipboard(nullptr);
    }

    void editMovesTheLayersItemLastWhileTheElementStays()
    {
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, childNamed(w, layers(w), QStringLiteral("ApLayer (A")));
        w.runMenuCommand(QStringLiteral("Edit"));
        frmXmlCreator* f = builder(w);
        QVERIFY(f);
        QCOMPARE(f->txtLayerName->text(), QStringLiteral("Roads"));
        f->txtLayerTagName->setText(QStringLiteral("A2"));
        f->cmdAddField->click();
        f->cmdWrite->click();

        QCOMPARE(layerTags(w.document()), QStringList({"A2", "B"}));
        QCOMPARE(childTexts(w, layers(w)), QStringList({"ApLayer (B)", "ApLayer (A2,Roads)"}));
        // The rebuilt branch shows the new field.
        TreeItem* edited = w.treeModel()->child(layers(w), 1);
        QCOMPARE(w.treeModel()->childCount(w.treeModel()->child(edited, 0)), 1);
    }

    // "Add" on the container or on one of its layers: the container's branch is rebuilt,
    // last under its parent.
    void addRebuildsTheContainerAsTheLastChildOfItsParent_data()
    {
        QTest::addColumn<QString>("clicked");
        QTest::newRow("the container") << "ApLayers";
        QTest::newRow("a layer") << "ApLayer (B";
    }
    void addRebuildsTheContainerAsTheLastChildOfItsParent()
    {
        QFETCH(QString, clicked);
        frmMain w(sample());
        showAndWait(w);
        rightClick(w, clicked == "ApLayers" ? layers(w) : childNamed(w, layers(w), clicked));
        w.runMenuCommand(QStringLiteral("Add"));
        frmXmlCreator* f = builder(w);
        QVERIFY(f);
        f->cmdAddLayer->click();
        f->cmdAddField->click();
        f->cmdAddLayer->click();
        f->cmdWrite->click();

        QCOMPARE(layerTags(w.document()), QStringList({"A", "B", "NewLayer1", "NewLayer2"}));
        QVERIFY(childTexts(w, root(w)).last().startsWith(QLatin1String("ApLayers")));
        QCOMPARE(w.treeModel()->childCount(layers(w)), 4);
    }

    void aSecondOpenClosesTheFirstSilentlyAndCancelWritesNothing()
    {
        frmMain w(sample());
        showAndWait(w);
        const QStringList before = childTexts(w, layers(w));
        rightClick(w, childNamed(w, layers(w), QStringLiteral("ApLayer (A")));
        w.runMenuCommand(QStringLiteral("Edit"));
        QPointer<frmXmlCreator> first = builder(w);
        QVERIFY(first);
        rightClick(w, childNamed(w, layers(w), QStringLiteral("ApLayer (B")));
        w.runMenuCommand(QStringLiteral("Edit"));
        frmXmlCreator* second = builder(w);
        QVERIFY(first.isNull());
        QVERIFY(second);
        QCOMPARE(second->txtLayerTagName->text(), QStringLiteral("B"));
        // and a cancelled one leaves tree and document alone
        const QByteArray doc = w.document()->saveToBytes();
        second->txtLayerTagName->setText(QStringLiteral("changed"));
        second->cmdCancel->click();
        QVERIFY(!builder(w));
        QCOMPARE(childTexts(w, layers(w)), before);
        QCOMPARE(w.document()->saveToBytes(), doc);
    }
};

QTEST_MAIN(LayerCommandsTest)
#include "test_layer_commands.moc"
