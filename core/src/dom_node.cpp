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
            detail::raise(DOMError::InvalidArgument,
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
    if (attr->children && !detail::keepAttributeValue(reinterpret_cast<xmlNodePtr>(attr)))
        xmlFreeNodeList(attr->children);
    attr->children = attr->last = nullptr;
    xmlNodePtr t = xmlNewDocText(attr->doc, xc(value));
    if (!t)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    t->parent = reinterpret_cast<xmlNodePtr>(attr);
    attr->children = attr->last = t;
}

using detail::link;

xmlNodePtr copyFormatting(xmlNodePtr f)
{
    xmlNodePtr copy = xmlNewDocText(f->doc, f->content);
    if (!copy)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    detail::markFormatting(copy);
    return copy;
}

xmlNodePtr newFormatting(xmlDocPtr doc, const QByteArray& text)
{
    xmlNodePtr f = xmlNewDocTextLen(doc, xc(text), int(text.size()));
    if (!f)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    detail::markFormatting(f);
    return f;
}

// A subtree built in memory and put among indented nodes is laid out like them: each
// element that holds only elements (no text) gets its children on lines of their own,
// one unit deeper. Anything read from a file keeps the layout it had.
void indentInside(xmlNodePtr top, const QByteArray& lineStart, const QByteArray& unit)
{
    std::vector<std::pair<xmlNodePtr, QByteArray>> todo{{top, lineStart}};
    while (!todo.empty()) {
        auto [el, start] = todo.back();
        todo.pop_back();
        bool onlyElements = el->children != nullptr;
        for (xmlNodePtr c = el->children; c && onlyElements; c = c->next)
            onlyElements = c->type == XML_ELEMENT_NODE || c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE;
        if (!onlyElements)
            continue;
        const QByteArray inner = start + unit;
        for (xmlNodePtr c = el->children; c;) {
            xmlNodePtr next = c->next;
            link(el, newFormatting(el->doc, inner), c);
            if (c->type == XML_ELEMENT_NODE)
                todo.emplace_back(c, inner);
            c = next;
        }
        link(el, newFormatting(el->doc, start), nullptr);
    }
}

bool hasFormatting(xmlNodePtr el)
{
    for (xmlNodePtr c = el->children; c; c = c->next)
        if (detail::isFormatting(c))
            return true;
    return false;
}

// Links child before `before` (at the end when nullptr) with the indentation its new
// siblings have in the file: the blank line start in front of the node it goes before,
// or, at the end, the one in front of the last node.
void linkIndented(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr before, const QByteArray& unit)
{
    xmlNodePtr indent = nullptr;
    if (!before && detail::isFormatting(parent->last)) {
        xmlNodePtr closing = parent->last;
        xmlNodePtr lastNode = closing->prev;
        indent = lastNode && detail::isFormatting(lastNode->prev) ? lastNode->prev : nullptr;
        if (indent)
            link(parent, copyFormatting(indent), closing);
        link(parent, child, closing);
    } else if (before && detail::isFormatting(before->prev)) {
        indent = before->prev;
        xmlNodePtr copy = copyFormatting(indent);
        link(parent, child, before);
        link(parent, copy, before);
    } else {
        link(parent, child, before);
    }
    if (indent && child->type == XML_ELEMENT_NODE && !hasFormatting(child))
        indentInside(child, QByteArray(reinterpret_cast<const char*>(indent->content)), unit);
}

