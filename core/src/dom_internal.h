// Inside the DOM layer: the shared owner of one libxml2 tree and the node lists.
#pragma once

#include "treelark/dom.h"
#include "pointer_set.h"

#include <QDateTime>

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace treelark::detail {

struct Journal;

inline QString toQ(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }
inline QString toQ(const xmlChar* s, qsizetype len) { return QString::fromUtf8(reinterpret_cast<const char*>(s), len); }

// Owns one xmlDoc and the nodes detached from it that someone still holds. The document,
// node lists, change sets and the handles into its nodes (through the count below) share
// it, so a tree lives exactly as long as the last of them.
//
// Handle bookkeeping lives in each node's _private word: bit 0 marks a node made through
// the API whose name is still to be resolved against the namespaces of the place it is
// first put in (see dom_namespaces.cpp); the rest counts the handles to the node. A
// namespace declaration's _private instead holds the element it was handed out from
// (kRetiredDeclaration once that element no longer has it), as declarations are not counted: they are tiny, and one handed out is
// kept until the tree goes.
struct DocCore : std::enable_shared_from_this<DocCore> {
    explicit DocCore(xmlDocPtr d);
    ~DocCore();
    DocCore(const DocCore&) = delete;
    DocCore& operator=(const DocCore&) = delete;

    static std::shared_ptr<DocCore> createEmpty();
    // A fresh tree for copies of this one's nodes, written out the way this one is.
    std::shared_ptr<DocCore> createSibling() const;
    // The DOMDocument this tree belongs to; a tree whose document has since loaded
    // another one (or is gone) gets a document object of its own.
    static DOMDocumentPtr ownerOf(const std::shared_ptr<DocCore>& core);

    DOMNode handle(xmlNodePtr n) { return n ? DOMNode(shared_from_this(), n) : DOMNode(); }
    static xmlNodePtr raw(const DOMNode& n) { return static_cast<xmlNodePtr>(n.m_node); }

    // The tree a node is in now: its document's psvi word names it (a document node's own
    // _private word counts the handles to it, like any node's). A node moved to another
    // document finds that one's tree from then on.
    static DocCore* of(const xmlDoc* d) { return static_cast<DocCore*>(d->psvi); }
    // The tree a handle's node is in (a namespace declaration's handle keeps the tree it was
    // handed out from: declarations are not counted, see below).
    static DocCore* of(const DOMNode& h)
    {
        return h.m_node && !isDeclaration(h.m_node) ? of(static_cast<xmlNodePtr>(h.m_node)->doc) : h.m_core.get();
    }
    static std::shared_ptr<DocCore> shared(const DOMNode& h) { return of(h)->shared_from_this(); }
    static bool isDeclaration(const void* n) { return static_cast<const xmlNode*>(n)->type == XML_NAMESPACE_DECL; }

    // Node handles keep the tree their node is in now alive, not the one they were made
    // in: while any exist, the tree holds itself. A subtree moving to another document
    // takes its handles' share along (see adoptInto).
    void pin(qint64 handlesAdded)
    {
        if (handlesAdded > 0 && handles == 0)
            self = shared_from_this();
        handles += handlesAdded;
    }
    // Gives back the tree's hold on itself once no handle is left: the caller lets it go
    // when it no longer touches the tree.
    [[nodiscard]] std::shared_ptr<DocCore> unpin(qint64 handlesGone)
    {
        handles -= handlesGone;
        return handles == 0 ? std::move(self) : nullptr;
    }
    // One handle more on n (never a namespace declaration), and one less: a detached node
    // nobody holds any more is freed, and the tree's own hold is handed back to be let go.
    static void hold(xmlNodePtr n);
    [[nodiscard]] static std::shared_ptr<DocCore> letGo(xmlNodePtr n) noexcept;

    // A node just made, not yet placed: kept until its last handle goes.
    void adopt(xmlNodePtr n);
    // A node just taken out of the tree: kept while a handle holds it, freed at once
    // otherwise.
    void detached(xmlNodePtr n);
    // The last handle to n went.
    void unheld(xmlNodePtr n);
    // Every structural change bumps the generation, so cached list positions know they are
    // stale; every change at all marks the tree modified, so a save can no longer write
    // the bytes it was read from. That holds for changes to detached nodes too: a node
    // moved out of the tree into a detached one changed what the document holds.
    void changed(xmlNodePtr at)
    {
        ++generation;
        noteChange(at);
    }
    void noteChange(xmlNodePtr at);
    // A change to what stands at document level (anything put in or taken out there can
    // move what is before and after the document element).
    void notePrologChange(xmlNodePtr parent, xmlNodePtr /*child*/)
    {
        if (parent && parent == reinterpret_cast<xmlNodePtr>(doc))
            prologChanged = true;
    }

    xmlXPathContextPtr xpathContext();

    xmlDocPtr doc;
    qint64 handles = 0;                        // node handles into this tree
    std::shared_ptr<DocCore> self;             // set while there are any
    std::vector<Journal*> journals;            // change sets that may put nodes back here
    PointerSet<xmlNode> parked;                // detached roots somebody holds
    std::vector<xmlNsPtr> retiredNs;           // declarations handed out, then removed
    std::weak_ptr<DOMDocument> owner;
    quint64 generation = 0;
    bool modified = false;
    // Where the tree was read from, to write those same bytes while it is unmodified: a
    // file (checked against its size and a hash taken while reading) or the bytes
    // themselves (loadXML, small downloads).
    QString sourcePath;
    qint64 sourceSize = -1;
    quint64 sourceHash = 0;
    // The file as this document last read or wrote it, to tell whether someone else
    // changed it since; starts as the source and follows saves over the same file.
    QString diskPath;
    qint64 diskSize = -1;
    QDateTime diskModified;
    quint64 diskHash = 0;
    QByteArray sourceBytes;
    xmlXPathContextPtr xpath = nullptr;

    // How the loaded file looked, so that saving writes it back the same way.
    QByteArray indentUnit = "  ";
    bool formatOutput = true;
    bool hadDeclaration = true;
    QByteArray declaration;            // the XML declaration as the file wrote it (UTF-8)
    // Everything before the document element as the file has it (byte-order mark,
    // declaration, comments, DOCTYPE with its internal subset, blank lines), written back
    // as it is while nothing at document level before the element changed.
    QByteArray prolog;
    bool prologKnown = false;
    bool prologChanged = false;
    bool tagSpans = false; // elements carry where their start tags stand in the source
    bool sourceConverted = false; // ... in its UTF-8 text: the file is in another encoding
    // Counted while reading, good until the first change: the nodes "//" lists, and the
    // UTF-16 length of the text as read (UTF-8 sources).
    qint64 loadedNodes = -1;
    qint64 sourceChars = -1;
    qint64 rootEnd = -1;   // where the document element ends in the source: the epilog follows
    // A tree read from a large source is freed on a worker thread: freeing hundreds
    // of megabytes of nodes takes seconds the user should not wait for.
    bool freeInBackground = false;
    bool hadBom = false;

private:
    void freeDetached(xmlNodePtr root);
};

// ---- the change journal (dom_journal.cpp) ----
//
// While a document records its changes (DOMDocument::beginChanges), every primitive step
// taken on its tree is noted before or after it happens: a node linked or unlinked, a
// text or attribute value, a name, a namespace pointer or declaration list, a node's
// marks. Undoing replays the notes backwards, each swapping the state it kept with the
// tree's; redoing replays them forwards. Replaying is raw pointer work, so what comes
// back is exactly the tree that was there (layout, marks and namespaces included), and
// a node taken out and put back is the same node: handles to it stay good.
inline thread_local Journal* tJournal = nullptr;
inline thread_local const void* tJournalDoc = nullptr;
inline bool recording(const void* doc) { return tJournal && doc == tJournalDoc; }
void recordLinked(xmlNodePtr n);        // n was just linked where it now stands
void recordUnlinking(xmlNodePtr n);     // n is about to be unlinked
void recordContent(xmlNodePtr n);       // n's text is about to change
// An attribute's value is about to be replaced: while recording, the journal takes the
// old children (text and entity references) and answers true.
bool keepAttributeValue(xmlNodePtr attr);
void recordName(xmlNodePtr n);          // n's name is about to change
void recordNs(xmlNodePtr n);            // n->ns is about to change
void recordNsDefs(xmlNodePtr el);       // el->nsDef is about to change
void recordHref(xmlNsPtr ns);           // ns->href is about to change
void recordMarks(xmlNodePtr n);         // n's marks are about to change
// Namespace fix-ups libxml2 makes in a subtree on its own are noted by comparing the
// subtree's namespace state before and after.
struct NsSnapshot {
    std::unordered_map<xmlNodePtr, xmlNsPtr> ns;                 // named nodes
    std::unordered_map<xmlNodePtr, std::vector<xmlNsPtr>> defs;  // elements with declarations
    std::vector<xmlNodePtr> elements;
};
std::unique_ptr<NsSnapshot> snapshotNamespaces(xmlNodePtr subtree);
void recordNamespaceChanges(const NsSnapshot& before);

inline void* const kRetiredDeclaration = reinterpret_cast<void*>(1);
inline bool isNsDecl(const void* n) { return static_cast<const xmlNode*>(n)->type == XML_NAMESPACE_DECL; }

// The handle count and the marks of a node (never of a namespace declaration).
constexpr intptr_t kPendingBit = 1;     // a name still to be resolved where it is placed
constexpr intptr_t kFormattingBit = 2;  // blanks that only lay the file out (see below)
constexpr intptr_t kTagChangedBit = 4;  // an element whose start tag no longer reads as in the file
constexpr int kCountShift = 3;
inline intptr_t privateWord(xmlNodePtr n) { return reinterpret_cast<intptr_t>(n->_private); }
inline void setPrivateWord(xmlNodePtr n, intptr_t w) { n->_private = reinterpret_cast<void*>(w); }
inline intptr_t handleCount(xmlNodePtr n) { return privateWord(n) >> kCountShift; }
inline void countHandle(xmlNodePtr n, int delta) { setPrivateWord(n, privateWord(n) + (intptr_t(delta) << kCountShift)); }
inline bool pendingName(xmlNodePtr n) { return privateWord(n) & kPendingBit; }
constexpr intptr_t kMarkBits = (intptr_t(1) << kCountShift) - 1;
// Sets the marks (the count is left alone: noting the change may add a handle).
inline void setMarks(xmlNodePtr n, intptr_t word)
{
    if ((word & kMarkBits) != (privateWord(n) & kMarkBits) && recording(n->doc))
        recordMarks(n);
    setPrivateWord(n, (privateWord(n) & ~kMarkBits) | (word & kMarkBits));
}
inline void setPendingName(xmlNodePtr n, bool on)
{
    setMarks(n, (privateWord(n) & ~kPendingBit) | (on ? kPendingBit : 0));
}

// Formatting: the blank text between elements that only indents the file (what the
// parser calls ignorable whitespace: not inside xml:space="preserve", not beside other
// text). It stays in the tree so that the file is written back as it was laid out, but
// it is not part of the document as the DOM shows it: no list, walk, query or text
// includes it, and no handle to it is ever given out.
inline bool isFormatting(const xmlNode* n) { return n && (reinterpret_cast<intptr_t>(n->_private) & kFormattingBit); }
inline void markFormatting(xmlNodePtr n) { setMarks(n, privateWord(n) | kFormattingBit); }

// Where an element's start tag (or a text node's text) stands in the file it was read from
// (UTF-8 files only), kept in the node's psvi word (unused without schema validation): the
// offset and the length. Saving an edited document writes them as the file has them unless
// they changed, so quoting, attribute order, spacing and references survive.
constexpr int kSpanLengthBits = 24;
inline void setTagSpan(xmlNodePtr el, quint64 offset, quint64 length)
{
    el->psvi = length < (quint64(1) << kSpanLengthBits) && offset < (quint64(1) << 39)
        ? reinterpret_cast<void*>(static_cast<uintptr_t>((offset << kSpanLengthBits) | length))
        : nullptr;
}
inline bool tagSpan(const xmlNode* el, quint64* offset, quint64* length)
{
    const auto w = static_cast<quint64>(reinterpret_cast<uintptr_t>(el->psvi));
    if (!w)
        return false;
    *offset = w >> kSpanLengthBits;
    *length = w & ((quint64(1) << kSpanLengthBits) - 1);
    return true;
}
// On an element: its start tag has changed; on an attribute: it is new, or its name or
// value changed (the others are written as the file has them).
inline bool tagChanged(const xmlNode* n) { return reinterpret_cast<intptr_t>(n->_private) & kTagChangedBit; }
inline void markTagChanged(xmlNodePtr el)
{
    if (el && (el->type == XML_ELEMENT_NODE || el->type == XML_TEXT_NODE))
        setMarks(el, privateWord(el) | kTagChangedBit);
}
inline void markAttributeChanged(xmlNodePtr attr)
{
    setMarks(attr, privateWord(attr) | kTagChangedBit);
    markTagChanged(attr->parent);
}
// A renamed attribute remembers the name the file gave it (in its psvi word, which an
// attribute does not otherwise use), so that saving writes it where it stood. A hash, not
// a pointer: the word may be copied along with the attribute into another document.
inline void *nameMark(const QByteArray& qname)
{
    quint64 h = 1469598103934665603ull;
    for (char c : qname)
        h = (h ^ quint8(c)) * 1099511628211ull;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(h | 1));
}
inline void rememberFileName(xmlAttrPtr a, const QByteArray& qname)
{
    if (!a->psvi)
        a->psvi = nameMark(qname);
}

