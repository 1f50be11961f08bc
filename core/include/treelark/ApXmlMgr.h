/// \file
/// The document manager: owns one document, loads it from a path or an address,
/// announces it with DOMReady, saves it, and answers the queries the program needs.
///
/// Errors: a manager call returns its result (nothing, 0 or false when it failed) and says
/// why through lastError(), which the next call replaces. The calls that are one DOM edit
/// under another name (UpdateNodes, Merge, InsertNodeUnder, InsertNodeWithFullPath) hand the
/// DOM's refusal on as DOMException instead, as the DOM call would (see dom.h): their
/// callers undo or report them as any other edit. A failure that is not a DOMException is
/// never turned into a default answer silently: it is named in lastError() or passed on.
#pragma once

#include "treelark/dom.h"

#include <QList>
#include <QObject>
#include <QString>

namespace treelark {

class dCollection;

/// Owns one document (DOMDoc()); each LoadXml with a name replaces it, even when the new
/// one does not parse. Optional document parameters left empty mean this manager's own.
class TREELARK_CORE_EXPORT ApXmlMgr : public QObject {
    Q_OBJECT
public:
    explicit ApXmlMgr(QObject* parent = nullptr);
    ~ApXmlMgr() override;

    // Operations are declared in the class's interface order.

    QString sXMLFileName() const { return m_sXMLFileName; }
    void setSXMLFileName(const QString& name) { m_sXMLFileName = name; }

    DOMDocumentPtr DOMDoc() const { return m_oXmlDoc; }
    void setDOMDoc(DOMDocumentPtr vNewValue);

    /// Loads a file path or an http:// or file:/// address. Returns 0 once the load call
    /// completed, whether or not the document parsed: test DOMDoc()->parseError() (and read
    /// lastError() for the reason). A name holding "///" without a scheme comes back
    /// rewritten ("xyz:///C:/a.xml" becomes "C:/a.xml"); the const overload takes a copy.
    /// A load stopped through requestCancel() (Busy.h) keeps the previous document, raises
    /// nothing and returns DOMError::Cancelled.
    qint32 LoadXml(QString& sFileName, bool bValidate);
    qint32 LoadXml(const QString& sFileName, bool bValidate);

    /// Failures are not raised; lastError() tells what went wrong ("" after success).
    void Save(const QString& sFileName, DOMDocumentPtr oDomIn = nullptr);

    qint64 TotalNodes(DOMDocumentPtr oDomIn = nullptr) const;

    qint64 TotalNodesByName(QString& sNodeName, DOMDocumentPtr oDomIn = nullptr) const;
    qint64 TotalNodesByName(const QString& sNodeName, DOMDocumentPtr oDomIn = nullptr) const;

    DOMNode GetNodeByAttributeValue(QString RootSection, const QString& sAttributeName, const QString& sValue) const;
    QList<DOMNode> GetNodesByAttributeValue(QString RootSection, const QString& sAttributeName,
                                            const QString& sValue) const;

    DOMNodeList GetChildNodesByName(const DOMNode& pNode, const QString& sName) const;
    DOMNode GetChildNodeByName(const DOMNode& pNode, const QString& sName) const;

    DOMNode GetNodeByName(const QString& sNodeName, DOMDocumentPtr oDomIn = nullptr) const;

    DOMNodeList GetNodesByName(QString& sNodeName, DOMDocumentPtr oDomIn = nullptr) const;
    DOMNodeList GetNodesByName(const QString& sNodeName, DOMDocumentPtr oDomIn = nullptr) const;

    /// Folds SourceNode into TargetNode, pairing children by the KeyName attribute only.
    /// The first error reaches the caller; the target keeps what was done before it.
    void UpdateNodes(const DOMNode& TargetNode, const DOMNode& SourceNode,
                     QString KeyName = QStringLiteral("TagName"));
    /// UpdateNodes on the two document elements; oExistingDom defaults to this manager's.
    void Merge(DOMDocumentPtr oXmlDocIn, DOMDocumentPtr oExistingDom = nullptr,
               const QString& KeyName = QStringLiteral("TagName"));

    /// "Root/Child/Grandchild"; "" for nothing, the document node and detached nodes.
    QString GetFullPath(const DOMNode& pNode) const;

