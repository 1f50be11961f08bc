// Reading documents. What a load may touch is deliberately narrow:
// - the named file or address and nothing else; no network access while parsing;
// - external general entities are never read (their references stay in the tree as
//   references and are written back as such); internal
//   entities are substituted, but only up to a budget of substituted text proportional
//   to the input, so entity bombs are refused at once. (The parser runs with its
//   large-document option, which lifts its own text-size limits and its own entity
//   checks; the budget below replaces the latter.)
// - an external DTD (and the parameter entities it or the internal subset pulls in) is
//   read only when validating, and only from a local file, found through the system's
//   XML catalogs when it is named by public identifier or web address; one that cannot be
//   read is reported as such rather than as a fault of the document;
// - the bytes are handed to the parser as they are: a compressed file is not inflated.
// Whitespace: all of it is kept. Text that is only indentation between elements is kept
// as formatting, which the DOM does not show (the tree has no blank #text items) and
// saving writes back as it was read.
#include "dom_internal.h"
#include "fetch.h"
#include "treelark/Busy.h"

#include <libxml/parser.h>
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/catalog.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sys/stat.h>

#include <mutex>
#include <utility>
#include <optional>
#include <vector>
#include <unordered_map>

namespace treelark {

namespace {

struct LoadState {
    detail::StreamHash hash; // of the bytes as read
    bool spans = false;      // start tags' places in the source are good
    // A file in another encoding is read as UTF-8 text the parser converts it to, from the
    // end of the XML declaration on: places in that text are places in the whole file's
    // UTF-8 text once moved by what the declaration took.
    qint64 shift = 0;
    bool shiftKnown = false;
    bool converted = false;
    qint64 textFrom = -1;    // where text read from now on starts in the source (-1: unknown)
    xmlNodePtr textParent = nullptr, textAfter = nullptr; // and where in the tree it goes
    QString unreadDtd;       // DTD material asked for but not read
    xmlEntityPtr stand = nullptr; // stands for external entities kept as references
    qint64 rootEnd = -1;     // where the document element ends in the source

    bool validating = false;
    // The first error of each kind; which one the user sees depends on how the load ended.
    bool haveFatal = false, haveValidity = false, haveOther = false;
    DOMParseError fatal, validity, other;
    QIODevice* device = nullptr;
    const QByteArray* memory = nullptr;
    qint64 offset = 0;
    qint64 total = -1;
    QByteArray head; // the first bytes, to learn the file's declaration and indentation
    // entity substitution budget
    std::unordered_map<xmlEntityPtr, qint64> expandedSize;
    qint64 substituted = 0;
    bool refused = false;
    bool namespaceBroken = false;
    std::function<void(qint64, qint64)> progress;
    qint64 lastReported = 0;
    xmlParserCtxtPtr ctxt = nullptr;
    // Elements open right now, counted across the nested parses of entity contents.
    int openDepth = 0;
    std::unordered_map<xmlEntityPtr, int> entityDepth;
    // What the document holds as it is read, so the window's first counts cost no walk:
    // its nodes (as "//" lists them; unknown once an entity's content is copied in, which
    // happens without callbacks) and the UTF-16 length of its text.
    qint64 nodes = 0;
    bool nodesKnown = true;
    qint64 chars = 0;
    bool cancelled = false; // the user asked to stop; nothing read counts
};

constexpr qsizetype kHeadBytes = 64 * 1024;
constexpr qint64 kBackgroundFreeBytes = 16 << 20;
// A download up to this size is kept, so that saving it unchanged writes it as it came.
constexpr qsizetype kKeptDownloadBytes = 64 << 20;

xmlExternalEntityLoader previousLoader = nullptr;
// The load running on this thread: a parser's private word is ours only while it is (a
// text reader, for one, keeps itself there).
thread_local const LoadState* tActiveLoad = nullptr;

QString localPathFromUrl(const QString& url, bool* isLocal);

xmlParserInputPtr guardedLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt)
{
    auto* st = ctxt && tActiveLoad && ctxt->_private == tActiveLoad ? static_cast<LoadState*>(ctxt->_private) : nullptr;
    if (!st) {
        if (detail::tOtherLoader)
            return detail::tOtherLoader(url, id, ctxt);
        return previousLoader ? previousLoader(url, id, ctxt) : nullptr;
    }
    // Only DTD material, only while validating, only from this machine's files.
    if (!st->validating || ctxt->inSubset == 0 || (!url && !id))
        return nullptr;
    // A DTD named by public identifier or by a web address is looked up in the system's
    // catalogs, which name local copies.
    QString path;
    bool local = false;
    if (xmlChar* resolved = xmlCatalogResolve(reinterpret_cast<const xmlChar*>(id), reinterpret_cast<const xmlChar*>(url))) {
        path = localPathFromUrl(QString::fromUtf8(reinterpret_cast<const char*>(resolved)), &local);
        xmlFree(resolved);
    }
    if (!local && url)
        path = localPathFromUrl(QString::fromUtf8(url), &local);
    if (!local || !QFileInfo(path).isFile()) {
        if (st->unreadDtd.isEmpty())
            st->unreadDtd = QString::fromUtf8(url ? url : id);
        return nullptr;
    }
    return xmlNewInputFromFile(ctxt, QFile::encodeName(path).constData());
}

} // namespace

void detail::installEntityLoader()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        previousLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(guardedLoader);
    });
}

