// Hostile documents through the document manager: validating too wherever that reads
// more (a DTD, default attributes), otherwise once. Every
// load must end in a clear error (a code and a reason) or in a document that works,
// within 200 MB (times are printed), and must never read anything but the file it was given.
#include "hostile_docs.h"
#include "test_support.h"
#include "treelark/ApXmlMgr.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

using namespace treelark;
using testsupport::LoopbackHttpServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Outcome {
    bool parsed = false;
    long code = 0;
    QString reason;
    DOMDocumentPtr doc;
    hostile::Cost cost;
};

QString label(const QString& name, bool validate)
{
    return name + (validate ? QStringLiteral(" (validating)") : QStringLiteral(""));
}

// Loads through a manager that already holds a good document, so that a refused load
// can be seen not to have touched the name it remembers.
Outcome load(const QString& path, bool validate, const QString& name)
{
    QTemporaryDir scratch;
    ApXmlMgr mgr;
    const QString good = writeFile(scratch, "good.xml", "<good/>");
    mgr.LoadXml(good, false);
    Outcome o;
    o.cost = hostile::measure(label(name, validate), [&] { mgr.LoadXml(path, validate); });
    o.doc = mgr.DOMDoc();
    o.code = o.doc->parseError().errorCode;
    o.reason = o.doc->parseError().reason;
    o.parsed = o.code == 0;
    if (!o.parsed) {
        EXPECT_EQ(mgr.sXMLFileName(), good) << name.toStdString();
    }
    return o;
}

void expectWithinBudget(const Outcome& o, const QString& name)
{
    EXPECT_LT(o.cost.peakMegabytes, hostile::kMaxMegabytes) << name.toStdString();
}

void expectRefused(const Outcome& o, const QString& name)
{
    expectWithinBudget(o, name);
    EXPECT_FALSE(o.parsed) << name.toStdString();
    EXPECT_NE(o.code, 0) << name.toStdString();
    EXPECT_FALSE(o.reason.trimmed().isEmpty()) << name.toStdString();
    EXPECT_TRUE(o.doc->documentElement().isNull()) << name.toStdString();
}

void expectLoaded(const Outcome& o, const QString& name)
{
    expectWithinBudget(o, name);
    EXPECT_TRUE(o.parsed) << name.toStdString() << ": " << o.reason.toStdString();
    EXPECT_FALSE(o.doc->documentElement().isNull()) << name.toStdString();
}

int depthOf(DOMNode node)
{
    int depth = 0;
    while (!node.isNull() && node.nodeType() == NODE_ELEMENT) {
        ++depth;
        node = node.parentNode();
    }
    return depth;
}

} // namespace

// ---- entity expansion ----

TEST(HostileEntities, BombsAreRefusedAtOnceWhereverTheyGoOff)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
    } bombs[] = {
        {"billion laughs", hostile::billionLaughs()},
        // set off by a default attribute value while the DTD is read
        {"laughs in a DTD default attribute", hostile::billionLaughs("<!ATTLIST l x CDATA '&a10;'>]><l/>")},
        {"laughs in an attribute value", hostile::billionLaughs("]><l x='&a10;'/>")},
        {"quadratic blowup", hostile::quadraticBlowup()},
    };
    for (const auto& bomb : bombs) {
        const QString path = writeFile(dir, "bomb.xml", bomb.bytes);
        for (bool validate : {false, true})
            expectRefused(load(path, validate, bomb.name), label(bomb.name, validate));
    }
}

TEST(HostileEntities, ParameterEntitiesCompoundingInALocalDtdAreRefused)
{
    QTemporaryDir dir;
    writeFile(dir, "bomb.dtd", hostile::parameterBombDtd());
    const QString path = writeFile(dir, "uses-bomb.xml", "<!DOCTYPE r SYSTEM 'bomb.dtd'><r/>");
    expectRefused(load(path, true, "parameter-entity bomb in a DTD"), "parameter-entity bomb (validating)");
}

