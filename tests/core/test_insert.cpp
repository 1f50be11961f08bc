// Node creation and insertion: paths of nodes, new nodes of each kind, appending under a
// parent, inserting by parent path, and whole paths of names created in one gesture.
#include "test_support.h"
#include "treelark/ApXmlMgr.h"
#include "ScriptedPrompts.h"
#include "treelark/dCollection.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;

namespace {

struct Loaded {
    explicit Loaded(const char* xml) { mgr.setDOMDoc(testsupport::parsed(xml)); }
    DOMDocumentPtr doc() const { return mgr.DOMDoc(); }
    DOMNode root() const { return mgr.DOMDoc()->documentElement(); }
    QString xml() const { return mgr.DOMDoc()->documentElement().xml(); }
    ApXmlMgr mgr;
};

QStringList childNames(const DOMNode& n)
{
    QStringList names;
    for (DOMNode c = n.firstChild(); !c.isNull(); c = c.nextSibling())
        names << c.nodeName();
    return names;
}

QStringList attributeList(const DOMNode& n)
{
    QStringList out;
    DOMNamedNodeMap attrs = n.attributes();
    for (qint64 i = 0; i < attrs.length(); ++i)
        out << attrs.item(i).nodeName() + "=" + attrs.item(i).value();
    return out;
}

// Owns the scripted prompts for one test and puts the silent ones back afterwards.
class WithPrompts : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted = std::make_shared<ScriptedPrompts>();
        setPrompts(scripted);
    }
    void TearDown() override { setPrompts(nullptr); }
    std::shared_ptr<ScriptedPrompts> scripted;
};

} // namespace

// ---- GetFullPath ----

TEST(GetFullPath, NamesFromTheDocumentElementDownAndNothingAbove)
{
    Loaded d("<RootNode a='1'><NodeA><NodeA1>t</NodeA1></NodeA><NodeA/></RootNode>");
    DOMNode a1 = d.root().firstChild().firstChild();
    EXPECT_EQ(d.mgr.GetFullPath(d.root()), "RootNode");
    EXPECT_EQ(d.mgr.GetFullPath(a1.firstChild()), "RootNode/NodeA/NodeA1/#text");
    // no position indexes: same-named siblings share a path
    EXPECT_EQ(d.mgr.GetFullPath(d.root().lastChild()), d.mgr.GetFullPath(d.root().firstChild()));
    for (const DOMNode& none : {DOMNode(), d.doc()->asNode(), d.root().attributes().item(0)})
        EXPECT_EQ(d.mgr.GetFullPath(none), "");
    DOMNode detached = d.doc()->createElement("Loose");
    EXPECT_EQ(d.mgr.GetFullPath(detached), "");
    // inside a detached subtree its root counts as "above": the path starts below it
    DOMNode leaf = detached.appendChild(d.doc()->createElement("Inner")).appendChild(d.doc()->createElement("Leaf"));
    EXPECT_EQ(d.mgr.GetFullPath(leaf), "Inner/Leaf");
}

// ---- CreateNode ----

TEST(CreateNode, ElementsCarryTheSetInItsOrderTextIsEmptyNothingElseIsMadeAndNothingRaises)
{
    ApXmlMgr mgr;
    dCollection attrs;
    attrs.Add("2", "zeta");
    attrs.Add("1", "alpha");
    DOMNode e = mgr.CreateNode("Item", &attrs);
    ASSERT_FALSE(e.isNull());
    EXPECT_TRUE(e.parentNode().isNull());
    EXPECT_EQ(attributeList(e), (QStringList{"zeta=2", "alpha=1"}));

    DOMNode t = mgr.CreateNode("ignored name", &attrs, NODE_TEXT);
    ASSERT_FALSE(t.isNull());
    EXPECT_EQ(t.nodeType(), NODE_TEXT);
    EXPECT_EQ(t.text(), "");
    EXPECT_TRUE(mgr.CreateNode("c", nullptr, NODE_COMMENT).isNull());
    EXPECT_FALSE(mgr.lastError().isEmpty());

    DOMDocumentPtr other = testsupport::parsed("<other/>"); // made in the document given
    DOMNode o = mgr.CreateNode("E", nullptr, NODE_ELEMENT, other);
    EXPECT_EQ(o.ownerDocument(), other);
    other->documentElement().appendChild(o); // same document: no copy
    EXPECT_EQ(other->documentElement().firstChild(), o);

    EXPECT_TRUE(mgr.CreateNode("1bad").isNull());
    EXPECT_TRUE(mgr.lastError().contains("'1bad'")) << mgr.lastError().toStdString();
    EXPECT_FALSE(mgr.CreateNode("fine").isNull());
    EXPECT_EQ(mgr.lastError(), "");

    dCollection some; // one bad name costs that attribute only
    some.Add("1", "good");
    some.Add("2", "not valid");
    some.Add("3", "alsoGood");
    EXPECT_EQ(attributeList(mgr.CreateNode("E", &some)), (QStringList{"good=1", "alsoGood=3"}));

    ApXmlMgr empty;
    empty.setDOMDoc(nullptr);
    EXPECT_TRUE(empty.CreateNode("E").isNull());
    EXPECT_TRUE(empty.CreateNode("", nullptr, NODE_TEXT).isNull());
}

