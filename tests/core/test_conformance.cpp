// The W3C XML conformance suite through the DOM layer: every not-well-formed case must
// fail to load and every valid case must load.
#include "treelark/dom.h"
#include "../shared/dom_meaning.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

using namespace treelark;

namespace {

struct Case {
    QString type;
    QString file;
    QString id;
    bool xml11 = false;
    bool externalEntities = false;
    bool outOfScope = false; // written for another edition, or for parsers without namespaces
};

// The suite's catalogue pulls in one file per test set through external entities; read
// it by following those entities ourselves.
void collect(const QString& catalogue, QList<Case>& out)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    if (!doc->load(catalogue))
        return;
    const QDir base = QFileInfo(catalogue).dir();
    DOMNodeList tests = doc->selectNodes("//TEST");
    for (qint64 i = 0; i < tests.length(); ++i) {
        DOMNode t = tests.item(i);
        Case c;
        c.type = t.getAttribute("TYPE");
        c.file = base.filePath(t.getAttribute("URI"));
        c.id = t.getAttribute("ID");
        c.xml11 = t.getAttribute("VERSION").contains("1.1") || t.getAttribute("RECOMMENDATION").startsWith("XML1.1");
        c.externalEntities = t.getAttribute("ENTITIES") != "none" && !t.getAttribute("ENTITIES").isEmpty();
        const QString edition = t.getAttribute("EDITION");
        c.outOfScope = (!edition.isEmpty() && !edition.contains("5")) || t.getAttribute("NAMESPACE") == "no";
        out.append(c);
    }
}

QList<Case> allCases()
{
    QList<Case> cases;
    const QDir root(QStringLiteral(TREELARK_XMLCONF_DIR));
    // the master catalogue names each test set's own catalogue as an external entity
    QFile master(root.filePath("xmlconf.xml"));
    if (!master.open(QIODevice::ReadOnly))
        return cases;
    const QString text = QString::fromUtf8(master.readAll());
    static const QRegularExpression entity(QStringLiteral("<!ENTITY\\s+\\S+\\s+SYSTEM\\s+\"([^\"]+)\">"));
    for (auto it = entity.globalMatch(text); it.hasNext();)
        collect(root.filePath(it.next().captured(1)), cases);
    return cases;
}

} // namespace

bool loads(const QString& file, bool validate)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(validate);
    return doc->load(file);
}

// The counts the loader takes while reading (the window's first status line) are the
// ones a walk over the tree gives.
bool countsAgree(const DOMDocumentPtr& doc)
{
    qint64 walked = 0;
    const DOMNode top = doc->asNode();
    for (DOMNode n = top.firstChild(); !n.isNull(); n = testsupport::following(n, top))
        walked += n.nodeType() != NODE_DOCUMENT_TYPE;
    return doc->selectNodes("//").length() == walked && doc->xmlLength() == doc->xml().size();
}

// Saved unchanged and read again, the document means what it did (names by namespace).
bool roundTrips(const QString& file)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    if (!doc->load(file))
        return true; // judged by the load checks
    if (!countsAgree(doc))
        return false;
    DOMDocumentPtr again = DOMDocument::create();
    again->setValidateOnParse(false);
    return again->loadXML(doc->saveToBytes())
        && testsupport::meaningOf(again->asNode()) == testsupport::meaningOf(doc->asNode());
}

// Documents whose fault (or whose needed declarations) lie in external entities are
// judged with validation on, the only time the loader reads external DTD material;
// external general entities are never read, so faults inside them cannot be seen.
TEST(Conformance, NotWellFormedFailsAndValidLoads)
{
    ASSERT_TRUE(QFileInfo::exists(QStringLiteral(TREELARK_XMLCONF_DIR "/xmlconf.xml")))
        << "the conformance suite (tests/data/xmlconf) was not unpacked into " TREELARK_XMLCONF_DIR;
    const QList<Case> cases = allCases();
    ASSERT_GT(cases.size(), 2000);
    int notWf = 0, notWfRefused = 0, notWfUnseen = 0, valid = 0, validLoaded = 0, validValidated = 0;
    int invalid = 0, invalidRefused = 0, skipped = 0;
    QStringList wrong;
    for (const Case& c : cases) {
        if (c.xml11 || c.outOfScope) {
            ++skipped;
            continue;
        }
        if (c.type == "not-wf") {
            ++notWf;
            if (!loads(c.file, false) || (c.externalEntities && !loads(c.file, true)))
                ++notWfRefused;
            else if (c.externalEntities)
                ++notWfUnseen;
            else
                wrong << "not-wf loaded: " + c.id;
        } else if (c.type == "valid") {
            ++valid;
            if (loads(c.file, false) || (c.externalEntities && loads(c.file, true)))
                ++validLoaded;
            else
                wrong << "valid refused: " + c.id;
            if (!roundTrips(c.file))
                wrong << "saved copy means something else: " + c.id;
            if (loads(c.file, true))
                ++validValidated;
        } else if (c.type == "invalid") {
            ++invalid;
            if (!loads(c.file, true))
                ++invalidRefused;
        }
    }
    std::printf("conformance: %lld cases, %d outside scope (XML 1.1, earlier editions, no namespaces)\n"
                "  not-wf: %d of %d refused, %d with the fault only inside an external entity\n"
                "  valid: %d of %d loaded, %d of them also pass validation\n"
                "  invalid: %d of %d refused when validating\n",
                static_cast<long long>(cases.size()), skipped, notWfRefused, notWf, notWfUnseen, validLoaded, valid,
                validValidated, invalidRefused, invalid);
    for (const QString& w : wrong)
        std::printf("  %s\n", qPrintable(w));
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " cases behaved wrongly";
    // Figures of this suite and this loader: any drop is a fault that slipped in.
    EXPECT_GE(notWfRefused, 954);
    EXPECT_GE(validValidated, 690);
    EXPECT_GE(invalidRefused, 74);
}