TEST(HostileEntities, EntitiesCannotBuildATreeDeeperThanTheNestingLimit)
{
    QTemporaryDir dir;
    // thirty entities of 2,000 levels each, one inside the next: 60,000 levels
    const QString chain = writeFile(dir, "chain.xml", hostile::deepThroughEntities(30, 2000));
    // one deep entity, used once at the top and then again further down
    const QByteArray deep2000 = hostile::nested(2000);
    const QString reused = writeFile(
        dir, "reused.xml",
        "<!DOCTYPE r [<!ENTITY e '" + deep2000 + "'>]><r>&e;" + QByteArray("<b>").repeated(100) + "&e;"
            + QByteArray("</b>").repeated(100) + "</r>");
    // three entities of 1,000 levels: small enough for any expansion budget, too deep all the same
    const QString shortChain = writeFile(dir, "short-chain.xml", hostile::deepThroughEntities(3, 1000));
    expectRefused(load(chain, false, "60,000 levels through entities"), "chain");
    for (const QString& path : {shortChain, reused}) {
        const Outcome o = load(path, false, path);
        expectRefused(o, path);
        EXPECT_TRUE(o.reason.contains("nested")) << o.reason.toStdString();
    }

    // right at the limit: 2,048 levels, the last 2,046 of them from a reused entity
    const auto atDepth = [&](int entityLevels) {
        return writeFile(dir, QStringLiteral("edge%1.xml").arg(entityLevels),
                         "<!DOCTYPE r [<!ENTITY e '" + hostile::nested(entityLevels) + "'>]><r>&e;<b>&e;</b></r>");
    };
    const Outcome edge = load(atDepth(2046), false, "2,048 levels through an entity");
    expectLoaded(edge, "edge");
    if (edge.parsed) {
        DOMNodeList all = edge.doc->getElementsByTagName("a");
        int deepest = 0;
        for (qint64 i = 0; i < all.length(); ++i)
            deepest = std::max(deepest, depthOf(all.item(i)));
        EXPECT_EQ(deepest, 2048);
    }
    expectRefused(load(atDepth(2047), false, "2,049 levels through an entity"), "over the edge");
}

// ---- what a load may read ----

TEST(HostileSources, NothingBeyondTheDocumentIsEverRead)
{
    LoopbackHttpServer server;
    server.serve("/secret.txt", "NETWORK-SECRET");
    server.serve("/evil.dtd", "<!ENTITY leak 'NETWORK-SECRET'><!ELEMENT r ANY>");
    QTemporaryDir dir;
    const QByteArray httpSecret = server.url("/secret.txt").toUtf8();
    const QByteArray httpDtd = server.url("/evil.dtd").toUtf8();
    const QByteArray localSecret = QUrl::fromLocalFile(writeFile(dir, "secret.txt", "LOCAL-SECRET")).toEncoded();
    // a DTD on this machine (read when validating) that points at the network in turn
    writeFile(dir, "relay.dtd",
              "<!ELEMENT r ANY><!ENTITY % remote SYSTEM '" + httpDtd + "'> %remote;"
              "<!ENTITY fetched SYSTEM '" + httpSecret + "'>");
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"external entity, http", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + httpSecret + "'>]><r>&e;</r>"},
        {"external entity, local file", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + localSecret + "'>]><r>&e;</r>"},
        {"entity in an attribute, http", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + httpSecret + "'>]><r a='&e;'/>"},
        {"external DTD, http", "<!DOCTYPE r SYSTEM '" + httpDtd + "'><r>&leak;</r>"},
        {"parameter entity, http", "<!DOCTYPE r [<!ENTITY % p SYSTEM '" + httpDtd + "'> %p;]><r>&leak;</r>"},
        {"local DTD relaying to http", "<!DOCTYPE r SYSTEM 'relay.dtd'><r>&fetched;&leak;</r>"},
        {"xinclude", "<r xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='" + httpSecret
                         + "' parse='text'/></r>"},
    };
    for (const auto& c : cases) {
        const QString path = writeFile(dir, "hostile.xml", c.bytes);
        for (bool validate : {false, true}) {
            const Outcome o = load(path, validate, c.name);
            expectWithinBudget(o, c.name);
            if (o.parsed) {
                EXPECT_FALSE(o.doc->xml().contains("SECRET")) << c.name;
            } else {
                EXPECT_FALSE(o.reason.trimmed().isEmpty()) << c.name;
            }
        }
    }
    EXPECT_EQ(server.connections(), 0);

    // the listener does count: a document asked for by address is fetched from it
    ApXmlMgr mgr;
    server.serve("/doc.xml", "<r/>");
    mgr.LoadXml(server.url("/doc.xml"), false);
    EXPECT_EQ(mgr.DOMDoc()->parseError().errorCode, 0);
    EXPECT_EQ(server.connections(), 1);
}

