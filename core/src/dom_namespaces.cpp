// Namespaces through edits. libxml2 gives every element and attribute a pointer to the
// declaration (xmlNs) its prefix resolved to when it was read. Moving a node keeps that
// pointer, which then may name a declaration that is no longer in scope (or is freed
// with its old ancestor): the file saved from such a tree says something else than the
// tree, or cannot be read at all. So every place that links or unlinks nodes goes
// through here:
// - unlinking hands the subtree copies of the declarations it used from above (libxml2's
//   xmlDOMWrapRemoveNode keeps them on the document);
// - linking makes each reference point to a declaration in scope at the new place and
//   declares what is missing there (xmlDOMWrapReconcileNamespaces), and writes xmlns=""
//   on an element in no namespace that lands under a default namespace;
// - nodes made through the API resolve their names where they are first placed.
// Declarations themselves are edited as attributes named "xmlns" and "xmlns:p"; a change
// to one re-reads the names in its scope the way a reload of the saved file would.
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <libxml/uri.h>

#include <cstring>
#include <unordered_set>
#include <vector>

namespace treelark::detail {

namespace {

const xmlChar* xc(const QByteArray& b) { return reinterpret_cast<const xmlChar*>(b.constData()); }
const char* cc(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

// Pre-order successor inside root's subtree, over elements' content (no attributes, no
// entity contents).
xmlNodePtr nextElementish(xmlNodePtr n, xmlNodePtr root)
{
    if (n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_FRAG_NODE)
        if (n->children)
            return n->children;
    while (n && n != root) {
        if (n->next)
            return n->next;
        n = n->parent;
    }
    return nullptr;
}

template <typename F>
void forEachElement(xmlNodePtr root, F&& f)
{
    // a pasted branch can hold a hundred thousand elements: the window stays painted
    qint64 walked = 0;
    for (xmlNodePtr n = root; n; n = nextElementish(n, root)) {
        if ((++walked & 0x3FFF) == 0)
            busyTick();
        if (n->type == XML_ELEMENT_NODE)
            f(n);
    }
}

QByteArray prefixOf(const xmlChar* qname)
{
    const char* colon = std::strchr(cc(qname), ':');
    return colon ? QByteArray(cc(qname), qsizetype(colon - cc(qname))) : QByteArray();
}

bool isPrefixedPending(xmlNodePtr n) { return !n->ns && n->name && std::strchr(cc(n->name), ':'); }

// The declaration a prefix (null: the default namespace) resolves to at el, from the
// declarations alone. (libxml2's own lookup also trusts the namespaces ancestors point
// to, which is wrong while a change is being worked out.)
xmlNsPtr declared(xmlNodePtr el, const xmlChar* prefix)
{
    if (prefix && xmlStrEqual(prefix, reinterpret_cast<const xmlChar*>("xml")))
        return xmlSearchNs(el->doc, el, prefix);
    for (xmlNodePtr n = el; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
            if (prefix ? ns->prefix && xmlStrEqual(ns->prefix, prefix) : !ns->prefix)
                return ns;
    return nullptr;
}

xmlNsPtr declared(xmlNodePtr el, const QByteArray& prefix) { return declared(el, xc(prefix)); }

// What a name with this prefix means at el: xmlns="" means no namespace.
xmlNsPtr resolve(xmlNodePtr el, const xmlChar* prefix)
{
    xmlNsPtr ns = declared(el, prefix);
    if (ns && !prefix && (!ns->href || !*ns->href))
        return nullptr;
    return ns;
}

// Gives a pending prefixed name its declaration: the name keeps only its local part.
void bindPending(xmlNodePtr n, xmlNsPtr ns)
{
    const char* colon = std::strchr(cc(n->name), ':');
    recordName(n);
    xmlNodeSetName(n, reinterpret_cast<const xmlChar*>(colon + 1));
    setNs(n, ns);
}

bool sameUri(xmlNsPtr a, xmlNsPtr b)
{
    const xmlChar* ha = a ? a->href : nullptr;
    const xmlChar* hb = b ? b->href : nullptr;
    if (ha && !*ha)
        ha = nullptr;
    if (hb && !*hb)
        hb = nullptr;
    return ha == hb || (ha && hb && xmlStrEqual(ha, hb));
}

QString qualified(xmlNodePtr n)
{
    if (n->ns && n->ns->prefix)
        return QString::fromUtf8(cc(n->ns->prefix)) + QLatin1Char(':') + QString::fromUtf8(cc(n->name));
    return QString::fromUtf8(cc(n->name));
}

} // namespace

bool inDocumentTree(xmlNodePtr n)
{
    while (n->parent)
        n = n->parent;
    return n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE;
}

xmlNsPtr lookupPrefix(xmlNodePtr scope, const QByteArray& prefix)
{
    return prefix.isEmpty() ? nullptr : declared(scope, prefix);
}

namespace {

// libxml2 drops the namespace of a copied attribute whose declaration it cannot find by
// walking up from the original, which is the case for every node of a detached subtree
// (its declarations from above are kept on the document). The copy gets a declaration of
// the same namespace on its element instead.
void restoreNamespace(xmlNodePtr owner, xmlNodePtr copy, xmlNsPtr wanted)
{
    if (!wanted || copy->ns)
        return;
    xmlNsPtr ns = declared(owner, wanted->prefix);
    if (!ns || !xmlStrEqual(ns->href, wanted->href))
        ns = xmlNewNs(owner, wanted->href, wanted->prefix);
    for (int i = 0; !ns && i < 1000; ++i) // the prefix is taken on this element: another one
        if (const QByteArray p = "ns" + QByteArray::number(i); !declared(owner, p))
            ns = xmlNewNs(owner, wanted->href, xc(p));
    copy->ns = ns;
}

} // namespace

xmlNodePtr copyInto(xmlNodePtr n, xmlDocPtr doc, bool deep)
{
    xmlNodePtr copy = deep && n->type == XML_ELEMENT_NODE ? copyElementInSteps(n, doc) : xmlDocCopyNode(n, doc, deep ? 1 : 2);
    if (!copy)
        return copy;
    qint64 walked = 0;
    // Same shape on both sides: walk them together to carry over what the copy lost (the
    // marks, and namespaces of attributes under a detached source).
    xmlNodePtr s = n, d = copy;
    while (s && d) {
        if ((++walked & 0x3FFF) == 0)
            busyTick();
        if (isFormatting(s))
            markFormatting(d);
        d->psvi = nullptr; // the copy is in no file
        if (s->type == XML_ELEMENT_NODE) {
            setPendingName(d, pendingName(s));
            restoreNamespace(d, d, s->ns);
            for (xmlAttrPtr sa = s->properties, da = d->properties; sa && da; sa = sa->next, da = da->next) {
                setPendingName(reinterpret_cast<xmlNodePtr>(da), pendingName(reinterpret_cast<xmlNodePtr>(sa)));
                restoreNamespace(d, reinterpret_cast<xmlNodePtr>(da), sa->ns);
            }
        }
        if (deep && s->type == XML_ELEMENT_NODE && s->children && d->children) {
            s = s->children;
            d = d->children;
            continue;
        }
        while (s != n && !s->next) {
            s = s->parent;
            d = d->parent;
        }
        if (s == n)
            break;
        s = s->next;
        d = d->next;
    }
    // A reference to an entity the target document does not declare could not be read
    // back there: it is left out of the copy.
    if (doc != n->doc && deep) {
        std::vector<xmlNodePtr> unresolved;
        for (xmlNodePtr c = copy; c; c = nextElementish(c, copy)) {
            if ((++walked & 0x3FFF) == 0)
                busyTick();
            if (c->type == XML_ENTITY_REF_NODE && !c->children)
                unresolved.push_back(c);
        }
        for (xmlNodePtr c : unresolved) {
            if (c == copy)
                continue;
            xmlUnlinkNode(c);
            xmlFreeNode(c);
        }
    }
    return copy;
}

void checkPlacement(xmlNodePtr parent, xmlNodePtr subtree)
{
    if (!inDocumentTree(parent))
        return; // a detached tree may hold names its future place will declare
    auto check = [&](xmlNodePtr owner, xmlNodePtr named, const char* what) {
        if (!isPrefixedPending(named))
            return;
        const QByteArray prefix = prefixOf(named->name);
        if (declared(owner, prefix) || (parent->type == XML_ELEMENT_NODE && declared(parent, prefix)))
            return;
        raise(DOMError::Namespace,
              QStringLiteral("insertBefore: the prefix '%1' of the %2 '%3' is not declared where it would be placed.")
                  .arg(QString::fromUtf8(prefix), QString::fromLatin1(what), QString::fromUtf8(cc(named->name))));
    };
    forEachElement(subtree, [&](xmlNodePtr el) {
        check(el, el, "element");
        for (xmlAttrPtr a = el->properties; a; a = a->next)
            check(el, reinterpret_cast<xmlNodePtr>(a), "attribute");
    });
}

void settleNamespaces(xmlNodePtr subtree)
{
    const bool placed = inDocumentTree(subtree);
    bool anyElement = false;
    forEachElement(subtree, [&](xmlNodePtr el) {
        anyElement = true;
        if (pendingName(el)) {
            if (isPrefixedPending(el)) {
                if (xmlNsPtr ns = declared(el, prefixOf(el->name)))
                    bindPending(el, ns);
            } else if (placed) {
                setNs(el, resolve(el, nullptr)); // a new element joins the default namespace of its place
            }
            setPendingName(el, placed && !isPrefixedPending(el) ? false : pendingName(el));
        }
        for (xmlAttrPtr a = el->properties; a; a = a->next) {
            auto an = reinterpret_cast<xmlNodePtr>(a);
            if (!isPrefixedPending(an))
                continue;
            if (xmlNsPtr ns = declared(el, prefixOf(an->name))) {
                bindPending(an, ns);
                setPendingName(an, false);
            }
        }
    });
    if (!anyElement)
        return;
    const std::unique_ptr<NsSnapshot> before = snapshotNamespaces(subtree);
    if (subtree->type == XML_ELEMENT_NODE)
        xmlDOMWrapReconcileNamespaces(nullptr, subtree, 0);
    else
        for (xmlNodePtr c = subtree->children; c; c = c->next)
            if (c->type == XML_ELEMENT_NODE)
                xmlDOMWrapReconcileNamespaces(nullptr, c, 0);
    if (before)
        recordNamespaceChanges(*before);
    // Names and declarations in the subtree may read differently in its new place.
    forEachElement(subtree, [](xmlNodePtr el) {
        bool named = el->ns || el->nsDef;
        for (xmlAttrPtr a = el->properties; a && !named; a = a->next)
            named = a->ns != nullptr;
        if (named)
            markTagChanged(el);
    });
    // An element in no namespace keeps it under a default namespace by saying so.
    forEachElement(subtree, [](xmlNodePtr el) {
        if (el->ns || pendingName(el) || isPrefixedPending(el) || !resolve(el, nullptr))
            return;
        recordNsDefs(el);
        xmlNewNs(el, reinterpret_cast<const xmlChar*>(""), nullptr);
        markTagChanged(el);
    });
}

namespace {

// A lasting copy of a declaration for nodes taken out of its scope, kept on the document
// (libxml2's own list for this, freed with the document).
xmlNsPtr keptDeclaration(xmlDocPtr doc, xmlNodePtr any, xmlNsPtr ns)
{
    xmlSearchNs(doc, any, reinterpret_cast<const xmlChar*>("xml")); // the list starts with xml's
    xmlNsPtr last = nullptr;
    for (xmlNsPtr k = doc->oldNs; k; k = k->next) {
        if (k == ns)
            return ns;
        if (xmlStrEqual(k->href, ns->href) && xmlStrEqual(k->prefix, ns->prefix))
            return k;
        last = k;
    }
    xmlNsPtr kept = xmlNewNs(nullptr, ns->href, ns->prefix);
    if (!kept)
        raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    if (last)
        last->next = kept;
    else
        doc->oldNs = kept;
    return kept;
}

} // namespace

// (libxml2 2.9's xmlDOMWrapRemoveNode does this too, but skips the children of any element
// that has attributes.)
void unlinkKeepingNamespaces(xmlNodePtr n)
{
    if (!n->parent)
        return;
    if (n->type == XML_ATTRIBUTE_NODE) {
        auto a = reinterpret_cast<xmlAttrPtr>(n);
        if (a->atype == XML_ATTRIBUTE_ID)
            xmlRemoveID(n->doc, a);
    }
    xmlNodePtr oldParent = n->parent;
    unlink(n);
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE)
        return;
    // Nothing above declares anything: no name inside can lean on a declaration it
    // leaves behind (xml: is the document's own), and a subtree of a million nodes
    // needs no walk.
    bool declaredAbove = false;
    for (xmlNodePtr a = oldParent; a && a->type == XML_ELEMENT_NODE && !declaredAbove; a = a->parent)
        declaredAbove = a->nsDef != nullptr;
    if (!declaredAbove)
        return;
    std::unordered_set<xmlNsPtr> inside;
    auto keep = [&](xmlNodePtr named) {
        if (named->ns && !inside.count(named->ns))
            setNs(named, keptDeclaration(n->doc, n, named->ns));
    };
    if (n->type == XML_ATTRIBUTE_NODE) {
        keep(n);
        return;
    }
    // Pre-order: an element's own declarations are seen before anything that uses them.
    forEachElement(n, [&](xmlNodePtr el) {
        for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next)
            inside.insert(ns);
        keep(el);
        for (xmlAttrPtr a = el->properties; a; a = a->next)
            keep(reinterpret_cast<xmlNodePtr>(a));
    });
}

// ---- declarations as attributes ----

bool isDeclarationName(const QByteArray& qname) { return qname == "xmlns" || qname.startsWith("xmlns:"); }

xmlNsPtr findDeclaration(xmlNodePtr el, const QByteArray& qname)
{
    const QByteArray prefix = qname == "xmlns" ? QByteArray() : qname.mid(6);
    for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next)
        if (prefix.isEmpty() ? !ns->prefix : (ns->prefix && prefix == cc(ns->prefix)))
            return ns;
    return nullptr;
}

