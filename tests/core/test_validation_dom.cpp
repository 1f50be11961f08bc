// Checking documents held in the DOM, the schema that comes with the program, and stopping
// a check half way.
#include "test_support.h"
#include "validation_support.h"

#include <QDirIterator>
#include <QProcess>

using namespace treelark;
using testsupport::describe;
using testsupport::validationData;

namespace {

DOMDocumentPtr loaded(const QString& path)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->load(path)) << doc->parseError().reason.toStdString();
    return doc;
}

// What a window shows of a problem, the node aside.
std::vector<std::tuple<int, QString, qint64, qint64, QString, qint64>> shown(const ValidationResult& r)
{
    std::vector<std::tuple<int, QString, qint64, qint64, QString, qint64>> out;
    for (const auto& p : r.problems)
        out.emplace_back(int(p.severity), p.message, p.line, p.column, p.path, p.element);
    return out;
}

// A FrameworkConfig document with `layers` layers of two fields each.
QByteArray manyLayers(int containers, int layers)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<FrameworkConfig>\n";
    for (int c = 0; c < containers; ++c) {
        text += "  <ApLayers>\n";
        for (int i = 0; i < layers; ++i)
            text += "    <ApLayer Name=\"L" + QByteArray::number(i) + "\" LayerType=\"0\"><ApFields>"
                    "<ApField Name=\"a\" Type=\"1\"/><ApField Name=\"b\" Type=\"4\" FieldWidth=\"20\"/>"
                    "</ApFields></ApLayer>\n";
        text += "  </ApLayers>\n";
    }
    return text + "</FrameworkConfig>\n";
}

} // namespace

TEST(ValidationDom, DocumentIsUnchangedByTheCheck)
{
    // Defaults (DTD and schema), IDs: what libxml2's tree validators would write in.
    for (const char* name : {"dtd_internal_valid.xml", "dtd_internal_invalid.xml", "xsd_nonamespace_valid.xml",
                             "dtd_external_valid.xml"}) {
        SCOPED_TRACE(name);
        const QString path = validationData(QLatin1String(name));
        const DOMDocumentPtr doc = loaded(path);
        const QByteArray before = doc->saveToBytes();
        const QString treeBefore = doc->xml();
        const ValidationResult r = validateDocument(*doc);
        EXPECT_NE(r.outcome, ValidationOutcome::SchemaUnusable) << describe(r);
        EXPECT_EQ(doc->saveToBytes(), before);
        EXPECT_EQ(doc->saveToBytes(), testsupport::readFile(path));
        EXPECT_EQ(doc->xml(), treeBefore);
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("saved.xml"));
        doc->save(copy);
        EXPECT_EQ(testsupport::readFile(copy), testsupport::readFile(path));
    }
}

TEST(ValidationDom, ProblemsCarryTheirNodes)
{
    const DOMDocumentPtr doc = loaded(validationData(QStringLiteral("config_bad_layer.xml")));
    const ValidationResult r = validateDocument(*doc);
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    ASSERT_EQ(r.problems.size(), 2u) << describe(r);
    const ValidationProblem& layer = r.problems[0];
    EXPECT_EQ(layer.line, 6);
    EXPECT_EQ(layer.path, QStringLiteral("/FrameworkConfig/ApLayers/ApLayer[3]"));
    EXPECT_EQ(layer.element, 4);
    ASSERT_FALSE(layer.node.isNull());
    EXPECT_EQ(layer.node.getAttribute(QStringLiteral("Name")), QStringLiteral("Parcels"));
    EXPECT_EQ(layer.node, doc->selectSingleNode(QStringLiteral("//ApLayer[3]")));
    const ValidationProblem& field = r.problems[1];
    EXPECT_EQ(field.line, 8);
    EXPECT_EQ(field.path, QStringLiteral("/FrameworkConfig/ApLayers/ApLayer[3]/ApFields/ApField"));
    EXPECT_EQ(field.node.getAttribute(QStringLiteral("Name")), QStringLiteral("Owner"));
}

TEST(ValidationDom, TheDocumentIsCheckedAsItIsNowNotAsItWasRead)
{
    const DOMDocumentPtr doc = loaded(validationData(QStringLiteral("config_bad_layer.xml")));
    doc->selectSingleNode(QStringLiteral("//ApLayer[3]")).setAttribute(QStringLiteral("LayerType"), QStringLiteral("3"));
    DOMNode first = doc->selectSingleNode(QStringLiteral("//ApLayer[1]"));
    first.setAttribute(QStringLiteral("HasZ"), QStringLiteral("2"));
    const ValidationResult r = validateDocument(*doc);
    ASSERT_EQ(r.problems.size(), 2u) << describe(r);
    EXPECT_TRUE(r.problems[0].message.contains(QLatin1String("HasZ"))) << describe(r);
    EXPECT_EQ(r.problems[0].node, first);
    EXPECT_TRUE(r.problems[1].message.contains(QLatin1String("FieldWidth"))) << describe(r);
}

TEST(ValidationDom, FileAndDocumentGiveTheSameProblems)
{
    for (const char* name : {"dtd_internal_invalid.xml", "dtd_external_invalid.xml", "xsd_nonamespace_invalid.xml",
                             "xsd_namespace_invalid.xml", "config_bad_layer.xml", "plain_inventory.xml"}) {
        SCOPED_TRACE(name);
        const QString path = validationData(QLatin1String(name));
        const ValidationResult fromFile = validateFile(path);
        const ValidationResult fromDom = validateDocument(*loaded(path));
        EXPECT_EQ(fromDom.outcome, fromFile.outcome);
        EXPECT_EQ(fromDom.grammar, fromFile.grammar);
        EXPECT_EQ(shown(fromDom), shown(fromFile)) << describe(fromFile) << describe(fromDom);
        for (const auto& p : fromDom.problems)
            EXPECT_EQ(p.node.isNull(), p.element < 0) << p.message.toStdString();
    }
}

