// Find and replace over the DOM: what is found where, and a replacement that leaves out
// whole what the document cannot take.
#include "test_support.h"
#include "treelark/FindReplace.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;
using testsupport::parsed;

namespace {

FindOptions looking(const QString& text, unsigned places = kDefaultFindPlaces)
{
    FindOptions o;
    o.findText = text;
    o.places = places;
    return o;
}

// "place path offset" for each match, to compare in one line.
QStringList describe(const FindResult& r)
{
    QStringList out;
    for (const FindMatch& m : r.matches)
        out << QStringLiteral("%1 %2 %3").arg(findPlaceName(m.place), m.path).arg(m.offset);
    return out;
}

QByteArray replaceAll(const DOMDocumentPtr& d, const FindOptions& o, ReplacePlan* planOut = nullptr)
{
    ReplacePlan plan = planReplaceAll(d, o);
    applyReplacePlan(plan);
    if (planOut)
        *planOut = plan;
    return d->documentElement().xmlUtf8();
}

const char* kMixed = "<doc id='item'><item kind='item'>an item<!-- item note --></item>"
                     "<other><![CDATA[item <raw>]]></other></doc>";

} // namespace

TEST(FindPlaces, EachPlaceFindsOnlyItsOwnInDocumentOrder)
{
    DOMDocumentPtr d = parsed(kMixed);
    EXPECT_EQ(describe(findAll(d, looking("item", FindElementNames))), QStringList({"element name /doc/item[1] 0"}));
    EXPECT_EQ(describe(findAll(d, looking("kind", FindAttributeNames))),
              QStringList({"attribute name /doc/item[1]/@kind 0"}));
    EXPECT_EQ(describe(findAll(d, looking("item"))),
              QStringList({"attribute value /doc/@id 0", "attribute value /doc/item[1]/@kind 0",
                           "text /doc/item[1]/text()[1] 3", "text /doc/other[1]/text()[1] 0"}));
    EXPECT_EQ(describe(findAll(d, looking("item", FindComments))),
              QStringList({"comment /doc/item[1]/comment()[1] 1"}));
    const unsigned everywhere = FindElementNames | FindAttributeNames | FindAttributeValues | FindText | FindComments;
    EXPECT_EQ(findAll(d, looking("item", everywhere)).matches.size(), 6u);
}

TEST(FindPatterns, CaseWholeWordAndExpressions)
{
    DOMDocumentPtr d = parsed("<r><t>Cat cat concat cat-like .cat.</t></r>");
    FindOptions o = looking("cat");
    EXPECT_EQ(findAll(d, o).matches.size(), 5u);
    o.matchCase = true;
    EXPECT_EQ(findAll(d, o).matches.size(), 4u);
    o.wholeWord = true;
    EXPECT_EQ(findAll(d, o).matches.size(), 3u); // not inside "concat"
    // a word that starts with a non-word character still counts as whole
    FindOptions dotted = looking(".cat.");
    dotted.wholeWord = true;
    EXPECT_EQ(findAll(d, dotted).matches.size(), 1u);
    // literal text is literal
    EXPECT_TRUE(findAll(d, looking("c.t")).matches.empty());
    FindOptions re = looking("c(a)t");
    re.regularExpression = true;
    EXPECT_EQ(findAll(d, re).matches.size(), 5u);
    // nothing matched by an empty match, nothing found by empty text
    FindOptions star = looking("x*");
    star.regularExpression = true;
    EXPECT_TRUE(findAll(d, star).matches.empty());
    EXPECT_TRUE(findAll(d, looking("")).matches.empty());
}

// Literal texts are first looked for in the raw bytes; that quick test must never lose a
// match the pattern itself finds (case folding outside ASCII included), and every path
// the walk builds must lead back to its node.
TEST(FindPatterns, TheQuickByteTestLosesNothingAndEveryPathLeadsBack)
{
    DOMDocumentPtr d = parsed(
        "<!-- Skip top --><r a='Sky &amp; sea'><s>s\u017Fk \u212Aelvin sk\u00FD</s><s>x<t/>Sky<t/>sky<!--sKy--></s>"
        "<u k='SK'><![CDATA[ask SKY]]></u><s>\u00E9t\u00E9 sk</s></r>");
    const unsigned everywhere = FindElementNames | FindAttributeNames | FindAttributeValues | FindText | FindComments;
    for (const char* text : {"sk", "SKY", "s", "k", "\u00E9t\u00E9", "t", "y &", "skip"})
        for (int flags = 0; flags < 4; ++flags) {
            FindOptions literal = looking(QString::fromUtf8(text), everywhere);
            literal.matchCase = flags & 1;
            literal.wholeWord = flags & 2;
            FindOptions expression = literal;
            expression.regularExpression = true;
            expression.findText = QRegularExpression::escape(literal.findText);
            const FindResult found = findAll(d, literal);
            ASSERT_EQ(describe(found), describe(findAll(d, expression))) << text << " flags " << flags;
            for (const FindMatch& m : found.matches)
                EXPECT_EQ(d->selectSingleNode(m.path), m.node) << m.path.toStdString();
        }
    // Kelvin sign and long s fold to k and s
    FindOptions k = looking("k");
    EXPECT_EQ(findAll(d, k).matches.size(), 10u);
    // paths from a branch are the document's paths
    FindOptions branch = looking("s");
    branch.branch = d->selectSingleNode("/r/s[2]");
    for (const FindMatch& m : findAll(d, branch).matches)
        EXPECT_EQ(d->selectSingleNode(m.path), m.node) << m.path.toStdString();
    branch.branch = d->selectSingleNode("/r/s[2]/text()[2]");
    EXPECT_EQ(describe(findAll(d, branch)), QStringList({"text /r/s[2]/text()[2] 0"}));
}