// A node taken out takes its line with it: the indentation in front of it goes too.
void dropIndentation(xmlNodePtr n)
{
    if (xmlNodePtr f = n->prev; detail::isFormatting(f))
        if (!detail::unlink(f))
            xmlFreeNode(f);
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

// ---- handles ----

namespace {

void retainHandle(void* n)
{
    if (n && !detail::isNsDecl(n))
        detail::countHandle(static_cast<xmlNodePtr>(n), 1);
}

xmlNsPtr asNs(xmlNodePtr n) { return reinterpret_cast<xmlNsPtr>(n); }

} // namespace

DOMNode::DOMNode(std::shared_ptr<detail::DocCore> core, void* node) : m_core(std::move(core)), m_node(node)
{
    retainHandle(m_node);
}

void DOMNode::retain() { retainHandle(m_node); }

DOMNode& DOMNode::operator=(const DOMNode& o)
{
    if (this != &o) {
        DOMNode copy(o);
        *this = std::move(copy);
    }
    return *this;
}

DOMNode& DOMNode::operator=(DOMNode&& o) noexcept
{
    if (this != &o) {
        release();
        m_core = std::move(o.m_core);
        m_node = std::exchange(o.m_node, nullptr);
    }
    return *this;
}

void DOMNode::release() noexcept
{
    if (m_node && !detail::isNsDecl(m_node)) {
        auto n = static_cast<xmlNodePtr>(m_node);
        detail::countHandle(n, -1);
        if (detail::handleCount(n) == 0)
            m_core->unheld(n);
    }
    m_node = nullptr;
    m_core.reset();
}

void* DOMNode::requireNode() const
{
    if (!m_node)
        detail::raiseNothing();
    return m_node;
}

#define NODE() static_cast<xmlNodePtr>(requireNode())

namespace {

const QString kXmlnsUri = QStringLiteral("http://www.w3.org/2000/xmlns/");

// The local part of a name still waiting for its prefix to be resolved.
QString localPart(xmlNodePtr n)
{
    const QString name = toQ(n->name);
    return n->ns ? name : name.mid(name.indexOf(QLatin1Char(':')) + 1);
}

bool childTypeAllowed(xmlNodePtr parent, xmlNodePtr child)
{
    switch (child->type) {
    case XML_ELEMENT_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return true;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_ENTITY_REF_NODE:
        return parent->type != XML_DOCUMENT_NODE && parent->type != XML_HTML_DOCUMENT_NODE;
    default:
        return false;
    }
}

QString typeWord(xmlNodePtr n)
{
    switch (n->type) {
    case XML_ATTRIBUTE_NODE:
    case XML_NAMESPACE_DECL: return QStringLiteral("an attribute");
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return QStringLiteral("a document");
    case XML_DTD_NODE:
    case XML_DOCUMENT_TYPE_NODE: return QStringLiteral("a document type declaration");
    case XML_ELEMENT_DECL:
    case XML_ATTRIBUTE_DECL:
    case XML_ENTITY_DECL:
    case XML_NOTATION_NODE: return QStringLiteral("a declaration of the document type");
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE: return QStringLiteral("text");
    case XML_ENTITY_REF_NODE: return QStringLiteral("an entity reference");
    case XML_DOCUMENT_FRAG_NODE: return QStringLiteral("a document fragment");
    default: return QStringLiteral("this kind of node");
    }
}

} // namespace

QString DOMNode::nodeName() const
{
    xmlNodePtr n = NODE();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        return qualifiedName(n);
    case XML_NAMESPACE_DECL:
        return detail::declarationName(asNs(n));
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
        return localPart(n);
    case XML_NAMESPACE_DECL:
        return asNs(n)->prefix ? toQ(asNs(n)->prefix) : QStringLiteral("xmlns");
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
        return toQ(n->name);
    default:
        return QString(QLatin1String(""));
    }
}

QString DOMNode::namespaceURI() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_NAMESPACE_DECL)
        return kXmlnsUri;
    if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns && n->ns->href)
        return toQ(n->ns->href);
    return QString(QLatin1String(""));
}

int DOMNode::nodeType() const
{
    xmlNodePtr n = NODE();
    switch (n->type) {
    case XML_ELEMENT_NODE: return NODE_ELEMENT;
    case XML_ATTRIBUTE_NODE:
    case XML_NAMESPACE_DECL: return NODE_ATTRIBUTE;
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
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL)
        return value();
    return QString();
}

