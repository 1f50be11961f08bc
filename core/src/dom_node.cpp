#include "dom_internal.h"

#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <vector>

namespace treelark {

using detail::DocCore;
using detail::toQ;

namespace {

QByteArray utf8(const QString& s) { return s.toUtf8(); }

// Text that goes into the document as a value: refused when it holds a character XML
// cannot carry (control characters other than tab and line breaks, lone surrogates,
// U+FFFE and U+FFFF). Written as it is, it would make a file the loader refuses.
QByteArray valueUtf8(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s.at(i).unicode();
        bool ok = c >= 0x20 ? c < 0xFFFE : (c == 0x9 || c == 0xA || c == 0xD);
        if (QChar::isLowSurrogate(c)) {
            ok = false;
        } else if (QChar::isHighSurrogate(c)) {
            ok = i + 1 < s.size() && QChar::isLowSurrogate(s.at(i + 1).unicode());
            ++i; // the pair is one character
        }
        if (!ok)
            detail::raise(DOMException::InvalidArgument,
                          QStringLiteral("The text holds the character U+%1, which an XML document cannot hold.")
                              .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    }
    return s.toUtf8();
}
const xmlChar* xc(const QByteArray& b) { return reinterpret_cast<const xmlChar*>(b.constData()); }

bool isContainer(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_DOCUMENT_FRAG_NODE;
}

bool hasContent(xmlNodePtr n)
{
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return true;
    default:
        return false;
    }
}

QString qualifiedName(xmlNodePtr n)
{
    if (n->ns && n->ns->prefix)
        return toQ(n->ns->prefix) + QLatin1Char(':') + toQ(n->name);
    return toQ(n->name);
}

bool nameIs(xmlNodePtr n, const QByteArray& qname)
{
    if (n->ns && n->ns->prefix) {
        const qsizetype plen = xmlStrlen(n->ns->prefix);
        return qname.size() > plen && qname.at(plen) == ':'
            && qname.startsWith(reinterpret_cast<const char*>(n->ns->prefix))
            && qname.mid(plen + 1) == reinterpret_cast<const char*>(n->name);
    }
    return n->name && qname == reinterpret_cast<const char*>(n->name);
}

xmlAttrPtr findAttr(xmlNodePtr el, const QByteArray& qname)
{
    for (xmlAttrPtr a = el->properties; a; a = a->next)
        if (nameIs(reinterpret_cast<xmlNodePtr>(a), qname))
            return a;
    return nullptr;
}

// Attribute text without entity interpretation: the value is taken literally.
void setAttrValue(xmlAttrPtr attr, const QByteArray& value)
{
    if (attr->children)
        xmlFreeNodeList(attr->children);
    attr->children = attr->last = nullptr;
    xmlNodePtr t = xmlNewDocText(attr->doc, xc(value));
    if (!t)
        detail::raise(7, QStringLiteral("Out of memory"));
    t->parent = reinterpret_cast<xmlNodePtr>(attr);
    attr->children = attr->last = t;
}

// Links without libxml2's merging of adjacent text nodes, which would free the node
// a caller holds a handle to.
void link(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr before)
{
    child->parent = parent;
    if (!before) {
        child->prev = parent->last;
        child->next = nullptr;
        if (parent->last)
            parent->last->next = child;
        else
            parent->children = child;
        parent->last = child;
    } else {
        child->next = before;
        child->prev = before->prev;
        if (before->prev)
            before->prev->next = child;
        else
            parent->children = child;
        before->prev = child;
    }
}

void appendText(QString& out, xmlNodePtr n, qsizetype limit, bool* truncated)
{
    for (xmlNodePtr c = n; c; c = detail::nextInSubtree(c, n)) {
        if (c->type != XML_TEXT_NODE && c->type != XML_CDATA_SECTION_NODE)
            continue;
        if (!c->content)
            continue;
        if (limit >= 0 && out.size() >= limit) {
            if (truncated)
                *truncated = true;
            return;
        }
        out += toQ(c->content);
        if (limit >= 0 && out.size() > limit) {
            out.truncate(limit);
            if (truncated)
                *truncated = true;
            return;
        }
    }
}

} // namespace