namespace {

// The line the parser stands on, for a person to see where the fault is. The parser
// keeps only a window of its input around the current place, so a very long line comes
// back as the part still held (the column then counts from the line's real start, and
// the caller cannot place a caret in it: it is left empty).
QString currentSourceLine(xmlParserCtxtPtr ctxt, qint64 column)
{
    constexpr qint64 kMaxLine = 4096;
    if (!ctxt || !ctxt->input || !ctxt->input->base || !ctxt->input->cur || !ctxt->input->end)
        return QString();
    const xmlChar* base = ctxt->input->base;
    const xmlChar* cur = qMin(ctxt->input->cur, ctxt->input->end);
    const xmlChar* from = cur;
    while (from > base && from[-1] != '\n' && from[-1] != '\r' && cur - from < kMaxLine)
        --from;
    if (from > base && from[-1] != '\n' && from[-1] != '\r')
        return QString();
    const xmlChar* to = cur;
    while (to < ctxt->input->end && *to != '\n' && *to != '\r' && to - from < kMaxLine)
        ++to;
    const QString line = QString::fromUtf8(reinterpret_cast<const char*>(from), to - from);
    return column <= line.size() + 1 ? line : QString();
}

void onError(void* user, xmlErrorPtr e)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(user);
    auto* st = ctxt ? static_cast<LoadState*>(ctxt->_private) : nullptr;
    if (!st || !e || e->level < XML_ERR_ERROR || e->code == XML_DTD_NO_DTD)
        return;
    bool* have = &st->haveOther;
    DOMParseError* slot = &st->other;
    // A namespace error (an undeclared prefix, a bad xmlns) breaks the document as much
    // as a syntax error does: the names in it mean nothing.
    if (e->domain == XML_FROM_NAMESPACE)
        st->namespaceBroken = true;
    if (e->level == XML_ERR_FATAL || e->domain == XML_FROM_NAMESPACE) {
        have = &st->haveFatal;
        slot = &st->fatal;
    } else if (e->domain == XML_FROM_VALID || e->domain == XML_FROM_DTD) {
        have = &st->haveValidity;
        slot = &st->validity;
    }
    if (*have)
        return;
    *have = true;
    slot->errorCode = e->code ? e->code : XML_ERR_INTERNAL_ERROR;
    slot->reason = QString::fromUtf8(e->message ? e->message : "").trimmed();
    slot->line = e->line;
    slot->linepos = e->int2;
    // A fault inside an entity's content is found by a parser of its own, which counts
    // lines from the content's start: the place to show is the reference in the document.
    if (ctxt != st->ctxt && st->ctxt && st->ctxt->input) {
        slot->line = st->ctxt->input->line;
        slot->linepos = st->ctxt->input->col;
    }
    // Inside the DTD the place is the DTD's, not a line of the document.
    if (st->ctxt && st->ctxt->inputNr <= 1)
        slot->srcText = currentSourceLine(st->ctxt, slot->linepos);
}

// Deeper nesting than this is refused: no configuration document comes near it, and
// every recursive walk over the tree stays far from the stack's end.
constexpr int kMaxDepth = 2048;
constexpr int kMaxAttributes = 10000;

void refuse(LoadState& st, void* ctx, long code, const QString& reason);
void halt(LoadState& st, void* ctx);

void refuseDepth(LoadState& st, void* ctx)
{
    refuse(st, ctx, XML_ERR_INTERNAL_ERROR,
           QStringLiteral("Elements are nested more than %1 levels deep; the document was refused.").arg(kMaxDepth));
}

// Element levels in an entity's parsed content, walked without recursion.
int contentDepth(xmlNodePtr list)
{
    int deepest = 0;
    for (xmlNodePtr top = list; top; top = top->next) {
        xmlNodePtr n = top;
        int d = 0;
        for (;;) {
            const bool element = n->type == XML_ELEMENT_NODE;
            if (element)
                deepest = std::max(deepest, ++d);
            if (element && n->children) {
                n = n->children;
                continue;
            }
            // leave n, and every ancestor it was the last child of
            for (;;) {
                if (n->type == XML_ELEMENT_NODE)
                    --d;
                if (n == top)
                    break;
                if (n->next) {
                    n = n->next;
                    break;
                }
                n = n->parent;
            }
            if (n == top)
                break;
        }
    }
    return deepest;
}

// Characters an internal entity expands to, references inside it included.
qint64 expandedSize(LoadState& st, xmlParserCtxtPtr ctxt, xmlEntityPtr ent, int depth)
{
    constexpr qint64 kHuge = qint64(1) << 50;
    if (!ent || ent->etype != XML_INTERNAL_GENERAL_ENTITY || !ent->content)
        return ent && ent->content ? ent->length : 0;
    if (auto it = st.expandedSize.find(ent); it != st.expandedSize.end())
        return it->second;
    if (depth > 40)
        return kHuge;
    st.expandedSize[ent] = kHuge; // a reference loop counts as endless
    qint64 size = 0;
    const xmlChar* c = ent->content;
    for (qint64 i = 0; i < ent->length; ++i) {
        if (c[i] == '&' && i + 1 < ent->length && c[i + 1] != '#') {
            qint64 j = i + 1;
            while (j < ent->length && c[j] != ';')
                ++j;
            const QByteArray name(reinterpret_cast<const char*>(c + i + 1), qsizetype(j - i - 1));
            xmlEntityPtr ref = xmlGetPredefinedEntity(reinterpret_cast<const xmlChar*>(name.constData()));
            if (!ref && ctxt->myDoc)
                ref = xmlGetDocEntity(ctxt->myDoc, reinterpret_cast<const xmlChar*>(name.constData()));
            size = qMin(kHuge, size + (ref ? expandedSize(st, ctxt, ref, depth + 1) : 0));
            i = j;
        } else {
            ++size;
        }
    }
    st.expandedSize[ent] = size;
    return size;
}