TEST(HostileSources, ALocalDtdCountsOnlyWhenValidating)
{
    QTemporaryDir dir;
    writeFile(dir, "local.dtd",
              "<!ELEMENT r (#PCDATA)><!ENTITY who 'the dtd'>");
    const QString relative = writeFile(dir, "rel.xml", "<!DOCTYPE r SYSTEM 'local.dtd'><r>by &who;</r>");
    const QString absolute = writeFile(dir, "abs.xml",
                                       "<!DOCTYPE r SYSTEM '" + QUrl::fromLocalFile(dir.filePath("local.dtd")).toEncoded()
                                           + "'><r>by &who;</r>");
    for (const QString& path : {relative, absolute})
        for (bool validate : {false, true}) {
            const Outcome o = load(path, validate, "local DTD");
            expectLoaded(o, label("local DTD", validate));
            EXPECT_EQ(o.doc->documentElement().text(), validate ? "by the dtd" : "by ");
        }
}

// ---- bytes that are not what they claim ----

TEST(HostileBytes, CompressedFilesAreNeverInflated)
{
    QTemporaryDir dir;
    const QString small = writeFile(dir, "small.xml", hostile::gzip("<r>compressed</r>"));
    // 64 MB of markup in a file of about 64 KB: inflating it would show at once
    const QString bomb = writeFile(dir, "bomb.xml", hostile::gzip("<r>" + QByteArray(64 << 20, 'x') + "</r>"));
    ASSERT_LT(QFileInfo(bomb).size(), 1 << 20);
    expectRefused(load(small, false, "gzip named .xml"), "gzip");
    const Outcome o = load(bomb, false, "gzip of 64 MB named .xml");
    expectRefused(o, "gzip bomb");
    EXPECT_LT(o.cost.peakMegabytes, 32);
}

TEST(HostileBytes, BrokenFilesEndInAnErrorThatSaysWhereAndWhy)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 line = 0; // where the error is reported, when the case pins it down
    } cases[] = {
        {"two document elements", "<a/>\n<b/>", 2},
        {"invalid UTF-8", "<r>ok \xC3\x28 broken</r>", 1},
        {"invalid UTF-8 after a megabyte", "<r>" + QByteArray(1 << 20, 'a') + "\n\xFF\xFE</r>", 2},
        {"empty", "", 1},
        {"only a byte-order mark", "\xEF\xBB\xBF"},
        {"binary", hostile::binaryJunk(1 << 20)},
        {"nul bytes", QByteArray(4096, '\0')},
    };
    for (const auto& c : cases) {
        const Outcome o = load(writeFile(dir, "broken.xml", c.bytes), false, c.name);
        expectRefused(o, c.name);
        if (c.line) {
            EXPECT_EQ(o.doc->parseError().line, c.line) << c.name << " " << o.reason.toStdString();
            EXPECT_GT(o.doc->parseError().linepos, 0) << c.name;
        }
    }
    expectRefused(load(dir.path(), false, "a directory"), "directory");
    const Outcome missing = load(dir.filePath("missing.xml"), false, "a missing file");
    expectRefused(missing, "missing");
    EXPECT_TRUE(missing.reason.contains("missing.xml")) << missing.reason.toStdString();
}

TEST(HostileBytes, OtherEncodingsLoadAndSurviveASaveAndReload)
{
    QTemporaryDir dir;
    const QString text = QString::fromUtf8("grüße, 日本, ελληνικά");
    const QString doc = "<r a=\"" + text + "\">" + text + "</r>";
    const struct {
        const char* name;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"UTF-16 LE with BOM", hostile::utf16(doc), text},
        {"UTF-16 BE with BOM", hostile::utf16(doc, true), text},
        {"UTF-16 with declaration", hostile::utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + doc), text},
        {"Shift_JIS", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r a=\"\x93\xfa\x96\x7b\">\x93\xfa\x96\x7b</r>",
         QString::fromUtf8("日本")},
    };
    for (const auto& c : cases) {
        const Outcome o = load(writeFile(dir, "enc.xml", c.bytes), false, c.name);
        expectLoaded(o, c.name);
        // saved and read back, the text is the same (whatever encoding it was written in)
        ApXmlMgr mgr;
        const QString copy = dir.filePath("copy.xml");
        mgr.Save(copy, o.doc);
        ASSERT_EQ(mgr.lastError(), "") << c.name;
        mgr.LoadXml(copy, false);
        for (const DOMDocumentPtr& d : {o.doc, mgr.DOMDoc()}) {
            EXPECT_EQ(d->documentElement().text(), c.expected) << c.name;
            EXPECT_EQ(d->documentElement().getAttribute("a"), c.expected) << c.name;
        }
    }
}

// ---- shapes: depth and size ----

