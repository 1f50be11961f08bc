// Renaming elements and attributes in place: the node stays the same node, so handles,
// the undo history and everything below an element keep pointing where they did.
#include "dom_internal.h"

#include <libxml/tree.h>

namespace treelark {

namespace detail {

namespace {

const xmlChar* xc(const QByteArray& b) { return reinterpret_cast<const xmlChar*>(b.constData()); }

bool sameNamespace(xmlNsPtr a, xmlNsPtr b)
{
    const xmlChar* ha = a && a->href && *a->href ? a->href : nullptr;
    const xmlChar* hb = b && b->href && *b->href ? b->href : nullptr;
    return ha == hb || (ha && hb && xmlStrEqual(ha, hb));
}

// The refusal and the error it is raised with.
QString check(xmlNodePtr n, const QByteArray& qname, xmlNsPtr* nsOut, QByteArray* localOut, bool attributesToo,
              DOMError* code)
{
    const QString shown = QString::fromUtf8(qname);
    *code = DOMError::NotSupported;
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE)
        return QStringLiteral("only elements and attributes can be renamed");
    *code = DOMError::InvalidArgument;
    if (qname.isEmpty())
        return QStringLiteral("the name would be empty");
    if (xmlValidateQName(xc(qname), 0) != 0)
        return QStringLiteral("'%1' is not a valid XML name").arg(shown);
    *code = DOMError::Namespace;
    const qsizetype colon = qname.indexOf(':');
    const QByteArray prefix = colon > 0 ? qname.left(colon) : QByteArray();
    const QByteArray local = colon > 0 ? qname.mid(colon + 1) : qname;
    // Declarations are edited as attributes of their own (their value is the namespace);
    // a name turning into one, or out of one, would change what the document means.
    if (qname == "xmlns" || prefix == "xmlns")
        return QStringLiteral("'%1' would be a namespace declaration").arg(shown);
    xmlNsPtr ns = nullptr;
    if (!prefix.isEmpty()) {
        ns = xmlSearchNs(n->doc, n->type == XML_ATTRIBUTE_NODE ? n->parent : n, xc(prefix));
        if (!ns)
            return QStringLiteral("the prefix '%1' is not declared there").arg(QString::fromUtf8(prefix));
    } else if (n->type == XML_ELEMENT_NODE) {
        // an element without a prefix is in the default namespace of its place
        ns = xmlSearchNs(n->doc, n, nullptr);
        if (ns && (!ns->href || !*ns->href))
            ns = nullptr;
    }
    if (attributesToo && n->type == XML_ATTRIBUTE_NODE && n->parent)
        for (xmlAttrPtr a = n->parent->properties; a; a = a->next)
            if (reinterpret_cast<xmlNodePtr>(a) != n && xmlStrEqual(a->name, xc(local)) && sameNamespace(a->ns, ns)
                && (ns != nullptr) == (a->ns != nullptr))
                return QStringLiteral("the element already has an attribute '%1'").arg(shown);
    if (nsOut)
        *nsOut = ns;
    if (localOut)
        *localOut = local;
    return QString();
}

} // namespace

QString renameRefusal(xmlNodePtr n, const QByteArray& qname, xmlNsPtr* ns, QByteArray* local, bool attributesToo)
{
    DOMError code;
    return check(n, qname, ns, local, attributesToo, &code);
}

} // namespace detail

void DOMNode::setNodeName(const QString& qualifiedName)
{
    auto n = static_cast<xmlNodePtr>(requireNode());
    xmlNsPtr ns = nullptr;
    QByteArray local;
    DOMError code;
    const QString why = detail::check(n, qualifiedName.toUtf8(), &ns, &local, true, &code);
    if (!why.isEmpty())
        detail::raise(code, QStringLiteral("setNodeName: %1.").arg(why));
    if (xmlStrEqual(n->name, reinterpret_cast<const xmlChar*>(local.constData())) && n->ns == ns)
        return;
    detail::recordName(n);
    if (n->type == XML_ATTRIBUTE_NODE)
        detail::rememberFileName(reinterpret_cast<xmlAttrPtr>(n), nodeName().toUtf8());
    xmlNodeSetName(n, reinterpret_cast<const xmlChar*>(local.constData()));
    detail::setNs(n, ns);
    if (n->type == XML_ATTRIBUTE_NODE)
        detail::markAttributeChanged(n);
    else
        detail::markTagChanged(n);
    detail::DocCore::of(*this)->noteChange(n);
}

} // namespace treelark
