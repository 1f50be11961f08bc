// Selection is XPath 1.0; "//" and getElementsByTagName walk without materialising.
#include "test_support.h"
#include "treelark/dom.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QStringList>

using namespace treelark;

namespace {

DOMDocumentPtr sample()
{
    return testsupport::parsed("<?xml version='1.0'?>\n<!--before-->\n<!DOCTYPE r [<!ELEMENT r ANY>]>"
                               "<r><a n='1'><b>x</b></a><a n='2'/><c><a n='3'/></c><!--in--></r>");
}

QStringList names(const DOMNodeList& list)
{
    QStringList out;
    for (qint64 i = 0; i < list.length(); ++i)
        out << list.item(i).nodeName();
    return out;
}

} // namespace

TEST(DomQuery, LocationPathsAsUsedByTheProgram)
{
    DOMDocumentPtr doc = sample();
    EXPECT_EQ(doc->selectNodes("//a").length(), 3);
    EXPECT_EQ(doc->selectNodes("//c/a").length(), 1);
    EXPECT_EQ(doc->selectNodes("r/a").length(), 2);
    EXPECT_EQ(doc->selectNodes("/r/a").length(), 2);
    EXPECT_EQ(doc->selectNodes("//nothing").length(), 0);
    DOMNode r = doc->documentElement();
    EXPECT_EQ(r.selectSingleNode("a").getAttribute("n"), "1");
    EXPECT_EQ(r.selectSingleNode("c/a").getAttribute("n"), "3");
    EXPECT_TRUE(r.selectSingleNode("zzz").isNull());
    EXPECT_EQ(r.selectNodes("//a[@n='2']").item(0).getAttribute("n"), "2");
}

// "//name" on the document is answered by a walk of its own; it must select exactly what
// libxml2's evaluation of the same path written another way selects.
TEST(DomQuery, NameSearchesSelectWhatTheFullEvaluationSelects)
{
    DOMDocumentPtr doc = testsupport::parsed(
        "<!DOCTYPE r [<!ENTITY e '<x n=\"ent\"/>'>]>"
        "<r xmlns:p='urn:p'><x n='1'><x n='2'/></x><p:x n='p'/><y xmlns='urn:d'><x n='d'/></y>"
        "<!--<x/>--><z>&e;<x n='3'>x</x></z><div n='op'/><and/><x n='4'/></r>");
    for (const char* name : {"x", "div", "and", "y", "nothing"}) {
        const DOMNodeList walked = doc->selectNodes(QStringLiteral("//%1").arg(QLatin1String(name)));
        const DOMNodeList evaluated = doc->selectNodes(QStringLiteral("/descendant::%1").arg(QLatin1String(name)));
        ASSERT_EQ(walked.length(), evaluated.length()) << name;
        for (qint64 i = 0; i < walked.length(); ++i)
            EXPECT_TRUE(walked.item(i) == evaluated.item(i)) << name << " at " << i;
    }
    // neither p:x nor the x in urn:d
    const QStringList ns = {doc->selectNodes("//x").item(1).getAttribute("n"), doc->selectNodes("//x").item(2).getAttribute("n")};
    EXPECT_EQ(ns, QStringList({"2", "ent"}));
}

TEST(DomQuery, RejectedSelectionsRaise)
{
    DOMDocumentPtr doc = sample();
    for (const char* bad : {"//[", "a[", "count(//a)", "///", "1 +"}) {
        try {
            doc->selectNodes(bad);
            ADD_FAILURE() << bad;
        } catch (const DOMException& e) {
            EXPECT_EQ(e.code(), DOMError::BadQuery) << bad;
        }
    }
}

TEST(DomQuery, BareDoubleSlashIsEveryNodeBelowTheDocument)
{
    DOMDocumentPtr doc = sample();
    // comment before, r, a, b, #text, a, c, a, comment inside: the DOCTYPE is not counted
    DOMNodeList all = doc->selectNodes("//");
    EXPECT_EQ(names(all), (QStringList{"#comment", "r", "a", "b", "#text", "a", "c", "a", "#comment"}));
    EXPECT_EQ(doc->documentElement().firstChild().selectNodes("//").length(), 2);
    // the walk follows edits
    doc->documentElement().appendChild(doc->createElement("d"));
    EXPECT_EQ(all.length(), 10);
}

TEST(DomQuery, ElementsByTagNameIncludingPaths)
{
    DOMDocumentPtr doc = sample();
    DOMNodeList as = doc->getElementsByTagName("a");
    EXPECT_EQ(as.length(), 3);
    EXPECT_EQ(as.item(2).getAttribute("n"), "3");
    EXPECT_EQ(as.item(1).getAttribute("n"), "2"); // stepping back works too
    EXPECT_TRUE(as.item(3).isNull());
    EXPECT_EQ(doc->getElementsByTagName("r/c/a").length(), 1);
    EXPECT_EQ(doc->getElementsByTagName("r/a").length(), 2);
    EXPECT_EQ(doc->getElementsByTagName("A").length(), 0);
    EXPECT_EQ(doc->getElementsByTagName("*").length(), 6);
}

TEST(DomQuery, LongChildListsAreWalkedInLinearTime)
{
    DOMDocumentPtr doc = DOMDocument::create();
    ASSERT_TRUE(doc->loadXML("<r>" + QByteArray("<i/>").repeated(200000) + "</r>"));
    DOMNodeList kids = doc->documentElement().childNodes();
    qint64 seen = 0;
    for (qint64 i = 0; i < kids.length(); ++i)
        seen += kids.item(i).isNull() ? 0 : 1;
    EXPECT_EQ(seen, 200000);
    EXPECT_EQ(doc->selectNodes("//").length(), 200001);
}