DOMNode::DOMNode(std::shared_ptr<detail::DocCore> core, void* node) : m_core(std::move(core)), m_node(node) {}

void* DOMNode::requireNode() const
{
    if (!m_node)
        detail::raiseNothing();
    return m_node;
}

#define NODE() static_cast<xmlNodePtr>(requireNode())

QString DOMNode::nodeName() const
{
    xmlNodePtr n = NODE();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        return qualifiedName(n);
    case XML_TEXT_NODE:
        return QStringLiteral("#text");
    case XML_CDATA_SECTION_NODE:
        return QStringLiteral("#cdata-section");
    case XML_COMMENT_NODE:
        return QStringLiteral("#comment");
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return QStringLiteral("#document");
    case XML_DOCUMENT_FRAG_NODE:
        return QStringLiteral("#document-fragment");
    default:
        return toQ(n->name);
    }
}

QString DOMNode::baseName() const
{
    xmlNodePtr n = NODE();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
        return toQ(n->name);
    default:
        return QString(QLatin1String(""));
    }
}

int DOMNode::nodeType() const
{
    xmlNodePtr n = NODE();
    switch (n->type) {
    case XML_ELEMENT_NODE: return NODE_ELEMENT;
    case XML_ATTRIBUTE_NODE: return NODE_ATTRIBUTE;
    case XML_TEXT_NODE: return NODE_TEXT;
    case XML_CDATA_SECTION_NODE: return NODE_CDATA_SECTION;
    case XML_ENTITY_REF_NODE: return NODE_ENTITY_REFERENCE;
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL: return NODE_ENTITY;
    case XML_PI_NODE: return NODE_PROCESSING_INSTRUCTION;
    case XML_COMMENT_NODE: return NODE_COMMENT;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return NODE_DOCUMENT;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE: return NODE_DOCUMENT_TYPE;
    case XML_DOCUMENT_FRAG_NODE: return NODE_DOCUMENT_FRAGMENT;
    case XML_NOTATION_NODE: return NODE_NOTATION;
    default: return NODE_INVALID;
    }
}

QString DOMNode::nodeTypeString() const
{
    static const char* const names[] = {"",        "element",    "attribute",   "text",
                                        "cdatasection", "entityreference", "entity",
                                        "processinginstruction", "comment", "document",
                                        "documenttype", "documentfragment", "notation"};
    return QString::fromLatin1(names[nodeType()]);
}

QString DOMNode::nodeValue() const
{
    xmlNodePtr n = NODE();
    if (hasContent(n))
        return n->content ? toQ(n->content) : QString(QLatin1String(""));
    if (n->type == XML_ATTRIBUTE_NODE)
        return value();
    return QString();
}

void DOMNode::setNodeValue(const QString& v)
{
    xmlNodePtr n = NODE();
    if (hasContent(n)) {
        const QByteArray content = valueUtf8(v);
        // A comment cannot hold "--" nor end in "-", and an instruction cannot hold "?>":
        // either would end the node early in the saved file.
        if (n->type == XML_COMMENT_NODE && (content.contains("--") || content.endsWith('-')))
            detail::raise(DOMException::InvalidArgument, QStringLiteral("A comment cannot hold \"--\" or end in \"-\"."));
        if (n->type == XML_PI_NODE && content.contains("?>"))
            detail::raise(DOMException::InvalidArgument,
                          QStringLiteral("A processing instruction cannot hold \"?>\"."));
        xmlNodeSetContent(n, xc(content));
        return;
    }
    if (n->type == XML_ATTRIBUTE_NODE) {
        setValue(v);
        return;
    }
    detail::raise(DOMException::InvalidArgument, QStringLiteral("This node type has no value."));
}

