// Saving writes a document back the way its file was written.
#include "test_support.h"
#include "treelark/dom.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;
using testsupport::writeFile;

namespace {

DOMDocumentPtr loadFile(const QString& path)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->load(path)) << doc->parseError().reason.toStdString();
    return doc;
}

} // namespace

TEST(DomSave, UneditedFilesOfSeveralStylesComeBackByteIdentical)
{
    const QByteArray styles[] = {
        // two blanks, declaration with encoding
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FrameworkConfig TagName=\"FrameworkConfig\">\n"
        "  <ApLayers>\n    <ApLayer TagName=\"L1\" Name=\"Roads\"/>\n    <ApLayer TagName=\"L2\">text &amp; more</ApLayer>\n"
        "  </ApLayers>\n  <!--a comment-->\n  <Data><![CDATA[ <raw> & kept ]]></Data>\n</FrameworkConfig>\n",
        // tabs, declaration without encoding, a processing instruction before the root
        "<?xml version=\"1.0\"?>\n<?app setting=\"on\"?>\n<r>\n\t<a>\n\t\t<b>x</b>\n\t</a>\n</r>\n",
        // byte-order mark and standalone
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<r>\n  <ü>é</ü>\n</r>\n",
        // Latin-1 stays Latin-1
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>\n  <a>caf\xe9</a>\n</r>\n",
        // an internal subset
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ELEMENT r ANY>\n]>\n<r>\n  <a/>\n</r>\n",
        // a blank line after the root's start tag, blanks between inline elements, blank
        // lines around CDATA, space kept as written
        "<r>\n\n  <member><type>char</type> <name>deviceName</name></member>\n"
        "  <code>\n<![CDATA[if (a < b)]]>\n</code>\n  <pre xml:space=\"preserve\">\n   <b/>  \n</pre>\n</r>\n",
    };
    QTemporaryDir dir;
    int i = 0;
    for (const QByteArray& original : styles) {
        const QString in = writeFile(dir, QString("in%1.xml").arg(i), original);
        DOMDocumentPtr doc = loadFile(in);
        EXPECT_EQ(doc->saveToBytes(), original) << "style " << i;
        // written from the tree (not copied from the file), the bytes are the same
        doc->documentElement().setAttribute("touched", "1");
        doc->documentElement().removeAttribute("touched");
        EXPECT_EQ(doc->saveToBytes(), original) << "style " << i;
        ++i;
    }
}

// An edit changes the bytes it touches and no others.
TEST(DomSave, AnEditRewritesOnlyWhatItTouched)
{
    const QByteArray original =
        "<?xml version='1.0'?>\n<!-- made by hand -->\n\n<!DOCTYPE r [ <!ENTITY e 'x'> <!ENTITY ext SYSTEM 'ext.xml'> ]>\n"
        "<r\n   a = 'single'\n   b=\"&#x41;&lt;\">\n  <empty></empty>\n  <self   />\n  <t>&ext;</t>\n"
        "  <txt>a &#x42; &e; > c</txt>\n  <changed>&#x42;</changed>\n"
        "  <keep x='1'  y=\"2\"/>\n  <edit x='1'  y=\"2\"/>\n</r>\n<!-- after -->\n\n";
    DOMDocumentPtr doc = testsupport::parsed(original);
    DOMNode root = doc->documentElement();
    DOMNode edit = doc->selectSingleNode("/r/edit");
    edit.setAttribute("y", "3");
    edit.setAttribute("z", "new");
    root.setAttribute("c", "added");
    doc->selectSingleNode("/r/self").appendChild(doc->createElement("in"));
    doc->selectSingleNode("/r/changed").firstChild().setNodeValue("B>");
    QByteArray expected = original;
    // the reference the edit left alone stays
    expected.replace("<changed>&#x42;</changed>", "<changed>&#x42;&gt;</changed>");
    expected.replace("b=\"&#x41;&lt;\">", "b=\"&#x41;&lt;\"\n   c=\"added\">");
    expected.replace("<edit x='1'  y=\"2\"/>", "<edit x='1'  y=\"3\"  z=\"new\"/>");
    expected.replace("<self   />", "<self><in/></self>");
    EXPECT_EQ(doc->saveToBytes(), expected);
}

