/// \file
/// The document object model every part of Treelark reads and edits XML through:
/// a thin layer of value handles over libxml2 trees.
///
/// Errors, across the core: a DOM call (DOMNode, DOMDocument, DOMNodeList, DOMChangeSet)
/// that is refused raises DOMException carrying a DOMError and a readable description, and
/// changes nothing; a call that answers a question (getAttribute, item, firstChild, ...)
/// answers "" or nothing where there is nothing to find, never on a failure. The manager
/// (ApXmlMgr) and the element index (DocumentIndex) return their result and say why a call
/// failed through lastError(); see ApXmlMgr.h for the manager calls that hand a DOM
/// refusal on. No layer turns a failure it does not know into a default value silently.
///
/// Handles never dangle. A node handle keeps the tree its node is in alive, wherever the
/// node goes. A node taken out of its tree (removeChild, removeAttribute, a replaced text)
/// lives exactly as long as a handle to it, or to something inside it, exists: the last
/// handle going frees it, and a node inside it that someone still holds is kept as a
/// detached node of its own. A copy (cloneNode) is made in a document of its own, so it
/// never keeps its source alive. A document that is reloaded gets a fresh tree; handles
/// into the old tree keep that old tree alive.
///
/// Identity: the node given to insertBefore, appendChild or replaceChild is the node that
/// stands in the tree afterwards (insertBefore and appendChild return it, replaceChild the
/// node it took out). A node of another document (a copy, or a node taken from another
/// document's tree) moves into this document, leaving its old place; handles to it and to
/// anything inside it follow it there. A node that a change set of its own document may
/// put back (DOMChangeSet) stays there: inserting it elsewhere is refused.
///
/// Namespaces: every element and attribute keeps its namespace wherever it is moved or
/// copied to; declarations are added where it lands when needed. A name with a prefix made
/// on a node that is not yet in the document is resolved where the node is first placed
/// (and refused there if nothing declares the prefix); an element made without a prefix
/// takes the default namespace of the place it is first put in. Namespace declarations
/// ("xmlns", "xmlns:p") are listed and edited as attributes.
#pragma once

#include "treelark/export.h"

#include <QMetaType>
#include <QString>
#include <QByteArray>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace treelark {

namespace detail {
struct DocCore;
struct NodeListImpl;
}

enum DOMNodeType : int {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_ENTITY_REFERENCE = 5,
    NODE_ENTITY = 6,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
    NODE_DOCUMENT_TYPE = 10,
    NODE_DOCUMENT_FRAGMENT = 11,
    NODE_NOTATION = 12,
};

/// Why the DOM refused an operation. The numbers are what the program shows users and
/// are kept stable.
enum class DOMError : long {
    HierarchyRequest = 3,   ///< the node may not go there (type, place, or its own ancestor)
    InvalidArgument = 5,    ///< a name or value XML cannot hold
    OutOfMemory = 7,
    NotFound = 8,           ///< a reference or old node that is not a child of this node
    InUse = 10,             ///< a namespace declaration that names in its scope still use
    Namespace = 14,         ///< a prefix without a declaration, or a declaration XML forbids
    NotSupported = 17,      ///< an operation this kind of node does not have
    WriteFailed = 75,       ///< path/file access error on save
    ObjectNotSet = 91,      ///< a method called on "nothing"
    BadQuery = 1000,        ///< selection text that is not a location path
    Busy = 1001,            ///< a document is being loaded; loads do not nest
    Cancelled = 1002,       ///< the user stopped the load (see requestCancel)
};

/// What every refused DOM operation throws: a stable number and a readable description.
class TREELARK_CORE_EXPORT DOMException : public std::runtime_error {
public:
    DOMException(DOMError code, const QString& description);
    DOMError code() const { return m_code; }
    long number() const { return long(m_code); }
    QString description() const { return m_description; }
    /// The component that raised the error, shown after the description.
    QString source() const { return QStringLiteral("Treelark.DOMDocument"); }

private:
    DOMError m_code;
    QString m_description;
};

/// Throws DOMError::Cancelled ("Stopped; the document is as it was.") when the user asked
/// the long command under way to stop (see runLongCommand in Busy.h); long steps call it
/// as they go, and the edit step around them is then taken back whole.
TREELARK_CORE_EXPORT void throwIfStopped();