void DOMNode::setNodeValue(const QString& v)
{
    xmlNodePtr n = NODE();
    if (hasContent(n)) {
        QByteArray content = valueUtf8(v);
        // Comments, instructions and CDATA sections have no character references: a
        // carriage return in them can only be read back as a line break, and an
        // instruction's data starts after the blanks that follow its target.
        if (n->type != XML_TEXT_NODE) {
            content.replace("\r\n", "\n").replace('\r', '\n');
            if (n->type == XML_PI_NODE)
                while (!content.isEmpty() && QByteArray(" \t\n").contains(content.front()))
                    content.remove(0, 1);
        }
        // A comment cannot hold "--" nor end in "-", and an instruction cannot hold "?>":
        // either would end the node early in the saved file.
        if (n->type == XML_COMMENT_NODE && (content.contains("--") || content.endsWith('-')))
            detail::raise(DOMError::InvalidArgument,
                          QStringLiteral("setNodeValue: a comment cannot hold \"--\" or end in \"-\"."));
        if (n->type == XML_PI_NODE && content.contains("?>"))
            detail::raise(DOMError::InvalidArgument,
                          QStringLiteral("setNodeValue: a processing instruction cannot hold \"?>\"."));
        detail::recordContent(n);
        xmlNodeSetContent(n, xc(content));
        detail::markTagChanged(n);
        m_core->noteChange(n);
        m_core->notePrologChange(n->parent, n);
        return;
    }
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL) {
        setValue(v);
        return;
    }
    detail::raise(DOMError::NotSupported, QStringLiteral("setNodeValue: %1 has no value.").arg(typeWord(n)));
}

QString DOMNode::text() const
{
    xmlNodePtr n = NODE();
    if (hasContent(n))
        return n->content ? toQ(n->content) : QString(QLatin1String(""));
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL)
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
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL || hasContent(n)) {
        setNodeValue(t);
        return;
    }
    if (n->type != XML_ELEMENT_NODE && n->type != XML_DOCUMENT_FRAG_NODE)
        detail::raise(DOMError::NotSupported, QStringLiteral("setText: the text of %1 cannot be set.").arg(typeWord(n)));
    const QByteArray content = valueUtf8(t);
    xmlNodePtr tn = nullptr;
    if (!t.isEmpty() && !(tn = xmlNewDocText(n->doc, xc(content))))
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    while (xmlNodePtr c = n->children) {
        detail::unlinkKeepingNamespaces(c);
        m_core->detached(c);
    }
    if (tn)
        link(n, tn, nullptr);
    m_core->changed(n);
}

QString DOMNode::value() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_NAMESPACE_DECL)
        return asNs(n)->href ? toQ(asNs(n)->href) : QString(QLatin1String(""));
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
    if (n->type == XML_NAMESPACE_DECL) {
        detail::setDeclarationValue(*m_core, asNs(n), valueUtf8(v));
        return;
    }
    if (n->type != XML_ATTRIBUTE_NODE) {
        setNodeValue(v);
        return;
    }
    setAttrValue(reinterpret_cast<xmlAttrPtr>(n), valueUtf8(v));
    detail::markAttributeChanged(n);
    m_core->noteChange(n);
}

DOMNamedNodeMap DOMNode::attributes() const
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        return DOMNamedNodeMap();
    return DOMNamedNodeMap(*this);
}

// A DOCTYPE's declarations are not nodes of the document's tree: they are neither
// listed nor reachable, so nothing can move or remove them out from under the DTD.
static bool hasOwnChildren(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_DOCUMENT_FRAG_NODE;
}

DOMNodeList DOMNode::childNodes() const
{
    xmlNodePtr n = NODE();
    if (!hasOwnChildren(n))
        return DOMNodeList(detail::makeSnapshot(m_core, {}));
    return DOMNodeList(detail::makeChildren(m_core, n));
}

DOMNode DOMNode::firstChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? m_core->handle(detail::visible(n->children, true)) : DOMNode();
}

DOMNode DOMNode::lastChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? m_core->handle(detail::visible(n->last, false)) : DOMNode();
}

DOMNode DOMNode::nextSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL ? DOMNode()
                                                                           : m_core->handle(detail::visible(n->next, true));
}

DOMNode DOMNode::previousSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL ? DOMNode()
                                                                           : m_core->handle(detail::visible(n->prev, false));
}

DOMNode DOMNode::parentNode() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL)
        return DOMNode();
    return m_core->handle(n->parent);
}