// ---- InsertNodeUnder ----

TEST(InsertNodeUnder, MovesOrAppendsACopyAndErrorsReachTheCaller)
{
    Loaded d("<r><a><inner/></a><b/></r>");
    DOMNode a = d.root().firstChild();
    DOMNode b = d.root().lastChild();
    DOMNode copy = d.mgr.InsertNodeUnder(b, a, true);
    EXPECT_NE(copy, a);
    EXPECT_EQ(copy.parentNode(), b);
    EXPECT_EQ(childNames(copy), (QStringList{"inner"}));
    EXPECT_EQ(a.parentNode(), d.root()); // the original stays where it was
    EXPECT_EQ(d.mgr.InsertNodeUnder(b, a, false), a);
    EXPECT_EQ(childNames(d.root()), (QStringList{"b"}));
    EXPECT_EQ(childNames(b), (QStringList{"a", "a"}));

    EXPECT_TRUE(d.mgr.InsertNodeUnder(DOMNode(), a, false).isNull()); // no parent: nothing changes
    EXPECT_EQ(a.parentNode(), b);
    EXPECT_THROW(d.mgr.InsertNodeUnder(a, d.root(), false), DOMException); // under itself
}

// ---- InsertNode ----

TEST_F(WithPrompts, InsertNodeCreatesUnderTheParentPathWithTheSet)
{
    Loaded d("<Root><Layers><Layer/></Layers></Root>");
    dCollection attrs;
    attrs.Add("A", "TagName");
    attrs.Add("1", "Order");
    QString path = "Root/Layers/";
    DOMNode n = d.mgr.InsertNode(path, "Fields", false, 1, &attrs);
    EXPECT_EQ(path, "Root/Layers"); // one trailing "/" dropped in the caller's variable
    ASSERT_FALSE(n.isNull());
    EXPECT_EQ(d.mgr.GetFullPath(n), "Root/Layers/Fields");
    EXPECT_EQ(attributeList(n), (QStringList{"TagName=A", "Order=1"}));
    // without a parent path, or with one that finds nothing, under the document element
    EXPECT_EQ(d.mgr.InsertNode(QString(""), "New", false).parentNode(), d.root());
    EXPECT_EQ(d.mgr.InsertNode(QString("Root/Missing"), "Leaf", false).parentNode(), d.root());
    EXPECT_EQ(childNames(d.root()), (QStringList{"Layers", "New", "Leaf"}));
    EXPECT_TRUE(scripted->messagesShown().isEmpty());

    ApXmlMgr mgr; // on the document given
    DOMDocumentPtr other = testsupport::parsed("<o><p/></o>");
    EXPECT_EQ(mgr.GetFullPath(mgr.InsertNode(QString("o/p"), "q", false, 1, nullptr, other)), "o/p/q");
    EXPECT_TRUE(mgr.DOMDoc()->documentElement().isNull());
}

TEST_F(WithPrompts, InsertNodeOverwriteDecidesAboutAnExistingChild)
{
    Loaded d("<Root><Layer TagName='A' Keep='k'/><Other/></Root>");
    const QString before = d.xml();
    DOMNode existing = d.root().firstChild();
    dCollection attrs;
    attrs.Add("B", "TagName");
    attrs.Add("new", "Extra");

    EXPECT_EQ(d.mgr.InsertNode(QString("Root"), "Layer", false, 1, &attrs), existing);
    EXPECT_EQ(d.xml(), before); // nothing set, nothing moved

    EXPECT_EQ(d.mgr.InsertNode(QString("Root"), "Layer", true, 1, &attrs), existing);
    EXPECT_EQ(attributeList(existing), (QStringList{"TagName=B", "Keep=k", "Extra=new"}));
    EXPECT_EQ(childNames(d.root()), (QStringList{"Other", "Layer"}));
}

