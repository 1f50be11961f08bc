// Making a schema ready to check against. The schema document is read here rather than
// by libxml2's schema parsers, so that a file that is missing, not XML or neither kind of
// schema is told apart from one that does not compile, and so that it is read under the
// same rules as everything else: no network, libxml2's own limits on entities and sizes
// (never its large-document option), and a bounded number of included documents.
#include "validate_internal.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace treelark {

namespace detail {

namespace {

constexpr qint64 kMaxSchemaBytes = qint64(64) << 20;
const char* const kXsdNamespace = "http://www.w3.org/2001/XMLSchema";
const char* const kRngNamespace = "http://relaxng.org/ns/structure/1.0";

QString fromXml(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }

struct Collected {
    std::vector<ValidationProblem> problems;
    QString file; // the file an error with no file of its own is in
};

void collect(void* user, xmlErrorPtr e)
{
    auto* c = static_cast<Collected*>(user);
    if (!c)
        return;
    if (!e || c->problems.size() >= 200)
        return;
    ValidationProblem p = problemFrom(e);
    if (p.file.isEmpty())
        p.file = c->file;
    c->problems.push_back(std::move(p));
}

// The parser hands its own context to the sink; the collection hangs off it.
void collectParsed(void* user, xmlErrorPtr e)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(user);
    collect(ctxt ? ctxt->_private : nullptr, e);
}

ValidationProblem schemaProblem(const QString& path, const QString& message)
{
    ValidationProblem p;
    p.file = path;
    p.message = message;
    return p;
}

void addFailure(std::vector<ValidationProblem>& problems, const QString& path, const QString& why,
                const Collected& collected, const ReadScope& reads)
{
    problems.push_back(schemaProblem(path, QStringLiteral("The schema %1 %2.").arg(path, why)));
    for (const QString& refusal : reads.refused)
        problems.push_back(schemaProblem(path, refusal));
    problems.insert(problems.end(), collected.problems.begin(), collected.problems.end());
}

} // namespace

ValidationProblem problemFrom(const xmlError* e)
{
    ValidationProblem p;
    p.severity = e->level == XML_ERR_WARNING ? ProblemSeverity::Warning : ProblemSeverity::Error;
    p.message = QString::fromUtf8(e->message ? e->message : "").trimmed();
    if (p.message.isEmpty())
        p.message = QStringLiteral("Unknown problem (libxml2 code %1)").arg(e->code);
    p.line = qMax(0, e->line);
    p.column = qMax(0, e->int2);
    p.file = QString::fromUtf8(e->file ? e->file : "");
    return p;
}

Grammar::~Grammar()
{
    if (xsd)
        xmlSchemaFree(xsd);
    if (rng)
        xmlRelaxNGFree(rng);
    if (doc)
        xmlFreeDoc(doc);
}

bool compileSchema(const QString& path, Grammar& out, std::vector<ValidationProblem>& problems)
{
    const QFileInfo info(path);
    QFile probe(path);
    if (!info.exists() || !info.isFile() || !probe.open(QIODevice::ReadOnly)) {
        const QString why = !info.exists() ? QStringLiteral("does not exist")
            : !info.isFile()               ? QStringLiteral("is not a file")
                                           : probe.errorString();
        problems.push_back(schemaProblem(path, QStringLiteral("The schema %1 cannot be read: %2.").arg(path, why)));
        return false;
    }
    probe.close();
    if (info.size() > kMaxSchemaBytes) {
        problems.push_back(schemaProblem(
            path, QStringLiteral("The schema %1 cannot be read: it is larger than %2 MB.").arg(path).arg(kMaxSchemaBytes >> 20)));
        return false;
    }

    ReadScope reads;
    Collected collected;
    collected.file = path;
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        problems.push_back(schemaProblem(path, QStringLiteral("The schema %1 cannot be read: out of memory.").arg(path)));
        return false;
    }
    ctxt->sax->serror = collectParsed;
    ctxt->_private = &collected;
    const QByteArray native = QFile::encodeName(path);
    out.doc = xmlCtxtReadFile(ctxt, native.constData(), nullptr, XML_PARSE_NONET | XML_PARSE_NOENT);
    const bool wellFormed = out.doc && ctxt->wellFormed;
    xmlFreeParserCtxt(ctxt);
    if (!wellFormed) {
        addFailure(problems, path, QStringLiteral("is not well-formed XML"), collected, reads);
        return false;
    }

    const xmlNode* root = xmlDocGetRootElement(out.doc);
    const QString ns = root && root->ns ? fromXml(root->ns->href) : QString();
    const bool isXsd = root && ns == QLatin1String(kXsdNamespace) && fromXml(root->name) == QLatin1String("schema");
    const bool isRng = root && ns == QLatin1String(kRngNamespace);
    if (!isXsd && !isRng) {
        const QString rootName = root ? (ns.isEmpty() ? fromXml(root->name) : QStringLiteral("{%1}%2").arg(ns, fromXml(root->name)))
                                      : QStringLiteral("missing");
        problems.push_back(schemaProblem(
            path, QStringLiteral("The schema %1 is neither an XML Schema (xs:schema in %2) nor a RELAX NG schema "
                                 "(in %3): its root element is %4.")
                      .arg(path, QLatin1String(kXsdNamespace), QLatin1String(kRngNamespace), rootName)));
        return false;
    }

    out.source = path;
    if (isXsd) {
        out.kind = ValidationGrammar::XmlSchema;
        xmlSchemaParserCtxtPtr pctxt = xmlSchemaNewDocParserCtxt(out.doc);
        if (pctxt) {
            xmlSchemaSetParserStructuredErrors(pctxt, collect, &collected);
            out.xsd = xmlSchemaParse(pctxt);
            xmlSchemaFreeParserCtxt(pctxt);
        }
    } else {
        out.kind = ValidationGrammar::RelaxNg;
        xmlRelaxNGParserCtxtPtr pctxt = xmlRelaxNGNewDocParserCtxt(out.doc);
        if (pctxt) {
            xmlRelaxNGSetParserStructuredErrors(pctxt, collect, &collected);
            out.rng = xmlRelaxNGParse(pctxt);
            xmlRelaxNGFreeParserCtxt(pctxt);
        }
    }
    // An include that was refused may leave a schema that compiles without it, which
    // would check against less than the author meant.
    if ((!out.xsd && !out.rng) || !reads.refused.isEmpty()) {
        addFailure(problems, path, reads.refused.isEmpty() ? QStringLiteral("does not compile")
                                                           : QStringLiteral("needs documents that are not read"),
                   collected, reads);
        return false;
    }
    return true;
}

} // namespace detail

QString shippedFrameworkSchema()
{
    const QString name = QStringLiteral("FrameworkConfig.xsd");
    QStringList places{QStringLiteral(TREELARK_INSTALLED_DATA_DIR)};
    // An installed tree moved elsewhere as a whole still finds its own copy.
    if (QCoreApplication::instance())
        places << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quenmoor");
    places << QStringLiteral(TREELARK_SOURCE_DATA_DIR);
    for (const QString& dir : places) {
        const QString path = QDir(dir).filePath(name);
        if (QFileInfo(path).isFile())
            return QDir::cleanPath(path);
    }
    return QString();
}

QString severityName(ProblemSeverity severity)
{
    return severity == ProblemSeverity::Warning ? QStringLiteral("warning") : QStringLiteral("error");
}

} // namespace treelark