void chargeBudget(LoadState& st, void* ctx, const xmlChar* name)
{
    // Entities in real documents stand for short texts; a few megabytes more than
    // the file itself is generous for them and stops a bomb before it costs anything.
    const qint64 budget = (qint64(2) << 20) + 4 * st.offset;
    if (st.substituted > budget)
        refuse(st, ctx, XML_ERR_ENTITY_LOOP,
               QStringLiteral("Entity '%1' would expand the document beyond any reasonable size; "
                              "the document was refused.")
                   .arg(QString::fromUtf8(reinterpret_cast<const char*>(name))));
}

// External entities are never read; a reference to one stays in the tree as the
// reference it is, and the parser is handed an empty stand-in to expand instead.
xmlEntityPtr keptReference(LoadState& st, xmlParserCtxtPtr ctxt, xmlEntityPtr ent)
{
    if (ctxt == st.ctxt && ctxt->node && ctxt->myDoc && !st.refused) {
        if (xmlNodePtr ref = xmlNewReference(ctxt->myDoc, ent->name))
            detail::link(ctxt->node, ref, nullptr);
    }
    if (!st.stand) {
        st.stand = static_cast<xmlEntityPtr>(xmlMalloc(sizeof(xmlEntity)));
        if (!st.stand)
            return nullptr;
        memset(st.stand, 0, sizeof(xmlEntity));
        st.stand->type = XML_ENTITY_DECL;
        st.stand->etype = XML_INTERNAL_GENERAL_ENTITY;
        st.stand->name = xmlStrdup(reinterpret_cast<const xmlChar*>("kept-reference"));
        st.stand->content = xmlStrdup(reinterpret_cast<const xmlChar*>(""));
    }
    return st.stand;
}

void freeStandIn(LoadState& st)
{
    if (!st.stand)
        return;
    xmlFreeNodeList(st.stand->children);
    xmlFree(const_cast<xmlChar*>(st.stand->name));
    xmlFree(st.stand->content);
    xmlFree(st.stand);
    st.stand = nullptr;
}

xmlEntityPtr budgetedGetEntity(void* ctx, const xmlChar* name)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    xmlEntityPtr ent = xmlSAX2GetEntity(ctx, name);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    if (ent && st && ent->etype != XML_INTERNAL_PREDEFINED_ENTITY)
        st->nodesKnown = false;
    if (ent && st && ent->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY && ctxt->inSubset == 0
        && ctxt->instate == XML_PARSER_CONTENT) // in an attribute value it is an error the parser reports
        return keptReference(*st, ctxt, ent);
    // Counted inside the DTD too: a default attribute value there expands its
    // references when it is declared, before any content is read.
    if (!ent || !st || ent->etype != XML_INTERNAL_GENERAL_ENTITY)
        return ent;
    if (st->refused) {
        halt(*st, ctx);
        return nullptr;
    }
    st->substituted += expandedSize(*st, ctxt, ent, 0);
    chargeBudget(*st, ctx, name);
    // An entity already parsed once is copied in without element callbacks, so its
    // depth is checked here; copying is recursive, and entities nested in entities
    // would otherwise build a tree deep enough to exhaust the stack.
    if (!st->refused && ctxt->inSubset == 0 && ent->children) {
        auto it = st->entityDepth.find(ent);
        if (it == st->entityDepth.end())
            it = st->entityDepth.emplace(ent, contentDepth(ent->children)).first;
        if (st->openDepth + it->second > kMaxDepth)
            refuseDepth(*st, ctx);
    }
    return st->refused ? nullptr : ent;
}

// A parameter entity holds its text already expanded, so each reference costs its
// length; in an external DTD, references inside entity values compound like a bomb.
xmlEntityPtr budgetedGetParameterEntity(void* ctx, const xmlChar* name)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    xmlEntityPtr ent = xmlSAX2GetParameterEntity(ctx, name);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    if (!ent || !st || !ent->content)
        return ent;
    if (st->refused) {
        halt(*st, ctx);
        return nullptr;
    }
    st->substituted += ent->length;
    chargeBudget(*st, ctx, name);
    return st->refused ? nullptr : ent;
}


// Records why the document is refused; the first reason wins.
bool noteRefusal(LoadState& st, void* ctx, long code, const QString& reason)
{
    if (st.refused)
        return false;
    st.refused = true;
    st.haveFatal = true;
    st.fatal.errorCode = code;
    st.fatal.reason = reason;
    st.fatal.line = xmlSAX2GetLineNumber(ctx);
    st.fatal.linepos = xmlSAX2GetColumnNumber(ctx);
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt && ctxt == st.ctxt && ctxt->inputNr <= 1)
        st.fatal.srcText = currentSourceLine(ctxt, st.fatal.linepos);
    return true;
}

// An entity's content is parsed by a parser of its own, and a parser that still looks
// well-formed falls back to the entity table when a lookup answers nothing: so the parser
// at hand and the document's are both stopped and marked broken.
void halt(LoadState& st, void* ctx)
{
    for (xmlParserCtxtPtr c : {static_cast<xmlParserCtxtPtr>(ctx), st.ctxt}) {
        if (c) {
            c->wellFormed = 0;
            xmlStopParser(c);
        }
    }
}

void refuse(LoadState& st, void* ctx, long code, const QString& reason)
{
    noteRefusal(st, ctx, code, reason);
    halt(st, ctx);
}

// Where in the source a position of the main input's buffer is.
qint64 sourceOffset(const LoadState& st, xmlParserInputPtr in, const xmlChar* p)
{
    return qint64(in->consumed) + (p - in->base) + st.shift;
}

// The '<' of the tag the parser is at (a start tag: it looks at the closing '>' or "/>")
// or has just read (an end tag): still in the buffer, and tags hold no other '<'.
const xmlChar* tagOpening(xmlParserInputPtr in, const xmlChar* from)
{
    const xmlChar* lt = from;
    while (lt > in->base && *lt != '<')
        --lt;
    return *lt == '<' ? lt : nullptr;
}

