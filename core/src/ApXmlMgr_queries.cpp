// The document manager's queries: counts and lookups by name and attribute value.
#include "treelark/ApXmlMgr.h"

namespace treelark {

namespace {

// "ApLayer" → "//ApLayer"; a text that already holds "//" is used as it is.
QString rootExpression(const QString& rootSection)
{
    if (rootSection.contains(QLatin1String("//")))
        return rootSection;
    if (rootSection.isEmpty())
        return QStringLiteral("//");
    return QStringLiteral("//") + rootSection;
}

bool hasAttributeValue(const DOMNode& node, const QString& name, const QString& value)
{
    DOMNamedNodeMap attrs = node.attributes();
    if (attrs.isNull())
        return false;
    DOMNode a = attrs.getNamedItem(name);
    return !a.isNull() && a.value() == value;
}

QString noDocument() { return QStringLiteral("There is no document."); }

} // namespace

qint64 ApXmlMgr::TotalNodes(DOMDocumentPtr oDomIn) const
{
    m_lastError.clear();
    try {
        DOMDocumentPtr doc = target(oDomIn);
        if (!doc) {
            m_lastError = noDocument();
            return -1;
        }
        DOMNodeList all = doc->selectNodes(QStringLiteral("//"));
        return all.isNull() ? -1 : all.length();
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return -1;
    }
}

qint64 ApXmlMgr::TotalNodesByName(const QString& sNodeName, DOMDocumentPtr oDomIn) const
{
    QString copy = sNodeName;
    return TotalNodesByName(copy, oDomIn);
}

qint64 ApXmlMgr::TotalNodesByName(QString& sNodeName, DOMDocumentPtr oDomIn) const
{
    m_lastError.clear();
    try {
        DOMDocumentPtr doc = target(oDomIn);
        if (!doc) {
            m_lastError = noDocument();
            return -1;
        }
        if (!sNodeName.contains(QLatin1String("//")))
            sNodeName.prepend(QLatin1String("//"));
        DOMNode first = doc->selectNodes(sNodeName).nextNode();
        if (first.isNull())
            return -1;
        DOMNodeList children = first.childNodes();
        return children.isNull() ? -1 : children.length();
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return -1;
    }
}

DOMNode ApXmlMgr::GetNodeByAttributeValue(QString RootSection, const QString& sAttributeName,
                                          const QString& sValue) const
{
    DOMNodeList list = m_oXmlDoc->selectNodes(rootExpression(RootSection));
    if (list.isNull() || list.length() == 0)
        return DOMNode();
    for (DOMNode n = list.nextNode(); !n.isNull(); n = list.nextNode())
        if (hasAttributeValue(n, sAttributeName, sValue))
            return n;
    return DOMNode();
}

// Like GetNodeByAttributeValue, as a list: the walk ends at the first match, so the
// list holds that node or nothing. Kept that way because callers rely on it.
QList<DOMNode> ApXmlMgr::GetNodesByAttributeValue(QString RootSection, const QString& sAttributeName,
                                                  const QString& sValue) const
{
    QList<DOMNode> found;
    DOMNodeList list = m_oXmlDoc->selectNodes(rootExpression(RootSection));
    if (list.isNull() || list.length() == 0)
        return found;
    list.reset();
    for (DOMNode n = list.nextNode(); !n.isNull(); n = list.nextNode()) {
        if (hasAttributeValue(n, sAttributeName, sValue)) {
            found.append(n);
            break;
        }
    }
    return found;
}

DOMNodeList ApXmlMgr::GetChildNodesByName(const DOMNode& pNode, const QString& sName) const
{
    m_lastError.clear();
    try {
        return pNode.selectNodes(sName);
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return DOMNodeList();
    }
}

DOMNode ApXmlMgr::GetChildNodeByName(const DOMNode& pNode, const QString& sName) const
{
    if (!pNode.isNull()) {
        for (DOMNode c = pNode.firstChild(); !c.isNull(); c = c.nextSibling())
            if (c.nodeName() == sName)
                return c;
    }
    // Lets a relative path such as ApFields/ApField work too.
    return pNode.selectSingleNode(sName);
}

DOMNode ApXmlMgr::GetNodeByName(const QString& sNodeName, DOMDocumentPtr oDomIn) const
{
    m_lastError.clear();
    try {
        DOMDocumentPtr doc = target(oDomIn);
        if (!doc) {
            m_lastError = noDocument();
            return DOMNode();
        }
        // The first item is all that is wanted: no need to count every match first.
        return doc->getElementsByTagName(sNodeName).item(0);
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return DOMNode();
    }
}

DOMNodeList ApXmlMgr::GetNodesByName(const QString& sNodeName, DOMDocumentPtr oDomIn) const
{
    QString copy = sNodeName;
    return GetNodesByName(copy, oDomIn);
}

DOMNodeList ApXmlMgr::GetNodesByName(QString& sNodeName, DOMDocumentPtr oDomIn) const
{
    m_lastError.clear();
    try {
        if (!sNodeName.startsWith(QLatin1String("//")))
            sNodeName.prepend(sNodeName.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QStringLiteral("//"));
        DOMDocumentPtr doc = target(oDomIn);
        if (!doc) {
            m_lastError = noDocument();
            return DOMNodeList();
        }
        return doc->selectNodes(sNodeName);
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return DOMNodeList();
    }
}

QString ApXmlMgr::GetAttributeValue(const DOMNode& pNode, const QString& AttributeName) const
{
    if (AttributeName.isEmpty())
        return QString(QLatin1String(""));
    try {
        DOMNode a = pNode.attributes().getNamedItem(AttributeName);
        if (a.isNull())
            return QString(QLatin1String(""));
        return a.text();
    } catch (const DOMException&) {
        return QString(QLatin1String(""));
    }
}

} // namespace treelark
