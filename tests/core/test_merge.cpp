// Merging one tree into another: attribute copying, pairing of children by name or by
// key attribute, moving unpaired children, and how each form treats failures.
#include "test_support.h"
#include "treelark/ApXmlMgr.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QFile>

using namespace treelark;

namespace {

DOMDocumentPtr golden(const char* name)
{
    QFile f(QStringLiteral(TREELARK_GOLDEN_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return testsupport::parsed(f.readAll());
}

// One line, no indentation: what a tree holds, independent of how it is written out.
QString compact(const DOMNode& n)
{
    switch (n.nodeType()) {
    case NODE_TEXT:
        return n.text();
    case NODE_COMMENT:
        return "<!--" + n.nodeValue() + "-->";
    case NODE_ELEMENT: {
        QString out = "<" + n.nodeName();
        DOMNamedNodeMap attrs = n.attributes();
        for (qint64 i = 0; i < attrs.length(); ++i)
            out += " " + attrs.item(i).nodeName() + "=\"" + attrs.item(i).value() + "\"";
        if (!n.hasChildNodes())
            return out + "/>";
        out += ">";
        for (DOMNode c = n.firstChild(); !c.isNull(); c = c.nextSibling())
            out += compact(c);
        return out + "</" + n.nodeName() + ">";
    }
    default:
        return "<?" + n.nodeName() + "?>";
    }
}

QString compact(const DOMDocumentPtr& doc) { return compact(doc->documentElement()); }
QString compact(const char* xml) { return compact(testsupport::parsed(xml)); }

// A target and a source document, merged by either form.
struct Pair {
    Pair(const char* targetXml, const char* sourceXml) : Pair(testsupport::parsed(targetXml), testsupport::parsed(sourceXml)) {}
    Pair(DOMDocumentPtr targetDoc, DOMDocumentPtr sourceDoc) : source(std::move(sourceDoc))
    {
        mgr.setDOMDoc(std::move(targetDoc));
    }
    DOMDocumentPtr target() const { return mgr.DOMDoc(); }
    DOMNode targetRoot() const { return mgr.DOMDoc()->documentElement(); }
    DOMNode sourceRoot() const { return source->documentElement(); }
    ApXmlMgr mgr;
    DOMDocumentPtr source;
};

} // namespace

// ---- whole documents ----

TEST(MergeGolden, MergeAllFoldsAConfigurationIn)
{
    ApXmlMgr mgr;
    mgr.setDOMDoc(golden("merge_target.xml"));
    DOMDocumentPtr source = golden("merge_source.xml");
    mgr.MergeAll(source);
    EXPECT_EQ(compact(mgr.DOMDoc()), compact(golden("merge_expected_mergeall.xml")));
    EXPECT_EQ(compact(source), compact(golden("merge_source_after_mergeall.xml")));
}

TEST(MergeGolden, MergePairsByKeyOnlyAtEveryLevel)
{
    ApXmlMgr mgr;
    mgr.setDOMDoc(golden("merge_target.xml"));
    DOMDocumentPtr source = golden("merge_source.xml");
    mgr.Merge(source);
    EXPECT_EQ(compact(mgr.DOMDoc()), compact(golden("merge_expected_merge.xml")));
    EXPECT_EQ(compact(source), compact("<Incoming Version='2' Build='7'><ApLayers><ApLayer TagName='Rivers' "
                                       "Visible='1'/></ApLayers><Settings><Author>GIS team</Author></Settings>"
                                       "<Printing Paper='A4'/></Incoming>"));
}

// ---- attributes, pairing and text, by both forms ----

// Merge, MergeAll, or each on its own pair (kBoth); an empty sourceAfter is not checked.
TEST(MergeTable, AttributesPairingAndText)
{
    enum Form { kMerge, kMergeAll, kBoth };
    const struct {
        const char* why;
        const char* target;
        const char* source;
        Form form;
        const char* expected;
        const char* sourceAfter = "";
    } cases[] = {
        // the roots merge whatever their names; existing attributes change in place
        {"attributes", "<T x='1' z='0'/>", "<S x='2' y='3'/>", kBoth, "<T x=\"2\" z=\"0\" y=\"3\"/>"},
        {"no attributes", "<T><k/></T>", "<S a='1' b='2'><k c='3'/></S>", kMergeAll, "<T a=\"1\" b=\"2\"><k c=\"3\"/></T>"},
        {"unique names pair by name", "<C><Layers n='1'><L/></Layers><Other/></C>",
         "<C><Layers n='2' m='x'><M/></Layers><Fields f='1'/></C>", kMergeAll,
         "<C><Layers n=\"2\" m=\"x\"><L/><M/></Layers><Other/><Fields f=\"1\"/></C>"},
        {"repeated names pair by key", "<ApLayers><ApLayer TagName='A'/><ApLayer TagName='B'/></ApLayers>",
         "<ApLayers><ApLayer TagName='B' v='1'/><ApLayer TagName='C'/></ApLayers>", kMergeAll,
         "<ApLayers><ApLayer TagName=\"A\"/><ApLayer TagName=\"B\" v=\"1\"/><ApLayer TagName=\"C\"/></ApLayers>"},
        // whatever their names, Fields pairs with Extra, the first child lacking a TagName
        {"keyless to first keyless", "<r><L TagName='A'/><Extra/><L/></r>", "<r><Fields f='1'/><L TagName='A' a='2'/></r>",
         kBoth, "<r><L TagName=\"A\" a=\"2\"/><Extra f=\"1\"/><L/></r>"},
        // #text twice makes the names repeat: x pairs by key with the first text, absorbed
        {"two texts", "<r>one<x/>two</r>", "<r><x Name='new'/></r>", kMergeAll, "<r>one<x/>two</r>", "<r><x Name=\"new\"/></r>"},
        {"one text", "<r>one<x/></r>", "<r><x Name='new'/></r>", kMergeAll, "<r>one<x Name=\"new\"/></r>"},
        {"appended pairs later", "<r><L TagName='A'/><L TagName='B'/></r>", "<r><L TagName='C' x='1'/><L TagName='C' y='2'/></r>",
         kMerge, "<r><L TagName=\"A\"/><L TagName=\"B\"/><L TagName=\"C\" x=\"1\" y=\"2\"/></r>", "<r><L TagName=\"C\" y=\"2\"/></r>"},
        {"appended pairs later", "<r><L TagName='A'/><L TagName='B'/></r>", "<r><L TagName='C' x='1'/><L TagName='C' y='2'/></r>",
         kMergeAll, "<r><L TagName=\"A\"/><L TagName=\"B\"/><L TagName=\"C\" x=\"1\" y=\"2\"/></r>"},
        {"unpaired move", "<r><keep/></r>", "<r><a/><b/><c/><keep k='1'/><d/><e/></r>", kMergeAll,
         "<r><keep k=\"1\"/><a/><b/><c/><d/><e/></r>", "<r><keep k=\"1\"/></r>"},
        {"empty target takes all", "<r/>", "<r><a/><b/><c/></r>", kMerge, "<r><a/><b/><c/></r>", "<r/>"},
        {"text carried over", "<r><a>old</a></r>", "<r><a>new</a></r>", kMergeAll, "<r><a>new</a></r>"},
        {"text kept", "<r><a>old</a></r>", "<r><a>new</a></r>", kMerge, "<r><a>old</a></r>"},
    };
    for (const auto& c : cases)
        for (const bool all : {false, true}) {
            if (c.form != kBoth && all != (c.form == kMergeAll))
                continue;
            Pair p(c.target, c.source);
            all ? p.mgr.MergeAll(p.source) : p.mgr.Merge(p.source);
            EXPECT_EQ(compact(p.target()), c.expected) << c.why << (all ? " (MergeAll)" : " (Merge)");
            if (*c.sourceAfter) {
                EXPECT_EQ(compact(p.source), c.sourceAfter) << c.why;
            }
        }
}

TEST(MergePairing, NamePairingHandsTagNameDownWhateverTheKey)
{
    // Top level names are unique, so Layers pair by name; below, the repeated L pair by
    // TagName although the merge was asked for "Id".
    Pair p("<r><Layers><L TagName='A' Id='2'/><L TagName='B' Id='1'/></Layers></r>",
           "<r><Layers><L TagName='B' Id='2' v='s'/></Layers></r>");
    p.mgr.MergeAll(p.source, nullptr, "Id");
    EXPECT_EQ(compact(p.target()), "<r><Layers><L TagName=\"A\" Id=\"2\"/><L TagName=\"B\" Id=\"2\" v=\"s\"/>"
                                   "</Layers></r>");

    // Pairing by key keeps the key it was given on the way down.
    Pair q("<r><G Id='1'><L TagName='A' Id='2'/><L TagName='B' Id='1'/></G><G Id='9'/></r>",
           "<r><G Id='1'><L TagName='B' Id='2' v='s'/></G></r>");
    q.mgr.MergeAll(q.source, nullptr, "Id");
    EXPECT_EQ(compact(q.target()), "<r><G Id=\"1\"><L TagName=\"B\" Id=\"2\" v=\"s\"/><L TagName=\"B\" Id=\"1\"/>"
                                   "</G><G Id=\"9\"/></r>");
}

TEST(MergePairing, WithinOneDocumentChildrenMove)
{
    ApXmlMgr mgr;
    mgr.setDOMDoc(testsupport::parsed("<r><t><k TagName='1'/></t><s><k TagName='2'/><k TagName='2' v='x'/></s></r>"));
    DOMNode t = mgr.DOMDoc()->documentElement().firstChild();
    mgr.UpdateNodes(t, t.nextSibling());
    EXPECT_EQ(compact(mgr.DOMDoc()),
              "<r><t><k TagName=\"1\"/><k TagName=\"2\" v=\"x\"/></t><s><k TagName=\"2\" v=\"x\"/></s></r>");
}

// ---- text and other node kinds ----

TEST(MergeText, ACommentTargetReceivesNoChildren)
{
    Pair p("<r><!--note--></r>", "<r><e><k/></e></r>");
    DOMNode comment = p.targetRoot().firstChild();
    DOMNode e = p.sourceRoot().firstChild();
    p.mgr.UpdateAllNodes(comment, e);
    EXPECT_FALSE(comment.hasChildNodes());
    EXPECT_EQ(compact(p.source), "<r><e><k/></e></r>");

    // the same when a merge pairs them by key
    Pair q("<r><!--a--><!--b--></r>", "<r><e><k/></e></r>");
    q.mgr.MergeAll(q.source);
    EXPECT_EQ(compact(q.target()), "<r><!--a--><!--b--></r>");
}

// ---- failures ----

TEST(MergeFailures, MergePassesTheFirstErrorUpdateAllNodesGoesOn)
{
    // The text child pairs by key with <a>, which has attributes the text cannot give.
    const char* target = "<r><a/><a/></r>";
    const char* source = "<r y='1'>hello<z TagName='n'/></r>";
    Pair older(target, source);
    try {
        older.mgr.Merge(older.source);
        FAIL() << "no error";
    } catch (const DOMException& e) {
        EXPECT_EQ(e.code(), DOMError::ObjectNotSet);
    }
    EXPECT_EQ(compact(older.target()), "<r y=\"1\"><a/><a/></r>"); // done before the error stays

    Pair all(target, source);
    EXPECT_NO_THROW(all.mgr.MergeAll(all.source));
    EXPECT_EQ(compact(all.target()), "<r y=\"1\"><a/><a/><z TagName=\"n\"/></r>");
}

TEST(MergeFailures, AFailedAppendIsSkippedOnlyByUpdateAllNodes)
{
    // p pairs with the text "old", which cannot take p's child q.
    const char* target = "<r>old<x/>more</r>";
    const char* source = "<r><p><q/></p><z TagName='n'/></r>";
    Pair all(target, source);
    all.mgr.MergeAll(all.source);
    EXPECT_EQ(compact(all.target()), "<r>old<x/>more<z TagName=\"n\"/></r>");
    EXPECT_EQ(compact(all.source), "<r><p><q/></p></r>");

    Pair older(target, source);
    try {
        older.mgr.Merge(older.source);
        FAIL() << "no error";
    } catch (const DOMException& e) {
        EXPECT_EQ(e.code(), DOMError::HierarchyRequest);
    }
    EXPECT_EQ(compact(older.target()), "<r>old<x/>more</r>");
}

TEST(MergeFailures, MissingDocumentsAndRoots)
{
    Pair p("<r a='1'><c/></r>", "<s b='2'/>");
    const QString before = compact(p.target());
    p.mgr.MergeAll(nullptr);
    EXPECT_EQ(compact(p.target()), before);
    p.mgr.MergeAll(DOMDocument::create()); // a source that never loaded: nothing to merge
    EXPECT_EQ(compact(p.target()), before);
    EXPECT_THROW(p.mgr.Merge(nullptr), DOMException);
    EXPECT_THROW(p.mgr.Merge(DOMDocument::create()), DOMException);
    EXPECT_EQ(compact(p.target()), before);

    // an empty target document has no root: both forms stop quietly
    ApXmlMgr blank;
    EXPECT_NO_THROW(blank.MergeAll(p.source));
    EXPECT_NO_THROW(blank.Merge(p.source));
    EXPECT_TRUE(blank.DOMDoc()->documentElement().isNull());
    EXPECT_NO_THROW(blank.UpdateNodes(DOMNode(), p.sourceRoot()));

    ApXmlMgr none;
    none.setDOMDoc(nullptr);
    EXPECT_NO_THROW(none.MergeAll(p.source));
    EXPECT_THROW(none.Merge(p.source), DOMException);

    // MergeAll works on the target it is given, not on the manager's document
    Pair q("<r/>", "<r><n/></r>");
    DOMDocumentPtr other = testsupport::parsed("<o/>");
    q.mgr.MergeAll(q.source, other);
    EXPECT_EQ(compact(other), "<o><n/></o>");
    EXPECT_EQ(compact(q.target()), "<r/>");
}

// ---- duplicate names ----

TEST(HasDuplicateNodeNames, NamesRepeatIgnoringCase)
{
    ApXmlMgr mgr;
    DOMDocumentPtr doc = testsupport::parsed("<r><u><a/><b/></u><c><a/><A/></c><t>x<i/>y</t><e/></r>");
    DOMNode r = doc->documentElement();
    EXPECT_FALSE(mgr.HasDuplicateNodeNames(r.firstChild()));
    EXPECT_TRUE(mgr.HasDuplicateNodeNames(r.firstChild().nextSibling()));
    EXPECT_TRUE(mgr.HasDuplicateNodeNames(r.lastChild().previousSibling())); // two #text
    EXPECT_FALSE(mgr.HasDuplicateNodeNames(r.lastChild()));
    EXPECT_FALSE(mgr.HasDuplicateNodeNames(r.lastChild().previousSibling().firstChild()));
    EXPECT_FALSE(mgr.HasDuplicateNodeNames(DOMNode()));
}
