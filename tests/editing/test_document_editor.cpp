// The edit layer: every kind of step the windows take is undone to the document as it
// was, byte for byte, and redone to the document as it was after the step; the history
// keeps the flag, the step names and its budget.
#include "DocumentEditor.h"
#include "treelark/ApXmlMgr.h"
#include "stop_long_commands.h"
#include "treelark/dCollection.h"

#include <gtest/gtest.h>

#include <functional>

using namespace treelark;

namespace {

const QByteArray kConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- layers -->
<FrameworkConfig TagName='FrameworkConfig' Name="x &amp; y">
  <ApLayers TagName="ApLayers">
    <ApLayer TagName='A'  Name="Roads">
      <ApFields><ApField TagName="F1"/></ApFields>
    </ApLayer>
    <ApLayer TagName="B" Name="Rivers"/>
  </ApLayers>
  <Note>one &#x41; two</Note>
  <Target/>
</FrameworkConfig>
)";

const QByteArray kNamespaced = R"(<r xmlns:p="urn:p" xmlns="urn:d">
  <p:a p:k="1">
    <b/>
  </p:a>
  <c xmlns:q="urn:q"><q:d/></c>
</r>
)";

DOMDocumentPtr load(const QByteArray& text)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->loadXML(text));
    return doc;
}

// What the document saves as, and its tree as the DOM serializes it ("" where a document
// without an element refuses).
QByteArray saved(const DOMDocumentPtr& doc)
{
    const DOMNode root = doc->documentElement();
    const QByteArray tree = root.isNull() ? QByteArray() : root.xmlUtf8();
    try {
        return doc->saveToBytes() + "\n--\n" + tree;
    } catch (const DOMException&) {
        return tree;
    }
}

DOMNode at(const DOMDocumentPtr& doc, const char* path) { return doc->selectSingleNode(QString::fromLatin1(path)); }

struct StepCase {
    const char* name;
    const QByteArray* document;
    std::function<void(DocumentEditor&, const DOMDocumentPtr&)> step;
};

class EveryStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(EveryStep, UndoGivesTheDocumentBeforeAndRedoTheDocumentAfterByteForByte)
{
    const StepCase& c = GetParam();
    DOMDocumentPtr doc = load(*c.document);
    DocumentEditor editor;
    editor.setDocument(doc);
    const QByteArray before = saved(doc);

    c.step(editor, doc);
    ASSERT_TRUE(editor.canUndo()) << "the step changed nothing";
    const QByteArray after = saved(doc);
    ASSERT_NE(before, after);

    editor.undo();
    EXPECT_EQ(saved(doc), before);
    EXPECT_FALSE(editor.isModified()) << "back at the state loaded";
    EXPECT_TRUE(editor.canRedo());

    editor.redo();
    EXPECT_EQ(saved(doc), after);
    EXPECT_TRUE(editor.isModified());

    // Undone again, the document edits on as if the step had never been: nothing of it (a
    // start tag marked rewritten, a declaration) lingers to show in the next save.
    editor.undo();
    DOMDocumentPtr fresh = load(*c.document);
    for (const DOMDocumentPtr& d : {doc, fresh})
        d->documentElement().setAttribute("Probe", "1");
    EXPECT_EQ(saved(doc), saved(fresh));
}

ApXmlMgr& manager(const DOMDocumentPtr& doc)
{
    static ApXmlMgr mgr;
    mgr.setDOMDoc(doc);
    return mgr;
}