bool DOMNode::hasChildNodes() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) && detail::visible(n->children, true) != nullptr;
}

qint64 DOMNode::childCount() const
{
    xmlNodePtr n = NODE();
    if (!hasOwnChildren(n))
        return 0;
    qint64 count = 0;
    for (xmlNodePtr c = detail::visible(n->children, true); c; c = detail::visible(c->next, true))
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

// Allowed, not refused: a parent that can hold children, a child of a kind that may stand
// there, a reference node that is one of the parent's children. Everything else is
// refused before anything changes.
DOMNode DOMNode::insertBefore(const DOMNode& newChild, const DOMNode& refChild)
{
    xmlNodePtr parent = NODE();
    xmlNodePtr child = static_cast<xmlNodePtr>(newChild.requireNode());
    xmlNodePtr before = static_cast<xmlNodePtr>(refChild.m_node);
    auto refuse = [](DOMError code, const QString& why) {
        detail::raise(code, QStringLiteral("insertBefore: ") + why);
    };

    if (!isContainer(parent))
        refuse(DOMError::HierarchyRequest, QStringLiteral("%1 cannot have children.").arg(typeWord(parent)));
    if (child->type != XML_DOCUMENT_FRAG_NODE && !childTypeAllowed(parent, child))
        refuse(DOMError::HierarchyRequest,
               QStringLiteral("%1 cannot be inserted under %2.").arg(typeWord(child), typeWord(parent)));
    if (before) {
        const bool sibling = before->type != XML_ATTRIBUTE_NODE && before->type != XML_NAMESPACE_DECL
            && refChild.m_core == m_core && before->parent == parent;
        if (!sibling)
            refuse(DOMError::NotFound,
                   QStringLiteral("Insert position Node must be a Child of the Node to insert under."));
    }
    if (before == child)
        return newChild;

    // A node of another document comes over as a copy and leaves its old place, so
    // neither tree ever points into the other.
    if (newChild.m_core != m_core) {
        xmlNodePtr copy = detail::copyInto(child, parent->doc, true);
        if (!copy)
            detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
        m_core->adopt(copy);
        DOMNode copied = m_core->handle(copy); // freed with this handle if refused below
        insertBefore(copied, refChild);
        if (child->parent) {
            newChild.m_core->changed(child);
            dropIndentation(child);
            detail::unlinkKeepingNamespaces(child);
            newChild.m_core->detached(child);
        }
        return copied;
    }

    for (xmlNodePtr a = parent; a; a = a->parent)
        if (a == child)
            refuse(DOMError::HierarchyRequest, QStringLiteral("a node cannot be inserted under itself or its descendants."));

    // A fragment never enters a tree: its children take its place, so they are what has
    // to fit. (Linked in whole, it would be written out as its children, where nothing
    // checked them: text or a second element beside the document element.)
    const bool fragment = child->type == XML_DOCUMENT_FRAG_NODE;
    std::vector<xmlNodePtr> moving;
    if (fragment)
        for (xmlNodePtr c = child->children; c; c = c->next)
            moving.push_back(c);
    else
        moving.push_back(child);
    int elements = 0;
    for (xmlNodePtr c : moving) {
        if (!childTypeAllowed(parent, c))
            refuse(DOMError::HierarchyRequest, parent->type == XML_DOCUMENT_NODE
                       ? QStringLiteral("only elements, comments and processing instructions can stand at document level.")
                       : QStringLiteral("%1 cannot be inserted under %2.").arg(typeWord(c), typeWord(parent)));
        if (c->type == XML_ELEMENT_NODE)
            ++elements;
        detail::checkPlacement(parent, c);
    }
    if (parent->type == XML_DOCUMENT_NODE && elements > 0) {
        xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent));
        if (elements > 1 || (root && root != child))
            refuse(DOMError::HierarchyRequest, QStringLiteral("only one top level element is allowed in an XML document."));
        for (xmlNodePtr after = before; after; after = after->next)
            if (after->type == XML_DTD_NODE)
                refuse(DOMError::HierarchyRequest,
                       QStringLiteral("the document element must follow the document type declaration."));
    }

    for (xmlNodePtr c : moving) {
        m_core->notePrologChange(parent, c);
        m_core->notePrologChange(c->parent, c);
        if (c->parent) {
            dropIndentation(c);
            if (fragment)
                detail::unlink(c); // a fragment declares nothing its children could use
            else
                detail::unlinkKeepingNamespaces(c);
        }
        m_core->parked.erase(c);
        linkIndented(parent, c, before, m_core->indentUnit);
        detail::settleNamespaces(c);
    }
    m_core->changed(parent);
    return newChild;
}

