// Selection is XPath 1.0, evaluated by libxml2 with the node as context.
//
// The bare expression "//" is not a complete location path. It is taken to mean every
// node of the tree below the node it is asked on: elements, text, CDATA sections,
// comments and processing instructions, attributes excluded; asked on the document
// this is every node of the document below the document node itself (prolog and
// epilog comments included, the DOCTYPE excluded). The list is walked lazily, so
// counting a huge document this way allocates nothing per node.
#include "dom_internal.h"

#include <libxml/xpathInternals.h>

namespace treelark {

namespace {

void silentXPathError(void*, xmlErrorPtr) {}

} // namespace

DOMNodeList DOMNode::selectNodes(const QString& expression) const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(requireNode());
    // A namespace declaration, or an attribute that belongs to no element, has nothing
    // around it to select from (and libxml2's axes assume an attribute has a parent).
    if (n->type == XML_NAMESPACE_DECL || (n->type == XML_ATTRIBUTE_NODE && !n->parent))
        return DOMNodeList(detail::makeSnapshot(m_core, {}));
    const QString trimmed = expression.trimmed();
    if (trimmed == QLatin1String("//"))
        return DOMNodeList(detail::makeWalk(m_core, n, QByteArray()));

    xmlXPathContextPtr ctx = m_core->xpathContext();
    if (!ctx)
        detail::raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    ctx->node = n;
    ctx->error = silentXPathError;
    const QByteArray expr = expression.toUtf8();
    xmlXPathObjectPtr res = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr.constData()), ctx);
    ctx->node = nullptr;
    if (!res)
        detail::raise(DOMError::BadQuery, QStringLiteral("'%1' is not a valid selection.").arg(expression));
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
    return DOMNodeList(detail::makeSnapshot(m_core, std::move(nodes)));
}

DOMNode DOMNode::selectSingleNode(const QString& expression) const
{
    return selectNodes(expression).item(0);
}

} // namespace treelark
