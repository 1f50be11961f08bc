#include "MergeController.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "InfoPane.h"
#include "LoadController.h"
#include "SaveCommands.h"
#include "StatusLine.h"
#include "treelark/ApXmlMgr.h"
#include "treelark/Busy.h"
#include "treelark/Prompts.h"

namespace treelark {

MergeController::MergeController(DocumentSession& session, LoadController& loader, InfoPane& pane,
                                 StatusLine& status, QObject* parent)
    : QObject(parent), m_session(session), m_loader(loader), m_pane(pane), m_status(status)
{
}

bool MergeController::MergeDocument()
{
    if (m_session.isReadOnly()) {
        prompts().message(m_session.readOnlyTip(), MsgButtons::OK);
        return true;
    }
    // A fresh manager each time; the previous one (with what its merge left behind) goes.
    // Nodes merged earlier were copied into the open document, so nothing points into it.
    delete pXMLMgr;
    pXMLMgr = new ApXmlMgr(this);
    connect(pXMLMgr, &ApXmlMgr::DOMReady, this, &MergeController::pXMLMgr_DOMReady);

    FileDialogRequest request = SaveCommands::xmlFileRequest(QStringLiteral("Open an XML file."));
    const QString last = lastUrl();
    QString file;
    splitAtLastSeparator(last, request.initialFolder, file);
    if (request.initialFolder.isEmpty())
        request.initialFolder = last;
    // The merge itself runs inside LoadXml, when the file is reported ready; it is never
    // validated.
    if (const std::optional<QString> chosen = prompts().openFile(request); chosen && !chosen->isEmpty()) {
        QString name = *chosen;
        m_loader.load(pXMLMgr, name, false);
    }
    return true;
}

void MergeController::pXMLMgr_DOMReady(DOMDocumentPtr doc)
{
    // A file that did not parse has nothing to give: it is not merged at all, and the
    // open document stays exactly as it was.
    const bool parsed = doc && doc->parseError().errorCode == 0 && !doc->documentElement().isNull();
    QString info = m_session.url() + QStringLiteral(" loaded.");
    if (parsed) {
        // A long command of its own: stopped, nothing of it stays. (MergeAll keeps a stop
        // to itself, as it does every failure; the step learns of it here.)
        try {
            runLongCommand([&] {
                m_session.editor()->perform(QStringLiteral("Merge ") + doc->parseError().url, [&] {
                    m_session.manager()->MergeAll(doc, nullptr, QStringLiteral("TagName"));
                    throwIfStopped();
                });
            });
        } catch (const DOMException& e) {
            if (e.code() == DOMError::Cancelled)
                info += QLatin1Char('\n') + doc->parseError().url
                    + QStringLiteral(" was not merged: merging was stopped; the document is as it was.");
            else // the step keeps what was merged before the refusal, and can be undone whole
                info += QLatin1Char('\n') + doc->parseError().url + QStringLiteral(" was merged only in part: ")
                    + e.description();
        }
    } else if (doc) {
        const DOMParseError& err = doc->parseError();
        info += QLatin1Char('\n') + err.url + QStringLiteral(" was not merged: ") + err.reason;
    }
    m_status.set(QStringLiteral("TotalNodes=") + QString::number(m_session.manager()->TotalNodes()));
    m_pane.setText(info);
    rememberLastUrl(m_session.url());
}

} // namespace treelark
