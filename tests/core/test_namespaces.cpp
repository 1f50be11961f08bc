// Namespaces through every edit: what the tree means in memory is what a reload of the
// saved file gives, and every saved file loads again.
#include "test_support.h"
#include "../shared/dom_meaning.h"
#include "treelark/ApXmlMgr.h"
#include "treelark/dCollection.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;
using testsupport::meaningOf;
using testsupport::parsed;

namespace {

// The saved document loads again and means what the tree meant.
void expectFaithfulSave(const DOMDocumentPtr& d)
{
    const QByteArray saved = d->saveToBytes();
    DOMDocumentPtr again = DOMDocument::create();
    again->setValidateOnParse(false);
    ASSERT_TRUE(again->loadXML(saved)) << again->parseError().reason.toStdString() << "\n" << saved.toStdString();
    EXPECT_EQ(meaningOf(again->asNode()), meaningOf(d->asNode())) << saved.toStdString();
}

// An element by its local name, whatever namespace it is in now.
DOMNode at(const DOMDocumentPtr& d, const QString& name) { return d->selectSingleNode("//*[local-name()='" + name + "']"); }

} // namespace

TEST(Namespaces, MovesDetachmentsAndCopiesKeepEveryName)
{
    const char* text = "<r xmlns='urn:d' xmlns:x='urn:x'><a xmlns:x='urn:2'><e x:k='1' k='2'><x:f/></e></a>"
                       "<b/><c xmlns=''><plain/></c></r>";
    struct Edit {
        const char* what;
        std::function<void(DOMDocumentPtr)> act;
    };
    const std::vector<Edit> edits = {
        {"move out of the declaring element, copy, paste", [](DOMDocumentPtr d) {
             DOMNode e = at(d, "e"), b = d->documentElement().childNodes().item(1);
             b.appendChild(e);
             b.appendChild(e.cloneNode(true).cloneNode(true));
         }},
        {"detach, drop the ancestor, put back", [](DOMDocumentPtr d) {
             DOMNode e = at(d, "e");
             d->documentElement().removeChild(d->documentElement().firstChild()); // and let go of it
             d->documentElement().appendChild(e);
         }},
        {"no-namespace element under a default namespace",
         [](DOMDocumentPtr d) { d->documentElement().appendChild(at(d, "plain")); }},
        {"under a redeclared prefix",
         [](DOMDocumentPtr d) { d->documentElement().childNodes().item(1).appendChild(at(d, "f")); }},
        {"new root", [](DOMDocumentPtr d) { d->setDocumentElement(at(d, "e")); }},
        {"import from another document", [](DOMDocumentPtr d) {
             DOMDocumentPtr other = parsed("<o xmlns:x='urn:other'><x:i x:k='1'/><n/></o>");
             d->documentElement().appendChild(other->documentElement().firstChild());
             d->documentElement().appendChild(other->documentElement().lastChild());
         }},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        DOMDocumentPtr d = parsed(text);
        e.act(d);
        expectFaithfulSave(d);
        const QString now = meaningOf(d->asNode());
        EXPECT_TRUE(now.contains("E:{urn:d}e {urn:2}k=1 {}k=2")) << now.toStdString();
        if (now.contains("}f")) {
            EXPECT_TRUE(now.contains("E:{urn:2}f")) << now.toStdString();
        }
    }
}

// A copy of any element means what the element means, and names each namespace it
// borrows from above once, on its top: never again on the elements inside it.
TEST(Namespaces, CopiesAndImportsMeanWhatTheOriginalMeansWithEachDeclarationOnce)
{
    QString many;
    for (int i = 0; i < 1500; ++i) // past the copy's ticks
        many += QStringLiteral("<x:i n='%1'>t<p:j p:k='v'/>t</x:i>").arg(i);
    DOMDocumentPtr d = parsed("<!DOCTYPE r [<!ENTITY e 'ent'>]><r xmlns='urn:d' xmlns:x='urn:x' xmlns:p='urn:p'>"
                              "<a xmlns:x='urn:2'><e x:k='1' k='2'>&e;<x:f/><![CDATA[c]]><!--m--><?pi d?></e></a>"
                              "<b><x:g xmlns:x='urn:3'><x:h/></x:g></b><c xmlns=''><plain p:k='1'/></c><big>"
                              + many.toUtf8() + "</big></r>");
    for (const char* name : {"r", "a", "e", "f", "g", "h", "plain", "big"}) {
        SCOPED_TRACE(name);
        const DOMNode original = at(d, name);
        const DOMNode copy = original.cloneNode(true);
        EXPECT_EQ(meaningOf(copy), meaningOf(original));
        // imported into the document it came from and into another, and put in
        DOMDocumentPtr other = parsed("<o/>");
        EXPECT_EQ(meaningOf(d->importNode(original, true)), meaningOf(original));
        EXPECT_EQ(meaningOf(other->documentElement().appendChild(other->importNode(original, true))),
                  meaningOf(original));
        expectFaithfulSave(other);
        const QString text = copy.xml(), was = original.xml();
        for (const char* decl : {"xmlns=", "xmlns:x=", "xmlns:p="})
            EXPECT_LE(text.count(QLatin1String(decl)), was.count(QLatin1String(decl)) + 1)
                << decl << "\n" << text.left(300).toStdString();
    }
}