QString declarationName(xmlNsPtr ns)
{
    return ns->prefix ? QStringLiteral("xmlns:") + QString::fromUtf8(cc(ns->prefix)) : QStringLiteral("xmlns");
}

namespace {

void checkDeclaration(const QByteArray& prefix, const QByteArray& uri)
{
    static const QByteArray xmlUri = cc(XML_XML_NAMESPACE);
    static const QByteArray xmlnsUri = "http://www.w3.org/2000/xmlns/";
    auto refuse = [&](const QString& why) {
        raise(DOMError::Namespace, QStringLiteral("setAttribute: the declaration %1=\"%2\" is refused: %3")
                                       .arg(prefix.isEmpty() ? QStringLiteral("xmlns")
                                                             : QStringLiteral("xmlns:") + QString::fromUtf8(prefix),
                                            QString::fromUtf8(uri), why));
    };
    if (prefix == "xmlns")
        refuse(QStringLiteral("the prefix xmlns cannot be declared."));
    if (uri == xmlnsUri)
        refuse(QStringLiteral("that namespace is reserved for declarations."));
    if ((prefix == "xml") != (uri == xmlUri))
        refuse(QStringLiteral("the prefix xml and its namespace only go together."));
    if (!prefix.isEmpty() && uri.isEmpty())
        refuse(QStringLiteral("a prefix cannot be bound to an empty namespace."));
    if (!uri.isEmpty()) {
        xmlURIPtr parsed = xmlParseURI(uri.constData());
        if (!parsed)
            refuse(QStringLiteral("it is not a valid URI."));
        xmlFreeURI(parsed);
    }
}

struct Rebinding {
    xmlNodePtr node;
    xmlNsPtr ns;
};

// What the names in el's scope resolve to with the declarations as they are now; refuses
// (changing nothing) when a prefix would resolve nowhere or two attributes of an element
// would share their expanded name.
std::vector<Rebinding> planRebinding(xmlNodePtr el, const QString& change, xmlNsPtr changed = nullptr)
{
    std::vector<Rebinding> plan;
    forEachElement(el, [&](xmlNodePtr e) {
        if (pendingName(e) || isPrefixedPending(e))
            return;
        const xmlChar* prefix = e->ns ? e->ns->prefix : nullptr;
        xmlNsPtr now = resolve(e, prefix);
        if (prefix && !now)
            raise(DOMError::InUse, QStringLiteral("%1: the element '%2' still uses that declaration.")
                                       .arg(change, qualified(e)));
        if (now != e->ns)
            plan.push_back({e, now});
        for (xmlAttrPtr a = e->properties; a; a = a->next) {
            if (!a->ns || !a->ns->prefix)
                continue;
            xmlNsPtr an = resolve(e, a->ns->prefix);
            if (!an)
                raise(DOMError::InUse, QStringLiteral("%1: the attribute '%2' still uses that declaration.")
                                           .arg(change, qualified(reinterpret_cast<xmlNodePtr>(a))));
            if (an == a->ns && an != changed)
                continue;
            for (xmlAttrPtr b = e->properties; b; b = b->next)
                if (b != a && xmlStrEqual(b->name, a->name)
                    && sameUri(b->ns ? resolve(e, b->ns->prefix) : nullptr, an))
                    raise(DOMError::Namespace,
                          QStringLiteral("%1: the element '%2' would have two attributes named '%3' in one namespace.")
                              .arg(change, qualified(e), QString::fromUtf8(cc(a->name))));
            plan.push_back({reinterpret_cast<xmlNodePtr>(a), an});
        }
    });
    return plan;
}

void apply(const std::vector<Rebinding>& plan)
{
    for (const Rebinding& r : plan) {
        setNs(r.node, r.ns);
        if (r.node->type == XML_ATTRIBUTE_NODE)
            markAttributeChanged(r.node);
        else
            markTagChanged(r.node);
    }
}

} // namespace

