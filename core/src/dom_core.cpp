#include "dom_internal.h"

#include <libxml/xpathInternals.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace treelark {

DOMException::DOMException(DOMError code, const QString& description)
    : std::runtime_error(description.toStdString()), m_code(code), m_description(description)
{
}

namespace detail {

void raise(DOMError code, const QString& description) { throw DOMException(code, description); }

void raiseNothing() { raise(DOMError::ObjectNotSet, QStringLiteral("Object variable not set")); }

DocCore::DocCore(xmlDocPtr d) : doc(d) { doc->psvi = this; }

std::shared_ptr<DocCore> DocCore::createEmpty()
{
    xmlDocPtr d = xmlNewDoc(BAD_CAST "1.0");
    if (!d)
        throw std::bad_alloc();
    return std::make_shared<DocCore>(d);
}

std::shared_ptr<DocCore> DocCore::createSibling() const
{
    auto core = createEmpty();
    core->indentUnit = indentUnit;
    core->formatOutput = formatOutput;
    core->hadDeclaration = hadDeclaration;
    core->declaration = declaration;
    core->hadBom = hadBom;
    return core;
}

namespace {

void freeDetachedNode(xmlNodePtr n)
{
    if (n->type == XML_ATTRIBUTE_NODE)
        xmlFreeProp(reinterpret_cast<xmlAttrPtr>(n));
    else
        xmlFreeNode(n);
}

struct Remains {
    xmlDocPtr doc;
    std::vector<xmlNodePtr> roots;
    std::vector<xmlNsPtr> ns;
};

void freeTree(const Remains& r)
{
    // Detached nodes first: their names may live in the document's dictionary.
    for (xmlNodePtr n : r.roots)
        freeDetachedNode(n);
    for (xmlNsPtr ns : r.ns)
        xmlFreeNs(ns);
    xmlFreeDoc(r.doc);
}

// One worker that frees trees in the order they were given up; it finishes its queue
// before the program exits. Nothing else touches a tree once it is queued: no handle
// into it exists any more.
class TreeReaper {
public:
    ~TreeReaper()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void push(Remains r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(r));
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            Remains job = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            freeTree(job);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Remains> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

TreeReaper& reaper()
{
    static TreeReaper r;
    return r;
}

} // namespace

DocCore::~DocCore()
{
    if (xpath)
        xmlXPathFreeContext(xpath);
    doc->psvi = nullptr;
    Remains r{doc, {}, std::move(retiredNs)};
    parked.forEach([&r](xmlNodePtr n) {
        if (!n->parent)
            r.roots.push_back(n);
    });
    if (freeInBackground)
        reaper().push(std::move(r));
    else
        freeTree(r);
}

void DocCore::hold(xmlNodePtr n)
{
    countHandle(n, 1);
    of(n->doc)->pin(1);
}

std::shared_ptr<DocCore> DocCore::letGo(xmlNodePtr n) noexcept
{
    DocCore* core = of(n->doc);
    countHandle(n, -1);
    if (handleCount(n) == 0)
        core->unheld(n);
    return core->unpin(1);
}

void DocCore::noteChange(xmlNodePtr /*at*/) { modified = true; }

void DocCore::adopt(xmlNodePtr n)
{
    if (n && !n->parent)
        parked.insert(n);
}

void DocCore::detached(xmlNodePtr n)
{
    if (!n || n->parent)
        return;
    if (handleCount(n) > 0)
        parked.insert(n);
    else
        freeDetached(n);
}

void DocCore::unheld(xmlNodePtr n)
{
    if (n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE || n->parent)
        return;
    if (parked.contains(n))
        freeDetached(n);
}

// Frees a detached subtree nobody holds. A node inside it that somebody still holds
// survives as a detached node of its own (keeping its own subtree and its namespaces),
// and a namespace declaration handed out as an attribute is kept until the tree goes.
void DocCore::freeDetached(xmlNodePtr root)
{
    // Nothing of a subtree being freed can be put back: it is not a recorded change.
    Journal* const recorder = tJournal;
    tJournal = nullptr;
    struct Resume {
        Journal* j;
        ~Resume() { tJournal = j; }
    } resume{recorder};
    std::vector<xmlNodePtr> held;
    std::vector<std::pair<xmlNodePtr, xmlNsPtr>> handedOut;
    auto visitElement = [&](xmlNodePtr el) {
        for (xmlAttrPtr a = el->properties; a; a = a->next)
            if (handleCount(reinterpret_cast<xmlNodePtr>(a)) > 0)
                held.push_back(reinterpret_cast<xmlNodePtr>(a));
        for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next)
            if (ns->_private)
                handedOut.emplace_back(el, ns);
    };
    if (root->type == XML_ELEMENT_NODE)
        visitElement(root);
    if (root->type == XML_ELEMENT_NODE || root->type == XML_DOCUMENT_FRAG_NODE) {
        xmlNodePtr n = root->children;
        while (n) {
            bool descend = false;
            if (handleCount(n) > 0) {
                held.push_back(n);
            } else if (n->type == XML_ELEMENT_NODE) {
                visitElement(n);
                descend = n->children != nullptr;
            }
            if (descend) {
                n = n->children;
                continue;
            }
            while (n != root && !n->next)
                n = n->parent;
            n = n == root ? nullptr : n->next;
        }
    }
    // Out before anything is freed, while the declarations they use are still in place.
    for (xmlNodePtr h : held) {
        unlinkKeepingNamespaces(h);
        parked.insert(h);
    }
    for (auto [el, ns] : handedOut) {
        for (xmlNsPtr* link = &el->nsDef; *link; link = &(*link)->next)
            if (*link == ns) {
                *link = ns->next;
                break;
            }
        ns->next = nullptr;
        ns->_private = kRetiredDeclaration;
        retiredNs.push_back(ns);
    }
    parked.erase(root);
    freeDetachedNode(root);
}

xmlXPathContextPtr DocCore::xpathContext()
{
    if (!xpath)
        xpath = xmlXPathNewContext(doc);
    return xpath;
}

} // namespace detail
} // namespace treelark
