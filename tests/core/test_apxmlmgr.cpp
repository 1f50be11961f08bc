// The document manager: loading with its name rewrites and ready event, saving, counts
// and lookups; a program that installs no prompts reads why a call gave nothing in
// lastError(), which the next call that succeeds empties.
#include "test_support.h"
#include "treelark/ApXmlMgr.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QDir>

using namespace treelark;
using testsupport::LoopbackHttpServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char* kConfig = "<FrameworkConfig><ApLayers><ApLayer TagName='L1' Name='Roads'><ApFields><ApField Name='f1'/>"
                      "<ApField Name='f2'/></ApFields></ApLayer><ApLayer TagName='L2' Name='Rivers'/></ApLayers>"
                      "</FrameworkConfig>\n";

} // namespace

TEST(ApXmlMgrLoad, EveryLoadIsAnnouncedFromInsideItAndOnlyASuccessTakesTheName)
{
    QTemporaryDir dir;
    const QString first = writeFile(dir, "first.xml", kConfig);
    const QString broken = writeFile(dir, "broken.xml", "<a><b></a>");
    const QString second = writeFile(dir, "second.xml", "<x/>");
    ApXmlMgr mgr;
    QStringList namesSeen;
    QObject::connect(&mgr, &ApXmlMgr::DOMReady, [&](DOMDocumentPtr doc) {
        EXPECT_EQ(doc, mgr.DOMDoc());
        namesSeen << mgr.sXMLFileName();
    });
    QString name = first;
    EXPECT_EQ(mgr.LoadXml(name, false), 0);
    EXPECT_EQ(mgr.sXMLFileName(), first);

    // a failure replaces the document, is announced all the same and keeps the name
    const DOMDocumentPtr before = mgr.DOMDoc();
    EXPECT_EQ(mgr.LoadXml(broken, false), 0); // the load call completed
    EXPECT_NE(mgr.DOMDoc(), before);
    EXPECT_TRUE(mgr.DOMDoc()->documentElement().isNull());
    EXPECT_EQ(mgr.lastError(), mgr.DOMDoc()->parseError().reason);

    // "" loads nothing and reports the current document's code
    const DOMDocumentPtr current = mgr.DOMDoc();
    EXPECT_EQ(mgr.LoadXml(QString(""), false), current->parseError().errorCode);
    EXPECT_EQ(mgr.DOMDoc(), current);
    mgr.LoadXml(dir.filePath("missing.xml"), false);
    ASSERT_FALSE(mgr.lastError().isEmpty());
    EXPECT_EQ(mgr.LoadXml(second, true), 0);
    EXPECT_EQ(mgr.lastError(), "");
    EXPECT_EQ(namesSeen, (QStringList{"", first, first, first}));
    EXPECT_EQ(mgr.sXMLFileName(), second);
}

TEST(ApXmlMgrLoad, NameRewritesAndSchemes)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "a.xml", "<a/>");
    LoopbackHttpServer server;
    server.serve("/c.xml", kConfig);
    const QString remote = server.url("/c.xml").replace("http://", "HTTP://");
    const struct {
        QString given, keptAs;
        bool loads;
        QString remembered;
    } cases[] = {
        {"xyz:///" + path, path, true, path}, // text before "///" is dropped
        // the scheme test ignores case; the name is kept
        {"FILE:///" + path, "FILE:///" + path, true, "FILE:///" + path},
        // kept as given, loaded as file:///C:\data\a.xml, which fails: the name stays
        {"C:\\data\\a.xml", "C:\\data\\a.xml", false, "FILE:///" + path},
        {remote, remote, true, remote},
    };
    ApXmlMgr mgr;
    for (const auto& c : cases) {
        QString name = c.given;
        EXPECT_EQ(mgr.LoadXml(name, false), 0);
        EXPECT_EQ(name, c.keptAs);
        EXPECT_EQ(mgr.DOMDoc()->parseError().errorCode == 0, c.loads) << c.given.toStdString();
        EXPECT_EQ(mgr.sXMLFileName(), c.remembered);
    }
}

TEST(ApXmlMgrSave, WritesTheTargetOrTheFixedNameAndNeverRaises)
{
    QTemporaryDir dir;
    ApXmlMgr mgr;
    ASSERT_EQ(mgr.LoadXml(writeFile(dir, "in.xml", kConfig), false), 0);
    const QString out = dir.filePath("out.xml");
    mgr.Save(out);
    EXPECT_TRUE(mgr.lastError().isEmpty());
    EXPECT_EQ(readFile(out), QByteArray(kConfig));

    mgr.Save(out, testsupport::parsed("<other/>"));
    EXPECT_EQ(readFile(out), "<other/>"); // unedited: the bytes it was read from

    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    mgr.Save("");
    QDir::setCurrent(saved);
    EXPECT_EQ(readFile(dir.filePath("XMLTest.xml")), QByteArray(kConfig));

    mgr.Save(dir.filePath("missing/folder/x.xml"));
    EXPECT_FALSE(mgr.lastError().isEmpty());
}