class DOMDocument;
using DOMDocumentPtr = std::shared_ptr<DOMDocument>;
class DOMNodeList;
class DOMNamedNodeMap;

/// A handle to a node of a document, or "nothing" (isNull()). Copies are cheap and refer to
/// the same node; operations on nothing throw DOMException with DOMError::ObjectNotSet.
class TREELARK_CORE_EXPORT DOMNode {
public:
    // Handles to nothing are made and dropped by the million when a viewer lists rows of
    // other kinds beside them: that much stays inline and costs nothing.
    DOMNode() = default;
    DOMNode(const DOMNode& o) : m_core(o.m_core), m_node(o.m_node)
    {
        if (m_node)
            retain();
    }
    DOMNode(DOMNode&& o) noexcept : m_core(std::move(o.m_core)), m_node(o.m_node) { o.m_node = nullptr; }
    DOMNode& operator=(const DOMNode& o);
    DOMNode& operator=(DOMNode&& o) noexcept;
    ~DOMNode()
    {
        if (m_node)
            release();
    }

    bool isNull() const { return m_node == nullptr; }
    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const DOMNode& o) const { return m_node == o.m_node; }
    bool operator!=(const DOMNode& o) const { return m_node != o.m_node; }

    QString nodeName() const;
    QString baseName() const;          ///< local part of the name, "" for nodes without one
    QString namespaceURI() const;      ///< "" for nodes in no namespace
    int nodeType() const;
    QString nodeTypeString() const;    ///< "element", "text", "comment", ...
    QString nodeValue() const;         ///< null QString for elements, documents and entity refs
    void setNodeValue(const QString& value);

    QString text() const;              ///< concatenated text of the subtree
    void setText(const QString& text); ///< replaces the children by one text node
    /// The text of the subtree, but no more than maxChars characters; `truncated` tells
    /// whether more was there. Walks only as far as it needs to.
    QString textPrefix(qsizetype maxChars, bool* truncated = nullptr) const;

    QString xml() const;               ///< the subtree serialized, indented like its document
    QByteArray xmlUtf8() const;        ///< xml() as UTF-8, for texts too large to copy twice
    qint64 xmlLength() const;          ///< characters of xml(), counted without building it

    DOMNamedNodeMap attributes() const; ///< null map for nodes that have none
    DOMNodeList childNodes() const;     ///< live list
    DOMNode firstChild() const;
    DOMNode lastChild() const;
    DOMNode nextSibling() const;
    DOMNode previousSibling() const;
    DOMNode parentNode() const;         ///< nothing at the top and for attributes
    /// The element an attribute (or namespace declaration) is on; nothing for other nodes
    /// and for an attribute on no element.
    DOMNode ownerElement() const;
    DOMDocumentPtr ownerDocument() const;
    bool hasChildNodes() const;
    qint64 childCount() const;

    DOMNodeList selectNodes(const QString& expression) const;
    DOMNode selectSingleNode(const QString& expression) const;

    DOMNode appendChild(const DOMNode& newChild);
    DOMNode insertBefore(const DOMNode& newChild, const DOMNode& refChild);
    DOMNode removeChild(const DOMNode& oldChild);
    /// Puts newChild where oldChild stands and takes oldChild out; returns oldChild.
    DOMNode replaceChild(const DOMNode& newChild, const DOMNode& oldChild);
    DOMNode cloneNode(bool deep) const;

    /// \name Elements
    void setAttribute(const QString& name, const QString& value);
    void removeAttribute(const QString& name);
    QString getAttribute(const QString& name) const; ///< "" when absent

    /// Renames an element or attribute in place (the node stays the same node). A prefix
    /// must be declared where the node stands and keeps that namespace; an element without
    /// one takes the default namespace there. Refused: a name XML cannot hold, a namespace
    /// declaration's name, an attribute name its element already has.
    void setNodeName(const QString& qualifiedName);

    /// \name Attributes
    QString name() const { return nodeName(); }
    QString value() const;
    void setValue(const QString& value);

    std::size_t hash() const { return std::hash<const void*>()(m_node); }

