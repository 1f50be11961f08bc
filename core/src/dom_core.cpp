#include "dom_internal.h"

#include <libxml/xpathInternals.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace treelark {

DOMException::DOMException(long number, const QString& description)
    : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
{
}

namespace detail {

void raise(long number, const QString& description) { throw DOMException(number, description); }

void raiseNothing()
{
    throw DOMException(DOMException::ObjectNotSet, QStringLiteral("Object variable not set"));
}

void requireDeclaredPrefix(xmlDocPtr doc, xmlNodePtr scope, const QByteArray& qname, const QString& what)
{
    const qsizetype colon = qname.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray prefix = qname.left(colon);
    if (prefix == "xml" || prefix == "xmlns")
        return;
    if (!scope)
        scope = xmlDocGetRootElement(doc);
    if (scope && xmlSearchNs(doc, scope, reinterpret_cast<const xmlChar*>(prefix.constData())))
        return;
    // A declaration added by an edit is an ordinary attribute named xmlns:prefix until
    // the document is read again.
    const QByteArray declaration = "xmlns:" + prefix;
    for (xmlNodePtr e = scope; e && e->type == XML_ELEMENT_NODE; e = e->parent)
        for (xmlAttrPtr a = e->properties; a; a = a->next)
            if (!a->ns && declaration == reinterpret_cast<const char*>(a->name))
                return;
    raise(DOMException::InvalidArgument,
          QStringLiteral("The prefix '%1' of the %2 '%3' is not declared; the document could not be read back.")
              .arg(QString::fromUtf8(prefix), what, QString::fromUtf8(qname)));
}

DocCore::DocCore(xmlDocPtr d) : doc(d) {}

std::shared_ptr<DocCore> DocCore::createEmpty()
{
    return std::make_shared<DocCore>(xmlNewDoc(BAD_CAST "1.0"));
}

namespace {

void freeTree(xmlDocPtr doc, const std::vector<xmlNodePtr>& detachedRoots)
{
    for (xmlNodePtr n : detachedRoots) {
        if (n->type == XML_ATTRIBUTE_NODE)
            xmlFreeProp(reinterpret_cast<xmlAttrPtr>(n));
        else
            xmlFreeNode(n);
    }
    xmlFreeDoc(doc);
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

    void push(xmlDocPtr doc, std::vector<xmlNodePtr> roots)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back({doc, std::move(roots)});
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }

private:
    struct Job {
        xmlDocPtr doc;
        std::vector<xmlNodePtr> roots;
    };

    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            freeTree(job.doc, job.roots);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
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
    // Collect first: freeing one detached subtree may free parked nodes inside it.
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : parked)
        if (!n->parent) // re-attached ones go with whatever holds them now
            roots.push_back(n);
    if (freeInBackground)
        reaper().push(doc, std::move(roots));
    else
        freeTree(doc, roots);
}

void DocCore::park(xmlNodePtr n)
{
    if (n && !n->parent)
        parked.insert(n);
}

xmlXPathContextPtr DocCore::xpathContext()
{
    if (!xpath)
        xpath = xmlXPathNewContext(doc);
    return xpath;
}

} // namespace detail
} // namespace treelark
