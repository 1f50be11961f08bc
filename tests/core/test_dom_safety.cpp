// Node handles stay usable however the tree they came from changes or goes away; the
// DOM refuses, before changing anything, every operation XML does not allow; no
// sequence of calls can corrupt memory; a detached node lives exactly as long as someone
// holds it; big trees are freed off the caller's thread; loads do not nest.
#include "test_support.h"
#include "../shared/dom_meaning.h"
#include "treelark/ApXmlMgr.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>

using namespace treelark;
using testsupport::parsed;

namespace {

struct Refusal {
    const char* what;
    const char* document;
    DOMError code;
    std::function<void(DOMDocumentPtr)> act;
};

DOMNode root(const DOMDocumentPtr& d) { return d->documentElement(); }
DOMNode first(const DOMDocumentPtr& d) { return d->documentElement().firstChild(); }
DOMNode doctype(const DOMDocumentPtr& d) { return d->asNode().firstChild(); }

const char* const kDtd = "<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r k CDATA #IMPLIED>]><r k='1'><c/></r>";

} // namespace

TEST(DomHandles, NodesBasicsAndAttributeOrder)
{
    DOMDocumentPtr doc = parsed("<?xml version='1.0'?><!--lead--><r TagName='t' Name='n'>x<!--c--><![CDATA[<d>]]><?pi data?></r>");
    DOMNode r = doc->documentElement();
    EXPECT_EQ(r.nodeTypeString(), "element");
    EXPECT_TRUE(r.nodeValue().isNull());
    DOMNamedNodeMap attrs = r.attributes();
    ASSERT_EQ(attrs.length(), 2);
    EXPECT_EQ(attrs.item(0).name() + attrs.item(1).value(), "TagNamen");
    EXPECT_TRUE(attrs.item(2).isNull());
    EXPECT_TRUE(attrs.getNamedItem("tagname").isNull()); // names are case-sensitive
    EXPECT_TRUE(attrs.item(0).parentNode().isNull());
    DOMNodeList kids = r.childNodes();
    ASSERT_EQ(kids.length(), 4);
    const QStringList names{"#text", "#comment", "#cdata-section", "pi"};
    const int types[] = {NODE_TEXT, NODE_COMMENT, NODE_CDATA_SECTION, NODE_PROCESSING_INSTRUCTION};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(kids.item(i).nodeName() == names[i] && kids.item(i).nodeType() == types[i]) << i;
    EXPECT_EQ(r.text(), "x<d>");

    r.setAttribute("Name", "changed"); // overwrite keeps the position
    r.setAttribute("Alias", "new");    // a new one goes last
    EXPECT_EQ(attrs.item(1).value(), "changed");
    EXPECT_EQ(attrs.item(2).name(), "Alias");
    r.removeAttribute("absent"); // nothing to remove is not an error

    // adjacent text nodes are not merged away; the child list is live
    r.appendChild(doc->createTextNode("b"));
    EXPECT_EQ(kids.length(), 5);
    EXPECT_EQ(kids.nextNode().nodeName(), "#text");
    r.removeChild(r.firstChild());
    EXPECT_EQ(kids.item(0).nodeName(), "#comment");
    kids.reset();
    EXPECT_EQ(kids.nextNode().nodeName(), "#comment");
    // setting the text parks the old children, which stay usable
    DOMNode comment = kids.item(0);
    r.setText("plain");
    EXPECT_EQ(r.childNodes().length(), 1);
    EXPECT_TRUE(comment.parentNode().isNull());
    EXPECT_EQ(comment.nodeValue(), "c");
}

