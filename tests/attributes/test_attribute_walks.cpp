// The attribute walks over the DOM, without a window: which elements each one reaches,
// where a rewritten attribute ends up, and documents too wide or deep for a position
// counter or the call stack.
#include "AttributeWalks.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace treelark;

namespace {

DOMDocumentPtr parse(const char* xml)
{
    DOMDocumentPtr doc = DOMDocument::create();
    EXPECT_TRUE(doc->loadXML(QByteArray(xml)));
    return doc;
}

QString attrNames(const DOMNode& element)
{
    QStringList out;
    const DOMNamedNodeMap attrs = element.attributes();
    for (qint64 i = 0; i < attrs.length(); ++i)
        out << attrs.item(i).nodeName();
    return out.join(QLatin1Char(','));
}

// Values of `name` on every element in document order, "-" where it is missing.
QString valuesOf(const DOMDocumentPtr& doc, const QString& name)
{
    QStringList out;
    const DOMNodeList all = doc->selectNodes(QStringLiteral("//*"));
    for (qint64 i = 0; i < all.length(); ++i) {
        const DOMNode a = GetpAttributeByName(all.item(i), name);
        out << (a.isNull() ? QStringLiteral("-") : a.value());
    }
    return out.join(QLatin1Char(' '));
}

const char* kTree = "<r a='r' k='1'>text<c a='c1'><g a='g1' k='2'/><!--note--></c><c k='3'/>tail</r>";

} // namespace

TEST(GetpAttributeByName, MatchesTheQualifiedNameExactly)
{
    DOMDocumentPtr doc = parse("<r xmlns:p='urn:p' Name='n' p:Alias='x'/>");
    const DOMNode r = doc->documentElement();
    EXPECT_EQ(GetpAttributeByName(r, "Name").value(), "n");
    EXPECT_TRUE(GetpAttributeByName(r, "name").isNull());
    EXPECT_EQ(GetpAttributeByName(r, "p:Alias").value(), "x");
    EXPECT_TRUE(GetpAttributeByName(r, "Alias").isNull());
    EXPECT_TRUE(GetpAttributeByName(r.firstChild(), "Name").isNull()); // nothing
    EXPECT_TRUE(GetpAttributeByName(doc->createTextNode("t"), "Name").isNull());
}

TEST(DeleteAttribute, ReachesTheWholeElementSubtreeOnlyWhenRecursive)
{
    struct Case {
        bool recursive;
        const char* expected;
    } cases[] = {{false, "- c1 g1 -"}, {true, "- - - -"}};
    for (const Case& c : cases) {
        DOMDocumentPtr doc = parse(kTree);
        DeleteAttribute(doc->documentElement(), "a", c.recursive);
        EXPECT_EQ(valuesOf(doc, "a"), c.expected) << c.recursive;
        EXPECT_EQ(valuesOf(doc, "k"), "1 - 2 3"); // other attributes stay
    }
    // starting below the top or on a non-element touches nothing else
    DOMDocumentPtr doc = parse(kTree);
    const DOMNode c = doc->documentElement().childNodes().item(1);
    DeleteAttribute(c, "a", true);
    EXPECT_EQ(valuesOf(doc, "a"), "r - - -");
    DeleteAttribute(doc->documentElement().firstChild(), "k", true); // the text "text"
    DeleteAttribute(DOMNode(), "k", true);
    EXPECT_EQ(valuesOf(doc, "k"), "1 - 2 3");
}

TEST(ChangeAttributeCase, UpperOrLowerOnTheElementOrItsSubtree)
{
    struct Case {
        bool upper, recursive;
        const char* source;
        const char* expected;
    } cases[] = {
        {true, false, "<r a='xY'><c a='mN'/></r>", "XY mN"},
        {true, true, "<r a='xY'><c a='mN'/></r>", "XY MN"},
        {false, false, "<r a='xY'><c a='mN'/></r>", "xy mN"},
        {false, true, "<r a='xY'><c a='mN'><d/></c></r>", "xy mn -"},
    };
    for (const Case& c : cases) {
        DOMDocumentPtr doc = parse(c.source);
        ChangeAttributeCase(doc->documentElement(), "a", c.upper, c.recursive);
        EXPECT_EQ(valuesOf(doc, "a"), c.expected) << c.source << c.upper << c.recursive;
    }
}