void setDeclaration(DocCore& core, xmlNodePtr el, const QByteArray& qname, const QByteArray& uri)
{
    const QByteArray prefix = qname == "xmlns" ? QByteArray() : qname.mid(6);
    checkDeclaration(prefix, uri);
    if (prefix == "xml")
        return; // always bound; declaring it says nothing new
    const QString change = QStringLiteral("setAttribute(%1)").arg(QString::fromUtf8(qname));
    markTagChanged(el);
    xmlNsPtr ns = findDeclaration(el, qname);
    if (ns) {
        recordHref(ns);
        xmlChar* old = const_cast<xmlChar*>(ns->href);
        ns->href = xmlStrdup(xc(uri));
        try {
            apply(planRebinding(el, change, ns));
        } catch (...) {
            xmlFree(const_cast<xmlChar*>(ns->href));
            ns->href = old;
            throw;
        }
        xmlFree(old);
        core.noteChange(el);
        return;
    }
    recordNsDefs(el);
    ns = xmlNewNs(el, xc(uri), prefix.isEmpty() ? nullptr : xc(prefix));
    if (!ns)
        raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    try {
        apply(planRebinding(el, change));
    } catch (...) {
        // xmlNewNs appended it: take it off the end again
        for (xmlNsPtr* link = &el->nsDef; *link; link = &(*link)->next)
            if (*link == ns) {
                *link = nullptr;
                break;
            }
        xmlFreeNs(ns);
        throw;
    }
    core.noteChange(el);
}

