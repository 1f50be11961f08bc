// The check as a stream: libxml2's text reader walks the document once, validating as it
// goes, and frees what it has passed, so memory stays bounded by the depth of the
// document rather than its size. The reader reads with libxml2's own limits on depth,
// text size and entity expansion (never its large-document option, which would lift the
// checks that stop entity bombs) and never from the network.
#include "validate_internal.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>

#include <cstring>
#include <utility>

namespace treelark::detail {

namespace {

constexpr qint64 kProgressEvery = 4096; // nodes between two calls of the progress callback
const xmlChar* const kXsiNamespace = reinterpret_cast<const xmlChar*>("http://www.w3.org/2001/XMLSchema-instance");

QString fromXml(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }

struct Source {
    QIODevice* device;
    qint64 done = 0;
    bool failed = false;
};

int readSource(void* context, char* buffer, int len)
{
    auto* source = static_cast<Source*>(context);
    const qint64 n = source->device->read(buffer, len);
    if (n < 0) {
        source->failed = true;
        return -1;
    }
    source->done += n;
    return int(n);
}

int closeNothing(void*) { return 0; }

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

QString qualifiedName(const xmlChar* prefix, const xmlChar* local)
{
    return prefix ? fromXml(prefix) + QLatin1Char(':') + fromXml(local) : fromXml(local);
}

// One pass over the document. DTDs and RELAX NG are checked by the text reader, which
// frees what it has passed; XML Schema by the parser's events alone (libxml2 checks it
// there even inside the reader, ahead of the reader's place, where no element could be
// told), with no tree built at all.
class Checker {
public:
    Checker(const StreamInput& in, const ValidationOptions& options, ValidationResult& result, const QByteArray& url)
        : m_in(in), m_options(options), m_result(result), m_track(result, options, in.file, url), m_url(url)
    {
    }

    void run(const Grammar& grammar);

private:
    bool carryOn(qint64 done);
    int readWithReader(const Grammar& grammar, Source& source);
    int readWithEvents(const Grammar& grammar, Source& source);

    static void readerSink(void* self, xmlErrorPtr e) { static_cast<Checker*>(self)->m_track.report(e, false); }
    static void eventSink(void* self, xmlErrorPtr e);
    static void parserSink(void*, xmlErrorPtr e);
    static void startElement(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                             int, int, const xmlChar**);
    static void endElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*);
    static void ignoreText(void*, const xmlChar*, int) {}

    const StreamInput& m_in;
    const ValidationOptions& m_options;
    ValidationResult& m_result;
    ElementTrack m_track;
    QByteArray m_url;
    qint64 m_nodes = 0;
    bool m_cancelled = false;
    xmlParserCtxtPtr m_events = nullptr;
    Source* m_source = nullptr;
    static thread_local Checker* t_current; // for the parser's events, whose context is libxml2's
};

thread_local Checker* Checker::t_current = nullptr;

bool Checker::carryOn(qint64 done)
{
    if (++m_nodes % kProgressEvery == 0 && m_options.progress && !m_options.progress(done, m_in.total))
        m_cancelled = true;
    return !m_cancelled;
}

int Checker::readWithReader(const Grammar& grammar, Source& source)
{
    int options = XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_BIG_LINES;
    if (grammar.kind == ValidationGrammar::Dtd)
        options |= XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID;
    xmlTextReaderPtr reader = xmlReaderForIO(readSource, closeNothing, &source,
                                             m_url.isEmpty() ? nullptr : m_url.constData(), nullptr, options);
    if (!reader)
        return -1;
    xmlTextReaderSetStructuredErrorHandler(reader, readerSink, this);
    if (grammar.rng)
        xmlTextReaderRelaxNGSetSchema(reader, grammar.rng);
    int ret = 1;
    while (!m_cancelled) {
        ret = xmlTextReaderRead(reader);
        m_track.step();
        if (ret != 1)
            break;
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_ELEMENT) {
            const xmlNodePtr node = xmlTextReaderCurrentNode(reader);
            m_track.enter(qualifiedName(node->ns ? node->ns->prefix : nullptr, node->name), node);
            if (xmlTextReaderIsEmptyElement(reader) == 1)
                m_track.leaveLater();
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            m_track.leaveLater();
        }
        carryOn(source.done);
    }
    xmlFreeTextReader(reader);
    return ret;
}