DOMNode DOMNode::removeChild(const DOMNode& oldChild)
{
    xmlNodePtr parent = NODE();
    xmlNodePtr child = static_cast<xmlNodePtr>(oldChild.requireNode());
    if (child->type == XML_ATTRIBUTE_NODE || child->type == XML_NAMESPACE_DECL || oldChild.m_core != m_core
        || child->parent != parent || !hasOwnChildren(parent))
        detail::raise(DOMError::NotFound, QStringLiteral("removeChild: the node to remove is not a child of this node."));
    // Entity references and default attributes lean on the document type: it stays.
    if (child->type == XML_DTD_NODE)
        detail::raise(DOMError::HierarchyRequest,
                      QStringLiteral("removeChild: the document type declaration cannot be removed."));
    m_core->changed(parent);
    m_core->notePrologChange(parent, child);
    dropIndentation(child);
    detail::unlinkKeepingNamespaces(child);
    m_core->detached(child);
    return oldChild;
}

DOMNode DOMNode::cloneNode(bool deep) const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_DOCUMENT_NODE) {
        xmlDocPtr copy = xmlCopyDoc(reinterpret_cast<xmlDocPtr>(n), deep ? 1 : 0);
        if (!copy)
            detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
        auto core = std::make_shared<DocCore>(copy);
        core->indentUnit = m_core->indentUnit;
        core->formatOutput = m_core->formatOutput;
        core->hadDeclaration = m_core->hadDeclaration;
        core->declaration = m_core->declaration;
        core->hadBom = m_core->hadBom;
        return core->handle(reinterpret_cast<xmlNodePtr>(copy));
    }
    if (n->type == XML_NAMESPACE_DECL || n->type == XML_DTD_NODE)
        detail::raise(DOMError::NotSupported, QStringLiteral("cloneNode: %1 cannot be copied.").arg(typeWord(n)));
    // The copy lives in a tree of its own: holding it never keeps this one alive.
    auto core = m_core->createSibling();
    xmlNodePtr copy;
    if (n->type == XML_ATTRIBUTE_NODE) {
        xmlAttrPtr a = xmlNewDocProp(core->doc, xc(utf8(nodeName())), nullptr);
        if (a) {
            setAttrValue(a, utf8(value()));
            detail::setPendingName(reinterpret_cast<xmlNodePtr>(a), true);
        }
        copy = reinterpret_cast<xmlNodePtr>(a);
    } else {
        copy = detail::copyInto(n, core->doc, deep);
    }
    if (!copy)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    core->adopt(copy);
    return core->handle(copy);
}

