#include "DocumentSession.h"

#include "DocumentEditor.h"

namespace treelark {

DocumentSession::DocumentSession(QObject* parent)
    : QObject(parent), oXMLMgr(new ApXmlMgr(this)), m_editor(new DocumentEditor(this)),
      oDoc(oXMLMgr->DOMDoc()), m_source(std::make_shared<DomRowSource>(oDoc))
{
    m_editor->setDocument(oDoc);
    connect(m_editor, &DocumentEditor::modifiedChanged, this, &DocumentSession::modifiedChanged);
    // Loading is synchronous: this runs inside LoadXml, before the load call returns.
    connect(oXMLMgr, &ApXmlMgr::DOMReady, this, [this](DOMDocumentPtr doc) {
        sLoadedFile = sURL;
        sDocumentFile = sURL;
        openDocument(doc);
        emit documentReady(doc);
    });
}

// The history holds nodes of the document: it goes first, told nobody.
DocumentSession::~DocumentSession() { delete m_editor; }

QString DocumentSession::readOnlyTip() const
{
    return QStringLiteral("Not available: ") + readOnlyReason() + QLatin1Char('.');
}

bool DocumentSession::hasUnsavedChanges() const
{
    // While another document loads, the one open is still there to be lost.
    const RowSource& open = m_loading ? *m_openRows : *m_source;
    return open.readOnlyReason().isEmpty() && m_editor->isModified();
}

qint64 DocumentSession::countNamed(const QString& label) const
{
    return m_index || m_loading ? -1 : oXMLMgr->TotalNodesByName(label);
}

qint64 DocumentSession::totalNodes() const
{
    return m_index || m_loading ? m_source->elementCount() : oXMLMgr->TotalNodes();
}

bool DocumentSession::documentText(const TreeRow& row, QByteArray* out, QString* why) const
{
    if (m_index) {
        if (m_source->extract(row, out))
            return true;
        *why = m_source->lastError();
        return false;
    }
    try {
        // UTF-8 straight from the document: a large text is held once, not also as UTF-16
        *out = oDoc->xmlUtf8();
        return true;
    } catch (const DOMException& e) {
        *why = e.description();
        return false;
    }
}

void DocumentSession::openDocument(DOMDocumentPtr doc)
{
    take(doc, std::make_shared<DomRowSource>(doc), nullptr);
    emit replaced();
}

void DocumentSession::openIndex(std::shared_ptr<DocumentIndex> index, const QString& name)
{
    // The manager's document goes too, so nothing of the old one stays reachable.
    DOMDocumentPtr empty = DOMDocument::create();
    oXMLMgr->setDOMDoc(empty);
    sLoadedFile = name;
    sDocumentFile = name;
    take(empty, std::make_shared<IndexRowSource>(index), index);
    emit replaced();
}

void DocumentSession::showLoading(std::shared_ptr<RowSource> rows)
{
    if (!m_loading)
        m_openRows = m_source;
    m_loading = true;
    m_source = std::move(rows);
    emit rowsShown();
}

void DocumentSession::endLoading()
{
    if (!m_loading)
        return;
    m_loading = false;
    m_source = std::move(m_openRows);
    emit rowsShown();
}

void DocumentSession::openStarter()
{
    DOMDocumentPtr doc = DOMDocument::create();
    DOMNode root = doc->createNode(NODE_ELEMENT, QStringLiteral("FrameworkConfig"), QString());
    for (const char* attr : {"TagName", "Name", "Alias"})
        root.setAttribute(QLatin1String(attr), QStringLiteral("FrameworkConfig"));
    doc->setDocumentElement(root);
    oXMLMgr->setDOMDoc(doc);
    take(doc, std::make_shared<DomRowSource>(doc), nullptr);
    emit starterOpened();
}

void DocumentSession::take(DOMDocumentPtr doc, std::shared_ptr<RowSource> source, std::shared_ptr<DocumentIndex> index)
{
    m_loading = false; // whatever was being loaded, this is what is open now
    m_openRows.reset();
    oDoc = std::move(doc);
    m_editor->setDocument(oDoc);
    m_source = std::move(source);
    m_index = std::move(index);
}

} // namespace treelark
