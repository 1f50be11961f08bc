// Loading: where a document can come from, when it is validated, and how a load is
// followed. What a broken or hostile one reports is the hostile suite's.
#include "test_support.h"
#include "treelark/dom.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QDir>
#include <QUrl>
#include <QFileInfo>

using namespace treelark;
using testsupport::LoopbackHttpServer;
using testsupport::writeFile;

namespace {

struct Loaded {
    DOMDocumentPtr doc = DOMDocument::create();
    bool ok = false;
};

Loaded loadUrl(const QString& url, bool validate = false)
{
    Loaded l;
    l.doc->setAsync(false);
    l.doc->setValidateOnParse(validate);
    l.ok = l.doc->load(url);
    return l;
}

} // namespace

TEST(DomLoad, PathsAndFileUrlsOfEveryShape)
{
    QTemporaryDir dir;
    const QString sub = dir.filePath("my folder é");
    QDir().mkpath(sub);
    const QString path = writeFile(dir, "my folder é/my file ü.xml", "<r>ok</r>");
    ASSERT_FALSE(path.isEmpty());
    for (const QString& url : {path, "file:///" + path, "file://" + path, "FILE:///" + path,
                               "file://localhost" + path,
                               QString("file://") + QUrl::toPercentEncoding(path, "/")}) {
        Loaded l = loadUrl(url);
        EXPECT_TRUE(l.ok) << url.toStdString() << ": " << l.doc->parseError().reason.toStdString();
        if (l.ok) {
            EXPECT_EQ(l.doc->documentElement().text(), "ok");
        }
    }
    EXPECT_NE(loadUrl("ftp://127.0.0.1/x.xml").doc->parseError().errorCode, 0); // no other scheme
}

TEST(DomLoad, ReadyStateAndProgressAreReportedInsideLoadEvenOnFailure)
{
    QTemporaryDir dir;
    const QString good = writeFile(dir, "g.xml", "<r>" + QByteArray(3 * 1024 * 1024, 'x') + "</r>");
    DOMDocumentPtr doc = DOMDocument::create();
    QList<int> states;
    long codeAtComplete = -1;
    doc->addReadyStateListener([&] {
        states << doc->readyState();
        if (doc->readyState() == 4)
            codeAtComplete = doc->parseError().errorCode;
    });
    qint64 lastDone = 0, lastTotal = 0;
    doc->setOnProgress([&](qint64 done, qint64 total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_TRUE(doc->load(good));
    EXPECT_EQ(states, (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(codeAtComplete, 0);
    EXPECT_EQ(lastTotal, QFileInfo(good).size());
    EXPECT_EQ(lastDone, lastTotal);
    states.clear();
    lastDone = 0; // a new load counts from nothing again
    EXPECT_FALSE(doc->load(dir.filePath("missing.xml")));
    EXPECT_EQ(states.last(), 4);
    EXPECT_NE(codeAtComplete, 0);
    EXPECT_TRUE(doc->documentElement().isNull());
}

TEST(DomLoad, ValidationOnlyWhenAskedAndOnlyAgainstADtd)
{
    QTemporaryDir dir;
    EXPECT_TRUE(loadUrl(writeFile(dir, "plain.xml", "<r><a/></r>"), true).ok);
    const QString valid = writeFile(dir, "valid.xml", "<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a EMPTY>]><r><a/></r>");
    EXPECT_TRUE(loadUrl(valid, true).ok);
    const QString invalid = writeFile(dir, "invalid.xml", "<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a EMPTY>]>\n<r><b/></r>");
    Loaded bad = loadUrl(invalid, true);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.doc->parseError().line, 2);
    EXPECT_TRUE(loadUrl(invalid, false).ok);
    // a DTD file that cannot be read is named (what one may hold is the hostile suite's)
    const QString missingDtd = writeFile(dir, "d.xml", "<!DOCTYPE r SYSTEM \"missing.dtd\"><r/>");
    const QString reason = loadUrl(missingDtd, true).doc->parseError().reason;
    EXPECT_TRUE(reason.contains("could not be read") && reason.contains("missing.dtd")) << reason.toStdString();
}

TEST(DomLoad, OverHttpFromALoopbackServer)
{
    LoopbackHttpServer server;
    server.serve("/doc.xml", "<r><a>remote</a></r>");
    Loaded l = loadUrl(server.url("/doc.xml"));
    ASSERT_TRUE(l.ok) << l.doc->parseError().reason.toStdString();
    EXPECT_EQ(l.doc->documentElement().text(), "remote");
    EXPECT_TRUE(loadUrl(server.url("/missing.xml")).doc->parseError().reason.contains("404"));
    EXPECT_NE(loadUrl("http://127.0.0.1:1/x.xml").doc->parseError().errorCode, 0); // nothing listens
}