TEST_F(WithPrompts, InsertNodeShowsAnyErrorAndGivesNothing)
{
    Loaded d("<Root/>");
    EXPECT_TRUE(d.mgr.InsertNode(QString("Root"), "*", false).isNull()); // selects, but names nothing
    EXPECT_TRUE(d.mgr.InsertNode(QString("Root["), "x", false).isNull());
    ASSERT_EQ(scripted->asked().size(), 2);
    EXPECT_EQ(scripted->asked()[0].text, "From InsertNode:5, createNode: '*' is not a valid element name.");
    EXPECT_EQ(scripted->asked()[0].buttons, MsgButtons::OK);
    EXPECT_EQ(scripted->asked()[0].title, ""); // the program's own title
    // the box shows the reason a program without prompts reads
    EXPECT_TRUE(d.mgr.lastError().contains("character 6")) << d.mgr.lastError().toStdString();
    EXPECT_EQ(scripted->asked()[1].text, "From InsertNode:1000, " + d.mgr.lastError());
    EXPECT_FALSE(d.root().hasChildNodes());
    EXPECT_FALSE(d.mgr.InsertNode(QString("Root"), "good", false).isNull());
    EXPECT_EQ(d.mgr.lastError(), "");

    // the document keeps what the steps before the error did
    dCollection attrs;
    attrs.Add("x", "fine");
    attrs.Add("y", "not valid");
    EXPECT_TRUE(d.mgr.InsertNode(QString(""), "Root", true, 1, &attrs).isNull());
    EXPECT_EQ(d.root().getAttribute("fine"), "x");
    EXPECT_EQ(scripted->messagesShown().size(), 3);
}

// ---- InsertNodeWithFullPath ----

TEST(InsertNodeWithFullPath, CreatesMissingAncestorsBareAndTheLeafWithTheSet)
{
    Loaded d("<Doc><RootNode/></Doc>");
    dCollection attrs;
    attrs.Add("Value1", "Key1");
    attrs.Add("Value2", "Key2");
    DOMNode leaf = d.mgr.InsertNodeWithFullPath("RootNode/NodeA/NodeA1", &attrs);
    ASSERT_FALSE(leaf.isNull());
    EXPECT_EQ(d.mgr.GetFullPath(leaf), "Doc/RootNode/NodeA/NodeA1");
    EXPECT_EQ(attributeList(leaf), (QStringList{"Key1=Value1", "Key2=Value2"}));
    EXPECT_EQ(leaf.parentNode().attributes().length(), 0);

    // the second time NodeA is found, not made again; the leaf is always new
    DOMNode again = d.mgr.InsertNodeWithFullPath("RootNode/NodeA/NodeA1", &attrs);
    EXPECT_NE(again, leaf);
    EXPECT_EQ(again.parentNode(), leaf.parentNode());
    EXPECT_EQ(childNames(leaf.parentNode()), (QStringList{"NodeA1", "NodeA1"}));
    EXPECT_EQ(childNames(d.root().firstChild()), (QStringList{"NodeA"}));

    // several missing levels at once; a plain name goes under the document element
    EXPECT_EQ(d.mgr.GetFullPath(d.mgr.InsertNodeWithFullPath("Doc/X/Y/Z")), "Doc/X/Y/Z");
    EXPECT_EQ(d.mgr.InsertNodeWithFullPath("Solo").parentNode(), d.root());
    EXPECT_EQ(childNames(d.root()), (QStringList{"RootNode", "X", "Solo"}));
}

TEST(InsertNodeWithFullPath, NothingForNothingAndErrorsReachTheCaller)
{
    Loaded d("<RootNode/>");
    const QString before = d.xml();
    EXPECT_TRUE(d.mgr.InsertNodeWithFullPath("").isNull());
    EXPECT_EQ(d.xml(), before);
    // a path ending in "/" names no element: appending nothing fails
    EXPECT_THROW(d.mgr.InsertNodeWithFullPath("RootNode/"), DOMException);
    // the refused name is the cause; the empty node it leaves behind fails only after it
    EXPECT_THROW(d.mgr.InsertNodeWithFullPath("RootNode/Mid/bad name"), DOMException);
    EXPECT_TRUE(d.mgr.lastError().contains("'bad name'")) << d.mgr.lastError().toStdString();
    EXPECT_FALSE(d.mgr.InsertNodeWithFullPath("RootNode/Mid/Leaf").isNull());
    EXPECT_EQ(d.mgr.lastError(), "");

    ApXmlMgr blank; // no document element to hang anything under: no exception, a reason
    EXPECT_TRUE(blank.InsertNodeWithFullPath("A/B").isNull());
    EXPECT_TRUE(blank.InsertNodeWithFullPath("A").isNull());
    EXPECT_TRUE(blank.lastError().contains("\"A\"")) << blank.lastError().toStdString();
}

TEST(InsertNodeWithFullPath, AnEmptyDocumentVariableReceivesTheManagersDocument)
{
    Loaded d("<RootNode/>");
    DOMDocumentPtr doc;
    DOMNode n = d.mgr.InsertNodeWithFullPath("RootNode/A", nullptr, doc);
    EXPECT_EQ(doc, d.doc());
    EXPECT_EQ(n.parentNode(), d.root());

    DOMDocumentPtr other = testsupport::parsed("<RootNode/>");
    DOMDocumentPtr given = other;
    d.mgr.InsertNodeWithFullPath("RootNode/B", nullptr, given);
    EXPECT_EQ(given, other);
    EXPECT_EQ(childNames(other->documentElement()), (QStringList{"B"}));
    EXPECT_EQ(childNames(d.root()), (QStringList{"A"}));
}