void DOMNode::setAttribute(const QString& name, const QString& v)
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        detail::raise(DOMError::NotSupported, QStringLiteral("setAttribute: attributes can only be set on elements."));
    const QByteArray qn = utf8(name);
    if (qn.isEmpty() || xmlValidateQName(xc(qn), 0) != 0)
        detail::raise(DOMError::InvalidArgument,
                      QStringLiteral("setAttribute: '%1' is not a valid attribute name.").arg(name));
    const QByteArray value = valueUtf8(v);
    if (detail::isDeclarationName(qn)) {
        detail::setDeclaration(*m_core, n, qn, value);
        return;
    }
    if (xmlAttrPtr a = findAttr(n, qn)) {
        setAttrValue(a, value);
        detail::markAttributeChanged(reinterpret_cast<xmlNodePtr>(a));
        m_core->noteChange(n);
        return;
    }
    const qsizetype colon = qn.indexOf(':');
    xmlNsPtr ns = nullptr;
    QByteArray local = qn;
    if (colon > 0) {
        ns = detail::lookupPrefix(n, qn.left(colon));
        if (ns)
            local = qn.mid(colon + 1);
        else if (detail::inDocumentTree(n))
            detail::raise(DOMError::Namespace,
                          QStringLiteral("setAttribute: the prefix '%1' of the attribute '%2' is not declared here.")
                              .arg(QString::fromUtf8(qn.left(colon)), name));
    }
    detail::checkAttributeName(n, nullptr, ns, xc(local));
    xmlAttrPtr a = xmlNewDocProp(n->doc, xc(local), nullptr);
    if (!a)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    a->ns = ns;
    detail::setPendingName(reinterpret_cast<xmlNodePtr>(a), colon > 0 && !ns);
    setAttrValue(a, value);
    m_core->noteChange(n);
    a->parent = n;
    detail::markAttributeChanged(reinterpret_cast<xmlNodePtr>(a));
    if (!n->properties) {
        n->properties = a;
    } else {
        xmlAttrPtr last = n->properties;
        while (last->next)
            last = last->next;
        last->next = a;
        a->prev = last;
    }
    if (detail::recording(n->doc))
        detail::recordLinked(reinterpret_cast<xmlNodePtr>(a));
}

void DOMNode::removeAttribute(const QString& name)
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        detail::raise(DOMError::NotSupported,
                      QStringLiteral("removeAttribute: attributes can only be removed from elements."));
    const QByteArray qn = utf8(name);
    if (detail::isDeclarationName(qn)) {
        if (xmlNsPtr ns = detail::findDeclaration(n, qn))
            detail::removeDeclaration(*m_core, n, ns);
        return;
    }
    if (xmlAttrPtr a = findAttr(n, qn)) {
        auto an = reinterpret_cast<xmlNodePtr>(a);
        detail::unlinkKeepingNamespaces(an);
        detail::markTagChanged(n);
        m_core->noteChange(n);
        m_core->detached(an);
    }
}

QString DOMNode::getAttribute(const QString& name) const
{
    xmlNodePtr n = NODE();
    if (n->type != XML_ELEMENT_NODE)
        return QString(QLatin1String(""));
    const QByteArray qn = utf8(name);
    if (detail::isDeclarationName(qn)) {
        xmlNsPtr ns = detail::findDeclaration(n, qn);
        return ns && ns->href ? toQ(ns->href) : QString(QLatin1String(""));
    }
    if (xmlAttrPtr a = findAttr(n, qn))
        return m_core->handle(reinterpret_cast<xmlNodePtr>(a)).value();
    return QString(QLatin1String(""));
}

// ---- attribute map: namespace declarations first, then the attributes ----

namespace {

DOMNode declarationHandle(const std::shared_ptr<DocCore>& core, xmlNodePtr el, xmlNsPtr ns)
{
    if (!ns->_private)
        ns->_private = el; // lets the handle find the element whose scope a change affects
    return core->handle(reinterpret_cast<xmlNodePtr>(ns));
}

} // namespace

qint64 DOMNamedNodeMap::length() const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    qint64 count = 0;
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
        ++count;
    for (xmlAttrPtr a = n->properties; a; a = a->next)
        ++count;
    return count;
}

DOMNode DOMNamedNodeMap::item(qint64 index) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    if (index < 0)
        return DOMNode();
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
        if (index-- == 0)
            return declarationHandle(m_owner.m_core, n, ns);
    xmlAttrPtr a = n->properties;
    for (; a && index > 0; a = a->next)
        --index;
    return m_owner.m_core->handle(reinterpret_cast<xmlNodePtr>(a));
}

DOMNode DOMNamedNodeMap::getNamedItem(const QString& name) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    const QByteArray qn = utf8(name);
    if (detail::isDeclarationName(qn)) {
        xmlNsPtr ns = detail::findDeclaration(n, qn);
        return ns ? declarationHandle(m_owner.m_core, n, ns) : DOMNode();
    }
    return m_owner.m_core->handle(reinterpret_cast<xmlNodePtr>(findAttr(n, qn)));
}

} // namespace treelark