TEST(FindPatterns, AFaultyExpressionOrXPathIsReportedAndChangesNothing)
{
    DOMDocumentPtr d = parsed("<r a='x'>x</r>");
    const QByteArray before = d->saveToBytes();
    FindOptions o = looking("ab(c");
    o.regularExpression = true;
    o.replaceText = "y";
    const FindProblem p = checkFindOptions(o);
    ASSERT_TRUE(p.isError());
    EXPECT_EQ(p.offset, 4);
    EXPECT_TRUE(planReplaceAll(d, o).problem.isError());
    // the same text, not as an expression, is fine
    o.regularExpression = false;
    EXPECT_FALSE(checkFindOptions(o).isError());

    FindOptions x = looking("x");
    x.replaceText = "y";
    x.xpath = "//r[";
    const ReplacePlan plan = planReplaceAll(d, x);
    EXPECT_TRUE(plan.problem.isError());
    EXPECT_TRUE(plan.changes.empty());
    EXPECT_TRUE(findAll(d, x).problem.isError());
    applyReplacePlan(plan);
    EXPECT_EQ(d->saveToBytes(), before);
}

TEST(FindScope, XPathAndBranchLimitTheSearchToTheirSubtrees)
{
    DOMDocumentPtr d = parsed("<r><a k='v'><b>v</b></a><c>v<d>v</d></c><a>v</a></r>");
    FindOptions o = looking("v");
    o.xpath = "/r/c";
    EXPECT_EQ(describe(findAll(d, o)), QStringList({"text /r/c[1]/text()[1] 0", "text /r/c[1]/d[1]/text()[1] 0"}));
    o.xpath = "//a";
    EXPECT_EQ(findAll(d, o).matches.size(), 3u);
    o.xpath = "//@k"; // an attribute alone
    EXPECT_EQ(describe(findAll(d, o)), QStringList({"attribute value /r/a[1]/@k 0"}));
    o.xpath.clear();
    o.branch = d->selectSingleNode("/r/c/d");
    EXPECT_EQ(describe(findAll(d, o)), QStringList({"text /r/c[1]/d[1]/text()[1] 0"}));
}

TEST(Replace, CapturesAndEveryPlace)
{
    DOMDocumentPtr d = parsed("<r><item_1 id_2='v_3'>w_4<!--c_5--></item_1></r>");
    FindOptions o = looking("([a-z]+)_(\\d)",
                            FindElementNames | FindAttributeNames | FindAttributeValues | FindText | FindComments);
    o.regularExpression = true;
    o.replaceText = "\\1-\\2";
    ReplacePlan plan;
    EXPECT_EQ(replaceAll(d, o, &plan), "<r><item-1 id-2=\"v-3\">w-4<!--c-5--></item-1></r>");
    EXPECT_EQ(plan.matchCount(), 5);
    EXPECT_EQ(plan.nodeCount(), 3); // the element (name and attribute), the text, the comment
    EXPECT_TRUE(plan.skipped.empty());
    EXPECT_EQ(replaceInText("ab", [] {
                  FindOptions r = looking("(a)(b)");
                  r.regularExpression = true;
                  r.replaceText = "\\2\\1\\0\\\\";
                  return r;
              }()),
              "baab\\");
}

