#include "dom_internal.h"
#include "treelark/Busy.h"

#include <QList>

namespace treelark {
namespace detail {

std::shared_ptr<NodeListImpl> makeSnapshot(std::shared_ptr<DocCore> core, std::vector<xmlNodePtr> nodes)
{
    auto l = std::make_shared<NodeListImpl>();
    l->kind = NodeListImpl::Kind::Snapshot;
    l->core = std::move(core);
    // A node listed stays as long as the list, as if held by a handle: it may be taken
    // out of its tree, or moved to another document, while the list is still read.
    for (xmlNodePtr n : nodes)
        DocCore::hold(n);
    l->nodes = std::move(nodes);
    return l;
}

NodeListImpl::~NodeListImpl()
{
    std::vector<std::shared_ptr<DocCore>> lastHolds;
    for (xmlNodePtr n : nodes)
        if (auto last = DocCore::letGo(n))
            lastHolds.push_back(std::move(last));
}

std::shared_ptr<NodeListImpl> makeChildren(std::shared_ptr<DocCore> core, xmlNodePtr parent)
{
    auto l = std::make_shared<NodeListImpl>();
    l->kind = NodeListImpl::Kind::Children;
    l->rootHold = core->handle(parent);
    l->root = parent;
    return l;
}

std::shared_ptr<NodeListImpl> makeWalk(std::shared_ptr<DocCore> core, xmlNodePtr root, const QByteArray& filter)
{
    auto l = std::make_shared<NodeListImpl>();
    l->kind = NodeListImpl::Kind::Walk;
    l->rootHold = core->handle(root);
    l->root = root;
    l->nameFilter = filter;
    if (!filter.isEmpty())
        for (const QByteArray& step : filter.split('/'))
            l->pathSteps.push_back(step);
    return l;
}

static bool elementNamed(xmlNodePtr n, const QByteArray& name)
{
    if (!n || n->type != XML_ELEMENT_NODE)
        return false;
    if (name == "*")
        return true;
    if (n->ns && n->ns->prefix) {
        QByteArray q = QByteArray(reinterpret_cast<const char*>(n->ns->prefix)) + ':'
            + reinterpret_cast<const char*>(n->name);
        return q == name;
    }
    return name == reinterpret_cast<const char*>(n->name);
}

bool NodeListImpl::matches(xmlNodePtr n) const
{
    if (n == root)
        return false; // the walk lists what lies below its root
    if (pathSteps.empty())
        return n->type != XML_DTD_NODE;
    // "a/b/c": an element c whose parent is b whose parent is a.
    xmlNodePtr cur = n;
    for (auto it = pathSteps.rbegin(); it != pathSteps.rend(); ++it) {
        if (!elementNamed(cur, *it))
            return false;
        cur = cur->parent;
    }
    return true;
}

xmlNodePtr NodeListImpl::walkFirst() const
{
    for (xmlNodePtr n = root ? nextInSubtree(root, root) : nullptr; n; n = nextInSubtree(n, root))
        if (matches(n))
            return n;
    return nullptr;
}

xmlNodePtr NodeListImpl::walkNext(xmlNodePtr n) const
{
    for (n = nextInSubtree(n, root); n; n = nextInSubtree(n, root))
        if (matches(n))
            return n;
    return nullptr;
}

void NodeListImpl::invalidateIfStale()
{
    DocCore* now = live();
    if (cacheGen != now->generation || cacheCore != now) {
        cacheGen = now->generation;
        cacheCore = now;
        cacheIndex = -1;
        cacheNode = nullptr;
        cacheLength = -1;
    }
}

qint64 NodeListImpl::length()
{
    if (kind == Kind::Snapshot)
        return qint64(nodes.size());
    invalidateIfStale();
    if (cacheLength >= 0)
        return cacheLength;
    qint64 count = 0;
    if (kind == Kind::Children) {
        for (xmlNodePtr c = visible(root->children, true); c; c = visible(c->next, true))
            ++count;
    } else if (const DocCore* c = live(); c->loadedNodes >= 0 && c->generation == 0 && !c->modified
               && pathSteps.empty() && nameFilter.isEmpty() && root == reinterpret_cast<xmlNodePtr>(c->doc)) {
        count = c->loadedNodes; // every node of a document as read: counted while reading
    } else {
        for (xmlNodePtr n = walkFirst(); n; n = walkNext(n))
            if ((++count & 0xFFFF) == 0)
                busyTick();
    }
    cacheLength = count;
    return count;
}

// Sequential access (item(i) after item(i-1), the usual loop) costs one step.
xmlNodePtr NodeListImpl::item(qint64 index)
{
    if (index < 0)
        return nullptr;
    if (kind == Kind::Snapshot)
        return index < qint64(nodes.size()) ? nodes[size_t(index)] : nullptr;
    invalidateIfStale();
    if (cacheLength >= 0 && index >= cacheLength)
        return nullptr;
    qint64 i;
    xmlNodePtr n;
    if (cacheNode && cacheIndex <= index) {
        i = cacheIndex;
        n = cacheNode;
    } else {
        i = 0;
        n = kind == Kind::Children ? visible(root->children, true) : walkFirst();
    }
    while (n && i < index) {
        n = kind == Kind::Children ? visible(n->next, true) : walkNext(n);
        ++i;
    }
    if (n) {
        cacheIndex = i;
        cacheNode = n;
    }
    return n;
}

} // namespace detail

qint64 DOMNodeList::length() const
{
    if (!m_impl)
        detail::raiseNothing();
    return m_impl->length();
}

DOMNode DOMNodeList::item(qint64 index) const
{
    if (!m_impl)
        detail::raiseNothing();
    return m_impl->live()->handle(m_impl->item(index));
}

DOMNode DOMNodeList::nextNode() const
{
    if (!m_impl)
        detail::raiseNothing();
    xmlNodePtr n = m_impl->item(m_impl->cursor);
    if (n)
        ++m_impl->cursor;
    return m_impl->live()->handle(n);
}

void DOMNodeList::reset() const
{
    if (m_impl)
        m_impl->cursor = 0;
}

} // namespace treelark