QString DOMNode::text() const
{
    xmlNodePtr n = NODE();
    if (hasContent(n))
        return n->content ? toQ(n->content) : QString(QLatin1String(""));
    if (n->type == XML_ATTRIBUTE_NODE)
        return value();
    QString out(QLatin1String(""));
    if (isContainer(n))
        appendText(out, n, -1, nullptr);
    return out;
}

QString DOMNode::textPrefix(qsizetype maxChars, bool* truncated) const
{
    if (truncated)
        *truncated = false;
    xmlNodePtr n = NODE();
    if (!isContainer(n)) {
        QString all = text();
        if (all.size() > maxChars) {
            all.truncate(maxChars);
            if (truncated)
                *truncated = true;
        }
        return all;
    }
    QString out(QLatin1String(""));
    appendText(out, n, maxChars, truncated);
    return out;
}

void DOMNode::setText(const QString& t)
{
    xmlNodePtr n = NODE();
    if (n->type == XML_ATTRIBUTE_NODE || hasContent(n)) {
        setNodeValue(t);
        return;
    }
    if (n->type != XML_ELEMENT_NODE && n->type != XML_DOCUMENT_FRAG_NODE)
        detail::raise(DOMException::InvalidArgument, QStringLiteral("The text of this node cannot be set."));
    const QByteArray content = valueUtf8(t);
    while (xmlNodePtr c = n->children) {
        xmlUnlinkNode(c);
        m_core->park(c);
    }
    if (!t.isEmpty()) {
        xmlNodePtr tn = xmlNewDocText(n->doc, xc(content));
        link(n, tn, nullptr);
    }
    m_core->touch();
}

QString DOMNode::value() const
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ATTRIBUTE_NODE)
        return nodeValue();
    xmlChar* v = xmlNodeGetContent(n);
    QString out = v ? toQ(v) : QString(QLatin1String(""));
    xmlFree(v);
    return out;
}

void DOMNode::setValue(const QString& v)
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ATTRIBUTE_NODE) {
        setNodeValue(v);
        return;
    }
    setAttrValue(reinterpret_cast<xmlAttrPtr>(n), valueUtf8(v));
}

DOMNamedNodeMap DOMNode::attributes() const
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        return DOMNamedNodeMap();
    return DOMNamedNodeMap(*this);
}

DOMNodeList DOMNode::childNodes() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_ENTITY_REF_NODE)
        return DOMNodeList(detail::makeSnapshot(m_core, {}));
    return DOMNodeList(detail::makeChildren(m_core, n));
}

static bool hasOwnChildren(xmlNodePtr n)
{
    return n->type != XML_ATTRIBUTE_NODE && n->type != XML_ENTITY_REF_NODE && n->type != XML_DTD_NODE;
}

DOMNode DOMNode::firstChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? m_core->handle(n->children) : DOMNode();
}

DOMNode DOMNode::lastChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? m_core->handle(n->last) : DOMNode();
}

DOMNode DOMNode::nextSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE ? DOMNode() : m_core->handle(n->next);
}

DOMNode DOMNode::previousSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE ? DOMNode() : m_core->handle(n->prev);
}

DOMNode DOMNode::parentNode() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_ATTRIBUTE_NODE)
        return DOMNode();
    return m_core->handle(n->parent);
}

bool DOMNode::hasChildNodes() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) && n->children != nullptr;
}

qint64 DOMNode::childCount() const
{
    xmlNodePtr n = NODE();
    if (!hasOwnChildren(n))
        return 0;
    qint64 count = 0;
    for (xmlNodePtr c = n->children; c; c = c->next)
        ++count;
    return count;
}

DOMDocumentPtr DOMNode::ownerDocument() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_DOCUMENT_NODE)
        return nullptr;
    return detail::DocCore::ownerOf(m_core);
}

DOMNode DOMNode::appendChild(const DOMNode& newChild) { return insertBefore(newChild, DOMNode()); }

