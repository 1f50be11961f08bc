// Putting nodes in place and taking them out: insertBefore, appendChild, replaceChild and
// removeChild, laid out the way the file around them is, with nodes of other documents
// moved over (never copied: the caller's node is the one in the tree afterwards).
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <vector>

namespace treelark {

using detail::DocCore;
using detail::link;
using detail::typeWord;

namespace {

const xmlChar* xc(const QByteArray& b) { return reinterpret_cast<const xmlChar*>(b.constData()); }

bool isContainer(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_DOCUMENT_FRAG_NODE;
}

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

// Every node of root's subtree with its attributes (not what entity references and a
// DOCTYPE lean on: that is not the subtree's own).
template <typename F>
void forEachNode(xmlNodePtr root, F&& f)
{
    qint64 walked = 0;
    for (xmlNodePtr n = root; n;) {
        if ((++walked & 0x3FFF) == 0)
            busyTick();
        f(n);
        if (n->type == XML_ELEMENT_NODE)
            for (xmlAttrPtr a = n->properties; a; a = a->next)
                f(reinterpret_cast<xmlNodePtr>(a));
        if ((n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_FRAG_NODE) && n->children) {
            n = n->children;
            continue;
        }
        while (n != root && !n->next)
            n = n->parent;
        n = n == root ? nullptr : n->next;
    }
}

// A reference to an entity the new document does not declare could not be read back from
// its file: it stays behind (in the old document, detached), as do such references in
// attribute values.
void leaveUndeclaredReferences(DocCore& from, xmlNodePtr root, xmlDocPtr to)
{
    std::vector<xmlNodePtr> refs, inValues;
    forEachNode(root, [&](xmlNodePtr m) {
        if (m->type == XML_ENTITY_REF_NODE && m != root && !xmlGetDocEntity(to, m->name))
            refs.push_back(m);
        if (m->type == XML_ATTRIBUTE_NODE)
            for (xmlNodePtr c = m->children; c; c = c->next)
                if (c->type == XML_ENTITY_REF_NODE && !xmlGetDocEntity(to, c->name))
                    inValues.push_back(c);
    });
    for (xmlNodePtr r : refs) {
        xmlUnlinkNode(r);
        from.detached(r);
    }
    for (xmlNodePtr r : inValues) {
        xmlUnlinkNode(r);
        xmlFreeNode(r);
    }
}

// A declaration someone holds as an attribute stays with the tree it was handed out from
// (its handle holds that tree, not the node's): its element goes on with a copy of it.
void leaveHeldDeclarations(DocCore& from, xmlNodePtr root)
{
    forEachNode(root, [&](xmlNodePtr el) {
        if (el->type != XML_ELEMENT_NODE)
            return;
        for (xmlNsPtr* at = &el->nsDef; *at;) {
            xmlNsPtr ns = *at;
            xmlNsPtr copy = ns->_private ? xmlNewNs(nullptr, ns->href, ns->prefix) : nullptr;
            if (!copy) {
                at = &ns->next;
                continue;
            }
            copy->next = ns->next;
            *at = copy;
            at = &copy->next;
            forEachNode(root, [&](xmlNodePtr m) {
                if ((m->type == XML_ELEMENT_NODE || m->type == XML_ATTRIBUTE_NODE) && m->ns == ns)
                    m->ns = copy;
            });
            ns->next = nullptr;
            ns->_private = detail::kRetiredDeclaration;
            from.retiredNs.push_back(ns);
        }
    });
}

} // namespace

void detail::adoptInto(DocCore& to, xmlNodePtr n)
{
    DocCore& from = *DocCore::of(n->doc);
    const std::shared_ptr<DocCore> keep = from.shared_from_this(); // its last handles may be leaving
    if (n->parent) {
        from.changed(n->parent);
        from.notePrologChange(n->parent, n);
        dropIndentation(n);
        unlinkKeepingNamespaces(n);
    }
    from.parked.erase(n);
    from.changed(n);
    leaveUndeclaredReferences(from, n, to.doc);
    leaveHeldDeclarations(from, n);
    qint64 held = 0;
    forEachNode(n, [&](xmlNodePtr m) {
        if (m->type != XML_ATTRIBUTE_NODE) // (an attribute's psvi word lies elsewhere)
            m->psvi = nullptr; // where it stood in the old document's file means nothing here
        held += handleCount(m);
    });
    if (xmlDOMWrapAdoptNode(nullptr, from.doc, n, to.doc, nullptr, 0) != 0) {
        from.parked.insert(n); // still the old document's, detached
        raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
    }
    to.pin(held);
    const std::shared_ptr<DocCore> letGo = from.unpin(held);
    to.parked.insert(n); // detached here until it is linked
}

DOMNode DOMNode::appendChild(const DOMNode& newChild) { return insertBefore(newChild, DOMNode()); }

// Allowed, not refused: a parent that can hold children, a child of a kind that may stand
// there, a reference node that is one of the parent's children. Everything else is
// refused before anything changes.
DOMNode DOMNode::insertBefore(const DOMNode& newChild, const DOMNode& refChild)
{
    xmlNodePtr parent = static_cast<xmlNodePtr>(requireNode());
    xmlNodePtr child = static_cast<xmlNodePtr>(newChild.requireNode());
    xmlNodePtr before = static_cast<xmlNodePtr>(refChild.m_node);
    DocCore& core = *DocCore::of(*this);
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
            && before->parent == parent;
        if (!sibling)
            refuse(DOMError::NotFound,
                   QStringLiteral("Insert position Node must be a Child of the Node to insert under."));
    }
    if (before == child)
        return newChild;

