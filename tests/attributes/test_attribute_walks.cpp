// The attribute walks over the DOM, without a window: which elements each one reaches,
// where a rewritten attribute ends up, and documents too wide or deep for a position
// counter or the call stack.
#include "AttributeWalks.h"

#include <QStringList>

#include <functional>

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

// Each walk from the top element: which elements it reaches, and where a rewritten
// attribute ends up (removed and set again, it goes last); other attributes stay.
TEST(Walks, ReachTheTopElementOrItsSubtree)
{
    const char* const kCase = "<r a='xY'><c a='mN'/></r>";
    const struct {
        const char* source;
        std::function<void(const DOMNode&)> walk;
        const char* values; // of "a", element by element
        const char* names;  // the attributes of each element, in order
    } cases[] = {
        {kTree, [](const DOMNode& n) { DeleteAttribute(n, "a", false); }, "- c1 g1 -", "k|a|a,k|k"},
        {kTree, [](const DOMNode& n) { DeleteAttribute(n, "a", true); }, "- - - -", "k||k|k"},
        {kCase, [](const DOMNode& n) { ChangeAttributeCase(n, "a", true, false); }, "XY mN", "a|a"},
        {"<r a='xY'><c a='mN'><d/></c></r>", [](const DOMNode& n) { ChangeAttributeCase(n, "a", false, true); },
         "xy mn -", "a|a|"},
        {kTree, [](const DOMNode& n) { ApplyToChildNodes(n, "a", "v", false); }, "r v v -", "a,k|a|k,a|k"},
        {kTree, [](const DOMNode& n) { ApplyToChildNodes(n, "a", "v", true); }, "r v v v", "a,k|a|k,a|k,a"},
    };
    for (const auto& c : cases) {
        DOMDocumentPtr doc = parse(c.source);
        c.walk(doc->documentElement());
        SCOPED_TRACE(testing::Message() << c.source << " -> " << c.values);
        EXPECT_EQ(valuesOf(doc, "a"), c.values);
        EXPECT_EQ(valuesOf(doc, "k"), valuesOf(parse(c.source), "k"));
        QStringList names;
        const DOMNodeList all = doc->selectNodes(QStringLiteral("//*"));
        for (qint64 i = 0; i < all.length(); ++i)
            names << attrNames(all.item(i));
        EXPECT_EQ(names.join('|'), c.names);
    }
    // starting below the top, on a non-element, on nothing, or with a refused name
    DOMDocumentPtr doc = parse(kTree);
    DeleteAttribute(doc->documentElement().childNodes().item(1), "a", true);
    EXPECT_EQ(valuesOf(doc, "a"), "r - - -");
    const QByteArray before = doc->saveToBytes();
    DeleteAttribute(doc->documentElement().firstChild(), "k", true); // the text "text"
    DeleteAttribute(DOMNode(), "k", true);
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