    /// Never raises: an error is shown as "From InsertNode:<number>, <description>" and
    /// gives nothing. Drops one trailing "/" from strPath2ParentNode in place.
    DOMNode InsertNode(QString& strPath2ParentNode, const QString& sNodeName, bool bOverwrite,
                       qint16 NodeType = 1, const dCollection* dNodeAttributes = nullptr,
                       DOMDocumentPtr oDomIn = nullptr);
    DOMNode InsertNode(const QString& strPath2ParentNode, const QString& sNodeName, bool bOverwrite,
                       qint16 NodeType = 1, const dCollection* dNodeAttributes = nullptr,
                       DOMDocumentPtr oDomIn = nullptr);

    /// Appends pNode (or a deep copy) as pParentNode's last child and returns what was
    /// appended; nothing when there is no parent. Errors reach the caller.
    DOMNode InsertNodeUnder(const DOMNode& pParentNode, const DOMNode& pNode, bool bClone);

    /// As UpdateNodes, but children pair by name where names at a level are unique, text
    /// carries over between paired text nodes, and it never raises: a failing step is
    /// skipped and the merge goes on.
    void UpdateAllNodes(const DOMNode& TargetNode, const DOMNode& SourceNode,
                        QString KeyName = QStringLiteral("TagName"));

    /// Whether two children share a name, ignoring case; false on any error.
    bool HasDuplicateNodeNames(const DOMNode& pNode) const;

    /// UpdateAllNodes on the two document elements; TargetDOM defaults to this manager's.
    /// Without a source nothing happens. Never raises.
    void MergeAll(DOMDocumentPtr SourceDOM, DOMDocumentPtr TargetDOM = nullptr,
                  const QString& KeyName = QStringLiteral("TagName"));

    QString GetAttributeValue(const DOMNode& pNode, const QString& AttributeName) const;

    /// A new node, not yet in the tree: an element carrying dAttributes, an empty text node
    /// for type 3 (the name unused), nothing for any other type. Never raises.
    DOMNode CreateNode(const QString& sNodeName, const dCollection* dAttributes = nullptr,
                       qint32 intNodeType = 1, DOMDocumentPtr oDomIn = nullptr);

    /// Appends a new element at a "/"-separated path, creating missing ancestors (without
    /// attributes) on the way; only the last element gets dAttributes. An empty pDoc
    /// receives this manager's document. Errors reach the caller.
    DOMNode InsertNodeWithFullPath(const QString& sPath, const dCollection* dAttributes, DOMDocumentPtr& pDoc);
    DOMNode InsertNodeWithFullPath(const QString& sPath, const dCollection* dAttributes = nullptr);

    qint32 GetPathAndFileName(const QString& FullPath, QString& FilePath, QString& FileName,
                              const QString& Seperator = QStringLiteral("\\")) const;

    /// Beyond the interface, for programs that show no message boxes: why the last call
    /// failed, "" when it succeeded. LoadXml (also a document that did not parse), Save,
    /// InsertNode, InsertNodeWithFullPath, CreateNode, TotalNodes, TotalNodesByName,
    /// GetNodeByName, GetNodesByName, GetChildNodesByName and MergeAll each set it; read it
    /// right after the call, as the next of them replaces it. A query that merely finds
    /// nothing is no failure.
    QString lastError() const { return m_lastError; }

signals:
    /// Raised synchronously inside LoadXml when the document is complete (also when it
    /// did not parse: handlers test parseError themselves).
    void DOMReady(treelark::DOMDocumentPtr oXmlDoc);
    /// Bytes read of the total (-1 when unknown) while a load is reading its source.
    void LoadProgress(qint64 bytesRead, qint64 bytesTotal);

private:
    DOMDocumentPtr target(const DOMDocumentPtr& oDomIn) const { return oDomIn ? oDomIn : m_oXmlDoc; }
    /// A missing document fails the way a method called on "nothing" does.
    static const DOMDocumentPtr& required(const DOMDocumentPtr& doc)
    {
        if (!doc)
            throw DOMException(DOMError::ObjectNotSet, QStringLiteral("Object variable not set"));
        return doc;
    }
    TREELARK_CORE_NO_EXPORT void onReadyStateChange(const DOMDocumentPtr& doc);
    TREELARK_CORE_NO_EXPORT void detachDocument();
    TREELARK_CORE_NO_EXPORT DOMNode insertAlongPath(const QString& sPath, const dCollection* dAttributes,
                                                    DOMDocumentPtr& pDoc);

    QString m_sXMLFileName;
    DOMDocumentPtr m_oXmlDoc;
    mutable QString m_lastError;
    int m_readyListener = 0;
};

} ///< namespace treelark
