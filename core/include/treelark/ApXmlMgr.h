// The document manager: owns one document, loads it from a path or an address,
// announces it with DOMReady, saves it, and answers the queries the program needs.
#pragma once

#include "treelark/dom.h"

#include <QList>
#include <QObject>
#include <QString>

namespace treelark {

class ApXmlMgr : public QObject {
    Q_OBJECT
public:
    explicit ApXmlMgr(QObject* parent = nullptr);
    ~ApXmlMgr() override;

    // Operations are declared in the class's interface order.

    QString sXMLFileName() const { return m_sXMLFileName; }
    void setSXMLFileName(const QString& name) { m_sXMLFileName = name; }

    DOMDocumentPtr DOMDoc() const { return m_oXmlDoc; }
    void setDOMDoc(DOMDocumentPtr vNewValue);

    // Rewrites sFileName in place (see the .cpp); the const overload takes a copy.
    qint32 LoadXml(QString& sFileName, bool bValidate);
    qint32 LoadXml(const QString& sFileName, bool bValidate);

    // Failures are not raised; lastSaveError() tells what went wrong ("" after success).
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

    QString GetAttributeValue(const DOMNode& pNode, const QString& AttributeName) const;

    qint32 GetPathAndFileName(const QString& FullPath, QString& FilePath, QString& FileName,
                              const QString& Seperator = QStringLiteral("\\")) const;

    // Beyond the interface: why the last Save wrote nothing ("" when it succeeded).
    QString lastSaveError() const { return m_lastSaveError; }

signals:
    // Raised synchronously inside LoadXml when the document is complete (also when it
    // did not parse: handlers test parseError themselves).
    void DOMReady(treelark::DOMDocumentPtr oXmlDoc);
    // Bytes read of the total (-1 when unknown) while a load is reading its source.
    void LoadProgress(qint64 bytesRead, qint64 bytesTotal);

private:
    DOMDocumentPtr target(const DOMDocumentPtr& oDomIn) const { return oDomIn ? oDomIn : m_oXmlDoc; }
    void onReadyStateChange(const DOMDocumentPtr& doc);

    QString m_sXMLFileName;
    DOMDocumentPtr m_oXmlDoc;
    QString m_lastSaveError;
};

} // namespace treelark
