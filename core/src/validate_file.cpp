// What a document is checked against: the schema the caller chose, else the one the
// document names, else its DTD, else the FrameworkConfig schema for such a document, else
// nothing but well-formedness. The document's start is read once to learn that, then the
// whole of it in one pass.
#include "validate_internal.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace treelark::detail {

namespace {

const xmlChar* const kXsiNamespace = reinterpret_cast<const xmlChar*>("http://www.w3.org/2001/XMLSchema-instance");

QString fromXml(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }

// What the start of the document says about what to check it against.
struct Head {
    QString rootLocal, rootNamespace;
    bool hasDoctype = false;
    QString dtdSystem, dtdPublic;
    QString schemaLocation, noNamespaceLocation;
};

// Read from the parser's events up to the document element (a reader would give up on a
// fault further on in the same block, and the document still names its schema).
void headSubset(void* ctx, const xmlChar* name, const xmlChar* publicId, const xmlChar* systemId)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* head = static_cast<Head*>(ctxt->_private);
    head->hasDoctype = true;
    head->dtdSystem = fromXml(systemId);
    head->dtdPublic = fromXml(publicId);
    xmlSAX2InternalSubset(ctx, name, publicId, systemId);
}

void headStart(void* ctx, const xmlChar* local, const xmlChar*, const xmlChar* uri, int, const xmlChar**,
               int attributeCount, int, const xmlChar** attributes)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* head = static_cast<Head*>(ctxt->_private);
    head->rootLocal = fromXml(local);
    head->rootNamespace = fromXml(uri);
    for (int i = 0; i < attributeCount; ++i) {
        const xmlChar** a = attributes + 5 * i; // local name, prefix, namespace, value from, value to
        if (!a[2] || !xmlStrEqual(a[2], kXsiNamespace))
            continue;
        const QString value = QString::fromUtf8(reinterpret_cast<const char*>(a[3]), a[4] - a[3]);
        if (xmlStrEqual(a[0], reinterpret_cast<const xmlChar*>("schemaLocation")))
            head->schemaLocation = value.simplified();
        else if (xmlStrEqual(a[0], reinterpret_cast<const xmlChar*>("noNamespaceSchemaLocation")))
            head->noNamespaceLocation = value.trimmed();
    }
    xmlStopParser(ctxt);
}

Head readHead(QIODevice* device, const QByteArray& url)
{
    Head head;
    const ReadScope readNothing(true);
    Source source{device};
    xmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    sax.internalSubset = headSubset;
    sax.startElementNs = headStart;
    sax.serror = [](void*, xmlErrorPtr) {};
    xmlParserCtxtPtr ctxt = xmlCreateIOParserCtxt(&sax, nullptr, readSource, closeNothing, &source, XML_CHAR_ENCODING_NONE);
    if (!ctxt)
        return head;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
    if (!url.isEmpty() && ctxt->input && !ctxt->input->filename)
        ctxt->input->filename = reinterpret_cast<const char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(url.constData())));
    ctxt->_private = &head;
    xmlParseDocument(ctxt);
    if (ctxt->myDoc)
        xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
    return head;
}

// The schema the document names for its own namespace.
QString namedSchema(const Head& head)
{
    if (head.rootNamespace.isEmpty() && !head.noNamespaceLocation.isEmpty())
        return head.noNamespaceLocation;
    const QStringList pairs = head.schemaLocation.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        if (pairs[i] == head.rootNamespace)
            return pairs[i + 1];
    return head.noNamespaceLocation;
}

ValidationResult unusable(ValidationResult result, std::vector<ValidationProblem> problems)
{
    result.outcome = ValidationOutcome::SchemaUnusable;
    for (auto& p : problems)
        ++(p.severity == ProblemSeverity::Warning ? result.warnings : result.errors);
    result.problems = std::move(problems);
    return result;
}

} // namespace

ValidationResult validateStream(const StreamInput& in, const ValidationOptions& options)
{
    ValidationResult result;
    const QByteArray url = QFile::encodeName(in.url);
    const QString baseDir = in.url.isEmpty() ? QString() : QFileInfo(in.url).absolutePath();
    const Head head = readHead(in.device, url);
    if (!in.device->seek(0)) {
        result.outcome = ValidationOutcome::DocumentUnreadable;
        result.problems.push_back(fileProblem(in.file, QStringLiteral("The document %1 cannot be read again from its start.").arg(in.file)));
        result.errors = 1;
        return result;
    }

    Grammar grammar;
    std::vector<ValidationProblem> refusals;
    const auto refuse = [&](const QString& message) {
        refusals.push_back(fileProblem(in.file, message));
        return unusable(std::move(result), std::move(refusals));
    };
    QString schema = options.schemaPath;
    if (schema.isEmpty()) {
        if (const QString named = namedSchema(head); !named.isEmpty()) {
            const LocalFile file = locate(named, baseDir);
            if (!file.refusal.isEmpty())
                return refuse(QStringLiteral("The schema %1").arg(file.refusal));
            schema = file.path;
        } else if (head.hasDoctype) {
            grammar.kind = ValidationGrammar::Dtd;
            if (!head.dtdSystem.isEmpty() || !head.dtdPublic.isEmpty()) {
                const LocalFile file = locate(head.dtdSystem, baseDir, head.dtdPublic);
                if (!file.refusal.isEmpty())
                    return refuse(QStringLiteral("The DTD %1").arg(file.refusal));
                if (!QFileInfo(file.path).isFile())
                    return refuse(QStringLiteral("The DTD %1 cannot be read: it does not exist.").arg(file.path));
                grammar.source = file.path;
            }
        } else if (options.useShippedSchema && head.rootLocal == QLatin1String("FrameworkConfig")
                   && head.rootNamespace.isEmpty()) {
            schema = shippedFrameworkSchema();
            if (schema.isEmpty())
                result.problems.push_back(fileProblem(in.file, QStringLiteral("The FrameworkConfig schema that comes with the program was not "
                                                          "found; only well-formedness is checked."), ProblemSeverity::Warning));
        }
    }
    if (!schema.isEmpty()) {
        std::vector<ValidationProblem> problems;
        if (!compileSchema(schema, grammar, problems))
            return unusable(std::move(result), std::move(problems));
    }
    result.grammar = grammar.kind;
    result.grammarSource = grammar.source;
    result.warnings = int(result.problems.size());
    runCheck(in, options, grammar, result);
    return result;
}

} // namespace treelark::detail

namespace treelark {

ValidationResult validateFile(const QString& path, const ValidationOptions& options)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        ValidationResult result;
        result.outcome = ValidationOutcome::DocumentUnreadable;
        const QString why = !info.exists() ? QStringLiteral("it does not exist")
            : !info.isFile()               ? QStringLiteral("it is not a file")
                                           : file.errorString();
        result.problems.push_back(detail::fileProblem(path, QStringLiteral("The document %1 cannot be read: %2.").arg(path, why)));
        result.errors = 1;
        return result;
    }
    detail::StreamInput in;
    in.device = &file;
    in.total = file.size();
    in.file = path;
    in.url = info.absoluteFilePath();
    return detail::validateStream(in, options);
}

} // namespace treelark
