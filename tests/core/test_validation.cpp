// Checking files against DTDs, XML Schemas and RELAX NG schemas, and refusing what cannot
// or must not be read.
#include "hostile_docs.h"
#include "test_support.h"
#include "validation_support.h"

#include <QFile>
#include <QProcess>

#include <set>

using namespace treelark;
using testsupport::anyMessageHas;
using testsupport::describe;
using testsupport::validationData;

namespace {

// Catalogs are read once per process, from here: set before any test runs.
const bool kCatalogSet = qputenv("XML_CATALOG_FILES", QFile::encodeName(validationData(QStringLiteral("catalog.xml"))));

ValidationResult check(const QString& name, const QString& schema = QString())
{
    ValidationOptions options;
    if (!schema.isEmpty())
        options.schemaPath = validationData(schema);
    return validateFile(validationData(name), options);
}

// A copy of a document or schema from the data folder naming the loopback server's port.
QString withPort(const QTemporaryDir& dir, const QString& name, int port)
{
    QByteArray text = testsupport::readFile(validationData(name));
    text.replace("PORT", QByteArray::number(port));
    return testsupport::writeFile(dir, name, text);
}

} // namespace

TEST(ValidationDtd, InternalSubsetValid)
{
    const ValidationResult r = check(QStringLiteral("dtd_internal_valid.xml"));
    EXPECT_EQ(r.outcome, ValidationOutcome::Valid) << describe(r);
    EXPECT_EQ(r.grammar, ValidationGrammar::Dtd);
    EXPECT_TRUE(r.grammarSource.isEmpty());
}

TEST(ValidationDtd, InternalSubsetInvalidListsEveryProblemWhereItIs)
{
    const ValidationResult r = check(QStringLiteral("dtd_internal_invalid.xml"));
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    ASSERT_EQ(r.errors, 3) << describe(r);
    EXPECT_TRUE(r.problems[0].message.contains(QLatin1String("key"))) << describe(r);
    EXPECT_EQ(r.problems[0].line, 9);
    EXPECT_EQ(r.problems[0].path, QStringLiteral("/config/item[2]"));
    EXPECT_EQ(r.problems[1].line, 10);
    EXPECT_EQ(r.problems[1].path, QStringLiteral("/config/other"));
    EXPECT_EQ(r.problems[1].element, 3);
    EXPECT_EQ(r.problems[2].path, QStringLiteral("/config")); // its content, judged at its end
    for (const auto& p : r.problems) {
        EXPECT_EQ(p.severity, ProblemSeverity::Error);
        EXPECT_FALSE(p.message.endsWith(QLatin1Char('\n')));
        EXPECT_EQ(p.file, validationData(QStringLiteral("dtd_internal_invalid.xml")));
    }
}

TEST(ValidationDtd, ExternalDtdNextToTheDocument)
{
    const ValidationResult valid = check(QStringLiteral("dtd_external_valid.xml"));
    EXPECT_EQ(valid.outcome, ValidationOutcome::Valid) << describe(valid);
    EXPECT_TRUE(valid.grammarSource.endsWith(QLatin1String("/layers.dtd")));

    const ValidationResult invalid = check(QStringLiteral("dtd_external_invalid.xml"));
    ASSERT_EQ(invalid.outcome, ValidationOutcome::Invalid) << describe(invalid);
    EXPECT_EQ(invalid.errors, 2) << describe(invalid);
    for (const auto& p : invalid.problems) {
        EXPECT_EQ(p.line, 5);
        EXPECT_EQ(p.path, QStringLiteral("/layers/layer[2]"));
    }
    EXPECT_TRUE(anyMessageHas(invalid, QStringLiteral("satellite")));
}

TEST(ValidationDtd, PublicIdentifierFoundThroughTheCatalog)
{
    ASSERT_TRUE(kCatalogSet);
    const ValidationResult r = check(QStringLiteral("dtd_catalog.xml"));
    EXPECT_EQ(r.outcome, ValidationOutcome::Valid) << describe(r);
    EXPECT_TRUE(r.grammarSource.endsWith(QLatin1String("/layers.dtd"))) << r.grammarSource.toStdString();
}