DOMNode DOMNode::insertBefore(const DOMNode& newChild, const DOMNode& refChild)
{
    xmlNodePtr parent = NODE();
    xmlNodePtr child = static_cast<xmlNodePtr>(newChild.requireNode());
    xmlNodePtr before = static_cast<xmlNodePtr>(refChild.m_node);
    const QString refused = QStringLiteral("Insert position Node must be a Child of the Node to insert under.");

    if (!isContainer(parent))
        detail::raise(DOMException::HierarchyRequest, QStringLiteral("This node type cannot have children."));
    if (child->type == XML_ATTRIBUTE_NODE || child->type == XML_DOCUMENT_NODE
        || child->type == XML_HTML_DOCUMENT_NODE || child->type == XML_DTD_NODE)
        detail::raise(DOMException::HierarchyRequest, QStringLiteral("This node type cannot be inserted here."));
    if (before && before->parent != parent)
        detail::raise(DOMException::NotFound, refused);
    if (before == child)
        return newChild;

    // A node of another document comes over as a copy and leaves its old place, so
    // neither tree ever points into the other.
    if (newChild.m_core != m_core) {
        xmlNodePtr copy = xmlDocCopyNode(child, parent->doc, 1);
        if (!copy)
            detail::raise(7, QStringLiteral("Out of memory"));
        DOMNode copied = m_core->handle(copy);
        m_core->park(copy); // stays parked if the insertion below is refused
        insertBefore(copied, refChild);
        if (child->parent) {
            xmlUnlinkNode(child);
            newChild.m_core->park(child);
            newChild.m_core->touch();
        }
        return copied;
    }

    for (xmlNodePtr a = parent; a; a = a->parent)
        if (a == child)
            detail::raise(DOMException::HierarchyRequest,
                          QStringLiteral("This operation cannot be performed with a node of this type: "
                                         "a node cannot be inserted under itself or its descendants."));

    // A fragment never enters a tree: its children take its place, so they are what has
    // to fit. (Linked in whole, it would be written out as its children, where nothing
    // checked them: text or a second element beside the document element.)
    const bool fragment = child->type == XML_DOCUMENT_FRAG_NODE;
    if (parent->type == XML_DOCUMENT_NODE || parent->type == XML_HTML_DOCUMENT_NODE) {
        int elements = 0;
        for (xmlNodePtr c = fragment ? child->children : child; c; c = fragment ? c->next : nullptr) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE || c->type == XML_ENTITY_REF_NODE)
                detail::raise(DOMException::HierarchyRequest,
                              QStringLiteral("Only elements, comments and processing "
                                             "instructions can stand at document level."));
            if (c->type == XML_ELEMENT_NODE)
                ++elements;
        }
        if (elements > 0) {
            xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent));
            if (elements > 1 || (root && root != child))
                detail::raise(DOMException::HierarchyRequest,
                              QStringLiteral("Only one top level element is allowed in an XML document."));
            for (xmlNodePtr after = before; after; after = after->next)
                if (after->type == XML_DTD_NODE)
                    detail::raise(DOMException::HierarchyRequest,
                                  QStringLiteral("The document element must follow the document type declaration."));
        }
    }
    if (fragment) {
        std::vector<xmlNodePtr> moving;
        for (xmlNodePtr c = child->children; c; c = c->next)
            moving.push_back(c);
        for (xmlNodePtr c : moving) {
            xmlUnlinkNode(c);
            link(parent, c, before);
        }
        m_core->touch();
        return newChild;
    }

    if (child->parent)
        xmlUnlinkNode(child);
    m_core->parked.erase(child);
    link(parent, child, before);
    m_core->touch();
    return newChild;
}

DOMNode DOMNode::removeChild(const DOMNode& oldChild)
{
    xmlNodePtr parent = NODE();
    xmlNodePtr child = static_cast<xmlNodePtr>(oldChild.requireNode());
    if (child->parent != parent || child->type == XML_ATTRIBUTE_NODE)
        detail::raise(DOMException::NotFound, QStringLiteral("The node to remove is not a child of this node."));
    xmlUnlinkNode(child);
    m_core->park(child);
    m_core->touch();
    return oldChild;
}

