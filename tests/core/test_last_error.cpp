// A program that installs no prompts still learns why the manager failed: loads, saves,
// insertions, node creation, queries and merges all leave their reason in lastError(),
// and the next call that succeeds leaves it empty.
#include "treelark/ApXmlMgr.h"
#include "ScriptedPrompts.h"
#include "treelark/dCollection.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include "qt_printers.h"

using namespace treelark;

namespace {

QString write(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
}

struct Silent : ::testing::Test {
    void SetUp() override { setPrompts(nullptr); }
};

} // namespace

TEST_F(Silent, LoadAndSaveFailuresAreReadable)
{
    QTemporaryDir dir;
    ApXmlMgr mgr;
    EXPECT_EQ(mgr.LoadXml(dir.filePath("missing.xml"), false), 0);
    EXPECT_FALSE(mgr.lastError().isEmpty());

    const QString broken = write(dir, "broken.xml", "<Root><a></Root>");
    mgr.LoadXml(broken, false);
    EXPECT_NE(mgr.DOMDoc()->parseError().errorCode, 0);
    EXPECT_EQ(mgr.lastError(), mgr.DOMDoc()->parseError().reason);
    EXPECT_FALSE(mgr.lastError().isEmpty());

    mgr.LoadXml(write(dir, "good.xml", "<Root/>"), false);
    EXPECT_EQ(mgr.lastError(), "");

    mgr.Save(dir.filePath("no/such/folder/out.xml"));
    EXPECT_FALSE(mgr.lastError().isEmpty());
    mgr.Save(dir.filePath("out.xml"));
    EXPECT_EQ(mgr.lastError(), "");
}

TEST_F(Silent, InsertNodeGivesNothingAndTheReason)
{
    ApXmlMgr mgr;
    mgr.DOMDoc()->loadXML("<Root/>");
    EXPECT_TRUE(mgr.InsertNode(QString("Root["), "x", false).isNull());
    EXPECT_EQ(mgr.lastError(), "'Root[' is not a valid selection: the fault is at character 6.");
    EXPECT_TRUE(mgr.InsertNode(QString("Root"), "bad name", false).isNull());
    EXPECT_TRUE(mgr.lastError().contains("bad name")) << mgr.lastError().toStdString();
    EXPECT_FALSE(mgr.InsertNode(QString("Root"), "good", false).isNull());
    EXPECT_EQ(mgr.lastError(), "");
}

TEST_F(Silent, InsertNodeWithFullPathKeepsTheRefusalThatCausedTheFailure)
{
    ApXmlMgr mgr;
    mgr.DOMDoc()->loadXML("<Root/>");
    // The refused name is the cause; the empty node it leaves behind fails only after it.
    EXPECT_THROW(mgr.InsertNodeWithFullPath("Root/Mid/bad name"), DOMException);
    EXPECT_TRUE(mgr.lastError().contains("'bad name'")) << mgr.lastError().toStdString();

    EXPECT_FALSE(mgr.InsertNodeWithFullPath("Root/Mid/Leaf").isNull());
    EXPECT_EQ(mgr.lastError(), "");

    ApXmlMgr blank; // nothing to hang the element under: no exception, but a reason
    EXPECT_TRUE(blank.InsertNodeWithFullPath("A").isNull());
    EXPECT_TRUE(blank.lastError().contains("\"A\"")) << blank.lastError().toStdString();
}

TEST_F(Silent, CreateNodeQueriesAndMergeSayWhyTheyGaveNothing)
{
    ApXmlMgr mgr;
    mgr.DOMDoc()->loadXML("<Root><a/></Root>");
    EXPECT_TRUE(mgr.CreateNode("c", nullptr, NODE_COMMENT).isNull());
    EXPECT_TRUE(mgr.lastError().contains("type 8")) << mgr.lastError().toStdString();
    EXPECT_TRUE(mgr.CreateNode("bad name").isNull());
    EXPECT_TRUE(mgr.lastError().contains("'bad name'"));
    EXPECT_FALSE(mgr.CreateNode("fine").isNull());
    EXPECT_EQ(mgr.lastError(), "");

    EXPECT_TRUE(mgr.GetNodesByName(QString("a[")).isNull());
    EXPECT_FALSE(mgr.lastError().isEmpty());
    // finding nothing is an answer, not a failure
    EXPECT_EQ(mgr.GetNodesByName(QString("zzz")).length(), 0);
    EXPECT_EQ(mgr.lastError(), "");
    EXPECT_EQ(mgr.TotalNodesByName(QString("a[")), -1);
    EXPECT_FALSE(mgr.lastError().isEmpty());
    EXPECT_EQ(mgr.TotalNodesByName(QString("zzz")), -1);
    EXPECT_EQ(mgr.lastError(), "");
    EXPECT_TRUE(mgr.GetChildNodesByName(DOMNode(), "a").isNull());
    EXPECT_FALSE(mgr.lastError().isEmpty());

    mgr.MergeAll(nullptr);
    EXPECT_FALSE(mgr.lastError().isEmpty());
}

// The window keeps its message box; what it shows is the reason a program reads.
TEST(LastError, TheInsertNodeBoxShowsTheSameReason)
{
    auto scripted = std::make_shared<ScriptedPrompts>();
    setPrompts(scripted);
    ApXmlMgr mgr;
    mgr.DOMDoc()->loadXML("<Root/>");
    mgr.InsertNode(QString("Root["), "x", false);
    setPrompts(nullptr);
    EXPECT_EQ(scripted->messagesShown(), QStringList{"From InsertNode:1000, " + mgr.lastError()});
}