// One row for each check that refuses; rows that would only reach a check already
// here by another way are left out.
TEST(DomSafety, RefusedOperationsChangeNothing)
{
    const std::vector<Refusal> cases = {
        {"attribute as reference node", "<r k='1'><c/></r>", DOMError::NotFound,
         [](DOMDocumentPtr d) { root(d).insertBefore(d->createElement("n"), root(d).attributes().item(0)); }},
        {"attribute as child", "<r k='1'><c/></r>", DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { first(d).appendChild(root(d).attributes().item(0)); }},
        {"doctype removed", kDtd, DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { d->asNode().removeChild(doctype(d)); }},
        {"doctype copied", kDtd, DOMError::NotSupported, [](DOMDocumentPtr d) { doctype(d).cloneNode(true); }},
        {"ancestor under its descendant", "<r><a><b/></a></r>", DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { first(d).firstChild().appendChild(first(d)); }},
        {"text at document level", "<r/>", DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { d->asNode().appendChild(d->createTextNode("t")); }},
        {"second document element", "<r/>", DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { d->asNode().appendChild(d->createElement("s")); }},
        {"children under text", "<r>t</r>", DOMError::HierarchyRequest,
         [](DOMDocumentPtr d) { first(d).appendChild(d->createElement("s")); }},
        {"remove a non-child", "<r><a><b/></a></r>", DOMError::NotFound,
         [](DOMDocumentPtr d) { root(d).removeChild(first(d).firstChild()); }},
        {"instruction named xml", "<r/>", DOMError::InvalidArgument,
         [](DOMDocumentPtr d) { root(d).appendChild(d->createNode(NODE_PROCESSING_INSTRUCTION, "XmL", "")); }},
        {"instruction with a colon", "<r/>", DOMError::InvalidArgument,
         [](DOMDocumentPtr d) { d->createNode(NODE_PROCESSING_INSTRUCTION, "a:b", ""); }},
        {"element named xmlns:z", "<r/>", DOMError::InvalidArgument, [](DOMDocumentPtr d) { d->createElement("xmlns:z"); }},
        {"attribute name", "<r/>", DOMError::InvalidArgument, [](DOMDocumentPtr d) { root(d).setAttribute("a b", "1"); }},
        {"control character", "<r/>", DOMError::InvalidArgument,
         [](DOMDocumentPtr d) { root(d).setAttribute("a", QString(QChar(1))); }},
        {"comment with --", "<r><!--c--></r>", DOMError::InvalidArgument, [](DOMDocumentPtr d) { first(d).setText("a--b"); }},
        {"undeclared attribute prefix", "<r/>", DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("z:a", "1"); }},
        {"undeclared element prefix placed", "<r/>", DOMError::Namespace,
         [](DOMDocumentPtr d) { root(d).appendChild(d->createElement("z:e")); }},
        {"undeclared prefix inside a built subtree", "<r/>", DOMError::Namespace, // built detached, refused when placed
         [](DOMDocumentPtr d) {
             DOMNode e = d->createElement("e");
             e.appendChild(d->createElement("f")).setAttribute("z:a", "1");
             root(d).appendChild(e);
         }},
        {"prefix bound to nothing", "<r/>", DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:x", ""); }},
        {"URI with blanks", "<r/>", DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:x", "a b"); }},
        {"the xmlns namespace", "<r/>", DOMError::Namespace,
         [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:x", "http://www.w3.org/2000/xmlns/"); }},
        {"xml bound elsewhere", "<r/>", DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:xml", "urn:x"); }},
        {"xmlns declared", "<r/>", DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:xmlns", "urn:x"); }},
        {"declaration still in use", "<r xmlns:x='urn:x'><x:a/></r>", DOMError::InUse,
         [](DOMDocumentPtr d) { root(d).removeAttribute("xmlns:x"); }},
        {"two attributes with one expanded name", "<r xmlns:a='urn:a' xmlns:b='urn:b' a:x='1' b:x='2'/>",
         DOMError::Namespace, [](DOMDocumentPtr d) { root(d).setAttribute("xmlns:b", "urn:a"); }},
        {"same expanded name under another prefix", "<r xmlns:a='urn:a' xmlns:b='urn:a' a:x='1'/>", DOMError::Namespace,
         [](DOMDocumentPtr d) { root(d).setAttribute("b:x", "2"); }},
        {"nothing appended", "<r/>", DOMError::ObjectNotSet, [](DOMDocumentPtr d) { root(d).appendChild(DOMNode()); }},
        {"the length of no list", "<r/>", DOMError::ObjectNotSet, [](DOMDocumentPtr) { DOMNodeList().length(); }},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        DOMDocumentPtr d = parsed(c.document);
        const QByteArray before = d->saveToBytes();
        try {
            c.act(d);
            ADD_FAILURE() << "accepted";
        } catch (const DOMException& e) {
            EXPECT_EQ(e.code(), c.code) << e.description().toStdString();
            EXPECT_FALSE(e.description().isEmpty());
        }
        EXPECT_EQ(d->saveToBytes(), before);
        parsed(before);
    }
    // the declarations inside a document type are not nodes of the tree
    const DOMDocumentPtr withDtd = parsed(kDtd);
    const DOMNode dt = doctype(withDtd);
    EXPECT_EQ(dt.nodeType(), NODE_DOCUMENT_TYPE);
    EXPECT_TRUE(dt.childNodes().length() == 0 && dt.firstChild().isNull() && !dt.hasChildNodes());
}

TEST(DomSafety, DetachedAttributesAnswerQueriesWithNothing)
{
    DOMDocumentPtr d = parsed("<r k='1' j='2'><a/></r>");
    DOMNode clone = root(d).attributes().item(0).cloneNode(true);
    DOMNode removed = root(d).attributes().getNamedItem("j");
    root(d).removeAttribute("j");
    for (const DOMNode& a : {clone, removed}) {
        for (const char* e : {"preceding::node()", "following::node()", "ancestor::*", ".", ".."})
            EXPECT_EQ(a.selectNodes(e).length(), 0) << e;
    }
    EXPECT_EQ(removed.value(), "2");
}

// A subtree taken out lives while something inside it is held, and no longer.
TEST(DomSafety, DetachedNodesLiveExactlyAsLongAsTheirHandles)
{
    DOMDocumentPtr d = parsed("<r xmlns:x='urn:x'><a xmlns:y='urn:y'><x:b y:k='v'>t<c/></x:b></a></r>");
    DOMNode decl, attr, grandchild;
    {
        DOMNode a = root(d).removeChild(first(d));
        decl = a.attributes().item(0);
        grandchild = a.firstChild();
        attr = grandchild.attributes().item(0);
    } // a goes: everything of it but what is held is freed
    EXPECT_TRUE(grandchild.parentNode().isNull());
    EXPECT_EQ(grandchild.namespaceURI(), "urn:x");
    EXPECT_EQ(attr.namespaceURI(), "urn:y");
    EXPECT_EQ(decl.nodeName(), "xmlns:y");
    EXPECT_EQ(decl.value(), "urn:y");
    EXPECT_EQ(grandchild.text(), "t");
    // and what survived goes back in with its meaning
    root(d).appendChild(grandchild);
    DOMDocumentPtr again = parsed(d->saveToBytes());
    EXPECT_EQ(testsupport::meaningOf(again->asNode()), testsupport::meaningOf(d->asNode()));

    // made, copied and removed nodes outlive the document object itself
    DOMNode created = d->createElement("fresh"), cloned = root(d).cloneNode(true);
    d.reset();
    again.reset();
    EXPECT_EQ(cloned.firstChild().firstChild().nodeValue(), "t");
    created.appendChild(grandchild);
    EXPECT_EQ(created.firstChild().namespaceURI(), "urn:x");
}

TEST(DomSafety, CopyPasteDeleteDoesNotGrowTheHeap)
{
    QByteArray text = "<r><big>";
    for (int i = 0; i < 5000; ++i)
        text += "<e n='" + QByteArray::number(i) + "'>text</e>";
    text += "</big><target/></r>";
    DOMDocumentPtr d = parsed(text);
    DOMNode big = first(d), target = big.nextSibling();
    auto cycle = [&] {
        DOMNode buffer = big.cloneNode(true);                  // Copy
        DOMNode pasted = target.appendChild(buffer.cloneNode(true)); // Paste
        target.removeChild(pasted);                             // Delete
    };
    cycle();
    const qint64 start = testsupport::heapInUse();
    for (int i = 0; i < 10; ++i)
        cycle();
    EXPECT_LT(testsupport::heapInUse() - start, 256 << 10) << "each cycle makes and drops three copies of a MB or more";
    // a copy does not keep the document it came from alive
    DOMNode copy = big.firstChild().cloneNode(true);
    const qint64 withDoc = testsupport::heapInUse();
    d.reset();
    big = target = DOMNode();
    EXPECT_LT(testsupport::heapInUse(), withDoc - (1 << 20));
    EXPECT_EQ(copy.getAttribute("n"), "0");
}

// A tree read from a big file is freed on a worker once let go, so the window does not
// wait for hundreds of thousands of frees; loading the next document meanwhile is safe.
TEST(DomSafety, BigTreesAreFreedInTheBackgroundWhileTheNextLoadGoesOn)
{
    QTemporaryDir dir;
    const QByteArray element = "<e>" + QByteArray(90, 't') + "</e>\n";
    const QString big = testsupport::writeFile(dir, "big.xml", "<r>" + element.repeated((18 << 20) / element.size()) + "</r>");
    const QString next = testsupport::writeFile(dir, "next.xml", "<n>" + QByteArray("<m k='v'/>").repeated(100000) + "</n>");
    const qint64 baseline = testsupport::heapInUse();
    int stillHeld = 0;
    for (int round = 0; round < 3; ++round) {
        DOMDocumentPtr doc = DOMDocument::create();
        ASSERT_TRUE(doc->load(big));
        const qint64 cost = testsupport::heapInUse() - baseline;
        ASSERT_GT(cost, 32 << 20);
        doc.reset();
        // freed synchronously, nearly all of it would be gone by now, in every round
        if (testsupport::heapInUse() - baseline > cost / 4)
            ++stillHeld;
        DOMDocumentPtr other = DOMDocument::create();
        ASSERT_TRUE(other->load(next));
        EXPECT_EQ(other->documentElement().childCount(), 100000);
        EXPECT_EQ(other->documentElement().lastChild().getAttribute("k"), "v");
        other.reset();
        QElapsedTimer t;
        t.start();
        while (testsupport::heapInUse() - baseline > (16 << 20) && t.elapsed() < 30000)
            QThread::msleep(10);
        EXPECT_LT(testsupport::heapInUse() - baseline, 16 << 20) << "round " << round;
    }
    EXPECT_GT(stillHeld, 0);
}

TEST(DomSafety, LoadsDoNotNest)
{
    QTemporaryDir dir;
    const QString first = testsupport::writeFile(dir, "first.xml", "<r>" + QByteArray("<e>x</e>").repeated(200000) + "</r>");
    const QString second = testsupport::writeFile(dir, "second.xml", "<other/>");

    ApXmlMgr mgr, other;
    int nestedResult = -1, announced = 0;
    bool nestedDocLoaded = true;
    QObject::connect(&mgr, &ApXmlMgr::DOMReady, [&](DOMDocumentPtr) { ++announced; });
    QObject::connect(&mgr, &ApXmlMgr::LoadProgress, [&](qint64, qint64) {
        if (nestedResult != -1)
            return;
        nestedResult = mgr.LoadXml(second, false);   // a drop on the window while loading
        DOMDocumentPtr plain = DOMDocument::create();
        nestedDocLoaded = plain->load(second);
        EXPECT_EQ(plain->parseError().errorCode, long(DOMError::Busy));
        other.MergeAll(nullptr);
    });
    mgr.LoadXml(first, false);
    EXPECT_EQ(nestedResult, int(DOMError::Busy));
    EXPECT_EQ(mgr.lastError(), ""); // the refusal was the nested call's, not this load's
    EXPECT_FALSE(nestedDocLoaded);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(mgr.DOMDoc()->documentElement().childCount(), 200000);

    // one document, two managers: both are told
    int told = 0;
    QObject::connect(&other, &ApXmlMgr::DOMReady, [&](DOMDocumentPtr) { ++told; });
    other.setDOMDoc(mgr.DOMDoc());
    mgr.DOMDoc()->load(second);
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(told, 1);
}

TEST(DomSafety, FailedLoadsAndRootlessDocumentsAreNotSaved)
{
    ApXmlMgr mgr;
    mgr.LoadXml(QStringLiteral("/nonexistent/x.xml"), false);
    QTemporaryDir dir;
    const QString out = dir.filePath("out.xml");
    mgr.Save(out);
    EXPECT_FALSE(mgr.lastError().isEmpty());
    EXPECT_FALSE(QFile::exists(out));

    DOMDocumentPtr d = parsed("<r/>");
    d->asNode().removeChild(root(d));
    EXPECT_THROW(d->save(out), DOMException);
    EXPECT_FALSE(QFile::exists(out));
}

TEST(DomSafety, FileAddressesNeverNameRelativeFiles)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("tmp/A");
    testsupport::writeFile(dir, "tmp/A/abs.xml", "<relative/>");
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    ApXmlMgr mgr;
    mgr.LoadXml(QStringLiteral("file:///tmp/A/abs.xml"), false); // /tmp/A/abs.xml: there is none
    const bool loadedRelative = !mgr.DOMDoc()->documentElement().isNull();
    mgr.LoadXml(QStringLiteral("tmp/A/abs.xml"), false);          // a relative name is relative
    QDir::setCurrent(saved);
    EXPECT_FALSE(loadedRelative);
    EXPECT_EQ(mgr.DOMDoc()->documentElement().nodeName(), "relative");
}