// The schema checker, fed events, has no place of its own to give: the parser's is the
// end of the start or end tag being checked.
void Checker::eventSink(void* self, xmlErrorPtr e)
{
    auto* checker = static_cast<Checker*>(self);
    if (!e || e->line > 0 || !checker->m_events || !checker->m_events->input) {
        checker->m_track.report(e, true);
        return;
    }
    xmlError placed = *e;
    placed.line = checker->m_events->input->line;
    placed.int2 = checker->m_events->input->col;
    checker->m_track.report(&placed, true);
}

void Checker::parserSink(void*, xmlErrorPtr e)
{
    if (t_current)
        t_current->m_track.report(e, false);
}

void Checker::startElement(void*, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int, const xmlChar**, int,
                           int, const xmlChar**)
{
    Checker* self = t_current;
    self->m_track.enter(qualifiedName(prefix, local), nullptr);
    if (!self->carryOn(self->m_source->done))
        xmlStopParser(self->m_events);
}

void Checker::endElement(void*, const xmlChar*, const xmlChar*, const xmlChar*)
{
    t_current->m_track.step();
    t_current->m_track.leaveLater();
}

int Checker::readWithEvents(const Grammar& grammar, Source& source)
{
    xmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    // The document-level events stay (the internal subset's entities are needed to read
    // references); nothing that would build a node does.
    sax.startElementNs = startElement;
    sax.endElementNs = endElement;
    sax.characters = ignoreText;
    sax.ignorableWhitespace = ignoreText;
    sax.cdataBlock = ignoreText;
    sax.comment = nullptr;
    sax.processingInstruction = nullptr;
    sax.reference = nullptr;
    sax.serror = parserSink;
    m_events = xmlCreateIOParserCtxt(&sax, nullptr, readSource, closeNothing, &source, XML_CHAR_ENCODING_NONE);
    if (!m_events)
        return -1;
    xmlCtxtUseOptions(m_events, XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_BIG_LINES);
    if (!m_url.isEmpty() && m_events->input && !m_events->input->filename)
        m_events->input->filename = reinterpret_cast<const char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(m_url.constData())));
    xmlSchemaValidCtxtPtr valid = xmlSchemaNewValidCtxt(grammar.xsd);
    if (!valid) {
        xmlFreeParserCtxt(m_events);
        return -1;
    }
    xmlSchemaSetValidStructuredErrors(valid, eventSink, this);
    xmlSchemaSAXPlugPtr plug = xmlSchemaSAXPlug(valid, &m_events->sax, &m_events->userData);
    m_events->sax->serror = parserSink; // the plug's own handler table leaves it out
    Checker* const outer = std::exchange(t_current, this);
    xmlParseDocument(m_events);
    t_current = outer;
    m_track.step();
    const bool wellFormed = m_events->wellFormed;
    if (plug)
        xmlSchemaSAXUnplug(plug);
    if (m_events->myDoc)
        xmlFreeDoc(m_events->myDoc);
    xmlFreeParserCtxt(m_events);
    m_events = nullptr;
    xmlSchemaFreeValidCtxt(valid);
    return wellFormed ? 0 : -1;
}

void Checker::run(const Grammar& grammar)
{
    const ReadScope reads;
    Source source{m_in.device};
    m_source = &source;
    const auto& progress = m_options.progress;
    if (progress && !progress(0, m_in.total))
        m_cancelled = true;
    const int ret = m_cancelled ? 0 : grammar.xsd ? readWithEvents(grammar, source) : readWithReader(grammar, source);
    for (const QString& refusal : reads.refused)
        m_track.refused(refusal);
    if (!m_cancelled && ret < 0 && m_result.errors == 0)
        m_track.refused(QStringLiteral("The document could not be read to its end."));
    m_track.finish();
    if (source.failed) {
        m_result.outcome = ValidationOutcome::DocumentUnreadable;
        m_result.problems.insert(m_result.problems.begin(),
                                 fileProblem(m_in.file, QStringLiteral("The document %1 cannot be read: %2.")
                                                            .arg(m_in.file, m_in.device->errorString())));
        ++m_result.errors;
    } else {
        m_result.outcome = m_cancelled ? ValidationOutcome::Cancelled
            : m_result.errors          ? ValidationOutcome::Invalid
                                       : ValidationOutcome::Valid;
    }
    if (!m_cancelled && !source.failed && progress)
        progress(source.done, m_in.total);
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
    Checker(in, options, result, url).run(grammar);
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