const StepCase kSteps[] = {
    {"DeleteAmongIndentedSiblings", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.removeNode(at(d, "//ApLayer[@TagName='A']")); }},
    {"DeleteTheLastChild", &kConfig, [](DocumentEditor& e, const DOMDocumentPtr& d) { e.removeNode(at(d, "//Target")); }},
    {"DeleteTheDocumentElement", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.removeNode(d->documentElement()); }},
    {"PasteACopy", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.appendCopy(at(d, "//Target"), at(d, "//ApLayer").cloneNode(true));
     }},
    {"DragToFirstChild", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.moveToFirstChild(at(d, "//ApLayer[2]"), at(d, "//Target")); }},
    {"DragANamespacedBranchOutOfItsScope", &kNamespaced,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         DOMNode a = d->documentElement().firstChild();
         DOMNode q = d->documentElement().lastChild().firstChild();
         e.moveToFirstChild(q, a);
     }},
    {"SetANewAttribute", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.setAttribute(at(d, "//ApLayer"), "Visible", "1"); }},
    {"ChangeAnAttributeWithAReference", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.setAttribute(d->documentElement(), "Name", "plain"); }},
    {"RemoveAnAttribute", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.removeAttribute(d->documentElement(), "TagName"); }},
    {"DeclareAndRedeclareANamespace", &kNamespaced,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.perform("declarations", [&] {
             DOMNode c = d->documentElement().lastChild();
             c.setAttribute("xmlns:p", "urn:other");
             c.setAttribute("xmlns:q", "urn:q2");
             d->documentElement().removeAttribute("xmlns");
         });
     }},
    {"ReplaceTextWithCharacterReferences", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.setText(at(d, "//Note"), "new <text>"); }},
    {"ReplaceAnElementsChildrenByText", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) { e.setText(at(d, "//ApLayers"), "gone"); }},
    {"EditACommentBeforeTheDocumentElement", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.perform("comment", [&] { d->asNode().firstChild().setNodeValue(" edited "); });
     }},
    {"InsertAPath", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         dCollection attrs;
         attrs.Add(QStringLiteral("7"), QStringLiteral("Order"));
         e.perform("path", [&] { manager(d).InsertNodeWithFullPath("FrameworkConfig/Services/Service", &attrs); });
     }},
    {"MergeAnotherDocument", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         DOMDocumentPtr other = load("<FrameworkConfig Extra='1'><ApLayers><ApLayer TagName='A' Name='Changed'/>"
                                     "<ApLayer TagName='C'/></ApLayers><New/></FrameworkConfig>");
         e.perform("merge", [&] { manager(d).MergeAll(other, nullptr, "TagName"); });
     }},
    // The node put in is the node in the tree: later edits through its handle are part
    // of the step, and so are the places it left.
    {"PutACopyInEditItTakeItOutAndPutItBack", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.perform("copy", [&] {
             DOMNode c = at(d, "//ApLayer").cloneNode(true), target = at(d, "//Target");
             target.appendChild(c);
             c.setAttribute("z", "9");
             target.removeChild(c);
             at(d, "//ApLayers").insertBefore(c, at(d, "//ApLayer[2]"));
             c.firstChild().setAttribute("y", "8");
         });
     }},
    {"MoveInANodeOfAnotherDocument", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         DOMDocumentPtr other = load(kNamespaced);
         DOMNode moving = other->documentElement().firstChild();
         e.perform("adopt", [&] {
             at(d, "//Target").appendChild(moving);
             moving.setAttribute("p:seen", "1");
         });
         EXPECT_EQ(moving.ownerDocument(), d);
     }},
    {"MoveIntoAHolderLeftOut", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.perform("holder", [&] { d->createElement("Holder").appendChild(at(d, "//Note")); });
     }},
    {"PutADetachedSubtreeBack", &kConfig,
     [](DocumentEditor& e, const DOMDocumentPtr& d) {
         e.perform("holder", [&] {
             DOMNode holder = d->createElement("Holder");
             holder.appendChild(at(d, "//Note"));
             holder.firstChild().setAttribute("k", "1");
             d->documentElement().replaceChild(holder, at(d, "//Target"));
         });
     }},
};

