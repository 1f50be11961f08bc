// Making nodes and hanging them into the tree: single nodes, nodes under a parent path,
// and whole paths of element names created in one go; and the path of a node back.
#include "treelark/ApXmlMgr.h"
#include "treelark/Prompts.h"
#include "treelark/RowSource.h"
#include "treelark/dCollection.h"

#include <QStringList>

#include <algorithm>
#include <exception>
#include <new>

namespace treelark {

namespace {

const QString kEmpty = QStringLiteral("");

// The number and description a message box shows for whatever was thrown.
std::pair<long, QString> describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DOMException& e) {
        return {e.number(), e.description()};
    } catch (const std::bad_alloc&) {
        return {7, QStringLiteral("Out of memory")};
    } catch (const std::exception& e) {
        return {long(DOMError::InvalidArgument), QString::fromUtf8(e.what())};
    } catch (...) {
        return {long(DOMError::InvalidArgument), QStringLiteral("Unexpected error")};
    }
}

// Writes each attribute of the set in the order its names were added.
void setAttributes(DOMNode& node, const dCollection& attributes, bool skipFailures)
{
    for (const QVariant& k : attributes.ReturnKeys()) {
        const QString name = k.toString();
        try {
            node.setAttribute(name, attributes.GetValueString(name));
        } catch (const DOMException&) {
            if (!skipFailures)
                throw;
        }
    }
}

} // namespace

QString ApXmlMgr::GetFullPath(const DOMNode& pNode) const
{
    return nodePath(pNode);
}

DOMNode ApXmlMgr::CreateNode(const QString& sNodeName, const dCollection* dAttributes, qint32 intNodeType,
                             DOMDocumentPtr oDomIn)
{
    m_lastError.clear();
    const DOMDocumentPtr doc = target(oDomIn);
    if (intNodeType == NODE_TEXT) {
        try {
            return required(doc)->createTextNode(kEmpty);
        } catch (const DOMException& e) {
            m_lastError = e.description();
            return DOMNode();
        }
    }
    // Only an element is ever handed back, so nothing else is made in the first place.
    if (intNodeType != NODE_ELEMENT) {
        m_lastError = QStringLiteral("CreateNode makes elements (type 1) and text nodes (type 3) only, not type ")
            + QString::number(intNodeType) + QLatin1Char('.');
        return DOMNode();
    }
    DOMNode element;
    try {
        element = required(doc)->createNode(NODE_ELEMENT, sNodeName, kEmpty);
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return DOMNode();
    }
    // One bad attribute name costs that attribute only.
    if (dAttributes && dAttributes->Count() > 0)
        setAttributes(element, *dAttributes, true);
    return element;
}

DOMNode ApXmlMgr::InsertNodeUnder(const DOMNode& pParentNode, const DOMNode& pNode, bool bClone)
{
    if (pParentNode.isNull())
        return DOMNode();
    DOMNode parent = pParentNode;
    // A node of another document arrives as a copy: hand back what is in the tree now.
    return parent.appendChild(bClone ? pNode.cloneNode(true) : pNode);
}

DOMNode ApXmlMgr::InsertNode(const QString& strPath2ParentNode, const QString& sNodeName, bool bOverwrite,
                             qint16 NodeType, const dCollection* dNodeAttributes, DOMDocumentPtr oDomIn)
{
    QString copy = strPath2ParentNode;
    return InsertNode(copy, sNodeName, bOverwrite, NodeType, dNodeAttributes, std::move(oDomIn));
}

DOMNode ApXmlMgr::InsertNode(QString& strPath2ParentNode, const QString& sNodeName, bool bOverwrite,
                             qint16 NodeType, const dCollection* dNodeAttributes, DOMDocumentPtr oDomIn)
{
    m_lastError.clear();
    try {
        const DOMDocumentPtr doc = required(target(oDomIn));
        DOMNode parent;
        if (!strPath2ParentNode.isEmpty()) {
            if (strPath2ParentNode.endsWith(QLatin1Char('/')))
                strPath2ParentNode.chop(1);
            parent = doc->selectSingleNode(strPath2ParentNode);
        }
        if (parent.isNull())
            parent = doc->documentElement();

        // Looked up along the path as given, even when the parent itself fell back to the
        // document element.
        DOMNode node = doc->selectSingleNode(strPath2ParentNode.isEmpty()
                                                 ? sNodeName
                                                 : strPath2ParentNode + QLatin1Char('/') + sNodeName);
        if (node.isNull())
            node = doc->createNode(NodeType, sNodeName, kEmpty);
        else if (!bOverwrite)
            return node;

        if (dNodeAttributes)
            setAttributes(node, *dNodeAttributes, false);
        // An existing node moves to the end of its parent's children.
        return parent.appendChild(node);
    } catch (...) {
        const auto [number, description] = describe(std::current_exception());
        m_lastError = description;
        prompts().message(QStringLiteral("From InsertNode:") + QString::number(number) + QStringLiteral(", ")
                              + description,
                          MsgButtons::OK);
        return DOMNode();
    }
}

DOMNode ApXmlMgr::InsertNodeWithFullPath(const QString& sPath, const dCollection* dAttributes)
{
    DOMDocumentPtr doc;
    return InsertNodeWithFullPath(sPath, dAttributes, doc);
}

DOMNode ApXmlMgr::InsertNodeWithFullPath(const QString& sPath, const dCollection* dAttributes, DOMDocumentPtr& pDoc)
{
    m_lastError.clear();
    try {
        DOMNode node = insertAlongPath(sPath, dAttributes, pDoc);
        if (node.isNull() && m_lastError.isEmpty())
            m_lastError = QStringLiteral("Nothing was inserted for the path \"") + sPath
                + QStringLiteral("\": it names no element, or the document has no element to hold it.");
        return node;
    } catch (const DOMException& e) {
        // The innermost reason wins: a name CreateNode refused says more than the empty
        // node that then could not be appended.
        if (m_lastError.isEmpty())
            m_lastError = e.description();
        throw;
    }
}

DOMNode ApXmlMgr::insertAlongPath(const QString& sPath, const dCollection* dAttributes, DOMDocumentPtr& pDoc)
{
    if (!pDoc)
        pDoc = m_oXmlDoc;
    QString parentPath;
    QString name;
    GetPathAndFileName(sPath, parentPath, name, QStringLiteral("/"));

    DOMNode node;
    if (!parentPath.isEmpty()) {
        parentPath.chop(1);
        // The lookup takes "a/b" as an element b whose parent is an a, so ancestors that
        // exist are found and only the missing ones are made (bare: no attributes).
        DOMNode parent = GetNodeByName(parentPath, pDoc);
        if (parent.isNull())
            parent = insertAlongPath(parentPath, nullptr, pDoc);
        if (!parent.isNull()) {
            node = CreateNode(name, dAttributes, NODE_ELEMENT, pDoc);
            node = InsertNodeUnder(parent, node, false);
        }
    } else if (!name.isEmpty()) {
        DOMNode parent = required(pDoc)->documentElement();
        node = CreateNode(name, dAttributes, NODE_ELEMENT, pDoc);
        node = InsertNodeUnder(parent, node, false);
    }
    return node;
}

} // namespace treelark