inline xmlNodePtr visible(xmlNodePtr n, bool forward)
{
    while (n && isFormatting(n))
        n = forward ? n->next : n->prev;
    return n;
}

// Node lists come in three kinds: a snapshot (query results), the live children of a
// node, and a lazy document-order walk (every node, or elements of one name) that is
// never materialised, so counting a huge document costs no memory.
struct NodeListImpl {
    enum class Kind { Snapshot, Children, Walk };
    Kind kind = Kind::Snapshot;
    NodeListImpl() = default;
    ~NodeListImpl();
    NodeListImpl(const NodeListImpl&) = delete;
    NodeListImpl& operator=(const NodeListImpl&) = delete;
    std::shared_ptr<DocCore> core;     // Snapshot: the tree the query ran over
    std::vector<xmlNodePtr> nodes;     // Snapshot: each held as a handle holds its node
    xmlNodePtr root = nullptr;         // Children: the parent; Walk: the subtree root
    DOMNode rootHold;                  // keeps root (and the tree it is in now) alive
    DocCore* cacheCore = nullptr;      // the tree the position cache was taken in
    QByteArray nameFilter;             // Walk: element name or path ("" = every node)
    std::vector<QByteArray> pathSteps; // Walk: name filter split at "/"
    qint64 cursor = 0;                 // nextNode position

