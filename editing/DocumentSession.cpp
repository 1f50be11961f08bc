#include "DocumentSession.h"

#include "DocumentEditor.h"

namespace treelark {

DocumentSession::DocumentSession(QObject* parent)
    : QObject(parent), m_manager(new ApXmlMgr(this)), m_editor(new DocumentEditor(this)),
      m_doc(m_manager->DOMDoc()), m_source(std::make_shared<DomRowSource>(m_doc))
{
    m_editor->setDocument(m_doc);
    connect(m_editor, &DocumentEditor::modifiedChanged, this, &DocumentSession::modifiedChanged);
    // Loading is synchronous: this runs inside LoadXml, before the load call returns.
    connect(m_manager, &ApXmlMgr::DOMReady, this, [this](DOMDocumentPtr doc) {
        m_loadedFile = m_url;
        m_documentFile = m_url;
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

bool DocumentSession::hasUnsavedChanges() const { return !isReadOnly() && m_editor->isModified(); }

qint64 DocumentSession::countNamed(const QString& label) const
{
    return m_index ? -1 : m_manager->TotalNodesByName(label);
}

qint64 DocumentSession::totalNodes() const { return m_index ? m_source->elementCount() : m_manager->TotalNodes(); }

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
        *out = m_doc->xmlUtf8();
        return true;
    } catch (const DOMException& e) {
        *why = e.description();
        return false;
    }
}

void DocumentSession::openDocument(DOMDocumentPtr doc)
{
    take(doc, std::make_shared<DomRowSource>(doc), nullptr);
}

void DocumentSession::openIndex(std::shared_ptr<DocumentIndex> index, const QString& name)
{
    // The manager's document goes too, so nothing of the old one stays reachable.
    DOMDocumentPtr empty = DOMDocument::create();
    m_manager->setDOMDoc(empty);
    m_loadedFile = name;
    m_documentFile = name;
    take(empty, std::make_shared<IndexRowSource>(index), index);
}

void DocumentSession::openStarter()
{
    DOMDocumentPtr doc = DOMDocument::create();
    DOMNode root = doc->createNode(NODE_ELEMENT, QStringLiteral("FrameworkConfig"), QString());
    for (const char* attr : {"TagName", "Name", "Alias"})
        root.setAttribute(QLatin1String(attr), QStringLiteral("FrameworkConfig"));
    doc->setDocumentElement(root);
    m_manager->setDOMDoc(doc);
    m_doc = doc;
    m_editor->setDocument(doc);
    m_source = std::make_shared<DomRowSource>(doc);
    m_index.reset();
    emit starterOpened();
}

void DocumentSession::take(DOMDocumentPtr doc, std::shared_ptr<RowSource> source, std::shared_ptr<DocumentIndex> index)
{
    m_doc = std::move(doc);
    m_editor->setDocument(m_doc);
    m_source = std::move(source);
    m_index = std::move(index);
    emit replaced();
}

} // namespace treelark
