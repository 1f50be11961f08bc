// One pass over a document, checking it as it is read: nothing is kept of what has been
// passed, so memory stays bounded by the depth of the document rather than its size. The
// parser runs with libxml2's own limits on depth, text size and entity expansion (never
// its large-document option, which would lift the checks that stop entity bombs) and
// never reads from the network.
#include "validate_internal.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <QFile>

#include <cstring>
#include <utility>

namespace treelark::detail {

namespace {

constexpr qint64 kProgressEvery = 4096; // nodes between two calls of the progress callback

QString fromXml(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }

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

} // namespace

void runCheck(const StreamInput& in, const ValidationOptions& options, const Grammar& grammar, ValidationResult& result)
{
    Checker(in, options, result, QFile::encodeName(in.url)).run(grammar);
}

} // namespace treelark::detail