    // position cache for Children and Walk
    quint64 cacheGen = ~quint64(0);
    qint64 cacheIndex = -1;
    xmlNodePtr cacheNode = nullptr;
    qint64 cacheLength = -1;

    qint64 length();
    xmlNodePtr item(qint64 index);
    // The tree the listed nodes are in now: a node whose children are listed may have
    // moved to another document.
    DocCore* live() const { return kind == Kind::Snapshot ? core.get() : DocCore::of(root->doc); }

    bool matches(xmlNodePtr n) const;
    xmlNodePtr walkNext(xmlNodePtr n) const;
    xmlNodePtr walkFirst() const;
    void invalidateIfStale();
};

std::shared_ptr<NodeListImpl> makeSnapshot(std::shared_ptr<DocCore> core, std::vector<xmlNodePtr> nodes);
std::shared_ptr<NodeListImpl> makeChildren(std::shared_ptr<DocCore> core, xmlNodePtr parent);
std::shared_ptr<NodeListImpl> makeWalk(std::shared_ptr<DocCore> core, xmlNodePtr root, const QByteArray& filter);

// Links child under parent before `before` (at the end when nullptr), without libxml2's
// merging of adjacent text nodes, which would free a node a handle may point to.
inline void link(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr before)
{
    child->parent = parent;
    child->next = before;
    child->prev = before ? before->prev : parent->last;
    if (child->prev)
        child->prev->next = child;
    else
        parent->children = child;
    if (before)
        before->prev = child;
    else
        parent->last = child;
    if (recording(child->doc))
        recordLinked(child);
}

