// The large form's search, streamed from the file, finds what the DOM's finds in the
// same file: the same places, paths, offsets and text, at the rows of the same elements.
#include "test_support.h"
#include "treelark/FindReplace.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;
using testsupport::writeFile;

namespace {

// "place path offset subject row" per match; a DOM match's row is its element's place
// in document order, as the index numbers elements.
QStringList describe(const FindResult& r, const DOMDocumentPtr& dom = nullptr)
{
    std::vector<DOMNode> elements;
    if (dom) {
        const DOMNodeList all = dom->selectNodes("//*");
        for (qint64 i = 0; i < all.length(); ++i)
            elements.push_back(all.item(i));
    }
    QStringList out;
    for (const FindMatch& m : r.matches) {
        qint64 row = m.row;
        if (dom) {
            DOMNode owner = m.node.nodeType() == NODE_ATTRIBUTE ? m.node.ownerElement()
                            : m.node.nodeType() == NODE_ELEMENT ? m.node
                                                                : m.node.parentNode();
            const auto it = std::find(elements.begin(), elements.end(), owner);
            row = it == elements.end() ? -1 : qint64(it - elements.begin());
        }
        out << QStringLiteral("%1 %2 %3 %4 %5").arg(findPlaceName(m.place), m.path).arg(m.offset).arg(m.subject).arg(row);
    }
    return out;
}

const char* kHard =
    "<?xml version='1.0'?>\r\n<!-- top -->\r\n<?pi top?>\r\n<!DOCTYPE r [<!ENTITY e 'x &#233;'>]>\r\n"
    "<r xmlns='urn:d' xmlns:p='urn:p' a='x &amp; &#233; x &e;'>\r\n"
    "  <p:s>x <b>bold</b> <i>x</i> tail x</p:s>\r\n"
    "  <s><![CDATA[x <raw>]]>x<!--x--><?pi x?>x</s>\r\n"
    "  <s xml:space='preserve'>\r\n   <e p:x='x'/>  \r\n</s>\r\n"
    "  <t>\r\n    x\r\n  </t><t/><t>x&e;x</t>\r\n"
    "</r>\r\n<!-- x after -->\r\n";

} // namespace

TEST(FindInFile, FindsWhatTheDocumentFindsAtTheSameRows)
{
    QTemporaryDir dir;
    QStringList files{writeFile(dir, "hard.xml", kHard)};
    for (const QFileInfo& f : QDir(TREELARK_EXAMPLES_DIR).entryInfoList({"*.xml"}))
        files << f.absoluteFilePath();
    const unsigned everywhere = FindElementNames | FindAttributeNames | FindAttributeValues | FindText | FindComments;
    for (const QString& file : files) {
        DOMDocumentPtr dom = DOMDocument::create();
        dom->setValidateOnParse(false);
        ASSERT_TRUE(dom->load(file)) << file.toStdString();
        DocumentIndex index;
        ASSERT_TRUE(index.build(file)) << index.error().reason.toStdString();
        for (const char* text : {"x", "a", "Road", "\\s+", "^\\w+$", "p"})
            for (unsigned places : {everywhere, kDefaultFindPlaces}) {
                FindOptions o;
                o.findText = text;
                o.places = places;
                o.regularExpression = text[0] == '\\' || text[0] == '^';
                const FindResult fromDom = findAll(dom, o);
                const FindResult fromFile = findInFile(index, o);
                ASSERT_FALSE(fromFile.problem.isError()) << fromFile.problem.message.toStdString();
                EXPECT_EQ(describe(fromFile), describe(fromDom, dom)) << file.toStdString() << " " << text;
            }
    }
}

TEST(FindInFile, ABranchLimitsItAndAnXPathIsAProblem)
{
    QTemporaryDir dir;
    DocumentIndex index;
    ASSERT_TRUE(index.build(writeFile(dir, "b.xml", "<r><a>x<b>x</b></a><a>x</a></r>")));
    FindOptions o;
    o.findText = "x";
    o.branchRow = 1; // the first a
    EXPECT_EQ(findInFile(index, o).matches.size(), 2u);
    o.branchRow = 2; // its b
    EXPECT_EQ(describe(findInFile(index, o)), QStringList({"text /r/a[1]/b[1]/text()[1] 0 x 2"}));
    o.xpath = "//a";
    EXPECT_TRUE(findInFile(index, o).problem.isError());
}
