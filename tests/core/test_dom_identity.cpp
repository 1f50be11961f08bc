// The node a caller puts in is the node in the tree: whether it is a copy, made by the
// document, taken out earlier or taken from another document, the same handle reads and
// edits it there, and the saved file shows it. Saves follow the tree wherever an edit
// lands, detached holders included.
#include "test_support.h"
#include "../shared/dom_meaning.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;
using testsupport::parsed;

namespace {

// The file saved now reads back as a document that means what the tree means.
void expectSavedMeansTree(const DOMDocumentPtr& d)
{
    DOMDocumentPtr again = parsed(d->saveToBytes());
    EXPECT_EQ(testsupport::meaningOf(again->asNode()), testsupport::meaningOf(d->asNode()));
}

} // namespace

TEST(DomIdentity, ACopyPutInIsEditedRemovedAndPutBackThroughTheSameHandle)
{
    DOMDocumentPtr d = parsed("<r>\n  <a k='1'><b/></a>\n  <z/>\n</r>\n");
    DOMNode r = d->documentElement(), a = r.firstChild(), z = r.lastChild();
    DOMNode c = a.cloneNode(true);
    EXPECT_EQ(r.appendChild(c), c);
    EXPECT_EQ(c.parentNode(), r);
    EXPECT_EQ(c.ownerDocument(), d);
    c.setAttribute("z", "9");
    c.firstChild().setAttribute("y", "8");
    for (const char* edit : {"<a k=\"1\" z=\"9\">", "<b y=\"8\"/>"})
        EXPECT_TRUE(d->saveToBytes().contains(edit)) << edit;
    EXPECT_EQ(r.removeChild(c), c);
    EXPECT_TRUE(c.parentNode().isNull());
    EXPECT_EQ(r.insertBefore(c, z), c);
    EXPECT_EQ(z.previousSibling(), c);
    // replaced, the old node comes back detached and the new one stands in its place
    DOMNode fresh = d->createElement("n");
    EXPECT_EQ(r.replaceChild(fresh, a), a);
    EXPECT_EQ(fresh.parentNode(), r);
    EXPECT_TRUE(a.parentNode().isNull());
    EXPECT_EQ(d->asNode().replaceChild(a, r), r);
    EXPECT_EQ(d->documentElement(), a);
    EXPECT_THROW(d->asNode().replaceChild(d->createTextNode("t"), a), DOMException);
    EXPECT_EQ(d->documentElement(), a) << "a refused replacement leaves the document element in place";
    expectSavedMeansTree(d);
}

TEST(DomIdentity, ANodeOfAnotherDocumentMovesInWithItsHandlesAndNamespaces)
{
    DOMDocumentPtr d = parsed("<r xmlns='urn:d'><x/></r>");
    DOMDocumentPtr other = parsed("<o xmlns:p='urn:p' xml:lang='en'><p:m p:k='1' xml:space='preserve'>t<i/></p:m></o>");
    DOMNode m = other->documentElement().firstChild(), inner = m.lastChild();
    DOMNode declaration = other->documentElement().attributes().getNamedItem("xmlns:p");
    DOMNode r = d->documentElement();
    EXPECT_EQ(r.insertBefore(m, r.firstChild()), m);
    EXPECT_EQ(m.parentNode(), r);
    EXPECT_EQ(other->documentElement().childCount(), 0);
    other.reset(); // the source may go: handles into what moved follow it here
    EXPECT_EQ(inner.ownerDocument(), d);
    inner.setAttribute("seen", "1");
    m.setAttribute("p:q", "2");
    EXPECT_EQ(m.namespaceURI(), "urn:p");
    EXPECT_EQ(declaration.value(), "urn:p");
    EXPECT_TRUE(d->saveToBytes().contains("seen=\"1\"")) << d->saveToBytes().constData();
    expectSavedMeansTree(d);
    // the target going first: the moved node's handle keeps its tree
    d.reset();
    EXPECT_EQ(m.parentNode().nodeName(), "r");
    EXPECT_EQ(inner.parentNode(), m);

    // a node a query listed is held by the list, wherever it goes and whatever goes after
    DOMDocumentPtr listed = parsed("<s><x/></s>"), holder = parsed("<t/>");
    DOMNodeList found = listed->selectNodes("//x");
    holder->documentElement().appendChild(found.item(0));
    holder.reset();
    listed->documentElement().appendChild(listed->createElement("y"));
    EXPECT_EQ(found.item(0).parentNode().nodeName(), "t");

    // a node taken into a change set of its document stays there (a copy may go instead)
    DOMDocumentPtr kept = parsed("<k><v/></k>"), into = parsed("<t/>");
    DOMNode v = kept->documentElement().firstChild();
    kept->beginChanges();
    kept->documentElement().removeChild(v);
    auto set = kept->endChanges();
    EXPECT_THROW(into->documentElement().appendChild(v), DOMException);
    EXPECT_TRUE(into->documentElement().appendChild(v.cloneNode(true)).parentNode() == into->documentElement());
    set->undo();
    EXPECT_EQ(kept->documentElement().firstChild(), v);
}

TEST(DomIdentity, MovesIntoADetachedHolderMakeTheDocumentEdited)
{
    const QByteArray text = "<r>\n  <a/>\n  <b>t</b>\n</r>\n";
    DOMDocumentPtr d = parsed(text);
    ASSERT_EQ(d->saveToBytes(), text);
    DOMNode holder = d->createElement("q");
    holder.appendChild(d->documentElement().firstChild());
    EXPECT_EQ(d->saveToBytes(), "<r>\n  <b>t</b>\n</r>\n");
    expectSavedMeansTree(d);
    // put back, then edited while detached: the saved file follows each time
    d->documentElement().appendChild(holder);
    DOMNode b = d->documentElement().firstChild();
    d->documentElement().removeChild(b);
    b.setAttribute("k", "1");
    holder.appendChild(b);
    expectSavedMeansTree(d);
    EXPECT_TRUE(d->saveToBytes().contains("<b k=\"1\">t</b>")) << d->saveToBytes().constData();
}