TEST(ValidationDtd, DtdAtAWebAddressIsRefusedWithoutConnecting)
{
    testsupport::LoopbackHttpServer server;
    server.serve("/layers.dtd", testsupport::readFile(validationData(QStringLiteral("layers.dtd"))));
    QTemporaryDir dir;
    const ValidationResult r = validateFile(withPort(dir, QStringLiteral("dtd_network.xml"), server.port()));
    EXPECT_EQ(r.outcome, ValidationOutcome::SchemaUnusable) << describe(r);
    EXPECT_TRUE(anyMessageHas(r, server.url(QStringLiteral("/layers.dtd")))) << describe(r);
    EXPECT_TRUE(anyMessageHas(r, QStringLiteral("only files on this computer"))) << describe(r);
    EXPECT_EQ(server.connections(), 0);
}

TEST(ValidationSchema, NamedWithoutNamespace)
{
    const ValidationResult valid = check(QStringLiteral("xsd_nonamespace_valid.xml"));
    EXPECT_EQ(valid.outcome, ValidationOutcome::Valid) << describe(valid);
    EXPECT_EQ(valid.grammar, ValidationGrammar::XmlSchema);

    const ValidationResult r = check(QStringLiteral("xsd_nonamespace_invalid.xml"));
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    ASSERT_EQ(r.errors, 2) << describe(r);
    EXPECT_TRUE(r.problems[0].message.contains(QLatin1String("'two'"))) << describe(r);
    EXPECT_EQ(r.problems[0].line, 4);
    EXPECT_EQ(r.problems[0].path, QStringLiteral("/inventory/part[2]"));
    EXPECT_EQ(r.problems[0].element, 2);
    EXPECT_TRUE(r.problems[1].message.contains(QLatin1String("box"))) << describe(r);
    EXPECT_EQ(r.problems[1].line, 6);
    EXPECT_EQ(r.problems[1].path, QStringLiteral("/inventory/box"));
}

TEST(ValidationSchema, LocationChosenForTheRootNamespace)
{
    // other.xsd, named first for another namespace, does not exist: only ns.xsd is read.
    const ValidationResult r = check(QStringLiteral("xsd_namespace_invalid.xml"));
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    EXPECT_TRUE(r.grammarSource.endsWith(QLatin1String("/ns.xsd")));
    ASSERT_EQ(r.errors, 1) << describe(r);
    EXPECT_EQ(r.problems[0].line, 5);
    EXPECT_EQ(r.problems[0].path, QStringLiteral("/s:stock/s:count[2]"));
}

TEST(ValidationSchema, LocationAtAWebAddressFoundThroughTheCatalog)
{
    ASSERT_TRUE(kCatalogSet);
    const ValidationResult r = check(QStringLiteral("xsd_catalog.xml"));
    EXPECT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r); // id="0" is not positive
    EXPECT_TRUE(r.grammarSource.endsWith(QLatin1String("/simple.xsd")));
}

TEST(ValidationSchema, ChosenSchemaOfEitherKind)
{
    const ValidationResult xsd = check(QStringLiteral("plain_inventory.xml"), QStringLiteral("simple.xsd"));
    EXPECT_EQ(xsd.grammar, ValidationGrammar::XmlSchema);
    ASSERT_EQ(xsd.outcome, ValidationOutcome::Invalid) << describe(xsd);
    EXPECT_EQ(xsd.problems[0].line, 4);

    const ValidationResult rng = check(QStringLiteral("plain_inventory.xml"), QStringLiteral("simple.rng"));
    EXPECT_EQ(rng.grammar, ValidationGrammar::RelaxNg);
    ASSERT_EQ(rng.outcome, ValidationOutcome::Invalid) << describe(rng);
    EXPECT_EQ(rng.problems[0].line, 4);
    EXPECT_EQ(rng.problems[0].path, QStringLiteral("/inventory/part[2]"));

    // Chosen wins over what the document names.
    const ValidationResult chosen = check(QStringLiteral("xsd_nonamespace_invalid.xml"), QStringLiteral("simple.rng"));
    EXPECT_EQ(chosen.grammar, ValidationGrammar::RelaxNg) << describe(chosen);
}