TEST(ApplyToChildNodes, SetsDescendantsOnlyAndMovesRewrittenAttributesToTheEnd)
{
    struct Case {
        bool add;
        const char* values;
    } cases[] = {{false, "r v v -"}, {true, "r v v v"}};
    for (const Case& c : cases) {
        DOMDocumentPtr doc = parse(kTree);
        ApplyToChildNodes(doc->documentElement(), "a", "v", c.add);
        EXPECT_EQ(valuesOf(doc, "a"), c.values) << c.add;
        const DOMNode g = doc->selectSingleNode("//g");
        EXPECT_EQ(attrNames(g), "k,a"); // removed and set again: now last
        EXPECT_EQ(attrNames(doc->documentElement()), "a,k");
    }
    // a refused name changes nothing and does not stop the program
    DOMDocumentPtr doc = parse(kTree);
    const QByteArray before = doc->saveToBytes();
    ApplyToChildNodes(doc->documentElement(), "bad name", "v", true);
    ApplyToChildNodes(DOMNode(), "a", "v", true);
    EXPECT_EQ(doc->saveToBytes(), before);
}

TEST(Walks, HandleMoreChildrenThanA16BitCounterAndDeeperNestingThanTheStack)
{
    DOMDocumentPtr doc = parse("<r/>");
    DOMNode r = doc->documentElement();
    constexpr int kWide = 32800;
    for (int i = 0; i < kWide; ++i) {
        DOMNode c = doc->createElement("c");
        c.setAttribute("a", "x");
        r.appendChild(c);
    }
    DOMNode deep = r;
    constexpr int kDeep = 10000;
    for (int i = 0; i < kDeep; ++i) {
        DOMNode d = doc->createElement("d");
        d.setAttribute("a", "x");
        deep = deep.appendChild(d);
    }
    ApplyToChildNodes(r, "a", "y", false);
    ChangeAttributeCase(r, "a", true, true);
    EXPECT_EQ(r.childNodes().item(0).getAttribute("a"), "Y");
    EXPECT_EQ(r.childNodes().item(kWide - 1).getAttribute("a"), "Y");
    EXPECT_EQ(deep.getAttribute("a"), "Y");
    DeleteAttribute(r, "a", true);
    EXPECT_EQ(r.childNodes().item(kWide - 1).getAttribute("a"), "");
    EXPECT_TRUE(GetpAttributeByName(deep, "a").isNull());
}

TEST(CopyNameToAliases, WritesOnlyTheAliasesThatExist)
{
    struct Case {
        const char* source;
        const char* expected;
    } cases[] = {
        {"<e Name='X' TagName='t' Desc='d' Other='o'/>", "<e Name=\"X\" TagName=\"X\" Desc=\"X\" Other=\"o\"/>"},
        {"<e Alias='a' LayerAlias='l' FieldAlias='f' Name='N'/>",
         "<e Alias=\"N\" LayerAlias=\"N\" FieldAlias=\"N\" Name=\"N\"/>"},
        {"<e TagName='t' Alias='a'/>", "<e TagName=\"t\" Alias=\"a\"/>"}, // no Name: nothing
        {"<e name='x' TagName='t'/>", "<e name=\"x\" TagName=\"t\"/>"},
    };
    for (const Case& c : cases) {
        DOMDocumentPtr doc = parse(c.source);
        CopyNameToAliases(doc->documentElement());
        EXPECT_EQ(doc->documentElement().xml(), c.expected);
    }
}

TEST(ViewItemLabel, FollowsTheAttributeEditorsRule)
{
    struct Case {
        const char* source;
        const char* label;
    } cases[] = {
        {"<a TagName='T' Name='N'/>", "a (T,N)"},
        {"<a Name='N' TagName='T'/>", "a (T,N)"},
        {"<a TagName='T' Name='T'/>", "a (T)"},
        {"<a TagName='T' Name=''/>", "a (T)"},
        {"<a TagName='T'/>", "a (T)"},
        {"<a Name='N'/>", "a"}, // the tree builder would say a(N)
        {"<a tagname='T' name='N'/>", "a"},
        {"<a/>", "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ViewItemLabel(parse(c.source)->documentElement()), c.label) << c.source;
}