private:
    friend struct detail::DocCore;
    friend class DOMDocument;
    friend class DOMNodeList;
    friend class DOMNamedNodeMap;
    friend struct detail::NodeListImpl;
    TREELARK_CORE_NO_EXPORT DOMNode(std::shared_ptr<detail::DocCore> core, void* node);
    TREELARK_CORE_NO_EXPORT void* requireNode() const;
    void retain();
    void release() noexcept;

    std::shared_ptr<detail::DocCore> m_core;
    void* m_node = nullptr;
};

/// A node list: a snapshot (query results) or the live children of a node.
/// Copies of a handle share one list, including its nextNode cursor.
class TREELARK_CORE_EXPORT DOMNodeList {
public:
    DOMNodeList() = default;
    bool isNull() const { return !m_impl; }
    explicit operator bool() const { return bool(m_impl); }

    qint64 length() const;
    DOMNode item(qint64 index) const;   ///< nothing when out of range
    DOMNode nextNode() const;           ///< nothing at the end
    void reset() const;

private:
    friend class DOMNode;
    friend class DOMDocument;
    friend struct detail::DocCore;
    explicit DOMNodeList(std::shared_ptr<detail::NodeListImpl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<detail::NodeListImpl> m_impl;
};

/// The attributes of an element, in document order.
class TREELARK_CORE_EXPORT DOMNamedNodeMap {
public:
    DOMNamedNodeMap() = default;
    bool isNull() const { return m_owner.isNull(); }
    explicit operator bool() const { return !m_owner.isNull(); }

    qint64 length() const;
    DOMNode item(qint64 index) const;             ///< nothing when out of range
    DOMNode getNamedItem(const QString& name) const; ///< nothing when absent

private:
    friend class DOMNode;
    explicit DOMNamedNodeMap(DOMNode owner) : m_owner(std::move(owner)) {}
    DOMNode m_owner;
};

/// The changes made to one document between DOMDocument::beginChanges() and endChanges(),
/// able to take them back and make them again exactly: the document then serializes byte
/// for byte as it did, and every node taken out and put back is the same node (handles to
/// it stay good). Undo and redo must alternate, starting with undo, with the document in
/// the state the set left it in (as an undo history does). A set keeps alive what it may
/// have to put back: removed nodes, old values.
class TREELARK_CORE_EXPORT DOMChangeSet {
public:
    ~DOMChangeSet();
    DOMChangeSet(const DOMChangeSet&) = delete;
    DOMChangeSet& operator=(const DOMChangeSet&) = delete;
    bool isEmpty() const;
    void undo();
    void redo();
    bool isUndone() const;
    /// Roughly the bytes this set keeps alive (removed subtrees, old values).
    qint64 cost() const;
    /// For views that follow the document: the nodes whose children changed, and the
    /// nodes whose own attributes, name or value changed (only nodes the DOM shows).
    const std::vector<DOMNode>& changedParents() const;
    const std::vector<DOMNode>& changedNodes() const;

private:
    friend class DOMDocument;
    TREELARK_CORE_NO_EXPORT DOMChangeSet();
    struct Impl;
    std::unique_ptr<Impl> d;
};

struct DOMParseError {
    long errorCode = 0;   ///< 0 = the last load succeeded
    QString reason;
    QString url;
    qint64 line = 0;
    qint64 linepos = 0;
    QString srcText; ///< the source line holding the fault, as far as the parser still had it
};

/// One XML document, always held through a DOMDocumentPtr made by create().
class TREELARK_CORE_EXPORT DOMDocument : public std::enable_shared_from_this<DOMDocument> {
public:
    static DOMDocumentPtr create();
    ~DOMDocument();
    DOMDocument(const DOMDocument&) = delete;
    DOMDocument& operator=(const DOMDocument&) = delete;

    /// Loading is always synchronous; `async` is kept for callers that set it.
    bool async() const { return m_async; }
    void setAsync(bool v) { m_async = v; }
    bool validateOnParse() const { return m_validateOnParse; }
    void setValidateOnParse(bool v) { m_validateOnParse = v; }

    int readyState() const { return m_readyState; }   ///< 0 uninitialized .. 4 complete
    const DOMParseError& parseError() const { return m_parseError; }