TEST(Replace, NamesThatWouldBeInvalidAreLeftOutWithTheirReason)
{
    DOMDocumentPtr d = parsed("<r xmlns:p='urn:p'><p:a x='1'/><b/><a2/></r>");
    FindOptions o = looking("a", FindElementNames | FindAttributeNames);
    o.replaceText = "9";        // a name cannot start with a digit
    ReplacePlan plan = planReplaceAll(d, o);
    EXPECT_TRUE(plan.changes.empty());
    ASSERT_EQ(plan.skipped.size(), 2u);
    EXPECT_TRUE(plan.skipped[0].reason.contains("not a valid XML name")) << plan.skipped[0].reason.toStdString();

    FindOptions prefix = looking("p:", FindElementNames);
    prefix.replaceText = "q:"; // nothing declares q
    plan = planReplaceAll(d, prefix);
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_TRUE(plan.skipped[0].reason.contains("prefix 'q'")) << plan.skipped[0].reason.toStdString();

    // only the local part changes: the element keeps its namespace
    FindOptions local = looking("a", FindElementNames);
    local.wholeWord = true;
    local.replaceText = "z";
    applyReplacePlan(planReplaceAll(d, local));
    DOMNode renamed = d->documentElement().firstChild();
    EXPECT_EQ(renamed.nodeName(), "p:z");
    EXPECT_EQ(renamed.namespaceURI(), "urn:p");
    EXPECT_EQ(renamed.getAttribute("x"), "1");
    EXPECT_TRUE(parsed(d->saveToBytes())->selectSingleNode("/r/*[local-name()='z']"));
}

TEST(Replace, AnAttributeNeverAppearsTwice)
{
    DOMDocumentPtr d = parsed("<r><e a='1' b='2'/><f a='3'/><g a='4' b='5'/></r>");
    FindOptions o = looking("a", FindAttributeNames);
    o.replaceText = "b";
    ReplacePlan plan;
    EXPECT_EQ(replaceAll(d, o, &plan), "<r><e a=\"1\" b=\"2\"/><f b=\"3\"/><g a=\"4\" b=\"5\"/></r>");
    ASSERT_EQ(plan.skipped.size(), 2u);
    EXPECT_TRUE(plan.skipped[0].reason.contains("twice")) << plan.skipped[0].reason.toStdString();
    EXPECT_EQ(plan.skipped[0].path, "/r/e[1]/@a");

    // every attribute of an element renamed at once
    DOMDocumentPtr chain = parsed("<r><e b='2' a='1'/></r>");
    FindOptions shift = looking("^([ab])$", FindAttributeNames);
    shift.regularExpression = true;
    shift.replaceText = "\\1\\1";
    EXPECT_EQ(replaceAll(chain, shift), "<r><e bb=\"2\" aa=\"1\"/></r>");
    // two renamed to the same name: the first goes, the second is left out
    DOMDocumentPtr moving = parsed("<r><e b='2' a='1'/></r>");
    FindOptions both = looking("^(a|b)$", FindAttributeNames);
    both.regularExpression = true;
    both.replaceText = "c";
    ReplacePlan twice = planReplaceAll(moving, both);
    EXPECT_EQ(twice.changes.size(), 1u);
    EXPECT_EQ(twice.skipped.size(), 1u);
    applyReplacePlan(twice);
    EXPECT_EQ(moving->documentElement().xmlUtf8(), "<r><e c=\"2\" a=\"1\"/></r>");
}

TEST(Replace, ValuesANodeCannotHoldAreLeftOut)
{
    DOMDocumentPtr d = parsed("<r><!--a-b--><![CDATA[x]]>ok</r>");
    FindOptions comment = looking("-", FindComments);
    comment.replaceText = "--";
    EXPECT_EQ(planReplaceAll(d, comment).skipped.size(), 1u);
    FindOptions cdata = looking("x", FindText);
    cdata.replaceText = "]]>";
    EXPECT_EQ(planReplaceAll(d, cdata).skipped.size(), 1u);
    FindOptions control = looking("ok");
    control.replaceText = QString(QChar(1));
    const ReplacePlan plan = planReplaceAll(d, control);
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_TRUE(plan.skipped[0].reason.contains("U+0001"));
}

TEST(Replace, NamespaceDeclarationsAreFoundButNeverReplaced)
{
    DOMDocumentPtr d = parsed("<r xmlns='urn:old' xmlns:p='urn:old:p' a='urn:old'><p:c/></r>");
    const QByteArray before = d->saveToBytes();
    FindOptions o = looking("old", FindAttributeNames | FindAttributeValues);
    EXPECT_EQ(describe(findAll(d, o)), QStringList({"attribute value /r/@xmlns 4", "attribute value /r/@xmlns:p 4",
                                                    "attribute value /r/@a 4"}));
    FindOptions names = looking("xmlns:p", FindAttributeNames);
    const FindResult declared = findAll(d, names);
    ASSERT_EQ(declared.matches.size(), 1u);
    EXPECT_EQ(declared.matches[0].attributeName, "xmlns:p");
    EXPECT_EQ(declared.matches[0].node.nodeValue(), "urn:old:p");
    o.replaceText = "new";
    const ReplacePlan plan = planReplaceAll(d, o);
    EXPECT_EQ(plan.changes.size(), 1u);
    EXPECT_EQ(plan.skipped.size(), 2u);
    names.replaceText = "xmlns:q";
    EXPECT_EQ(planReplaceOne(declared.matches[0], names).skipped.size(), 1u);
    applyReplacePlan(plan);
    QByteArray expected = before; // the changed value keeps its quotes
    expected.replace("a='urn:old'", "a='urn:new'");
    EXPECT_EQ(d->saveToBytes(), expected);
}