TEST(ApXmlMgrQueries, CountsAndLookupsByNameAndAttributeValue)
{
    ApXmlMgr mgr;
    ASSERT_TRUE(mgr.DOMDoc()->loadXML(kConfig));
    EXPECT_EQ(mgr.TotalNodes(), 7);
    EXPECT_EQ(ApXmlMgr().TotalNodes(), 0);

    QString name = "ApLayer";
    EXPECT_EQ(mgr.TotalNodesByName(name), 1); // children of the first match, not matches
    EXPECT_EQ(name, "//ApLayer");
    QString none = "Nothing", bad = "a[";
    EXPECT_EQ(mgr.TotalNodesByName(bad), -1);
    EXPECT_FALSE(mgr.lastError().isEmpty());
    EXPECT_EQ(mgr.TotalNodesByName(none), -1); // finding nothing is an answer, not a failure
    EXPECT_EQ(mgr.lastError(), "");

    for (QString n : {QString("ApField"), QString("/ApField"), QString("//ApField"), QString("ApFields/ApField")}) {
        EXPECT_EQ(mgr.GetNodesByName(n).length(), 2);
        EXPECT_TRUE(n.startsWith("//") && n.endsWith("/ApField") && n.count("//") == 1) << n.toStdString();
    }
    EXPECT_TRUE(mgr.GetNodesByName(QString("a[")).isNull());
    EXPECT_FALSE(mgr.lastError().isEmpty());
    EXPECT_EQ(mgr.GetNodesByName(QString("zzz")).length(), 0);
    EXPECT_EQ(mgr.lastError(), "");

    EXPECT_EQ(mgr.GetNodeByName("ApLayer").getAttribute("Name"), "Roads");
    EXPECT_TRUE(mgr.GetNodeByName("Nope").isNull());
    EXPECT_EQ(mgr.GetNodeByName("ApLayers/ApLayer").getAttribute("TagName"), "L1");

    DOMDocumentPtr other = testsupport::parsed("<o><ApLayer Name='elsewhere'/></o>");
    EXPECT_EQ(mgr.GetNodeByName("ApLayer", other).getAttribute("Name"), "elsewhere");
    EXPECT_EQ(mgr.TotalNodes(other), 2);

    EXPECT_EQ(mgr.GetNodeByAttributeValue("ApLayer", "Name", "Rivers").getAttribute("TagName"), "L2");
    EXPECT_EQ(mgr.GetNodeByAttributeValue("//ApLayers/ApLayer", "TagName", "L1").getAttribute("Name"), "Roads");
    EXPECT_TRUE(mgr.GetNodeByAttributeValue("ApLayer", "Name", "rivers").isNull()); // exact case
    EXPECT_EQ(mgr.GetNodeByAttributeValue("", "Name", "f2").nodeName(), "ApField");
    EXPECT_TRUE(mgr.GetNodeByAttributeValue("Nothing", "Name", "x").isNull());
    EXPECT_THROW(mgr.GetNodeByAttributeValue("a[", "Name", "x"), DOMException);

    QList<DOMNode> found = mgr.GetNodesByAttributeValue("ApField", "Name", "f2");
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].getAttribute("Name"), "f2");
    EXPECT_TRUE(mgr.GetNodesByAttributeValue("ApField", "Name", "zz").isEmpty());
    // the walk ends at the first match
    EXPECT_EQ(mgr.GetNodesByAttributeValue("", "TagName", "L1").size(), 1);
}

TEST(ApXmlMgrQueries, ChildAndAttributeLookups)
{
    ApXmlMgr mgr;
    ASSERT_TRUE(mgr.DOMDoc()->loadXML("<r><x><a id='deep'/></x><a id='direct'/></r>"));
    DOMNode r = mgr.DOMDoc()->documentElement();
    // a direct child wins over a deeper node found by selection order
    EXPECT_EQ(mgr.GetChildNodeByName(r, "a").getAttribute("id"), "direct");
    EXPECT_EQ(mgr.GetChildNodeByName(r, "x/a").getAttribute("id"), "deep");
    EXPECT_TRUE(mgr.GetChildNodeByName(r, "zzz").isNull());
    EXPECT_THROW(mgr.GetChildNodeByName(DOMNode(), "a"), DOMException);
    EXPECT_EQ(mgr.GetChildNodesByName(r, "x/a").length(), 1);
    EXPECT_TRUE(mgr.GetChildNodesByName(DOMNode(), "a").isNull());
    EXPECT_FALSE(mgr.lastError().isEmpty());
    mgr.MergeAll(nullptr);
    EXPECT_FALSE(mgr.lastError().isEmpty());

    DOMNode direct = mgr.GetChildNodeByName(r, "a");
    EXPECT_EQ(mgr.GetAttributeValue(direct, "id"), "direct");
    EXPECT_EQ(mgr.GetAttributeValue(direct, "absent"), "");
    EXPECT_EQ(mgr.GetAttributeValue(direct, ""), "");
    EXPECT_EQ(mgr.GetAttributeValue(DOMNode(), "id"), "");
    EXPECT_EQ(mgr.GetAttributeValue(direct.firstChild(), "id"), "");
}

TEST(ApXmlMgrQueries, PathAndFileNameSplit)
{
    const struct {
        const char* full;
        const char* separator;
        int at;
        const char* path;
        const char* file;
    } cases[] = {
        {"RootNode/NodeA/NodeA1", "/", 15, "RootNode/NodeA/", "NodeA1"},
        {"RootNode", "/", 0, "", "RootNode"},
        // a separator of two characters: the name keeps the separator's second character
        {"a::b", "::", 2, "a:", ":b"},
    };
    ApXmlMgr mgr;
    QString path, file;
    for (const auto& c : cases) {
        EXPECT_EQ(mgr.GetPathAndFileName(c.full, path, file, c.separator), c.at) << c.full;
        EXPECT_EQ(path + "|" + file, QString(c.path) + "|" + c.file);
    }
    EXPECT_EQ(mgr.GetPathAndFileName("abc", path, file, ""), -1);
}

TEST(ApXmlMgrLifetime, ADocumentOutlivesItsManager)
{
    DOMDocumentPtr survivor = ApXmlMgr().DOMDoc();
    EXPECT_TRUE(survivor->loadXML("<still/>")); // no manager to call any more, no crash
}