TEST(Namespaces, MadeNodesTakeTheirNamesFromWhereTheyArePlaced)
{
    DOMDocumentPtr d = parsed("<r xmlns='urn:d' xmlns:p='urn:p'><in xmlns:y='urn:y'/></r>");
    DOMNode made = d->createElement("p:q");
    made.setAttribute("y:a", "1"); // declared only where it will go
    made.setAttribute("xml:lang", "en");
    DOMNode plain = d->createElement("e");
    made.appendChild(plain);
    at(d, "in").appendChild(made);
    EXPECT_EQ(made.namespaceURI(), "urn:p");
    EXPECT_EQ(made.baseName(), "q");
    EXPECT_EQ(made.attributes().getNamedItem("y:a").namespaceURI(), "urn:y");
    EXPECT_EQ(plain.namespaceURI(), "urn:d");
    expectFaithfulSave(d);
}

TEST(Namespaces, DeclarationsAreAttributes)
{
    DOMDocumentPtr d = parsed("<RootNode xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' Name='r'>"
                              "<x xsi:type='t'/></RootNode>");
    DOMNode r = d->documentElement();
    ASSERT_EQ(r.attributes().length(), 2);
    EXPECT_EQ(r.attributes().item(0).nodeName(), "xmlns:xsi");
    EXPECT_EQ(r.attributes().item(1).nodeName(), "Name");
    EXPECT_EQ(ApXmlMgr().GetAttributeValue(r, "xmlns:xsi"), "http://www.w3.org/2001/XMLSchema-instance");

    // editing a declaration changes what the names under it mean, as a reload would
    r.attributes().getNamedItem("xmlns:xsi").setValue("urn:changed");
    EXPECT_EQ(r.firstChild().attributes().item(0).namespaceURI(), "urn:changed");
    r.setAttribute("xmlns", "urn:default");
    EXPECT_EQ(r.namespaceURI(), "urn:default");
    EXPECT_EQ(r.firstChild().namespaceURI(), "urn:default");
    expectFaithfulSave(d);
    r.removeAttribute("xmlns");
    EXPECT_EQ(r.firstChild().namespaceURI(), "");
    r.firstChild().removeAttribute("xsi:type");
    r.removeAttribute("xmlns:xsi"); // no longer used
    EXPECT_EQ(r.attributes().length(), 1);
    expectFaithfulSave(d);

    // a URI with an ampersand is written escaped
    DOMDocumentPtr amp = parsed("<r xmlns:u='urn:a&amp;b' u:k='1'/>");
    expectFaithfulSave(amp);
}

TEST(Namespaces, PathInsertionAndMergeKeepPrefixedAttributes)
{
    DOMDocumentPtr d = parsed("<RootNode xmlns:xsi='urn:xsi'><Inner xmlns:y='urn:y'/></RootNode>");
    ApXmlMgr mgr;
    mgr.setDOMDoc(d);
    dCollection set;
    set.Add(QStringLiteral("Layer"), QStringLiteral("xsi:type"));
    set.Add(QStringLiteral("1"), QStringLiteral("plain"));
    DOMNode item = mgr.InsertNodeWithFullPath("RootNode/Item", &set);
    ASSERT_FALSE(item.isNull());
    EXPECT_EQ(item.attributes().length(), 2);
    EXPECT_EQ(item.attributes().getNamedItem("xsi:type").namespaceURI(), "urn:xsi");
    DOMNode fresh = mgr.InsertNode(QStringLiteral("RootNode"), QStringLiteral("Fresh"), false, 1, &set);
    ASSERT_FALSE(fresh.isNull()) << mgr.lastError().toStdString();
    EXPECT_EQ(fresh.getAttribute("xsi:type"), "Layer");
    DOMNode deep = mgr.InsertNodeWithFullPath("RootNode/Inner/y:New");
    ASSERT_FALSE(deep.isNull());
    EXPECT_EQ(deep.namespaceURI(), "urn:y");
    expectFaithfulSave(d);

    for (bool all : {true, false}) {
        SCOPED_TRACE(all ? "MergeAll" : "Merge");
        DOMDocumentPtr target = parsed("<R a='0'/>");
        DOMDocumentPtr source = parsed("<R xmlns:x='urn:x' x:top='1' b='2'><x:c x:d='3'/></R>");
        ApXmlMgr m;
        m.setDOMDoc(target);
        if (all)
            m.MergeAll(source);
        else
            m.Merge(source);
        DOMNode r = target->documentElement();
        EXPECT_EQ(r.getAttribute("x:top"), "1");
        EXPECT_EQ(r.getAttribute("b"), "2");
        expectFaithfulSave(target);
    }
}