TEST(HostileShapes, TwoHundredFiftySixLevelsWorkForEveryOperation)
{
    QTemporaryDir dir;
    ApXmlMgr mgr;
    hostile::measure("256 levels", [&] { mgr.LoadXml(writeFile(dir, "deep256.xml", hostile::namedLevels(256)), false); });
    DOMDocumentPtr doc = mgr.DOMDoc();
    ASSERT_EQ(doc->parseError().errorCode, 0) << doc->parseError().reason.toStdString();

    // search by name anywhere and by the whole path; path insertion below the bottom
    DOMNode bottom = mgr.GetNodeByName("n255");
    ASSERT_FALSE(bottom.isNull());
    EXPECT_EQ(depthOf(bottom), 256);
    EXPECT_EQ(mgr.GetNodesByName("n254/n255").length(), 1);
    EXPECT_EQ(mgr.GetFullPath(bottom), hostile::levelPath(256));
    EXPECT_EQ(doc->selectNodes("/" + hostile::levelPath(256)).length(), 1);
    DOMNode leaf = mgr.InsertNodeWithFullPath(hostile::levelPath(256) + "/leaf");
    ASSERT_FALSE(leaf.isNull());
    EXPECT_EQ(leaf.parentNode(), bottom);

    // copy the whole 255-level branch under the new leaf (which lies inside it)
    leaf.appendChild(doc->documentElement().firstChild().cloneNode(true));
    DOMNode pastedBottom = mgr.GetNodesByName("n255").item(1);
    EXPECT_EQ(depthOf(pastedBottom), 257 + 255);
    EXPECT_EQ(mgr.GetFullPath(pastedBottom), hostile::levelPath(256) + "/leaf/" + hostile::levelPath(256).mid(3));

    // merging with a copy of itself changes nothing; saved and reloaded, 512 levels come back
    const QByteArray beforeMerge = doc->saveToBytes();
    mgr.MergeAll(testsupport::parsed(beforeMerge));
    EXPECT_EQ(doc->saveToBytes(), beforeMerge);
    const QString saved = dir.filePath("saved.xml");
    mgr.Save(saved);
    ApXmlMgr again;
    again.LoadXml(saved, false);
    ASSERT_EQ(again.DOMDoc()->parseError().errorCode, 0) << again.DOMDoc()->parseError().reason.toStdString();
    EXPECT_EQ(again.DOMDoc()->saveToBytes(), beforeMerge);
}

TEST(HostileShapes, TenThousandAndAMillionLevelsAreACleanError)
{
    QTemporaryDir dir;
    for (int depth : {2049, 10000, 1000000}) {
        const Outcome o = load(writeFile(dir, "deep.xml", hostile::nested(depth)), false, QString::number(depth));
        expectRefused(o, QStringLiteral("%1 levels").arg(depth));
        EXPECT_TRUE(o.reason.contains("nested")) << o.reason.toStdString();
    }
    expectLoaded(load(writeFile(dir, "edge.xml", hostile::nested(2048)), false, "2,048 levels"), "2,048 levels");
}

TEST(HostileShapes, HugeValuesLoadWholeAndHugeAttributeListsAreRefused)
{
    QTemporaryDir dir;
    const qsizetype textSize = 20 << 20, valueSize = 1 << 20;
    const Outcome t = load(writeFile(dir, "t.xml", "<r>" + QByteArray(textSize, 't') + "</r>"), false, "20 MB text");
    expectLoaded(t, "20 MB text");
    EXPECT_EQ(t.doc->documentElement().text().size(), textSize);
    const Outcome v = load(writeFile(dir, "v.xml", "<r a='" + QByteArray(valueSize, 'v') + "'/>"), false, "1 MB value");
    expectLoaded(v, "1 MB attribute");
    EXPECT_EQ(v.doc->documentElement().getAttribute("a").size(), valueSize);

    const auto attempt = [&](const QByteArray& text, const QString& name) {
        const Outcome o = load(writeFile(dir, "attributes.xml", text), false, name);
        expectRefused(o, name);
        EXPECT_TRUE(o.reason.contains("attributes")) << o.reason.toStdString();
    };
    attempt(hostile::manyAttributes(100000), "100,000 attributes");
    attempt(hostile::manyNamespaces(100000), "100,000 namespace declarations");
    attempt(hostile::manyAttributes(10001), "10,001 attributes");
    const Outcome ok = load(writeFile(dir, "ok.xml", hostile::manyAttributes(10000)), false, "10,000 attributes");
    expectLoaded(ok, "10,000 attributes");
    EXPECT_EQ(ok.doc->documentElement().attributes().length(), 10000);
}