void keepUnlinked(xmlNodePtr n);
// Takes n out of its parent (a node or an attribute). While recording, the journal keeps
// n (so it can be put back) and this answers true; otherwise n is the caller's to free.
inline bool unlink(xmlNodePtr n)
{
    const bool kept = n->parent && recording(n->doc);
    if (kept)
        recordUnlinking(n);
    xmlUnlinkNode(n);
    if (kept)
        keepUnlinked(n);
    return kept;
}
// Sets a node's namespace pointer, noting it while recording.
inline void setNs(xmlNodePtr n, xmlNsPtr ns)
{
    if (n->ns != ns && recording(n->doc))
        recordNs(n);
    n->ns = ns;
}

// A hash of a byte stream, fed in pieces: enough to tell that a file is still the one
// that was read (not meant to resist anyone making two files alike on purpose).
// Eight bytes a step; the pieces may be cut anywhere (a partial word waits for the next).
struct StreamHash {
    quint64 value = 1469598103934665603ULL;
    quint64 pending = 0;
    int pendingBytes = 0;
    void mix(quint64 w)
    {
        value = (value ^ w) * 0x9E3779B97F4A7C15ULL;
        value ^= value >> 29;
    }
    void add(const char* data, qsizetype len)
    {
        qsizetype i = 0;
        while (i < len && pendingBytes != 0) {
            pending |= quint64(static_cast<unsigned char>(data[i++])) << (8 * pendingBytes);
            if (++pendingBytes == 8) {
                mix(pending);
                pending = 0;
                pendingBytes = 0;
            }
        }
        for (; i + 8 <= len; i += 8) {
            quint64 w;
            memcpy(&w, data + i, 8);
            mix(w);
        }
        for (; i < len; ++i)
            pending |= quint64(static_cast<unsigned char>(data[i])) << (8 * pendingBytes++);
    }
    quint64 result() const { return value ^ (pending * 0xFF51AFD7ED558CCDULL) ^ quint64(pendingBytes); }
};