TEST(Replace, ReferencesTheEditDidNotTouchStayAsTheFileHasThem)
{
    const QByteArray text = "<r>\n  <a t='x &amp; &#233;'>x &amp; y &#233; &#x41;</a>\n"
                            "  <b>&#233;t&#xE9; old &amp; &lt;old&gt;\r\n&#65;</b>\n</r>\n";
    DOMDocumentPtr d = parsed(text);
    FindOptions o = looking("old");
    o.replaceText = "n&w";
    applyReplacePlan(planReplaceAll(d, o));
    QByteArray expected = text;
    expected.replace("old &amp; &lt;old&gt;", "n&amp;w &amp; &lt;n&amp;w&gt;");
    EXPECT_EQ(d->saveToBytes(), expected);
    // a replaced reference is written anew, its neighbours as they were
    FindOptions amp = looking("&");
    amp.replaceText = "+";
    applyReplacePlan(planReplaceAll(d, amp));
    EXPECT_TRUE(d->saveToBytes().contains("<b>&#233;t&#xE9; n+w + &lt;n+w&gt;\r\n&#65;</b>")) << d->saveToBytes().constData();
}

TEST(Replace, OneMatchAloneAndAStalePlanIsRefused)
{
    DOMDocumentPtr d = parsed("<r>a a a</r>");
    FindOptions o = looking("a");
    o.replaceText = "b";
    const FindResult found = findAll(d, o);
    ASSERT_EQ(found.matches.size(), 3u);
    applyReplacePlan(planReplaceOne(found.matches[1], o));
    EXPECT_EQ(d->documentElement().text(), "a b a");
    // the second match is no longer there
    EXPECT_TRUE(planReplaceOne(found.matches[1], o).problem.isError());
    // a plan made before the document changed stops at the node that changed
    const ReplacePlan plan = planReplaceAll(d, o);
    d->documentElement().firstChild().setNodeValue("c");
    EXPECT_THROW(applyReplacePlan(plan), DOMException);
}

TEST(Rename, InPlaceKeepingTheNodeAndTakenBackByItsChangeSet)
{
    DOMDocumentPtr d = parsed("<r xmlns:p='urn:p'>\n  <p:a  x='1'   y=\"&#233;\"><b/></p:a>\n</r>\n");
    const QByteArray before = d->saveToBytes();
    DOMNode a = d->documentElement().firstChild();
    DOMNode b = a.firstChild();
    d->beginChanges();
    a.setNodeName("p:z");
    a.attributes().getNamedItem("x").setNodeName("w");
    std::unique_ptr<DOMChangeSet> set = d->endChanges();
    EXPECT_EQ(a.nodeName(), "p:z");
    EXPECT_EQ(a.firstChild(), b); // the same node, what is inside it too
    // the renamed attribute keeps its place and quotes, the untouched one stays as written
    const QByteArray saved = d->saveToBytes();
    EXPECT_TRUE(saved.contains("<p:z  w='1'   y=\"&#233;\"><b/></p:z>")) << saved.constData();
    const QByteArray after = d->saveToBytes();
    set->undo();
    EXPECT_EQ(d->saveToBytes(), before);
    set->redo();
    EXPECT_EQ(d->saveToBytes(), after);

    // the error a rename is refused with; -1 when it is not
    auto refused = [&](DOMNode n, const QString& name) -> long {
        try {
            n.setNodeName(name);
        } catch (const DOMException& e) {
            return e.number();
        }
        return -1;
    };
    EXPECT_EQ(refused(a, "1z"), long(DOMError::InvalidArgument));
    EXPECT_EQ(refused(a, "q:z"), long(DOMError::Namespace));
    EXPECT_EQ(refused(a.attributes().getNamedItem("w"), "y"), long(DOMError::Namespace));
    EXPECT_EQ(refused(a.attributes().getNamedItem("w"), "xmlns:w"), long(DOMError::Namespace));
    EXPECT_EQ(refused(b.firstChild(), "t"), long(DOMError::ObjectNotSet)); // nothing there
    EXPECT_EQ(d->saveToBytes(), after);
}
