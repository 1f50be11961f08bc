// The document's text as UTF-8 (what the message window shows) says exactly what xml()
// says, whichever way it is produced: from the file's bytes or from the edited tree.
#include "treelark/dom.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace treelark;

namespace {

struct Case {
    const char* name;
    QByteArray file;
    bool edit;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class XmlText : public ::testing::TestWithParam<Case> {};

TEST_P(XmlText, Utf8IsXmlEncoded)
{
    const Case& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("doc.xml"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.file);
    f.close();
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setAsync(false);
    ASSERT_TRUE(doc->load(path));
    if (c.edit)
        doc->documentElement().appendChild(doc->createElement(QStringLiteral("added")));
    const QByteArray bytes = doc->xmlUtf8();
    EXPECT_EQ(QString::fromUtf8(bytes), doc->xml());
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    // a node's text goes the same way
    const DOMNode root = doc->documentElement();
    EXPECT_EQ(QString::fromUtf8(root.xmlUtf8()), root.xml());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, XmlText,
    ::testing::Values(Case{"plain", "<r>\n  <a x=\"1\"/>\n</r>\n", false},
                      Case{"bom", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<r>\xC3\xA9</r>\n", false},
                      Case{"bomEdited", "\xEF\xBB\xBF<r>\xC3\xA9</r>\n", true},
                      Case{"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>\xE9</r>\n", false},
                      Case{"edited", "<r>\n  <a/>\n</r>\n", true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