// Serialization shared by xml(), xmlLength(), save() and saveToBytes().
using ByteSink = std::function<bool(const char*, int)>;
bool serialize(DocCore& core, xmlNodePtr node, const ByteSink& sink, bool asFile);
bool writeSource(const DocCore& core, const ByteSink& sink);
bool readAsText(const DocCore& core, xmlNodePtr n);
// Refuses (DOMError::WriteFailed, naming node and character) a subtree holding a comment,
// an instruction, a CDATA section or a name with a character `enc` cannot write: a
// character reference there would read back as other text, or not at all.
void requireEncodable(xmlNodePtr top, const char* enc);
// A file's bytes in the encoding `enc` as the UTF-8 text the parser converts them to
// (empty when they cannot be converted).
QByteArray utf8TextOf(const QByteArray& raw, const char* enc);
// The source the tree was read from, if it is still there unchanged (empty otherwise).
QByteArray readSource(const DocCore& core);
// An edited text node with the file's bytes for the stretches the edit left alone; false
// when the file's text cannot serve.
bool putEditedText(xmlOutputBufferPtr out, xmlNodePtr n, const QByteArray& source);
// Writes the subtree of top, start tags as read where the tree still says what they say.
void writeWithTags(xmlOutputBufferPtr out, xmlDocPtr doc, xmlNodePtr top, const QByteArray& source);

// Document-order successor of n inside the subtree of root (attributes never visited).
inline xmlNodePtr nextInSubtree(xmlNodePtr n, xmlNodePtr root)
{
    // Entity references share their entity's children and a DTD holds declarations:
    // neither is part of the document's own tree.
    if (n->children && n->type != XML_ENTITY_REF_NODE && n->type != XML_ATTRIBUTE_NODE
        && n->type != XML_DTD_NODE)
        if (xmlNodePtr c = visible(n->children, true))
            return c;
    while (n && n != root) {
        if (xmlNodePtr next = visible(n->next, true))
            return next;
        n = n->parent;
    }
    return nullptr;
}

