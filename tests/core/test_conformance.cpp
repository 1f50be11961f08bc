// The W3C XML conformance suite through the DOM layer: every not-well-formed case must
// fail to load and every valid case must load.
#include "treelark/dom.h"

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

TEST(Conformance, NotWellFormedFailsAndValidLoads)
{
    if (!QFileInfo::exists(QStringLiteral(TREELARK_XMLCONF_DIR "/xmlconf.xml")))
        GTEST_SKIP() << "conformance suite not unpacked";
    const QList<Case> cases = allCases();
    ASSERT_GT(cases.size(), 2000);
    int notWf = 0, notWfRefused = 0, valid = 0, validLoaded = 0, invalid = 0, invalidRefused = 0;
    QStringList wrong;
    for (const Case& c : cases) {
        if (c.xml11)
            continue; // XML 1.1 documents are outside what the parser implements
        DOMDocumentPtr doc = DOMDocument::create();
        if (c.type == "not-wf") {
            ++notWf;
            doc->setValidateOnParse(false);
            if (!doc->load(c.file))
                ++notWfRefused;
            else
                wrong << "not-wf loaded: " + c.id;
        } else if (c.type == "valid") {
            ++valid;
            for (bool validate : {false, true}) {
                doc->setValidateOnParse(validate);
                if (!doc->load(c.file)) {
                    wrong << QString("valid refused (validate=%1): %2 %3")
                                 .arg(validate)
                                 .arg(c.id, doc->parseError().reason);
                    break;
                }
                if (validate)
                    ++validLoaded;
            }
        } else if (c.type == "invalid") {
            ++invalid;
            doc->setValidateOnParse(true);
            if (!doc->load(c.file))
                ++invalidRefused;
        }
    }
    std::printf("conformance: not-wf %d/%d refused, valid %d/%d loaded, invalid %d/%d refused when validating\n",
                notWfRefused, notWf, validLoaded, valid, invalidRefused, invalid);
    for (const QString& w : wrong)
        std::printf("  %s\n", qPrintable(w));
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " cases behaved wrongly";
}