INSTANTIATE_TEST_SUITE_P(Editor, EveryStep, ::testing::ValuesIn(kSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// A refusal keeps what the change did as one step; a stop keeps nothing of it.
TEST(EditorHistory, ARefusedChangeKeepsWhatWasDoneAsOneStepAStoppedOneNothing)
{
    DOMDocumentPtr doc = load(kConfig);
    DocumentEditor editor;
    editor.setDocument(doc);
    const QByteArray before = doc->saveToBytes();
    for (const bool stop : {true, false}) {
        EXPECT_THROW(editor.perform(stop ? "stopped" : "half",
                                    [&] {
                                        doc->documentElement().setAttribute("Done", "1");
                                        if (stop)
                                            throw DOMException(DOMError::Cancelled, "Stopped");
                                        doc->documentElement().appendChild(doc->documentElement()); // refused
                                    }),
                     DOMException);
        EXPECT_EQ(editor.stepCount(), stop ? 0 : 1);
        EXPECT_EQ(doc->documentElement().getAttribute("Done"), stop ? "" : "1");
    }
    editor.undo();
    EXPECT_EQ(doc->saveToBytes(), before);
    // a change that changes nothing is no step at all
    EXPECT_FALSE(editor.perform("nothing", [] {}));
    EXPECT_EQ(editor.undoText(), QString());
    EXPECT_EQ(editor.redoText(), "half");

    // A merge asked to stop goes no further and says why.
    DOMDocumentPtr source = load("<FrameworkConfig TagName='FrameworkConfig'><Extra TagName='E'/></FrameworkConfig>");
    ApXmlMgr mgr;
    mgr.setDOMDoc(doc);
    {
        const testsupport::StopEveryLongCommand stop;
        runLongCommand([&] { mgr.MergeAll(source, nullptr, "TagName"); });
    }
    EXPECT_TRUE(mgr.lastError().startsWith("Stopped")) << mgr.lastError().toStdString();
    EXPECT_EQ(doc->saveToBytes(), before);
    mgr.MergeAll(source, nullptr, "TagName");
    EXPECT_NE(doc->saveToBytes(), before);
}

TEST(EditorHistory, FlagFollowsTheCleanStateAndANewStepDropsTheRedoBranch)
{
    DOMDocumentPtr doc = load(kConfig);
    DocumentEditor editor;
    editor.setDocument(doc);
    DOMNode root = doc->documentElement();
    editor.setAttribute(root, "A", "1");
    editor.markSaved();
    EXPECT_FALSE(editor.isModified());
    editor.setAttribute(root, "B", "1");
    editor.undo(); // back to the saved state
    EXPECT_FALSE(editor.isModified());
    editor.undo(); // before the save
    EXPECT_TRUE(editor.isModified());
    EXPECT_EQ(root.getAttribute("A"), "");
    editor.setAttribute(root, "C", "1");
    EXPECT_FALSE(editor.canRedo());
    EXPECT_EQ(editor.stepCount(), 1);
    editor.setDocument(load(kConfig)); // another document: a fresh history
    EXPECT_FALSE(editor.canUndo());
    EXPECT_FALSE(editor.isModified());
}

TEST(EditorHistory, PastItsBudgetTheOldestStepsAreForgottenAndTheirNodesFreed)
{
    DOMDocumentPtr doc = load(kConfig), twin = load(kConfig);
    DocumentEditor editor, noteOnly;
    editor.setDocument(doc);
    editor.setMemoryBudget(1); // nothing but the newest step fits
    editor.removeNode(at(doc, "//ApLayer"));
    editor.removeNode(at(doc, "//Note"));
    noteOnly.setDocument(twin);
    noteOnly.removeNode(at(twin, "//Note"));
    EXPECT_EQ(editor.historyCost(), noteOnly.historyCost()) << "what the forgotten step held is no longer counted";
    EXPECT_EQ(editor.stepCount(), 2);
    editor.undo();
    EXPECT_FALSE(editor.canUndo()) << "the first step is forgotten";
    EXPECT_FALSE(at(doc, "//Note").isNull());
    editor.undo(); // does nothing
    EXPECT_TRUE(at(doc, "//ApLayer[@TagName='A']").isNull());
}

} // namespace
