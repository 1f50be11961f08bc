// The node command "ShowText": the whole document's text in the message window.
#include "frmMain.h"

#include "frmMessage.h"
#include "treelark/Prompts.h"

namespace treelark {

void frmMain::ShowText()
{
    try {
        if (!oDoc) {
            prompts().message(QStringLiteral("No XML document is loaded."), MsgButtons::OK);
            return;
        }
        // UTF-8 straight from the document: a large text is held once, not also as UTF-16
        showInMessageWindow(oDoc->xmlUtf8());
    } catch (const std::exception& e) {
        qWarning("ShowText: %s", e.what());
    }
}

void frmMain::showInMessageWindow(QByteArray utf8)
{
    // One window, reused while it is open; closing it frees the text it holds.
    if (!m_frmMessage) {
        m_frmMessage = new frmMessage(this);
        m_frmMessage->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_frmMessage->ShowMessageUtf8(std::move(utf8), QStringLiteral("XML Contents"));
    m_frmMessage->show();
    m_frmMessage->raise();
}

} // namespace treelark
