// Node handles must stay usable however the tree they came from changes or goes away.
#include "treelark/dom.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;

namespace {

DOMDocumentPtr parse(const char* text)
{
    DOMDocumentPtr doc = DOMDocument::create();
    EXPECT_TRUE(doc->loadXML(QByteArray(text))) << doc->parseError().reason.toStdString();
    return doc;
}

} // namespace

TEST(DomHandles, RemovedNodeStaysUsableAndCanBeReinserted)
{
    DOMDocumentPtr doc = parse("<r><a x='1'><b>t</b></a><c/></r>");
    DOMNode root = doc->documentElement();
    DOMNode a = root.firstChild();
    DOMNode removed = root.removeChild(a);
    EXPECT_EQ(removed, a);
    EXPECT_TRUE(a.parentNode().isNull());
    EXPECT_EQ(a.getAttribute("x"), "1");
    EXPECT_EQ(a.text(), "t");
    EXPECT_EQ(root.childNodes().length(), 1);
    root.appendChild(a);
    EXPECT_EQ(root.lastChild(), a);
    EXPECT_EQ(doc->documentElement().xml(), "<r><c/><a x=\"1\"><b>t</b></a></r>");
}

TEST(DomHandles, DetachedNodesOutliveTheirDocumentObject)
{
    DOMNode created, cloned, removedAttr, removedChild;
    {
        DOMDocumentPtr doc = parse("<r a='1'><k>v</k></r>");
        created = doc->createElement("fresh");
        cloned = doc->documentElement().cloneNode(true);
        removedAttr = doc->documentElement().attributes().getNamedItem("a");
        doc->documentElement().removeAttribute("a");
        removedChild = doc->documentElement().removeChild(doc->documentElement().firstChild());
    }
    EXPECT_EQ(created.nodeName(), "fresh");
    EXPECT_EQ(cloned.xml(), "<r a=\"1\"><k>v</k></r>");
    EXPECT_EQ(removedAttr.value(), "1");
    EXPECT_EQ(removedChild.text(), "v");
    created.appendChild(removedChild);
    EXPECT_EQ(created.xml(), "<fresh><k>v</k></fresh>");
}

TEST(DomHandles, CopyHeldAcrossReloadCanBePastedIntoTheNewDocument)
{
    DOMDocumentPtr doc = parse("<old><item n='1'>x</item></old>");
    DOMNode copy = doc->documentElement().firstChild().cloneNode(true);
    DOMNode oldRoot = doc->documentElement();
    ASSERT_TRUE(doc->loadXML("<new/>"));
    EXPECT_EQ(oldRoot.nodeName(), "old"); // the replaced tree lives on for its handles
    DOMNode pasted = doc->documentElement().appendChild(copy.cloneNode(true));
    EXPECT_EQ(pasted.ownerDocument(), doc);
    EXPECT_EQ(doc->documentElement().xml(), "<new><item n=\"1\">x</item></new>");
    // pasting twice gives two independent copies
    DOMNode second = doc->documentElement().appendChild(copy.cloneNode(true));
    second.setAttribute("n", "2");
    EXPECT_EQ(pasted.getAttribute("n"), "1");
}

TEST(DomHandles, AppendingANodeOfAnotherDocumentMovesItThere)
{
    DOMDocumentPtr source = parse("<s><m>1</m><n/></s>");
    DOMDocumentPtr target = parse("<t/>");
    DOMNode m = source->documentElement().firstChild();
    DOMNode moved = target->documentElement().appendChild(m);
    EXPECT_EQ(moved.ownerDocument(), target);
    EXPECT_EQ(moved.text(), "1");
    EXPECT_EQ(source->documentElement().childNodes().length(), 1);
    EXPECT_EQ(target->documentElement().firstChild().nodeName(), "m");
    // the source tree may go; what moved belongs to the target now
    source.reset();
    m = DOMNode();
    EXPECT_EQ(target->documentElement().xml(), "<t><m>1</m></t>");
    // insertBefore across documents too
    DOMDocumentPtr other = parse("<o><p/></o>");
    target->documentElement().insertBefore(other->documentElement().firstChild(), moved);
    EXPECT_EQ(target->documentElement().firstChild().nodeName(), "p");
}

TEST(DomHandles, AdjacentTextNodesAreNotMergedAway)
{
    DOMDocumentPtr doc = parse("<r>a</r>");
    DOMNode t = doc->createTextNode("b");
    doc->documentElement().appendChild(t);
    t.setNodeValue("c");
    EXPECT_EQ(doc->documentElement().childNodes().length(), 2);
    EXPECT_EQ(doc->documentElement().text(), "ac");
}