void setDeclarationValue(DocCore& core, xmlNsPtr ns, const QByteArray& uri)
{
    auto owner = static_cast<xmlNodePtr>(ns->_private);
    if (!owner || ns->_private == kRetiredDeclaration || !findDeclaration(owner, declarationName(ns).toUtf8())) {
        // a declaration no element has any more: only its value
        checkDeclaration(ns->prefix ? QByteArray(cc(ns->prefix)) : QByteArray(), uri);
        recordHref(ns);
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = xmlStrdup(xc(uri));
        return;
    }
    setDeclaration(core, owner, declarationName(ns).toUtf8(), uri);
}

void removeDeclaration(DocCore& core, xmlNodePtr el, xmlNsPtr ns)
{
    xmlNsPtr* link = &el->nsDef;
    while (*link && *link != ns)
        link = &(*link)->next;
    if (!*link)
        return;
    recordNsDefs(el);
    *link = ns->next;
    markTagChanged(el);
    try {
        apply(planRebinding(el, QStringLiteral("removeAttribute(%1)").arg(declarationName(ns))));
    } catch (...) {
        *link = ns;
        throw;
    }
    ns->next = nullptr;
    core.noteChange(el);
    if (recording(el->doc)) {
        // the recorded changes keep it, to put it back
        if (ns->_private)
            ns->_private = kRetiredDeclaration;
    } else if (ns->_private) {
        ns->_private = kRetiredDeclaration;
        core.retiredNs.push_back(ns);
    } else {
        xmlFreeNs(ns);
    }
}

void checkAttributeName(xmlNodePtr el, xmlAttrPtr self, xmlNsPtr ns, const xmlChar* local)
{
    for (xmlAttrPtr a = el->properties; a; a = a->next)
        if (a != self && xmlStrEqual(a->name, local) && sameUri(a->ns, ns) && (ns || !a->ns))
            raise(DOMError::Namespace,
                  QStringLiteral("setAttribute: '%1' already has an attribute '%2' in that namespace.")
                      .arg(qualified(el), QString::fromUtf8(cc(local))));
}

} // namespace treelark::detail