// Text read since the last tag ends where this tag starts: its place in the source is
// remembered, so an edited document writes it back as the file has it (character and
// entity references included) while the node keeps that text.
// Only when that text became exactly one node right after the tag (nothing an entity
// brought in, no reference kept in between).
void closeText(LoadState& st, xmlParserCtxtPtr ctxt, qint64 tagAt)
{
    xmlNodePtr parent = ctxt->node;
    xmlNodePtr last = parent ? parent->last : nullptr;
    if (!last || last->type != XML_TEXT_NODE || last->psvi || st.textFrom < 0 || tagAt <= st.textFrom
        || parent != st.textParent || last->prev != st.textAfter)
        return;
    detail::setTagSpan(last, quint64(st.textFrom), quint64(tagAt - st.textFrom));
}

// Runs one of the tree builder's own steps and counts the node it added to the document,
// if it added one (text joins the text before it where it can).
template <typename Step>
void counted(void* ctx, Step&& step)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    xmlNodePtr parent = ctxt->node ? ctxt->node : reinterpret_cast<xmlNodePtr>(ctxt->myDoc);
    xmlNodePtr before = parent ? parent->last : nullptr;
    step();
    if (st && ctxt == st->ctxt && parent && parent->last != before && ctxt->inSubset == 0)
        ++st->nodes;
}

void countedCharacters(void* ctx, const xmlChar* ch, int len)
{
    counted(ctx, [&] { xmlSAX2Characters(ctx, ch, len); });
}

void countedReference(void* ctx, const xmlChar* name)
{
    if (auto* st = static_cast<LoadState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private))
        st->nodesKnown = false;
    xmlSAX2Reference(ctx, name);
}

// Comments, instructions and CDATA sections end text whose end the parser does not show.
void lostTextEnd(void* ctx)
{
    if (auto* st = static_cast<LoadState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private))
        st->textFrom = -1;
}
void commentEndingText(void* ctx, const xmlChar* value)
{
    lostTextEnd(ctx);
    counted(ctx, [&] { xmlSAX2Comment(ctx, value); });
}
void instructionEndingText(void* ctx, const xmlChar* target, const xmlChar* data)
{
    lostTextEnd(ctx);
    counted(ctx, [&] { xmlSAX2ProcessingInstruction(ctx, target, data); });
}
void cdataEndingText(void* ctx, const xmlChar* value, int len)
{
    lostTextEnd(ctx);
    counted(ctx, [&] { xmlSAX2CDataBlock(ctx, value, len); });
}

void depthCheckedStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI,
                              int nb_namespaces, const xmlChar** namespaces, int nb_attributes, int nb_defaulted,
                              const xmlChar** attributes)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    if (st && std::max(st->openDepth, ctxt->nameNr) >= kMaxDepth) {
        refuseDepth(*st, ctx);
        return;
    }
    // The tree builder appends each attribute by walking the ones before it, so an
    // element with a huge attribute list would take minutes to build.
    if (st && (nb_attributes > kMaxAttributes || nb_namespaces > kMaxAttributes)) {
        refuse(*st, ctx, XML_ERR_INTERNAL_ERROR,
               QStringLiteral("An element has more than %1 attributes; the document was refused.").arg(kMaxAttributes));
        return;
    }
    // The start tag runs from its '<' to the '>' or "/>" the parser is looking at.
    const bool mainInput = st && ctxt == st->ctxt && ctxt->inputNr == 1 && ctxt->input && ctxt->input->cur;
    const xmlChar* cur = mainInput ? ctxt->input->cur : nullptr;
    const xmlChar* lt = cur ? tagOpening(ctxt->input, cur) : nullptr;
    const int close = !lt ? 0 : cur[0] == '/' && cur[1] == '>' ? 2 : cur[0] == '>' ? 1 : 0;
    if (close)
        closeText(*st, ctxt, sourceOffset(*st, ctxt->input, lt));
    if (st)
        st->textFrom = -1;
    xmlNodePtr parent = ctxt->node;
    xmlSAX2StartElementNs(ctx, localname, prefix, URI, nb_namespaces, namespaces, nb_attributes, nb_defaulted,
                          attributes);
    if (st && ctxt == st->ctxt && ctxt->node != parent)
        ++st->nodes;
    if (st)
        ++st->openDepth;
    if (close && ctxt->node) {
        const qint64 at = sourceOffset(*st, ctxt->input, lt);
        detail::setTagSpan(ctxt->node, quint64(at), quint64(cur - lt + close));
        st->textFrom = at + (cur - lt + close);
        st->textParent = ctxt->node; // text next is its first child
        st->textAfter = nullptr;
    }
}

// Blanks the parser judges to be layout are kept, marked as formatting (see
// dom_internal.h): written back as they were, shown nowhere. While their element is being
// read they stand in the tree dressed as comments, so that the parser's judgement of the
// blanks after them (which looks for text among the children) is what it would be without
// them; when the element ends they become the text they are. Their text is shared through
// the document's dictionary: a file's indentation is a handful of strings.
void keptWhitespace(void* ctx, const xmlChar* ch, int len)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    // Blanks inside an entity's text are parsed apart from the document: dropped.
    if (!st || ctxt != st->ctxt || !ctxt->node || !ctxt->myDoc || st->refused)
        return;
    // Blanks on one line between elements (<b>bold</b> <i>italic</i>) are words' space,
    // not layout: text like any other.
    if (!memchr(ch, '\n', size_t(len)) && !memchr(ch, '\r', size_t(len))) {
        countedCharacters(ctx, ch, len);
        return;
    }
    xmlNodePtr f = xmlNewDocComment(ctxt->myDoc, nullptr);
    if (!f)
        return;
    f->content = ctxt->dict ? const_cast<xmlChar*>(xmlDictLookup(ctxt->dict, ch, len)) : xmlStrndup(ch, len);
    detail::markFormatting(f);
    detail::link(ctxt->node, f, nullptr);
}