TEST(ValidationSchema, SchemaThatCannotBeUsedSaysWhichAndWhy)
{
    struct Case {
        const char* schema;
        const char* why;
    } cases[] = {
        {"no_such.xsd", "does not exist"},
        {"not_xml.xsd", "is not well-formed XML"},
        {"broken.xsd", "does not compile"},
        {"neither.xsd", "neither an XML Schema"},
        {"bomb.xsd", "is not well-formed XML"}, // the parser's entity limits stop it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.schema);
        const ValidationResult r = check(QStringLiteral("plain_inventory.xml"), QLatin1String(c.schema));
        EXPECT_EQ(r.outcome, ValidationOutcome::SchemaUnusable) << describe(r);
        ASSERT_FALSE(r.problems.empty());
        EXPECT_TRUE(r.problems[0].message.contains(validationData(QLatin1String(c.schema)))) << describe(r);
        EXPECT_TRUE(r.problems[0].message.contains(QLatin1String(c.why))) << describe(r);
        EXPECT_GT(r.errors, 0);
    }
    const ValidationResult broken = check(QStringLiteral("plain_inventory.xml"), QStringLiteral("broken.xsd"));
    EXPECT_TRUE(anyMessageHas(broken, QStringLiteral("NoSuchType"))) << describe(broken);
}

TEST(ValidationSchema, NothingIsFetchedOverTheNetwork)
{
    testsupport::LoopbackHttpServer server;
    const QByteArray schema = testsupport::readFile(validationData(QStringLiteral("simple.xsd")));
    server.serve("/simple.xsd", schema);
    server.serve("/more.xsd", schema);
    QTemporaryDir dir;

    const ValidationResult located = validateFile(withPort(dir, QStringLiteral("xsd_network_location.xml"), server.port()));
    EXPECT_EQ(located.outcome, ValidationOutcome::SchemaUnusable) << describe(located);
    EXPECT_TRUE(anyMessageHas(located, server.url(QStringLiteral("/simple.xsd")))) << describe(located);

    ValidationOptions options;
    options.schemaPath = withPort(dir, QStringLiteral("network_include.xsd"), server.port());
    const ValidationResult included = validateFile(validationData(QStringLiteral("plain_inventory.xml")), options);
    EXPECT_EQ(included.outcome, ValidationOutcome::SchemaUnusable) << describe(included);
    EXPECT_TRUE(anyMessageHas(included, server.url(QStringLiteral("/more.xsd")) + QStringLiteral(" is not read")))
        << describe(included);
    EXPECT_EQ(server.connections(), 0);
}

TEST(ValidationWellFormedness, ParseErrorComesFirst)
{
    // The schema finds id="x" wrong before the parser reaches the broken end.
    const ValidationResult r = check(QStringLiteral("not_well_formed.xml"));
    ASSERT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
    ASSERT_GE(r.problems.size(), 2u) << describe(r);
    EXPECT_EQ(r.problems[0].line, 5) << describe(r);
    EXPECT_GT(r.problems[0].column, 0);
    EXPECT_TRUE(r.problems[0].message.contains(QLatin1String("mismatch"))) << describe(r);
    EXPECT_TRUE(anyMessageHas(r, QStringLiteral("'x'"))) << describe(r);
}

TEST(ValidationWellFormedness, DocumentNamingNothingIsOnlyParsed)
{
    const ValidationResult r = check(QStringLiteral("plain_inventory.xml"));
    EXPECT_EQ(r.outcome, ValidationOutcome::Valid) << describe(r);
    EXPECT_EQ(r.grammar, ValidationGrammar::WellFormedness);
    EXPECT_EQ(r.elements, 3);
}

TEST(ValidationWellFormedness, DocumentThatCannotBeRead)
{
    for (const QString& path : {validationData(QStringLiteral("missing.xml")), validationData(QString())}) {
        const ValidationResult r = validateFile(path);
        EXPECT_EQ(r.outcome, ValidationOutcome::DocumentUnreadable) << describe(r);
        ASSERT_EQ(r.problems.size(), 1u);
        EXPECT_TRUE(r.problems[0].message.contains(path));
    }
}

