#include "dom_internal.h"

#include <libxml/parserInternals.h>

namespace treelark {

using detail::DocCore;

DOMDocumentPtr DocCore::ownerOf(const std::shared_ptr<DocCore>& core)
{
    if (DOMDocumentPtr doc = core->owner.lock(); doc && doc->m_core == core)
        return doc;
    DOMDocumentPtr doc(new DOMDocument());
    doc->m_core = core;
    core->owner = doc;
    return doc;
}

DOMDocument::DOMDocument() = default;
DOMDocument::~DOMDocument() = default;

DOMDocumentPtr DOMDocument::create()
{
    DOMDocumentPtr doc(new DOMDocument());
    doc->m_core = DocCore::createEmpty();
    doc->m_core->owner = doc;
    return doc;
}

void DOMDocument::setReadyState(int state)
{
    m_readyState = state;
    // A listener may remove itself (or others) while it is told.
    const auto listeners = m_readyListeners;
    for (const auto& [id, handler] : listeners)
        if (handler)
            handler();
}

int DOMDocument::addReadyStateListener(std::function<void()> handler)
{
    const int id = m_nextListenerId++;
    m_readyListeners.emplace_back(id, std::move(handler));
    return id;
}

void DOMDocument::removeReadyStateListener(int id)
{
    std::erase_if(m_readyListeners, [id](const auto& l) { return l.first == id; });
}

DOMNode DOMDocument::asNode() const { return m_core->handle(reinterpret_cast<xmlNodePtr>(m_core->doc)); }

DOMNode DOMDocument::documentElement() const { return m_core->handle(xmlDocGetRootElement(m_core->doc)); }

void DOMDocument::setDocumentElement(const DOMNode& element)
{
    if (element.isNull())
        detail::raiseNothing();
    if (element.nodeType() != NODE_ELEMENT)
        detail::raise(DOMError::HierarchyRequest,
                      QStringLiteral("setDocumentElement: the document element must be an element."));
    DOMNode old = documentElement();
    if (old == element)
        return;
    DOMNode root = asNode();
    if (!old) {
        root.appendChild(element);
        return;
    }
    // The new root takes the old one's place among the prolog and epilog nodes, which
    // therefore still read as the file has them.
    const bool prologChanged = m_core->prologChanged;
    DOMNode next = old.nextSibling();
    root.removeChild(old);
    try {
        root.insertBefore(element, next);
    } catch (const DOMException&) {
        root.insertBefore(old, next);
        m_core->prologChanged = prologChanged;
        throw;
    }
    m_core->prologChanged = prologChanged;
}

// A name with a prefix is resolved where the node is first placed (and refused there if
// nothing declares the prefix), so a node can be built before its place is known; an
// element without a prefix takes the default namespace of that place.
DOMNode DOMDocument::createNode(int type, const QString& name, const QString& namespaceURI)
{
    Q_UNUSED(namespaceURI);
    const QByteArray n = name.toUtf8();
    const xmlChar* xn = reinterpret_cast<const xmlChar*>(n.constData());
    auto refuse = [&](const QString& why) {
        detail::raise(DOMError::InvalidArgument, QStringLiteral("createNode: '%1' %2").arg(name, why));
    };
    xmlNodePtr node = nullptr;
    switch (type) {
    case NODE_ELEMENT:
        if (n.isEmpty() || xmlValidateQName(xn, 0) != 0)
            refuse(QStringLiteral("is not a valid element name."));
        if (n.startsWith("xmlns:"))
            refuse(QStringLiteral("uses the prefix xmlns, which only declarations may use."));
        node = xmlNewDocNode(m_core->doc, nullptr, xn, nullptr);
        if (node)
            detail::setPendingName(node, true);
        break;
    case NODE_TEXT:
        node = xmlNewDocText(m_core->doc, reinterpret_cast<const xmlChar*>(""));
        break;
    case NODE_CDATA_SECTION:
        node = xmlNewCDataBlock(m_core->doc, reinterpret_cast<const xmlChar*>(""), 0);
        break;
    case NODE_COMMENT:
        node = xmlNewDocComment(m_core->doc, reinterpret_cast<const xmlChar*>(""));
        break;
    case NODE_PROCESSING_INSTRUCTION:
        // A target is a name without a colon, and "xml" in any case is the declaration's.
        if (n.isEmpty() || xmlValidateNCName(xn, 0) != 0)
            refuse(QStringLiteral("is not a valid target name."));
        if (n.toLower() == "xml")
            refuse(QStringLiteral("is reserved for the XML declaration."));
        node = xmlNewDocPI(m_core->doc, xn, nullptr);
        break;
    case NODE_ATTRIBUTE:
        if (n.isEmpty() || xmlValidateQName(xn, 0) != 0)
            refuse(QStringLiteral("is not a valid attribute name."));
        node = reinterpret_cast<xmlNodePtr>(xmlNewDocProp(m_core->doc, xn, reinterpret_cast<const xmlChar*>("")));
        if (node)
            detail::setPendingName(node, n.contains(':'));
        break;
    case NODE_DOCUMENT_FRAGMENT:
        node = xmlNewDocFragment(m_core->doc);
        break;
    default:
        detail::raise(DOMError::NotSupported, QStringLiteral("createNode: nodes of type %1 cannot be created.").arg(type));
    }
    if (!node)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    m_core->adopt(node);
    return m_core->handle(node);
}

DOMNode DOMDocument::createElement(const QString& tagName) { return createNode(NODE_ELEMENT, tagName, QString()); }

DOMNode DOMDocument::createTextNode(const QString& data)
{
    DOMNode n = createNode(NODE_TEXT, QString(), QString());
    n.setNodeValue(data);
    return n;
}

DOMNode DOMDocument::createComment(const QString& data)
{
    DOMNode n = createNode(NODE_COMMENT, QString(), QString());
    n.setNodeValue(data);
    return n;
}

DOMNodeList DOMDocument::getElementsByTagName(const QString& tagName) const
{
    // A name with "/" is taken as a chain of element names ("a/b": every b whose parent
    // is an a), so that a path can be looked up as well as a single name.
    QByteArray filter = tagName.toUtf8();
    if (filter.isEmpty())
        return DOMNodeList(detail::makeSnapshot(m_core, {}));
    return DOMNodeList(detail::makeWalk(m_core, reinterpret_cast<xmlNodePtr>(m_core->doc), filter));
}

QByteArray DOMDocument::indentUnit() const { return m_core->indentUnit; }

} // namespace treelark