// The element is complete: its layout blanks need no disguise any more.
void unveilLayout(xmlNodePtr el)
{
    for (xmlNodePtr c = el ? el->children : nullptr; c; c = c->next)
        if (c->type == XML_COMMENT_NODE && detail::isFormatting(c)) {
            c->type = XML_TEXT_NODE;
            c->name = xmlStringText;
        }
}

// The parser's options put its own handler for layout blanks in place when parsing
// starts; ours takes over from there.
void startDocumentKeepingBlanks(void* ctx)
{
    xmlSAX2StartDocument(ctx);
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    ctxt->sax->ignorableWhitespace = keptWhitespace;
    // Right after the XML declaration: where the parser's converted text starts in the
    // file's own UTF-8 text. Known for encodings that write the declaration as ASCII.
    auto* st = static_cast<LoadState*>(ctxt->_private);
    xmlParserInputPtr in = ctxt->input;
    if (st && ctxt == st->ctxt && ctxt->inputNr == 1 && in && in->buf && in->buf->encoder && in->cur
        && st->head.startsWith("<?xml")) {
        // (the parser may have stepped over blanks after it)
        const qsizetype declEnd = st->head.indexOf("?>");
        const xmlChar* end = in->cur;
        while (end - in->base >= 2 && !(end[-2] == '?' && end[-1] == '>') && IS_BLANK_CH(end[-1]))
            --end;
        if (declEnd > 0 && end - in->base >= 2 && end[-2] == '?' && end[-1] == '>') {
            st->shift = qint64(declEnd) + 2 - (qint64(in->consumed) + (end - in->base));
            st->shiftKnown = true;
        }
    }
}

void depthCountedEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = static_cast<LoadState*>(ctxt->_private);
    if (st && st->openDepth > 0)
        --st->openDepth;
    const bool mainInput = st && ctxt == st->ctxt && ctxt->inputNr == 1 && ctxt->input && ctxt->input->cur;
    const xmlChar* lt = mainInput && ctxt->input->cur > ctxt->input->base
        ? tagOpening(ctxt->input, ctxt->input->cur - 1) : nullptr;
    if (lt)
        closeText(*st, ctxt, sourceOffset(*st, ctxt->input, lt));
    if (st) {
        st->textFrom = mainInput ? sourceOffset(*st, ctxt->input, ctxt->input->cur) : -1;
        st->textAfter = ctxt->node; // text next follows this element in its parent
        st->textParent = ctxt->node ? ctxt->node->parent : nullptr;
    }
    // The document element's end: what follows it in the file is the epilog.
    if (mainInput && ctxt->nameNr <= 1)
        st->rootEnd = sourceOffset(*st, ctxt->input, ctxt->input->cur);
    xmlNodePtr el = ctxt->node;
    xmlSAX2EndElementNs(ctx, localname, prefix, URI);
    if (st && ctxt == st->ctxt)
        unveilLayout(el);
}

int readChunk(void* ctx, char* buffer, int len)
{
    auto* st = static_cast<LoadState*>(ctx);
    // The parser checks each attribute of a start tag against all the earlier ones before
    // any callback sees the tag, so a huge attribute list costs seconds in that check alone.
    // Its attribute table (ten slots per attribute, never shrunk) gives such a tag away
    // while the input is still being read. Ending the input stops the parser; stopping it
    // from in here would pull the buffer out from under the read in progress.
    // Namespace declarations are attributes too, checked the same way (two slots each).
    if (st->ctxt && (st->ctxt->maxatts > 10 * (kMaxAttributes + 1) || st->ctxt->nsNr > 2 * kMaxAttributes)) {
        noteRefusal(*st, st->ctxt, XML_ERR_INTERNAL_ERROR,
                    QStringLiteral("An element has more than %1 attributes; the document was refused.")
                        .arg(kMaxAttributes));
        return 0;
    }
    if (cancelRequested()) {
        st->cancelled = true;
        return -1;
    }
    qint64 n;
    if (st->device) {
        n = st->device->read(buffer, len);
        if (n < 0)
            return -1;
    } else {
        n = qMin<qint64>(len, st->memory->size() - st->offset);
        memcpy(buffer, st->memory->constData() + st->offset, size_t(n));
    }
    if (st->head.size() < kHeadBytes)
        st->head.append(buffer, qMin<qsizetype>(qsizetype(n), kHeadBytes - st->head.size()));
    st->offset += n;
    st->hash.add(buffer, qsizetype(n));
    // UTF-16 code units of UTF-8 text: one per lead byte, two for 4-byte sequences.
    qint64 chars = 0;
    for (qint64 i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(buffer[i]);
        chars += ((c & 0xC0) != 0x80) + (c >= 0xF0);
    }
    st->chars += chars;
    busyTick();
    if (st->progress && (st->offset - st->lastReported >= (1 << 20) || n == 0)) {
        st->lastReported = st->offset;
        st->progress(st->offset, st->total);
    }
    return int(n);
}

int closeNothing(void*) { return 0; }

