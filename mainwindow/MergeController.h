// Merging a second document into the open one: a file chosen, read by a manager of its
// own, and folded in as one step of the edit layer.
#pragma once

#include "treelark/dom.h"

#include <QObject>

namespace treelark {

class ApXmlMgr;
class DocumentSession;
class InfoPane;
class LoadController;
class StatusLine;

class MergeController : public QObject {
    Q_OBJECT
public:
    MergeController(DocumentSession& session, LoadController& loader, InfoPane& pane, StatusLine& status,
                    QObject* parent = nullptr);

    // Cancel in the dialog ends it with nothing changed. Always true.
    bool MergeDocument();

private:
    void pXMLMgr_DOMReady(DOMDocumentPtr doc);

    DocumentSession& m_session;
    LoadController& m_loader;
    InfoPane& m_pane;
    StatusLine& m_status;
    ApXmlMgr* pXMLMgr = nullptr;
};

} // namespace treelark