    /// Ready-state notifications, raised synchronously inside load(), to every listener in
    /// the order they were added. Returns an id for removeReadyStateListener.
    int addReadyStateListener(std::function<void()> handler);
    void removeReadyStateListener(int id);
    /// Progress while reading: bytes read so far and the total (-1 when unknown).
    void setOnProgress(std::function<void(qint64, qint64)> handler) { m_onProgress = std::move(handler); }

    /// A path, a file:/// URL or an http(s):// URL. Returns whether the document parsed.
    /// Loads do not nest: one started while another is running (from an event handled
    /// while the first keeps the window painted) is refused with DOMError::Busy in
    /// parseError and changes nothing.
    bool load(const QString& url);
    static bool loadInProgress();
    /// Parses XML text held in memory (no file or network involved).
    bool loadXML(const QByteArray& text);

    /// Writes the whole document through a temporary file renamed over the target;
    /// throws DOMException and leaves any old file untouched on failure. A document whose
    /// last load failed holds nothing that was read and is refused.
    void save(const QString& path) const;
    QByteArray saveToBytes() const;
    /// Whether `path` names the file this document was read from and that file is no
    /// longer as this document last read or wrote it (its size, modification time or
    /// content differ, or it is gone). False for any other path, and for documents that
    /// did not come from a file.
    bool changedOnDisk(const QString& path) const;

    DOMNode documentElement() const;
    void setDocumentElement(const DOMNode& element);
    DOMNode asNode() const;             ///< the document node itself (type 9)

    DOMNode createNode(int type, const QString& name, const QString& namespaceURI);
    DOMNode createElement(const QString& tagName);
    DOMNode createTextNode(const QString& data);
    DOMNode createComment(const QString& data);
    /// A copy of `node` (of any document) made in this one, detached, ready to be put in
    /// its tree: unlike cloneNode's copy it has no document of its own to move out of,
    /// which for a large subtree is most of the cost of putting it in. Nodes that are not
    /// elements, texts, comments, processing instructions or entity references are copied
    /// as cloneNode copies them.
    DOMNode importNode(const DOMNode& node, bool deep);
    DOMNodeList getElementsByTagName(const QString& tagName) const;

    /// Document-node conveniences.
    DOMNodeList selectNodes(const QString& expression) const { return asNode().selectNodes(expression); }
    DOMNode selectSingleNode(const QString& expression) const { return asNode().selectSingleNode(expression); }
    DOMNodeList childNodes() const { return asNode().childNodes(); }
    QString xml() const { return asNode().xml(); }
    QByteArray xmlUtf8() const { return asNode().xmlUtf8(); }
    qint64 xmlLength() const { return asNode().xmlLength(); }
    QString text() const { return asNode().text(); }

    /// The indentation unit save() uses: what the loaded file used, or two blanks.
    QByteArray indentUnit() const;
    /// Records every change made to this document from now until endChanges(), on this
    /// thread. Recordings do not nest: a second begin is refused with DOMError::Busy.
    void beginChanges();
    std::unique_ptr<DOMChangeSet> endChanges();
    bool isRecording() const;

private:
    friend struct detail::DocCore;
    TREELARK_CORE_NO_EXPORT DOMDocument();
    TREELARK_CORE_NO_EXPORT void setReadyState(int state);
    TREELARK_CORE_NO_EXPORT bool finishLoad(std::shared_ptr<detail::DocCore> core, const DOMParseError& err);
    TREELARK_CORE_NO_EXPORT bool refuseNestedLoad(const QString& url);
    TREELARK_CORE_NO_EXPORT void requireSavable() const;

    std::shared_ptr<detail::DocCore> m_core;
    bool m_async = true;
    bool m_validateOnParse = true;
    int m_readyState = 4;
    DOMParseError m_parseError;
    std::vector<std::pair<int, std::function<void()>>> m_readyListeners;
    int m_nextListenerId = 1;
    std::function<void(qint64, qint64)> m_onProgress;
};

} ///< namespace treelark

/// \cond
template <> struct std::hash<treelark::DOMNode> {
    std::size_t operator()(const treelark::DOMNode& n) const noexcept { return n.hash(); }
};
/// \endcond

Q_DECLARE_METATYPE(treelark::DOMNode)
Q_DECLARE_METATYPE(treelark::DOMDocumentPtr)
