#include "treelark/ApXmlMgr.h"

#include <QFileInfo>
#include <QPointer>

#include <new>

namespace treelark {

ApXmlMgr::ApXmlMgr(QObject* parent) : QObject(parent)
{
    setDOMDoc(DOMDocument::create());
}

ApXmlMgr::~ApXmlMgr() { detachDocument(); }

void ApXmlMgr::detachDocument()
{
    if (!m_oXmlDoc)
        return;
    m_oXmlDoc->removeReadyStateListener(m_readyListener);
    m_oXmlDoc->setOnProgress(nullptr);
    m_readyListener = 0;
}

void ApXmlMgr::setDOMDoc(DOMDocumentPtr vNewValue)
{
    if (m_oXmlDoc == vNewValue)
        return;
    detachDocument();
    m_oXmlDoc = std::move(vNewValue);
    if (!m_oXmlDoc)
        return;
    // The document may outlive this manager (or be shared with another one, which is
    // told as well): reach it only while it exists.
    QPointer<ApXmlMgr> self(this);
    std::weak_ptr<DOMDocument> weakDoc = m_oXmlDoc;
    m_readyListener = m_oXmlDoc->addReadyStateListener([self, weakDoc] {
        if (DOMDocumentPtr doc = weakDoc.lock(); self && doc)
            self->onReadyStateChange(doc);
    });
    m_oXmlDoc->setOnProgress([self](qint64 done, qint64 total) {
        if (self)
            emit self->LoadProgress(done, total);
    });
}

void ApXmlMgr::onReadyStateChange(const DOMDocumentPtr& doc)
{
    // A load the user cancelled is as if it had not been asked for (LoadXml puts the
    // previous document back): nothing is told.
    if (doc->readyState() == 4 && doc->parseError().errorCode != long(DOMError::Cancelled))
        emit DOMReady(doc);
}

qint32 ApXmlMgr::LoadXml(const QString& sFileName, bool bValidate)
{
    QString copy = sFileName;
    return LoadXml(copy, bValidate);
}

// sFileName comes back rewritten when it held "///" without a scheme test match:
// "xyz:///C:/a.xml" becomes "C:/a.xml", the name then loaded as file:///C:/a.xml.
qint32 ApXmlMgr::LoadXml(QString& sFileName, bool bValidate)
{
    m_lastError.clear();
    // Loads do not nest; the document this manager has stays as it is.
    if (DOMDocument::loadInProgress()) {
        m_lastError = QStringLiteral("Another document is being loaded; try again when it is done.");
        return qint32(DOMError::Busy);
    }
    try {
        if (sFileName.isEmpty())
            return qint32(m_oXmlDoc ? m_oXmlDoc->parseError().errorCode : 0);
        const DOMDocumentPtr previous = m_oXmlDoc;
        setDOMDoc(DOMDocument::create());
        m_oXmlDoc->setAsync(false);
        m_oXmlDoc->setValidateOnParse(bValidate);
        const QString lower = sFileName.toLower();
        if (lower.contains(QLatin1String("http://")) || lower.contains(QLatin1String("file:///"))) {
            m_oXmlDoc->load(sFileName);
        } else {
            const qsizetype p = sFileName.indexOf(QLatin1String("///"));
            if (p >= 0)
                sFileName = sFileName.mid(p + 3);
            // Absolute before the scheme goes on, so the address names one file only.
            m_oXmlDoc->load(QStringLiteral("file://") + QFileInfo(sFileName).absoluteFilePath());
        }
        if (m_oXmlDoc->parseError().errorCode == long(DOMError::Cancelled)) {
            m_lastError = m_oXmlDoc->parseError().reason;
            setDOMDoc(previous);
            return qint32(DOMError::Cancelled);
        }
        // Set again at the end: a load refused from inside this one (a drop on the window
        // while it reads) must not leave its message on a load that went well.
        if (m_oXmlDoc->parseError().errorCode == 0) {
            m_sXMLFileName = sFileName;
            m_lastError.clear();
        } else {
            m_lastError = m_oXmlDoc->parseError().reason;
        }
        return 0;
    } catch (const DOMException& e) {
        m_lastError = e.description();
        return qint32(m_oXmlDoc ? m_oXmlDoc->parseError().errorCode : 0);
    }
}

void ApXmlMgr::Save(const QString& sFileName, DOMDocumentPtr oDomIn)
{
    m_lastError.clear();
    try {
        DOMDocumentPtr doc = target(oDomIn);
        if (!doc) {
            m_lastError = QStringLiteral("There is no document to save.");
            return;
        }
        doc->save(sFileName.isEmpty() ? QStringLiteral("XMLTest.xml") : sFileName);
    } catch (const DOMException& e) {
        m_lastError = e.description();
    } catch (const std::bad_alloc&) {
        m_lastError = QStringLiteral("Out of memory");
    }
}

qint32 ApXmlMgr::GetPathAndFileName(const QString& FullPath, QString& FilePath, QString& FileName,
                                    const QString& Seperator) const
{
    if (Seperator.isEmpty())
        return -1;
    const qsizetype p = FullPath.lastIndexOf(Seperator) + 1; // 1-based, 0 when absent
    if (p < 1) {
        FilePath = QString(QLatin1String(""));
        FileName = FullPath;
    } else {
        FileName = FullPath.right(FullPath.size() - p);
        FilePath = FullPath.left(p);
    }
    return qint32(p);
}

} // namespace treelark