TEST(ValidationFramework, ShippedSchemaIsFound)
{
    const QString schema = shippedFrameworkSchema();
    ASSERT_FALSE(schema.isEmpty());
    const ValidationResult r = validateFile(validationData(QStringLiteral("config_bad_layer.xml")));
    EXPECT_EQ(r.grammar, ValidationGrammar::XmlSchema);
    EXPECT_EQ(r.grammarSource, schema);
    ValidationOptions off;
    off.useShippedSchema = false;
    EXPECT_EQ(validateFile(validationData(QStringLiteral("config_bad_layer.xml")), off).outcome, ValidationOutcome::Valid);
}

TEST(ValidationFramework, EveryConfigurationInTheTestDataIsValid)
{
    int checked = 0;
    QDirIterator it(QStringLiteral(TREELARK_TEST_DATA_DIR), {QStringLiteral("*.xml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QLatin1String("/validation/")) || path.contains(QLatin1String("/xmlconf")))
            continue; // documents made to fail, and the parser's conformance suite
        const ValidationResult r = validateFile(path);
        if (r.grammarSource != shippedFrameworkSchema())
            continue;
        ++checked;
        EXPECT_EQ(r.outcome, ValidationOutcome::Valid) << path.toStdString() << describe(r);
    }
    EXPECT_GT(checked, 0);
}

TEST(ValidationFramework, GeneratedBenchmarkDocumentsAreValid)
{
    QTemporaryDir dir;
    // Big enough for several layer containers of 25 layers each, both naming styles.
    const QStringList runs[] = {
        {QStringLiteral("--size-mb"), QStringLiteral("2"), QStringLiteral("--seed"), QStringLiteral("15")},
        {QStringLiteral("--size-mb"), QStringLiteral("1"), QStringLiteral("--unique-names")},
        {QStringLiteral("--wide"), QStringLiteral("500"), QStringLiteral("--seed"), QStringLiteral("2")},
    };
    for (const QStringList& args : runs) {
        const QString out = dir.filePath(QStringLiteral("generated.xml"));
        QProcess gen;
        gen.start(QStringLiteral("python3"),
                  QStringList{QStringLiteral(TREELARK_SOURCE_DIR "/bench/gen_config.py")} + args
                      + QStringList{QStringLiteral("-o"), out});
        ASSERT_TRUE(gen.waitForFinished(60000));
        ASSERT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
        const ValidationResult r = validateFile(out);
        EXPECT_EQ(r.grammar, ValidationGrammar::XmlSchema);
        EXPECT_EQ(r.outcome, ValidationOutcome::Valid) << args.join(' ').toStdString() << describe(r);
        EXPECT_GT(r.elements, 100);
    }
}

TEST(ValidationFramework, BuilderLimitsAreChecked)
{
    QTemporaryDir dir;
    EXPECT_EQ(validateFile(testsupport::writeFile(dir, QStringLiteral("25.xml"), manyLayers(2, 25))).outcome,
              ValidationOutcome::Valid);
    const ValidationResult r = validateFile(testsupport::writeFile(dir, QStringLiteral("26.xml"), manyLayers(1, 26)));
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    EXPECT_EQ(r.problems[0].path, QStringLiteral("/FrameworkConfig/ApLayers/ApLayer[26]")) << describe(r);
}

TEST(ValidationProgress, ReportsBytesAndStopsWhenTold)
{
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir, QStringLiteral("big.xml"), manyLayers(400, 25));
    const qint64 size = QFileInfo(path).size();
    std::vector<std::pair<qint64, qint64>> calls;
    ValidationOptions options;
    options.progress = [&](qint64 done, qint64 total) {
        calls.emplace_back(done, total);
        return true;
    };
    const ValidationResult whole = validateFile(path, options);
    EXPECT_EQ(whole.outcome, ValidationOutcome::Valid) << describe(whole);
    ASSERT_GT(calls.size(), 3u);
    EXPECT_EQ(calls.back(), std::make_pair(size, size));
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_LE(calls[i - 1].first, calls[i].first);

    int asked = 0;
    options.progress = [&](qint64 done, qint64) { return ++asked < 2 || done == 0; };
    const ValidationResult stopped = validateFile(path, options);
    EXPECT_EQ(stopped.outcome, ValidationOutcome::Cancelled);
    EXPECT_LT(stopped.elements, whole.elements / 2);
    EXPECT_EQ(asked, 2);

    const DOMDocumentPtr doc = loaded(path);
    options.progress = [](qint64, qint64) { return false; };
    EXPECT_EQ(validateDocument(*doc, options).outcome, ValidationOutcome::Cancelled);
}

TEST(ValidationProgress, ListedProblemsAreBoundedButAllCounted)
{
    QTemporaryDir dir;
    QByteArray text = manyLayers(1, 3);
    text.replace("LayerType=\"0\"", "LayerType=\"99\"");
    ValidationOptions options;
    options.maxListedProblems = 2;
    const ValidationResult r = validateFile(testsupport::writeFile(dir, QStringLiteral("bad.xml"), text), options);
    EXPECT_EQ(r.errors, 3);
    EXPECT_EQ(r.problems.size(), 2u);
}
