#include "dom_internal.h"

#include <libxml/xpathInternals.h>

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

DocCore::DocCore(xmlDocPtr d) : doc(d) {}

std::shared_ptr<DocCore> DocCore::createEmpty()
{
    return std::make_shared<DocCore>(xmlNewDoc(BAD_CAST "1.0"));
}

DocCore::~DocCore()
{
    if (xpath)
        xmlXPathFreeContext(xpath);
    // Collect first: freeing one detached subtree may free parked nodes inside it.
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : parked)
        if (!n->parent) // re-attached ones go with whatever holds them now
            roots.push_back(n);
    for (xmlNodePtr n : roots) {
        if (n->type == XML_ATTRIBUTE_NODE)
            xmlFreeProp(reinterpret_cast<xmlAttrPtr>(n));
        else
            xmlFreeNode(n);
    }
    xmlFreeDoc(doc);
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