QString localPathFromUrl(const QString& url, bool* isLocal)
{
    *isLocal = true;
    if (!url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        if (url.contains(QLatin1String("://")))
            *isLocal = false;
        return url;
    }
    QString rest = url.mid(5);
    if (rest.startsWith(QLatin1String("//localhost/"), Qt::CaseInsensitive))
        rest = rest.mid(11);
    else if (rest.startsWith(QLatin1String("///")))
        rest = rest.mid(3);
    else if (rest.startsWith(QLatin1String("//")))
        rest = rest.mid(2);
    // "file:///a/b" names /a/b: an address never names a file relative to the working
    // folder (the manager makes relative names absolute before it adds the scheme).
    while (rest.startsWith(QLatin1String("//")))
        rest.remove(0, 1);
    if (!rest.startsWith(QLatin1Char('/')))
        rest.prepend(QLatin1Char('/'));
    if (!QFileInfo::exists(rest)) {
        const QString decoded = QUrl::fromPercentEncoding(rest.toUtf8());
        if (QFileInfo::exists(decoded))
            return decoded;
    }
    return rest;
}

bool isHttp(const QString& url)
{
    return url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QByteArray headAsUtf8(const QByteArray& head, bool* bom)
{
    *bom = false;
    if (head.startsWith("\xEF\xBB\xBF")) {
        *bom = true;
        return head.mid(3);
    }
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        const bool le = head.startsWith("\xFF\xFE");
        QString s;
        for (qsizetype i = 2; i + 1 < head.size(); i += 2) {
            const ushort lo = uchar(head[i]), hi = uchar(head[i + 1]);
            s.append(QChar(le ? ushort(lo | (hi << 8)) : ushort(hi | (lo << 8))));
        }
        *bom = true;
        return s.toUtf8();
    }
    return head;
}

// Where the DOCTYPE that starts at `at` ends (just after its '>'), or -1 if not in `raw`.
qsizetype endOfDoctype(const QByteArray& raw, qsizetype at)
{
    char quote = 0;
    int depth = 0;
    for (qsizetype k = at + 9; k < raw.size(); ++k) {
        const char c = raw[k];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (depth > 0 && raw.mid(k, 4) == "<!--") {
            k = raw.indexOf("-->", k + 4);
            if (k < 0)
                return -1;
            k += 2;
        } else if (depth > 0 && raw.mid(k, 2) == "<?") {
            k = raw.indexOf("?>", k + 2);
            if (k < 0)
                return -1;
            ++k;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '>' && depth == 0) {
            return k + 1;
        }
    }
    return -1;
}

// The bytes before the document element, when the first bytes read hold all of them
// and are not UTF-16 (whose text the writer would have to encode again).
std::optional<QByteArray> prologOf(const QByteArray& raw)
{
    if (raw.startsWith("\xFF\xFE") || raw.startsWith("\xFE\xFF"))
        return std::nullopt;
    qsizetype i = raw.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        while (i < raw.size() && QByteArray(" \t\r\n").contains(raw[i]))
            ++i;
        if (i >= raw.size())
            return std::nullopt;
        qsizetype next = -1;
        if (raw.mid(i, 4) == "<!--")
            next = raw.indexOf("-->", i + 4) + 3;
        else if (raw.mid(i, 2) == "<?")
            next = raw.indexOf("?>", i + 2) + 2;
        else if (raw.mid(i, 9) == "<!DOCTYPE")
            next = endOfDoctype(raw, i);
        else if (raw[i] == '<')
            return raw.left(i);
        if (next <= i)
            return std::nullopt;
        i = next;
    }
}

// Learns how the file was written so that saving writes it back the same way.
void learnLayout(detail::DocCore& core, const QByteArray& rawHead)
{
    const std::optional<QByteArray> prolog = prologOf(rawHead);
    core.prologKnown = prolog.has_value();
    core.prolog = prolog.value_or(QByteArray());
    bool bom = false;
    const QByteArray head = headAsUtf8(rawHead, &bom);
    core.hadBom = bom;
    core.hadDeclaration = head.startsWith("<?xml") && head.size() > 5 && QByteArray(" \t\r\n").contains(head[5]);
    if (core.hadDeclaration) {
        const qsizetype end = head.indexOf("?>");
        core.declaration = end > 0 ? head.left(end + 2) : QByteArray();
    }
    // The file's own blanks lay it out when it is written back: nothing is re-indented.
    // The first line that starts with blanks before a tag gives the indentation unit.
    core.formatOutput = false;
    core.indentUnit = "  ";
    QByteArray unit;
    bool sawBreak = false;
    for (qsizetype i = head.indexOf('>'); i >= 0 && i < head.size(); i = head.indexOf('>', i + 1)) {
        qsizetype j = i + 1;
        while (j < head.size() && (head[j] == ' ' || head[j] == '\t' || head[j] == '\r'))
            ++j;
        if (j >= head.size() || head[j] != '\n')
            continue;
        qsizetype k = j + 1, start = k;
        while (k < head.size() && (head[k] == ' ' || head[k] == '\t'))
            ++k;
        if (k >= head.size() || head[k] != '<')
            continue;
        sawBreak = true;
        if (k > start) {
            unit = head.mid(start, k - start);
            break;
        }
    }
    if (sawBreak)
        core.indentUnit = unit.size() <= 8 ? unit : QByteArray("  ");
}

} // namespace

namespace {

// Loads running on this thread. A load keeps the window painted, so events (a drop, a
// key) can arrive while it runs; a second load started from one of them would replace
// or reuse documents that the first one is still building.
thread_local int loadsRunning = 0;

struct LoadScope {
    LoadScope() { ++loadsRunning; }
    ~LoadScope() { --loadsRunning; }
    LoadScope(const LoadScope&) = delete;
    LoadScope& operator=(const LoadScope&) = delete;
};

} // namespace

bool DOMDocument::loadInProgress() { return loadsRunning > 0; }

