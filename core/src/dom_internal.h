// Inside the DOM layer: the shared owner of one libxml2 tree and the node lists.
#pragma once

#include "treelark/dom.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <unordered_set>
#include <vector>

namespace treelark::detail {

inline QString toQ(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }
inline QString toQ(const xmlChar* s, qsizetype len) { return QString::fromUtf8(reinterpret_cast<const char*>(s), len); }

// Owns one xmlDoc and every node ever detached from it. Node handles share it, so a
// tree lives exactly as long as the last handle into it.
struct DocCore : std::enable_shared_from_this<DocCore> {
    explicit DocCore(xmlDocPtr d);
    ~DocCore();
    DocCore(const DocCore&) = delete;
    DocCore& operator=(const DocCore&) = delete;

    static std::shared_ptr<DocCore> createEmpty();
    // The DOMDocument this tree belongs to; a tree whose document has since loaded
    // another one (or is gone) gets a document object of its own.
    static DOMDocumentPtr ownerOf(const std::shared_ptr<DocCore>& core);

    DOMNode handle(xmlNodePtr n) { return n ? DOMNode(shared_from_this(), n) : DOMNode(); }
    static xmlNodePtr raw(const DOMNode& n) { return static_cast<xmlNodePtr>(n.m_node); }
    static const std::shared_ptr<DocCore>& coreOf(const DOMNode& n) { return n.m_core; }

    // A node with no parent is parked here so handles to it stay valid; parked nodes
    // that are still detached when the tree goes are freed with it.
    void park(xmlNodePtr n);
    // Every structural change bumps this, so cached list positions know they are stale.
    void touch() { ++generation; }

    xmlXPathContextPtr xpathContext();

    xmlDocPtr doc;
    std::unordered_set<xmlNodePtr> parked;
    std::weak_ptr<DOMDocument> owner;
    quint64 generation = 0;
    xmlXPathContextPtr xpath = nullptr;

    // How the loaded file looked, so that saving writes it back the same way.
    QByteArray indentUnit = "  ";
    bool formatOutput = true;
    bool hadDeclaration = true;
    QByteArray declaration;            // the XML declaration as the file wrote it (UTF-8)
    // A tree read from a large source is freed on a worker thread: freeing hundreds
    // of megabytes of nodes takes seconds the user should not wait for.
    bool freeInBackground = false;
    bool hadBom = false;
};

// Node lists come in three kinds: a snapshot (query results), the live children of a
// node, and a lazy document-order walk (every node, or elements of one name) that is
// never materialised, so counting a huge document costs no memory.
struct NodeListImpl {
    enum class Kind { Snapshot, Children, Walk };
    Kind kind = Kind::Snapshot;
    std::shared_ptr<DocCore> core;
    std::vector<xmlNodePtr> nodes;     // Snapshot
    xmlNodePtr root = nullptr;         // Children: the parent; Walk: the subtree root
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

    bool matches(xmlNodePtr n) const;
    xmlNodePtr walkNext(xmlNodePtr n) const;
    xmlNodePtr walkFirst() const;
    void invalidateIfStale();
};

std::shared_ptr<NodeListImpl> makeSnapshot(std::shared_ptr<DocCore> core, std::vector<xmlNodePtr> nodes);
std::shared_ptr<NodeListImpl> makeChildren(std::shared_ptr<DocCore> core, xmlNodePtr parent);
std::shared_ptr<NodeListImpl> makeWalk(std::shared_ptr<DocCore> core, xmlNodePtr root, const QByteArray& filter);

// Serialization shared by xml(), xmlLength(), save() and saveToBytes().
using ByteSink = std::function<bool(const char*, int)>;
bool serialize(DocCore& core, xmlNodePtr node, const ByteSink& sink, bool asFile);

// Document-order successor of n inside the subtree of root (attributes never visited).
inline xmlNodePtr nextInSubtree(xmlNodePtr n, xmlNodePtr root)
{
    // Entity references share their entity's children and a DTD holds declarations:
    // neither is part of the document's own tree.
    if (n->children && n->type != XML_ENTITY_REF_NODE && n->type != XML_ATTRIBUTE_NODE
        && n->type != XML_DTD_NODE)
        return n->children;
    while (n && n != root) {
        if (n->next)
            return n->next;
        n = n->parent;
    }
    return nullptr;
}

// A name written "prefix:local" can only be saved and read back when the prefix is
// declared where the name is used (or is one of the reserved xml and xmlns). Refuses
// the name otherwise. `scope` is the element the name is used on or under; nullptr
// means the document element.
void requireDeclaredPrefix(xmlDocPtr doc, xmlNodePtr scope, const QByteArray& qname, const QString& what);

[[noreturn]] void raise(long number, const QString& description);
[[noreturn]] void raiseNothing();

} // namespace treelark::detail
