#include "dom_internal.h"

#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <vector>

namespace treelark {

using detail::DocCore;
using detail::hasOwnChildren;
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
        DocCore::hold(static_cast<xmlNodePtr>(n));
}

xmlNsPtr asNs(xmlNodePtr n) { return reinterpret_cast<xmlNsPtr>(n); }

} // namespace

// A node handle holds no tree of its own: the node's document is found through the node
// (it changes when the node moves to another document), and that tree is held through
// its count of handles. A declaration's handle holds the tree it came from.
DOMNode::DOMNode(std::shared_ptr<detail::DocCore> core, void* node)
    : m_core(node && detail::isNsDecl(node) ? std::move(core) : nullptr), m_node(node)
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
    void* n = std::exchange(m_node, nullptr);
    std::shared_ptr<DocCore> lastHold = n && !detail::isNsDecl(n) ? DocCore::letGo(static_cast<xmlNodePtr>(n)) : nullptr;
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

} // namespace

QString detail::typeWord(xmlNodePtr n)
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

using detail::typeWord;

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
        detail::DocCore::of(*this)->noteChange(n);
        detail::DocCore::of(*this)->notePrologChange(n->parent, n);
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
        detail::DocCore::of(*this)->detached(c);
    }
    if (tn)
        detail::link(n, tn, nullptr);
    detail::DocCore::of(*this)->changed(n);
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
        detail::setDeclarationValue(*detail::DocCore::of(*this), asNs(n), valueUtf8(v));
        return;
    }
    if (n->type != XML_ATTRIBUTE_NODE) {
        setNodeValue(v);
        return;
    }
    setAttrValue(reinterpret_cast<xmlAttrPtr>(n), valueUtf8(v));
    detail::markAttributeChanged(n);
    detail::DocCore::of(*this)->noteChange(n);
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
bool detail::hasOwnChildren(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_DOCUMENT_FRAG_NODE;
}

DOMNodeList DOMNode::childNodes() const
{
    xmlNodePtr n = NODE();
    if (!hasOwnChildren(n))
        return DOMNodeList(detail::makeSnapshot(detail::DocCore::shared(*this), {}));
    return DOMNodeList(detail::makeChildren(detail::DocCore::shared(*this), n));
}

DOMNode DOMNode::firstChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? detail::DocCore::of(*this)->handle(detail::visible(n->children, true)) : DOMNode();
}

DOMNode DOMNode::lastChild() const
{
    xmlNodePtr n = NODE();
    return hasOwnChildren(n) ? detail::DocCore::of(*this)->handle(detail::visible(n->last, false)) : DOMNode();
}

DOMNode DOMNode::nextSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL ? DOMNode()
                                                                           : detail::DocCore::of(*this)->handle(detail::visible(n->next, true));
}

DOMNode DOMNode::previousSibling() const
{
    xmlNodePtr n = NODE();
    return n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL ? DOMNode()
                                                                           : detail::DocCore::of(*this)->handle(detail::visible(n->prev, false));
}

DOMNode DOMNode::ownerElement() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_NAMESPACE_DECL) {
        void* el = reinterpret_cast<xmlNsPtr>(n)->_private;
        return el && el != detail::kRetiredDeclaration ? detail::DocCore::of(*this)->handle(static_cast<xmlNodePtr>(el))
                                                       : DOMNode();
    }
    return n->type == XML_ATTRIBUTE_NODE ? detail::DocCore::of(*this)->handle(n->parent) : DOMNode();
}

DOMNode DOMNode::parentNode() const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_NAMESPACE_DECL)
        return DOMNode();
    return detail::DocCore::of(*this)->handle(n->parent);
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
    return detail::DocCore::ownerOf(detail::DocCore::shared(*this));
}

DOMNode DOMNode::cloneNode(bool deep) const
{
    xmlNodePtr n = NODE();
    if (n->type == XML_DOCUMENT_NODE) {
        // The declarations kept on the document for detached nodes are no part of the
        // tree, and libxml2 copying a list of more than xml's own one hands the copied
        // xml: names the wrong one: the copy is made with xml's alone.
        auto source = reinterpret_cast<xmlDocPtr>(n);
        xmlNsPtr kept = source->oldNs ? std::exchange(source->oldNs->next, nullptr) : nullptr;
        xmlDocPtr copy = xmlCopyDoc(source, deep ? 1 : 0);
        if (source->oldNs)
            source->oldNs->next = kept;
        if (!copy)
            detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
        auto core = std::make_shared<DocCore>(copy);
        core->indentUnit = detail::DocCore::of(*this)->indentUnit;
        core->formatOutput = detail::DocCore::of(*this)->formatOutput;
        core->hadDeclaration = detail::DocCore::of(*this)->hadDeclaration;
        core->declaration = detail::DocCore::of(*this)->declaration;
        core->hadBom = detail::DocCore::of(*this)->hadBom;
        return core->handle(reinterpret_cast<xmlNodePtr>(copy));
    }
    if (n->type == XML_NAMESPACE_DECL || n->type == XML_DTD_NODE)
        detail::raise(DOMError::NotSupported, QStringLiteral("cloneNode: %1 cannot be copied.").arg(typeWord(n)));
    // The copy lives in a tree of its own: holding it never keeps this one alive.
    auto core = detail::DocCore::of(*this)->createSibling();
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
        detail::raiseCopyFailed();
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
        detail::setDeclaration(*detail::DocCore::of(*this), n, qn, value);
        return;
    }
    if (xmlAttrPtr a = findAttr(n, qn)) {
        setAttrValue(a, value);
        detail::markAttributeChanged(reinterpret_cast<xmlNodePtr>(a));
        detail::DocCore::of(*this)->noteChange(n);
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
    detail::DocCore::of(*this)->noteChange(n);
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
            detail::removeDeclaration(*detail::DocCore::of(*this), n, ns);
        return;
    }
    if (xmlAttrPtr a = findAttr(n, qn)) {
        auto an = reinterpret_cast<xmlNodePtr>(a);
        detail::unlinkKeepingNamespaces(an);
        detail::markTagChanged(n);
        detail::DocCore::of(*this)->noteChange(n);
        detail::DocCore::of(*this)->detached(an);
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
        return detail::DocCore::of(*this)->handle(reinterpret_cast<xmlNodePtr>(a)).value();
    return QString(QLatin1String(""));
}

// ---- attribute map: namespace declarations first, then the attributes ----

namespace detail {

DOMNode declarationHandle(const std::shared_ptr<DocCore>& core, xmlNodePtr el, xmlNsPtr ns)
{
    if (!ns->_private)
        ns->_private = el; // lets the handle find the element whose scope a change affects
    return core->handle(reinterpret_cast<xmlNodePtr>(ns));
}

} // namespace detail

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
            return detail::declarationHandle(DocCore::shared(m_owner), n, ns);
    xmlAttrPtr a = n->properties;
    for (; a && index > 0; a = a->next)
        --index;
    return DocCore::of(m_owner)->handle(reinterpret_cast<xmlNodePtr>(a));
}

DOMNode DOMNamedNodeMap::getNamedItem(const QString& name) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(m_owner.requireNode());
    const QByteArray qn = utf8(name);
    if (detail::isDeclarationName(qn)) {
        xmlNsPtr ns = detail::findDeclaration(n, qn);
        return ns ? detail::declarationHandle(DocCore::shared(m_owner), n, ns) : DOMNode();
    }
    return DocCore::of(m_owner)->handle(reinterpret_cast<xmlNodePtr>(findAttr(n, qn)));
}

} // namespace treelark
