// A deep copy of an element made a node at a time. libxml2 copies a subtree in one call
// that cannot tick, and a branch of a hundred thousand elements held the window for a
// third of a second; made here, element by element, the window stays painted.
#include "dom_internal.h"
#include "treelark/Busy.h"

namespace treelark::detail {

namespace {

// A copy made on its own (no parent yet) declares on itself every namespace its name or
// its attributes use that it does not declare. Once it stands under its new parent, a
// declaration in scope there with the same prefix and URI serves instead; a prefix
// nothing above declares is declared once, on the top of the copy (as a copy made in one
// piece has it); a prefix declared above for another URI stays declared where it is used.
void placeBorrowedDeclarations(xmlNodePtr copy, int own, xmlNodePtr top)
{
    xmlNsPtr* link = &copy->nsDef;
    for (int i = 0; *link && i < own; ++i)
        link = &(*link)->next;
    while (xmlNsPtr extra = *link) {
        xmlNsPtr inScope = xmlSearchNs(copy->doc, copy->parent, extra->prefix);
        if (!inScope) {
            *link = extra->next; // moved, still the same declaration for what uses it
            extra->next = nullptr;
            xmlNsPtr* end = &top->nsDef;
            while (*end)
                end = &(*end)->next;
            *end = extra;
            continue;
        }
        if (!xmlStrEqual(inScope->href, extra->href)) {
            link = &extra->next;
            continue;
        }
        if (copy->ns == extra)
            copy->ns = inScope;
        for (xmlAttrPtr a = copy->properties; a; a = a->next)
            if (a->ns == extra)
                a->ns = inScope;
        *link = extra->next;
        extra->next = nullptr;
        xmlFreeNs(extra);
    }
}

int declarationCount(xmlNodePtr n)
{
    int count = 0;
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
        ++count;
    return count;
}

void append(xmlNodePtr parent, xmlNodePtr child)
{
    // linked by hand: xmlAddChild would merge neighbouring texts, and the copy must have
    // the original's shape node for node
    child->parent = parent;
    if (!parent->children) {
        parent->children = parent->last = child;
    } else {
        parent->last->next = child;
        child->prev = parent->last;
        parent->last = child;
    }
}

} // namespace

xmlNodePtr copyElementInSteps(xmlNodePtr top, xmlDocPtr doc)
{
    xmlNodePtr copy = xmlDocCopyNode(top, doc, 2); // the element, its attributes and declarations
    if (!copy)
        return nullptr;
    qint64 made = 0;
    xmlNodePtr s = top, d = copy;
    xmlNodePtr c = top->children;
    for (;;) {
        if (!c) {
            // this element's children are done: on to its next sibling's
            if (s == top)
                break;
            c = s->next;
            s = s->parent;
            d = d->parent;
            continue;
        }
        if ((++made & 0x3FF) == 0) {
            busyTick();
            if (stopRequested()) { // the caller tells this from running out of memory
                xmlFreeNode(copy);
                return nullptr;
            }
        }
        const bool element = c->type == XML_ELEMENT_NODE;
        xmlNodePtr cc = xmlDocCopyNode(c, doc, element ? 2 : 1);
        if (!cc) {
            xmlFreeNode(copy);
            return nullptr;
        }
        append(d, cc);
        if (!element) {
            c = c->next;
            continue;
        }
        placeBorrowedDeclarations(cc, declarationCount(c), copy);
        s = c;
        d = cc;
        c = c->children;
    }
    return copy;
}

void raiseCopyFailed()
{
    throwIfStopped();
    raise(DOMError::OutOfMemory, QStringLiteral("Out of memory"));
}

} // namespace treelark::detail

namespace treelark {

DOMNode DOMDocument::importNode(const DOMNode& node, bool deep)
{
    xmlNodePtr n = node.isNull() ? nullptr : detail::DocCore::raw(node);
    switch (n ? n->type : XML_DOCUMENT_NODE) {
    case XML_ELEMENT_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
        break;
    default:
        return node.cloneNode(deep);
    }
    xmlNodePtr copy = detail::copyInto(n, m_core->doc, deep);
    if (!copy)
        detail::raiseCopyFailed();
    m_core->adopt(copy);
    return m_core->handle(copy);
}

} // namespace treelark
