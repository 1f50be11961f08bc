// Selection is XPath 1.0, evaluated by libxml2 with the node as context.
//
// The bare expression "//" is not a complete location path. It is taken to mean every
// node of the tree below the node it is asked on: elements, text, CDATA sections,
// comments and processing instructions, attributes excluded; asked on the document
// this is every node of the document below the document node itself (prolog and
// epilog comments included, the DOCTYPE excluded). The list is walked lazily, so
// counting a huge document this way allocates nothing per node.
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <libxml/xpathInternals.h>
#include <libxml/tree.h>

namespace treelark {

namespace {

// Where an expression went wrong, as libxml2 reports it: its message and the position
// in the expression (in bytes of its UTF-8 form).
struct XPathFault {
    QString message;
    int position = -1;
};

void noteXPathError(void* data, xmlErrorPtr error)
{
    auto* fault = static_cast<XPathFault*>(data);
    if (!fault || !error || fault->position >= 0)
        return;
    fault->message = error->message ? QString::fromUtf8(error->message).trimmed() : QString();
    fault->position = error->int1;
}

// The prefixes an expression may use are those declared where it is asked: on the node
// and its ancestors (on the document, those of its element).
std::vector<xmlNsPtr> prefixesInScope(xmlNodePtr n)
{
    std::vector<xmlNsPtr> out;
    if (n->type == XML_DOCUMENT_NODE)
        n = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(n));
    else if (n->type == XML_ATTRIBUTE_NODE)
        n = n->parent;
    for (; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
            if (!ns->prefix)
                continue; // XPath 1.0 has no default namespace for names
            bool hidden = false;
            for (xmlNsPtr seen : out)
                hidden = hidden || xmlStrEqual(seen->prefix, ns->prefix);
            if (!hidden)
                out.push_back(ns);
        }
    return out;
}

// "//Name" asked on the document, the name box's everyday search, is answered by a walk
// of our own: the elements libxml2 would select (in no namespace, with that local name),
// in the same order, but a walk can keep the window painted on a document of millions of
// nodes, and libxml2's evaluation cannot.
bool selectByName(xmlNodePtr doc, const QString& expression, std::vector<xmlNodePtr>& out)
{
    if (doc->type != XML_DOCUMENT_NODE || !expression.startsWith(QLatin1String("//")))
        return false;
    const QByteArray name = expression.mid(2).toUtf8();
    if (name.isEmpty() || xmlValidateNCName(reinterpret_cast<const xmlChar*>(name.constData()), 0) != 0)
        return false;
    qint64 seen = 0;
    for (xmlNodePtr c = detail::nextInSubtree(doc, doc); c; c = detail::nextInSubtree(c, doc)) {
        if ((++seen & 0x3FFF) == 0)
            busyTick();
        if (c->type == XML_ELEMENT_NODE && !c->ns && name == reinterpret_cast<const char*>(c->name))
            out.push_back(c);
    }
    return true;
}

} // namespace

DOMNodeList DOMNode::selectNodes(const QString& expression) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(requireNode());
    // A namespace declaration, or an attribute that belongs to no element, has nothing
    // around it to select from (and libxml2's axes assume an attribute has a parent).
    if (n->type == XML_NAMESPACE_DECL || (n->type == XML_ATTRIBUTE_NODE && !n->parent))
        return DOMNodeList(detail::makeSnapshot(detail::DocCore::shared(*this), {}));
    const QString trimmed = expression.trimmed();
    if (trimmed == QLatin1String("//"))
        return DOMNodeList(detail::makeWalk(detail::DocCore::shared(*this), n, QByteArray()));
    if (std::vector<xmlNodePtr> named; selectByName(n, trimmed, named))
        return DOMNodeList(detail::makeSnapshot(detail::DocCore::shared(*this), std::move(named)));

    xmlXPathContextPtr ctx = detail::DocCore::of(*this)->xpathContext();
    if (!ctx)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    ctx->node = n;
    XPathFault fault;
    ctx->error = noteXPathError;
    ctx->userData = &fault;
    std::vector<xmlNsPtr> prefixes = prefixesInScope(n);
    ctx->namespaces = prefixes.empty() ? nullptr : prefixes.data();
    ctx->nsNr = int(prefixes.size());
    const QByteArray expr = expression.toUtf8();
    xmlXPathObjectPtr res = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr.constData()), ctx);
    ctx->node = nullptr;
    ctx->namespaces = nullptr;
    ctx->nsNr = 0;
    ctx->userData = nullptr;
    if (!res) {
        if (fault.position < 0)
            detail::raise(DOMError::BadQuery, QStringLiteral("'%1' is not a valid selection.").arg(expression));
        // The position counts characters, as the user typed them.
        const qsizetype at = QString::fromUtf8(expr.left(fault.position)).size() + 1;
        const QString why = fault.message.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(fault.message);
        detail::raise(DOMError::BadQuery, QStringLiteral("'%1' is not a valid selection: the fault is at character %2%3.")
                                              .arg(expression)
                                              .arg(at)
                                              .arg(why));
    }
    if (res->type != XPATH_NODESET) {
        xmlXPathFreeObject(res);
        detail::raise(DOMError::BadQuery,
                      QStringLiteral("'%1' does not select nodes.").arg(expression));
    }
    std::vector<xmlNodePtr> nodes;
    if (xmlNodeSetPtr set = res->nodesetval) {
        nodes.reserve(size_t(set->nodeNr));
        for (int i = 0; i < set->nodeNr; ++i) {
            xmlNodePtr r = set->nodeTab[i];
            if (r && r->type != XML_NAMESPACE_DECL && !detail::isFormatting(r))
                nodes.push_back(r);
        }
    }
    xmlXPathFreeObject(res);
    return DOMNodeList(detail::makeSnapshot(detail::DocCore::shared(*this), std::move(nodes)));
}

DOMNode DOMNode::selectSingleNode(const QString& expression) const
{
    return selectNodes(expression).item(0);
}

} // namespace treelark