DOMNode DOMNode::cloneNode(bool deep) const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_DOCUMENT_NODE) {
        xmlDocPtr copy = xmlCopyDoc(reinterpret_cast<xmlDocPtr>(n), deep ? 1 : 0);
        if (!copy)
            detail::raise(7, QStringLiteral("Out of memory"));
        auto core = std::make_shared<DocCore>(copy);
        core->indentUnit = m_core->indentUnit;
        core->formatOutput = m_core->formatOutput;
        core->hadDeclaration = m_core->hadDeclaration;
        core->hadBom = m_core->hadBom;
        return core->handle(reinterpret_cast<xmlNodePtr>(copy));
    }
    xmlNodePtr copy;
    if (n->type == XML_ATTRIBUTE_NODE) {
        xmlAttrPtr a = xmlNewDocProp(n->doc, xc(utf8(nodeName())), nullptr);
        if (a)
            setAttrValue(a, utf8(value()));
        copy = reinterpret_cast<xmlNodePtr>(a);
    } else {
        copy = xmlDocCopyNode(n, n->doc, deep ? 1 : 2);
    }
    if (!copy)
        detail::raise(7, QStringLiteral("Out of memory"));
    m_core->park(copy);
    return m_core->handle(copy);
}

void DOMNode::setAttribute(const QString& name, const QString& v)
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        detail::raise(DOMException::InvalidArgument, QStringLiteral("Attributes can only be set on elements."));
    const QByteArray qn = utf8(name);
    if (qn.isEmpty() || xmlValidateQName(xc(qn), 0) != 0)
        detail::raise(DOMException::InvalidArgument,
                      QStringLiteral("'%1' is not a valid attribute name.").arg(name));
    detail::requireDeclaredPrefix(n->doc, n, qn, QStringLiteral("attribute"));
    const QByteArray value = valueUtf8(v);
    if (xmlAttrPtr a = findAttr(n, qn)) {
        setAttrValue(a, value);
        return;
    }
    // Created without namespace lookup, exactly under the name given.
    xmlAttrPtr a = xmlNewDocProp(n->doc, xc(qn), nullptr);
    if (!a)
        detail::raise(7, QStringLiteral("Out of memory"));
    setAttrValue(a, value);
    a->parent = n;
    if (!n->properties) {
        n->properties = a;
    } else {
        xmlAttrPtr last = n->properties;
        while (last->next)
            last = last->next;
        last->next = a;
        a->prev = last;
    }
}

void DOMNode::removeAttribute(const QString& name)
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        detail::raise(DOMException::InvalidArgument, QStringLiteral("Attributes can only be removed from elements."));
    if (xmlAttrPtr a = findAttr(n, utf8(name))) {
        if (a->atype == XML_ATTRIBUTE_ID)
            xmlRemoveID(n->doc, a);
        xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(a));
        m_core->park(reinterpret_cast<xmlNodePtr>(a));
    }
}

QString DOMNode::getAttribute(const QString& name) const
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        return QString(QLatin1String(""));
    if (xmlAttrPtr a = findAttr(n, utf8(name)))
        return m_core->handle(reinterpret_cast<xmlNodePtr>(a)).value();
    return QString(QLatin1String(""));
}

// ---- attribute map ----

qint64 DOMNamedNodeMap::length() const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    qint64 count = 0;
    for (xmlAttrPtr a = n->properties; a; a = a->next)
        ++count;
    return count;
}

DOMNode DOMNamedNodeMap::item(qint64 index) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    if (index < 0)
        return DOMNode();
    xmlAttrPtr a = n->properties;
    for (; a && index > 0; a = a->next)
        --index;
    return m_owner.m_core->handle(reinterpret_cast<xmlNodePtr>(a));
}

DOMNode DOMNamedNodeMap::getNamedItem(const QString& name) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    return m_owner.m_core->handle(reinterpret_cast<xmlNodePtr>(findAttr(n, utf8(name))));
}

} // namespace treelark