TEST(DomSave, EditsAreIndentedLikeTheRestOfTheFile)
{
    QTemporaryDir dir;
    DOMDocumentPtr doc = loadFile(writeFile(dir, "t.xml", "<r>\n\t<a/>\n</r>\n"));
    EXPECT_EQ(doc->indentUnit(), "\t");
    DOMNode b = doc->createElement("b");
    b.appendChild(doc->createElement("c"));
    doc->documentElement().appendChild(b);
    EXPECT_EQ(doc->saveToBytes(), "<r>\n\t<a/>\n\t<b>\n\t\t<c/>\n\t</b>\n</r>\n");
    // a removed node takes its line with it; one put back gets it again
    DOMNode a = doc->documentElement().removeChild(doc->documentElement().firstChild());
    EXPECT_EQ(doc->saveToBytes(), "<r>\n\t<b>\n\t\t<c/>\n\t</b>\n</r>\n");
    doc->documentElement().insertBefore(a, doc->documentElement().firstChild());
    EXPECT_EQ(doc->saveToBytes(), "<r>\n\t<a/>\n\t<b>\n\t\t<c/>\n\t</b>\n</r>\n");
    // layout is no part of the document: no blank text nodes, no blank text
    EXPECT_EQ(doc->documentElement().childNodes().length(), 2);
    EXPECT_EQ(doc->selectNodes("//text()").length(), 0);
    DOMDocumentPtr fresh = DOMDocument::create();
    fresh->setDocumentElement(fresh->createElement("n"));
    fresh->documentElement().appendChild(fresh->createElement("m"));
    EXPECT_EQ(fresh->saveToBytes(), "<?xml version=\"1.0\"?>\n<n>\n  <m/>\n</n>\n");
}

TEST(DomSave, XmlTextAndItsLengthAgree)
{
    DOMDocumentPtr doc = DOMDocument::create();
    ASSERT_TRUE(doc->loadXML("<r a=\"ü\">\n  <b>日本</b>\n  <c>\xF0\x9F\x98\x80</c>\n</r>"));
    const QString xml = doc->xml();
    EXPECT_EQ(doc->xmlLength(), xml.size());
    DOMNode b = doc->documentElement().firstChild();
    EXPECT_EQ(b.xml(), QString::fromUtf8("<b>日本</b>"));
    EXPECT_EQ(b.xmlLength(), b.xml().size());
    EXPECT_EQ(doc->documentElement().lastChild().xmlLength(), 9); // the emoji is two UTF-16 units
}

// In text and attribute values a character the file's encoding lacks is written as a
// reference; in a comment, an instruction or a name a reference would read back as other
// text, so the save refuses and names the character instead. Start tags the edit did not
// touch stay as the file has them in any encoding.
TEST(DomSave, CharactersTheEncodingCannotWriteReadBackTheSameOrTheSaveSaysWhy)
{
    DOMDocumentPtr doc = testsupport::parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                             "<r a=\"\xe9\"><k  x='\xe9' /><!-- c --><?pi d?>t</r>\n");
    DOMNode r = doc->documentElement();
    r.setAttribute("a", QStringLiteral("\u20AC\u00E9"));
    r.lastChild().setNodeValue(QStringLiteral("\u20AC"));
    EXPECT_TRUE(doc->saveToBytes().contains("<k  x='\xe9' />")) << doc->saveToBytes().constData();
    DOMDocumentPtr again = testsupport::parsed(doc->saveToBytes());
    EXPECT_EQ(again->documentElement().getAttribute("a"), QStringLiteral("\u20AC\u00E9"));
    EXPECT_EQ(again->documentElement().lastChild().nodeValue(), QStringLiteral("\u20AC"));
    for (int which : {1, 2}) {
        DOMNode n = r.childNodes().item(which);
        const QString was = n.nodeValue();
        n.setNodeValue(QStringLiteral("caf\u00E9 \u20AC"));
        try {
            doc->saveToBytes();
            ADD_FAILURE() << "saved a " << n.nodeName().toStdString() << " the encoding cannot write";
        } catch (const DOMException& e) {
            EXPECT_EQ(e.code(), DOMError::WriteFailed);
            EXPECT_TRUE(e.description().contains("U+20AC")) << e.description().toStdString();
        }
        n.setNodeValue(QStringLiteral("caf\u00E9"));
        EXPECT_EQ(testsupport::parsed(doc->saveToBytes())->documentElement().childNodes().item(which).nodeValue(),
                  QStringLiteral("caf\u00E9"));
        n.setNodeValue(was);
    }
}