bool DOMDocument::refuseNestedLoad(const QString& url)
{
    m_parseError = DOMParseError{long(DOMError::Busy),
                                 QStringLiteral("Another document is being loaded; try again when it is done."), url, 0, 0, QString()};
    return false;
}

bool DOMDocument::finishLoad(std::shared_ptr<detail::DocCore> core, const DOMParseError& err)
{
    core->owner = weak_from_this();
    m_core = std::move(core);
    m_parseError = err;
    setReadyState(2);
    setReadyState(3);
    setReadyState(4);
    return m_parseError.errorCode == 0;
}

namespace {

// A byte-order mark and a declared encoding that contradict each other leave the
// document's text in doubt; such a file is refused rather than guessed at.
QString encodingConflict(const QByteArray& rawHead)
{
    bool bom = false;
    const QByteArray head = headAsUtf8(rawHead, &bom);
    if (!bom || !head.startsWith("<?xml"))
        return QString();
    const QByteArray decl = head.left(head.indexOf("?>"));
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0)
        return QString();
    qsizetype q = decl.indexOf('=', at);
    while (q >= 0 && ++q < decl.size() && (decl[q] == ' ' || decl[q] == '\t'))
        ;
    if (q < 0 || q >= decl.size())
        return QString();
    const char quote = decl[q];
    const qsizetype end = decl.indexOf(quote, q + 1);
    const QByteArray declared = decl.mid(q + 1, end - q - 1).toUpper();
    const bool utf16Bom = rawHead.startsWith("\xFF\xFE") || rawHead.startsWith("\xFE\xFF");
    const bool fits = utf16Bom ? declared.startsWith("UTF-16") || declared.startsWith("UCS-2")
                               : declared == "UTF-8" || declared == "UTF8";
    if (fits)
        return QString();
    return QStringLiteral("The file starts with a %1 byte-order mark but declares the encoding %2.")
        .arg(utf16Bom ? QStringLiteral("UTF-16") : QStringLiteral("UTF-8"), QString::fromLatin1(declared));
}

// A default value that does not fit its attribute's type is dropped by the parser, which
// leaves a declaration that would be written with no default at all ("<!ATTLIST e a
// NMTOKEN>", which no parser accepts). Such a declaration is kept as #IMPLIED instead.
void keepAttributeDeclarationsWritable(xmlDocPtr doc)
{
    if (!doc->intSubset)
        return;
    for (xmlNodePtr n = doc->intSubset->children; n; n = n->next) {
        if (n->type != XML_ATTRIBUTE_DECL)
            continue;
        auto* decl = reinterpret_cast<xmlAttributePtr>(n);
        if (decl->def == XML_ATTRIBUTE_NONE && !decl->defaultValue)
            decl->def = XML_ATTRIBUTE_IMPLIED;
    }
}

// Returns the tree, or nullptr with `error` telling why.
xmlDocPtr parseWith(LoadState& st, const QString& url, bool validate, DOMParseError& error)
{
    detail::installEntityLoader();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        error.errorCode = XML_ERR_NO_MEMORY;
        error.reason = QStringLiteral("Out of memory");
        return nullptr;
    }
    st.validating = validate;
    st.ctxt = ctxt;
    const LoadState* outerLoad = std::exchange(tActiveLoad, &st);
    ctxt->_private = &st;
    ctxt->sax->serror = onError;
    ctxt->sax->getEntity = budgetedGetEntity;
    ctxt->sax->getParameterEntity = budgetedGetParameterEntity;
    ctxt->sax->startElementNs = depthCheckedStartElement;
    ctxt->sax->endElementNs = depthCountedEndElement;
    ctxt->sax->startDocument = startDocumentKeepingBlanks;
    ctxt->sax->comment = commentEndingText;
    ctxt->sax->characters = countedCharacters;
    ctxt->sax->reference = countedReference;
    ctxt->sax->processingInstruction = instructionEndingText;
    ctxt->sax->cdataBlock = cdataEndingText;
    int options = XML_PARSE_HUGE | XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT | XML_PARSE_BIG_LINES
        | XML_PARSE_NOWARNING;
    if (validate)
        options |= XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID;
    const QByteArray base = url.toUtf8();
    xmlDocPtr doc = xmlCtxtReadIO(ctxt, readChunk, closeNothing, &st, base.isEmpty() ? nullptr : base.constData(),
                                  nullptr, options);
    tActiveLoad = outerLoad;
    freeStandIn(st);
    // Offsets count the bytes the parser saw, which are the file's only when nothing had
    // to be converted to UTF-8.
    st.converted = ctxt->input && ctxt->input->buf && ctxt->input->buf->encoder;
    st.spans = ctxt->input && ctxt->input->buf && (!st.converted || st.shiftKnown);
    // Validation checks a document against its DTD; one without a DTD has nothing to break.
    const bool invalid = doc && validate && (doc->intSubset || doc->extSubset) && !ctxt->valid;
    xmlFreeParserCtxt(ctxt);
    if (st.cancelled) {
        if (doc)
            xmlFreeDoc(doc);
        error = {long(DOMError::Cancelled), QStringLiteral("The load was cancelled."), QString(), 0, 0, QString()};
        return nullptr;
    }
    if (doc && !st.refused) {
        const QString conflict = encodingConflict(st.head);
        if (!conflict.isEmpty()) {
            st.refused = true;
            st.haveFatal = true;
            st.fatal = {XML_ERR_INVALID_ENCODING, conflict, QString(), 1, 1, QString()};
        }
    }
    if (doc && (st.refused || st.namespaceBroken)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (doc && !invalid) {
        keepAttributeDeclarationsWritable(doc);
        return doc;
    }
    if (invalid) {
        xmlFreeDoc(doc);
        doc = nullptr;
        error = st.haveValidity ? st.validity : st.other;
        if (!st.unreadDtd.isEmpty()) // nothing to judge the document by
            error = {XML_IO_LOAD_ERROR, QStringLiteral("The DTD %1 could not be read.").arg(st.unreadDtd), QString(),
                     error.line, error.linepos, QString()};
        if (!error.errorCode) {
            error.errorCode = XML_ERR_INTERNAL_ERROR;
            error.reason = QStringLiteral("The document is not valid according to its DTD.");
        }
    } else {
        error = st.haveFatal ? st.fatal : st.haveOther ? st.other : st.validity;
        if (!error.errorCode) {
            error.errorCode = XML_ERR_DOCUMENT_EMPTY;
            error.reason = QStringLiteral("The document could not be read.");
        }
    }
    return nullptr;
}

} // namespace