// ---- namespaces (dom_namespaces.cpp) ----

// Whether n is in the document's own tree (not detached, not inside something detached).
bool inDocumentTree(xmlNodePtr n);
// A copy of n (deep or not) made in doc, carrying the pending-name marks along.
xmlNodePtr copyInto(xmlNodePtr n, xmlDocPtr doc, bool deep);
// xmlDocCopyNode(top, doc, 1) for an element, made a node at a time with ticks (dom_copy.cpp).
xmlNodePtr copyElementInSteps(xmlNodePtr top, xmlDocPtr doc);
// A copy came back empty: stopped by the user (DOMError::Cancelled) or out of memory.
[[noreturn]] void raiseCopyFailed();
// Before `subtree` goes under `parent`: refuses when a pending prefixed name in it would
// enter the document with no declaration in scope there. Changes nothing.
void checkPlacement(xmlNodePtr parent, xmlNodePtr subtree);
// After `subtree` was linked in its new place: resolves pending names there and makes
// every namespace reference point to a declaration in scope, adding declarations where
// needed (xmlns="" included), so each node keeps its namespace.
void settleNamespaces(xmlNodePtr subtree);
// Takes n out of its parent so that its subtree no longer refers to declarations above it.
void unlinkKeepingNamespaces(xmlNodePtr n);
// Resolves a prefixed name for an element or attribute on/under `scope` now; returns
// nullptr when nothing declares the prefix there (the name then stays pending).
xmlNsPtr lookupPrefix(xmlNodePtr scope, const QByteArray& prefix);
// Namespace declarations as attributes.
bool isDeclarationName(const QByteArray& qname);
xmlNsPtr findDeclaration(xmlNodePtr el, const QByteArray& qname);
void setDeclaration(DocCore& core, xmlNodePtr el, const QByteArray& qname, const QByteArray& uri);
void removeDeclaration(DocCore& core, xmlNodePtr el, xmlNsPtr ns);
void setDeclarationValue(DocCore& core, xmlNsPtr ns, const QByteArray& uri);
QString declarationName(xmlNsPtr ns);
// The handle to a namespace declaration of `el` (an attribute to the DOM's users).
DOMNode declarationHandle(const std::shared_ptr<DocCore>& core, xmlNodePtr el, xmlNsPtr ns);
// An attribute's name may be set on el: no other attribute has the same expanded name.
void checkAttributeName(xmlNodePtr el, xmlAttrPtr self, xmlNsPtr ns, const xmlChar* local);
// Why n (an element or attribute) cannot be renamed to qname where it stands, or "" when it
// can: then the namespace the name resolves to and its local part (dom_rename.cpp). Without
// `attributesToo`, another attribute of the element holding the name is not checked.
QString renameRefusal(xmlNodePtr n, const QByteArray& qname, xmlNsPtr* ns, QByteArray* local,
                      bool attributesToo = true);

// ---- placing nodes (dom_insert.cpp) ----

// "an attribute", "text", ... for messages that name a kind of node.
QString typeWord(xmlNodePtr n);
// Whether n holds children of its own in the tree (a DOCTYPE's declarations are not).
bool hasOwnChildren(xmlNodePtr n);
// Moves n (in its tree or detached) out of its document into to's, detached there: the
// handles to it and to anything inside it go with it (see DocCore::pin).
void adoptInto(DocCore& to, xmlNodePtr n);
// Whether a change set of n's document names something in n's subtree (so it may put it
// back there).
bool namedByChangeSet(xmlNodePtr n);

// ---- what parsers may read besides their input (dom_load.cpp) ----

// Every parser in the program reads external entities through one loader, installed
// here once. A load reads by its own rules (see dom_load.cpp); any other parser on this
// thread gets tOtherLoader while one is set, and libxml2's own loader otherwise.
void installEntityLoader();
using EntityLoader = xmlParserInputPtr (*)(const char* url, const char* id, xmlParserCtxtPtr ctxt);
inline thread_local EntityLoader tOtherLoader = nullptr;

[[noreturn]] void raise(DOMError code, const QString& description);
[[noreturn]] void raiseNothing();

} // namespace treelark::detail