    const bool foreign = child->doc != parent->doc;
    if (!foreign)
        for (xmlNodePtr a = parent; a; a = a->parent)
            if (a == child)
                refuse(DOMError::HierarchyRequest,
                       QStringLiteral("a node cannot be inserted under itself or its descendants."));

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
        if (foreign && c->type == XML_ENTITY_REF_NODE && !xmlGetDocEntity(parent->doc, c->name))
            refuse(DOMError::HierarchyRequest,
                   QStringLiteral("this document does not declare the entity '%1'.").arg(detail::toQ(c->name)));
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
    // A node another document may still have to put back (its changes are being recorded,
    // or a change set of it names the node) cannot leave that document.
    if (foreign && (detail::recording(child->doc) || detail::namedByChangeSet(child)))
        refuse(DOMError::NotSupported,
               QStringLiteral("the node belongs to a document whose recorded changes may put it back; insert a copy of it."));

    for (xmlNodePtr c : moving) {
        if (foreign) {
            if (fragment)
                xmlUnlinkNode(c); // a fragment declares nothing its children could use
            detail::adoptInto(core, c);
        }
        core.notePrologChange(parent, c);
        core.notePrologChange(c->parent, c);
        if (c->parent) {
            core.changed(c->parent);
            dropIndentation(c);
            if (fragment)
                detail::unlink(c);
            else
                detail::unlinkKeepingNamespaces(c);
        }
        core.parked.erase(c);
        linkIndented(parent, c, before, core.indentUnit);
        detail::settleNamespaces(c);
    }
    core.changed(parent);
    return newChild;
}

DOMNode DOMNode::removeChild(const DOMNode& oldChild)
{
    xmlNodePtr parent = static_cast<xmlNodePtr>(requireNode());
    xmlNodePtr child = static_cast<xmlNodePtr>(oldChild.requireNode());
    if (child->type == XML_ATTRIBUTE_NODE || child->type == XML_NAMESPACE_DECL || child->parent != parent
        || !detail::hasOwnChildren(parent))
        detail::raise(DOMError::NotFound, QStringLiteral("removeChild: the node to remove is not a child of this node."));
    // Entity references and default attributes lean on the document type: it stays.
    if (child->type == XML_DTD_NODE)
        detail::raise(DOMError::HierarchyRequest,
                      QStringLiteral("removeChild: the document type declaration cannot be removed."));
    DocCore& core = *DocCore::of(*this);
    core.changed(parent);
    core.notePrologChange(parent, child);
    dropIndentation(child);
    detail::unlinkKeepingNamespaces(child);
    core.detached(child);
    return oldChild;
}

DOMNode DOMNode::replaceChild(const DOMNode& newChild, const DOMNode& oldChild)
{
    xmlNodePtr parent = static_cast<xmlNodePtr>(requireNode());
    xmlNodePtr old = static_cast<xmlNodePtr>(oldChild.requireNode());
    newChild.requireNode();
    if (old->type == XML_ATTRIBUTE_NODE || old->type == XML_NAMESPACE_DECL || old->parent != parent
        || !detail::hasOwnChildren(parent) || detail::isFormatting(old))
        detail::raise(DOMError::NotFound, QStringLiteral("replaceChild: the node to replace is not a child of this node."));
    if (newChild == oldChild)
        return oldChild;
    // The document element makes room first: there is never a second one, not even for a
    // moment. Should the new one be refused, the old one goes back where it was.
    if (parent->type == XML_DOCUMENT_NODE && old->type == XML_ELEMENT_NODE) {
        const DOMNode next = DocCore::of(*this)->handle(detail::visible(old->next, true));
        removeChild(oldChild);
        try {
            insertBefore(newChild, next);
        } catch (const DOMException&) {
            insertBefore(oldChild, next);
            throw;
        }
        return oldChild;
    }
    insertBefore(newChild, oldChild);
    return removeChild(oldChild);
}

} // namespace treelark