bool DOMDocument::load(const QString& url)
{
    if (loadInProgress())
        return refuseNestedLoad(url);
    const LoadScope running;
    const DOMDocumentPtr keepAlive = shared_from_this(); // whatever a handler does meanwhile
    setReadyState(1);
    LoadState st;
    st.progress = m_onProgress;
    DOMParseError err;
    err.url = url;

    QByteArray fetched;
    QFile file;
    QString baseUrl = url;
    clearCancel();
    if (isHttp(url)) {
        detail::FetchResult r = detail::fetchUrl(url, detail::kMaxFetchBytes, detail::kFetchStallSeconds);
        if (!r.ok) {
            err.errorCode = r.cancelled ? long(DOMError::Cancelled) : long(XML_IO_LOAD_ERROR);
            err.reason = r.error;
            return finishLoad(detail::DocCore::createEmpty(), err);
        }
        fetched = std::move(r.body);
        st.memory = &fetched;
        st.total = fetched.size();
    } else {
        bool local = true;
        const QString path = localPathFromUrl(url, &local);
        QFileInfo info(path);
        if (!local) {
            err.errorCode = XML_IO_LOAD_ERROR;
            err.reason = QStringLiteral("Only files and http:// or https:// addresses can be opened.");
        } else if (!info.exists()) {
            err.errorCode = XML_IO_ENOENT;
            err.reason = QStringLiteral("The system cannot locate the object specified: %1").arg(path);
        } else if (info.isDir()) {
            err.errorCode = XML_IO_EISDIR;
            err.reason = QStringLiteral("%1 is a folder, not a file.").arg(path);
        } else {
            file.setFileName(path);
            if (!file.open(QIODevice::ReadOnly)) {
                err.errorCode = XML_IO_EACCES;
                err.reason = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
            }
        }
        if (err.errorCode)
            return finishLoad(detail::DocCore::createEmpty(), err);
        st.device = &file;
        st.total = file.size();
        baseUrl = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
    }
    struct stat opened{};
    const bool watched = file.isOpen() && ::fstat(file.handle(), &opened) == 0;

    xmlDocPtr doc = parseWith(st, baseUrl, m_validateOnParse, err);
    err.url = url;
    // A file written to while it was read gives a tree of neither its old nor its new
    // text; it is refused, and says so, rather than shown as if it were either.
    struct stat now{};
    if (doc && watched
        && (::fstat(file.handle(), &now) != 0 || now.st_size != opened.st_size
            || now.st_mtim.tv_sec != opened.st_mtim.tv_sec || now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec)) {
        xmlFreeDoc(doc);
        doc = nullptr;
        err.errorCode = XML_IO_LOAD_ERROR;
        err.reason = QStringLiteral("The file %1 changed on disk while it was being read; load it again to see it as "
                                    "it is now.")
                         .arg(file.fileName());
    }
    if (!doc)
        return finishLoad(detail::DocCore::createEmpty(), err);
    auto core = std::make_shared<detail::DocCore>(doc);
    learnLayout(*core, st.head);
    core->tagSpans = st.spans;
    core->sourceConverted = st.converted;
    core->rootEnd = st.rootEnd;
    core->loadedNodes = st.nodesKnown && !st.refused ? st.nodes : -1;
    core->sourceChars = st.spans && !st.converted ? st.chars : -1;
    if (file.isOpen()) {
        core->sourcePath = file.fileName();
        core->sourceSize = st.offset;
        core->sourceHash = st.hash.result();
        core->diskPath = QFileInfo(file).absoluteFilePath();
        core->diskSize = core->sourceSize;
        core->diskModified = QFileInfo(file).lastModified();
        core->diskHash = core->sourceHash;
    } else if (fetched.size() <= kKeptDownloadBytes) {
        core->sourceBytes = fetched;
    }
    core->freeInBackground = st.offset >= kBackgroundFreeBytes;
    return finishLoad(std::move(core), err);
}

bool DOMDocument::loadXML(const QByteArray& text)
{
    if (loadInProgress())
        return refuseNestedLoad(QString());
    const LoadScope running;
    const DOMDocumentPtr keepAlive = shared_from_this();
    setReadyState(1);
    LoadState st;
    st.memory = &text;
    st.total = text.size();
    DOMParseError err;
    xmlDocPtr doc = parseWith(st, QString(), m_validateOnParse, err);
    if (!doc)
        return finishLoad(detail::DocCore::createEmpty(), err);
    auto core = std::make_shared<detail::DocCore>(doc);
    learnLayout(*core, st.head);
    core->tagSpans = st.spans;
    core->sourceConverted = st.converted;
    core->rootEnd = st.rootEnd;
    core->loadedNodes = st.nodesKnown && !st.refused ? st.nodes : -1;
    core->sourceChars = st.spans && !st.converted ? st.chars : -1;
    core->sourceBytes = text; // shared, not copied
    return finishLoad(std::move(core), err);
}

} // namespace treelark