TEST(DomHandles, SetTextParksTheOldChildren)
{
    DOMDocumentPtr doc = parse("<r><a>1</a><b/></r>");
    DOMNode a = doc->documentElement().firstChild();
    doc->documentElement().setText("plain");
    EXPECT_EQ(doc->documentElement().childNodes().length(), 1);
    EXPECT_EQ(a.text(), "1");
    EXPECT_TRUE(a.parentNode().isNull());
}

TEST(DomHandles, AttributesAndNodeBasics)
{
    DOMDocumentPtr doc = parse("<?xml version='1.0'?><!--lead--><r TagName='t' Name='n'>x<!--c--><![CDATA[<d>]]><?pi data?></r>");
    DOMNode r = doc->documentElement();
    EXPECT_EQ(r.nodeType(), NODE_ELEMENT);
    EXPECT_EQ(r.nodeTypeString(), "element");
    EXPECT_TRUE(r.nodeValue().isNull());
    DOMNamedNodeMap attrs = r.attributes();
    ASSERT_EQ(attrs.length(), 2);
    EXPECT_EQ(attrs.item(0).name(), "TagName");
    EXPECT_EQ(attrs.item(1).value(), "n");
    EXPECT_TRUE(attrs.item(2).isNull());
    EXPECT_TRUE(attrs.getNamedItem("tagname").isNull()); // names are case-sensitive
    EXPECT_TRUE(attrs.item(0).parentNode().isNull());

    DOMNodeList kids = r.childNodes();
    ASSERT_EQ(kids.length(), 4);
    EXPECT_EQ(kids.item(0).nodeName(), "#text");
    EXPECT_EQ(kids.item(1).nodeName(), "#comment");
    EXPECT_EQ(kids.item(2).nodeName(), "#cdata-section");
    EXPECT_EQ(kids.item(2).nodeType(), NODE_CDATA_SECTION);
    EXPECT_EQ(kids.item(3).nodeName(), "pi");
    EXPECT_EQ(kids.item(3).nodeType(), NODE_PROCESSING_INSTRUCTION);
    EXPECT_TRUE(kids.item(0).attributes().isNull());
    EXPECT_EQ(r.text(), "x<d>");
    EXPECT_EQ(r.parentNode().nodeName(), "#document");
    EXPECT_EQ(r.parentNode().nodeType(), NODE_DOCUMENT);
    EXPECT_TRUE(r.parentNode().parentNode().isNull());

    r.setAttribute("Name", "changed");  // overwrite keeps the position
    r.setAttribute("Alias", "new");     // a new one goes last
    EXPECT_EQ(attrs.item(1).value(), "changed");
    EXPECT_EQ(attrs.item(2).name(), "Alias");
    r.setAttribute("amp", "a&b<c>\"");
    EXPECT_EQ(r.getAttribute("amp"), "a&b<c>\"");
    EXPECT_THROW(r.setAttribute("bad name", "x"), DOMException);
    r.removeAttribute("absent"); // nothing to remove is not an error
}

TEST(DomHandles, LiveChildListFollowsEdits)
{
    DOMDocumentPtr doc = parse("<r><a/><b/><c/></r>");
    DOMNode r = doc->documentElement();
    DOMNodeList kids = r.childNodes();
    EXPECT_EQ(kids.item(1).nodeName(), "b");
    r.removeChild(r.firstChild());
    EXPECT_EQ(kids.length(), 2);
    EXPECT_EQ(kids.item(1).nodeName(), "c");
    r.appendChild(doc->createElement("d"));
    EXPECT_EQ(kids.length(), 3);
    EXPECT_EQ(kids.item(2).nodeName(), "d");
    EXPECT_EQ(kids.nextNode().nodeName(), "b");
    EXPECT_EQ(kids.nextNode().nodeName(), "c");
    kids.reset();
    EXPECT_EQ(kids.nextNode().nodeName(), "b");
}

TEST(DomHandles, CreateNodeKinds)
{
    DOMDocumentPtr doc = DOMDocument::create();
    EXPECT_TRUE(doc->documentElement().isNull());
    DOMNode el = doc->createNode(NODE_ELEMENT, "FrameworkConfig", "");
    doc->setDocumentElement(el);
    EXPECT_EQ(doc->documentElement(), el);
    EXPECT_EQ(doc->createNode(NODE_TEXT, "ignored", "").nodeValue(), "");
    EXPECT_EQ(doc->createNode(NODE_COMMENT, "", "").nodeType(), NODE_COMMENT);
    EXPECT_THROW(doc->createNode(NODE_ELEMENT, "", ""), DOMException);
    EXPECT_THROW(doc->createNode(NODE_ELEMENT, "1bad", ""), DOMException);
    DOMNode replacement = doc->createElement("Other");
    doc->setDocumentElement(replacement);
    EXPECT_EQ(doc->documentElement().nodeName(), "Other");
    EXPECT_EQ(el.nodeName(), "FrameworkConfig");
}

