// What is open in the window: the manager and its document, the edit layer with the
// document's history, the rows the tree reads, the name the document was opened by, and
// whether it can be edited at all (the large document form cannot).
//
// Errors in the edit layer: a change the DOM refuses raises DOMException out of
// DocumentEditor::perform / performWhole, with the document as the step left it (whole
// steps: as it was); the caller, a window, tells the user why. Nothing here puts a
// message on screen. Whether there is unsaved work is never set by anyone: it is the
// history's answer (DocumentEditor::isModified).
#pragma once

#include "treelark/ApXmlMgr.h"
#include "treelark/DocumentIndex.h"
#include "treelark/RowSource.h"

#include <QObject>

#include <memory>

namespace treelark {

class DocumentEditor;

class DocumentSession : public QObject {
    Q_OBJECT
public:
    explicit DocumentSession(QObject* parent = nullptr);
    ~DocumentSession() override;

    ApXmlMgr* manager() const { return oXMLMgr; }
    DOMDocumentPtr document() const { return oDoc; }
    DocumentEditor* editor() const { return m_editor; }
    // The rows the tree shows; never null.
    const RowSource& source() const { return *m_source; }
    std::shared_ptr<RowSource> sharedSource() const { return m_source; }
    // The index a read-only large document is shown from; null for a document in memory.
    const DocumentIndex* largeDocument() const { return m_index.get(); }

    // The name or address being loaded or last loaded through the window.
    QString url() const { return sURL; }
    void setUrl(const QString& url) { sURL = url; }
    // The name as a load may rewrite it ("xyz:///C:/a.xml" becomes "C:/a.xml"), so the
    // ready report inside the load already sees the name it was loaded by.
    QString& urlForLoad() { return sURL; }
    // The name the open document was reported ready under; the save dialog starts there.
    QString loadedFile() const { return sLoadedFile; }
    // The name the unsaved-work questions use.
    QString documentFile() const { return sDocumentFile; }
    void setDocumentFile(const QString& name) { sDocumentFile = name; }

    // "" when the document can be edited; otherwise why it cannot.
    QString readOnlyReason() const { return m_source->readOnlyReason(); }
    bool isReadOnly() const { return !readOnlyReason().isEmpty(); }
    // What a disabled editing command says as its tool tip.
    QString readOnlyTip() const;

    bool hasUnsavedChanges() const;

    // Counts for the status line: rows named like `label` (-1 when the source cannot
    // count them: an index holds names, not labels), and every node (every element of
    // an index).
    qint64 countNamed(const QString& label) const;
    qint64 totalNodes() const;
    // What "ShowText" shows: the whole document when it is in memory; the row's subtree
    // of a document too large for that (all of it would not fit either). Empty and
    // false, with the reason in `why`, when it cannot be read.
    bool documentText(const TreeRow& row, QByteArray* out, QString* why) const;

    // The manager reported `doc` ready: it is what is open now, with a fresh history.
    void openDocument(DOMDocumentPtr doc);
    // A file too large for memory, shown read-only from its index.
    void openIndex(std::shared_ptr<DocumentIndex> index, const QString& name);
    // While a document loads: the tree reads `rows` (found in the file ahead of the
    // document), which are read-only; what is open stays as it was until the document is
    // ready. endLoading() goes back to the open document's rows if none came.
    void showLoading(std::shared_ptr<RowSource> rows);
    void endLoading();
    bool isLoading() const { return m_loading; }
    // The starter configuration document, shown when nothing was loaded. No ready event
    // arises for it: the names stay as they are, and a tree shows it below what it
    // showed (the empty row of a document that had no element).
    void openStarter();

signals:
    // Something else is open now (a document, an index or the starter); the tree, the
    // tool windows and everything that held rows of the old one start again.
    void replaced();
    void starterOpened();
    // The tree's rows changed but what is open did not (a load began or ended).
    void rowsShown();
    void documentReady(treelark::DOMDocumentPtr doc);
    void modifiedChanged(bool modified);

private:
    void take(DOMDocumentPtr doc, std::shared_ptr<RowSource> source, std::shared_ptr<DocumentIndex> index);

    ApXmlMgr* oXMLMgr;
    DocumentEditor* m_editor;
    DOMDocumentPtr oDoc;
    std::shared_ptr<RowSource> m_source;
    std::shared_ptr<DocumentIndex> m_index;
    std::shared_ptr<RowSource> m_openRows; // while loading: the rows of what is open
    bool m_loading = false;
    QString sURL;
    QString sLoadedFile;
    QString sDocumentFile;
};

} // namespace treelark