TEST(ValidationHostile, SchemaIncludeChainStops)
{
    QTemporaryDir dir;
    constexpr int kLength = 300;
    for (int i = 0; i < kLength; ++i) {
        const QByteArray next = i + 1 < kLength
            ? "<xs:include schemaLocation=\"s" + QByteArray::number(i + 1) + ".xsd\"/>"
            : "<xs:element name=\"inventory\"/>";
        testsupport::writeFile(dir, QStringLiteral("s%1.xsd").arg(i),
                               "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">" + next + "</xs:schema>");
    }
    ValidationOptions options;
    options.schemaPath = dir.filePath(QStringLiteral("s0.xsd"));
    const ValidationResult r = validateFile(validationData(QStringLiteral("plain_inventory.xml")), options);
    EXPECT_EQ(r.outcome, ValidationOutcome::SchemaUnusable) << describe(r);
    EXPECT_TRUE(anyMessageHas(r, QStringLiteral("more than 256 documents"))) << describe(r);
}

TEST(ValidationHostile, HostileDocumentsEndInAProblem)
{
    QTemporaryDir dir;
    const QString dtd = testsupport::writeFile(dir, QStringLiteral("bomb.dtd"), hostile::parameterBombDtd());
    const QByteArray documents[] = {
        hostile::billionLaughs(),
        hostile::quadraticBlowup(),
        "<!DOCTYPE r SYSTEM \"" + QFile::encodeName(dtd) + "\"><r>&big;</r>",
        hostile::nested(100000),
        hostile::binaryJunk(4096),
    };
    int n = 0;
    for (const QByteArray& text : documents) {
        SCOPED_TRACE(n);
        const QString path = testsupport::writeFile(dir, QStringLiteral("d%1.xml").arg(n++), text);
        const ValidationResult r = validateFile(path);
        EXPECT_EQ(r.outcome, ValidationOutcome::Invalid) << describe(r);
        ASSERT_FALSE(r.problems.empty());
        EXPECT_EQ(r.problems[0].severity, ProblemSeverity::Error);
    }
}

// The lines we give each error are the lines xmllint gives for the same files and the
// same grammar, so a user comparing the two sees the same places (one exception below).
TEST(ValidationAgainstXmllint, ErrorLinesAgree)
{
    struct Case {
        const char* document;
        QStringList xmllintArgs; // how xmllint is told the grammar
        const char* schema;      // chosen here; empty: what the document names
    };
    const Case cases[] = {
        {"dtd_internal_invalid.xml", {QStringLiteral("--valid")}, ""},
        {"dtd_external_invalid.xml", {QStringLiteral("--valid")}, ""},
        {"xsd_nonamespace_invalid.xml", {QStringLiteral("--schema"), validationData(QStringLiteral("simple.xsd"))}, ""},
        {"plain_inventory.xml", {QStringLiteral("--schema"), validationData(QStringLiteral("simple.xsd"))}, "simple.xsd"},
        {"plain_inventory.xml", {QStringLiteral("--relaxng"), validationData(QStringLiteral("simple.rng"))}, "simple.rng"},
    };
    for (const Case& c : cases) {
        const QString doc = validationData(QLatin1String(c.document));
        QProcess xmllint;
        xmllint.start(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout"), QStringLiteral("--nonet")}
                                                     + c.xmllintArgs + QStringList{doc});
        ASSERT_TRUE(xmllint.waitForFinished(30000)) << "xmllint is missing (libxml2-utils)";
        std::set<qint64> theirs;
        const QString prefix = doc + QLatin1Char(':');
        for (const QString& line : QString::fromUtf8(xmllint.readAllStandardError()).split(QLatin1Char('\n')))
            if (line.startsWith(prefix) && line.contains(QLatin1String("error")))
                theirs.insert(line.mid(prefix.size()).section(QLatin1Char(':'), 0, 0).toLongLong());
        const ValidationResult r = check(QLatin1String(c.document), QLatin1String(c.schema));
        // One difference on purpose: an element whose content breaks the DTD is placed at
        // its start tag, where its node begins, not at its end tag as xmllint places it.
        std::set<qint64> ours;
        int contentErrors = 0;
        for (const ValidationProblem& p : r.problems) {
            if (p.severity != ProblemSeverity::Error || p.file != doc)
                continue;
            if (p.message.contains(QLatin1String("content does not follow")))
                ++contentErrors;
            else
                ours.insert(p.line);
        }
        const std::string what = std::string(c.document) + " " + xmllint.arguments().join(' ').toStdString() + describe(r);
        EXPECT_FALSE(ours.empty()) << what;
        EXPECT_EQ(ours.size() + size_t(contentErrors), theirs.size()) << what;
        for (qint64 line : ours)
            EXPECT_TRUE(theirs.count(line)) << line << " " << what;
    }
}
