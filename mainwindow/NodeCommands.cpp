#include "NodeCommands.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "SaveCommands.h"
#include "StatusLine.h"
#include "frmMessage.h"
#include "treelark/Busy.h"
#include "treelark/Prompts.h"

namespace treelark {

NodeCommands::NodeCommands(DocumentSession& session, StatusLine& status, QWidget* window)
    : m_session(session), m_status(status), m_window(window)
{
}

void NodeCommands::refused(const QString& what, const DOMException& e)
{
    m_status.set(what + QStringLiteral(" was refused: ") + e.description());
}

void NodeCommands::deleteNode(const DOMNode& node)
{
    if (node.isNull())
        return;
    if (prompts().message(QStringLiteral("Confirm to delete node: ") + node.nodeName(), MsgButtons::YesNoCancel)
        != MsgResult::Yes)
        return;
    try {
        // The document element has no element above it to leave; it stays.
        if (!node.parentNode().isNull())
            m_session.editor()->removeNode(node);
    } catch (const DOMException& e) {
        refused(QStringLiteral("Deleting ") + node.nodeName(), e);
    }
}

void NodeCommands::copy(const DOMNode& node)
{
    if (node.isNull())
        return;
    try {
        pNodeCopied = node.cloneNode(true);
    } catch (const DOMException& e) {
        refused(QStringLiteral("Copying ") + node.nodeName(), e);
    }
}

void NodeCommands::paste(bool selected, const DOMNode& target)
{
    if (!selected) {
        prompts().message(QStringLiteral("Please select an element node to paste the node in memory."),
                          MsgButtons::OK);
        return;
    }
    if (target.isNull() || target.nodeType() == NODE_TEXT)
        return;
    if (pNodeCopied.isNull()) {
        prompts().message(QStringLiteral("Nothing to copy."), MsgButtons::OK);
        return;
    }
    // A fresh copy goes in and the node in memory stays to be pasted again. A node that
    // takes no children refuses it, and nothing changes. Copying a big branch takes a
    // while: it runs as a long command, and stopped, nothing was pasted.
    try {
        runLongCommand([&] { m_session.editor()->appendCopy(target, pNodeCopied); });
    } catch (const DOMException& e) {
        if (e.code() == DOMError::Cancelled)
            m_status.set(QStringLiteral("Pasting ") + pNodeCopied.nodeName()
                         + QStringLiteral(" was stopped; the document is as it was."));
        else
            refused(QStringLiteral("Pasting ") + pNodeCopied.nodeName() + QStringLiteral(" into ") + target.nodeName(),
                    e);
    }
}

void NodeCommands::saveToFile(const TreeRow& row)
{
    if (row.isNull()) {
        prompts().message(QStringLiteral("Nothing to save."), MsgButtons::OK);
        return;
    }
    const std::optional<QString> target =
        SaveCommands::askSaveTarget(SaveCommands::xmlFileRequest(QStringLiteral("Save to an XML file.")));
    if (!target)
        return;
    const RowSource& source = m_session.source();
    // Nothing is written unless all of it is, and any old file stays whole.
    if (!source.saveSubtree(row, *target)) {
        prompts().message(source.lastError(), MsgButtons::OK);
        return;
    }
    RowDetails d;
    source.read(row, &d, 0);
    prompts().message(QStringLiteral("XMLNode: ") + d.name.section(QLatin1Char(':'), -1)
                          + QStringLiteral(" is saved to ") + *target,
                      MsgButtons::OK);
}

void NodeCommands::showText(const TreeRow& row)
{
    QByteArray text;
    QString why;
    bool ok = false, stopped = false;
    // The whole of a big document takes a while to write out: a long command.
    runLongCommand([&] {
        ok = m_session.documentText(row, &text, &why);
        stopped = !ok && stopRequested();
    });
    if (stopped) {
        m_status.set(QStringLiteral("ShowText was stopped."));
        return;
    }
    if (!ok) {
        prompts().message(why, MsgButtons::OK);
        return;
    }
    // One window, reused while it is open; closing it frees the text it holds (a closed
    // one is on its way out and is not used again).
    if (m_message && !m_message->isVisible())
        m_message = nullptr;
    if (!m_message) {
        m_message = new frmMessage(m_window);
        m_message->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_message->ShowMessageUtf8(std::move(text), QStringLiteral("XML Contents"));
    m_message->show();
    m_message->raise();
    m_message->activateWindow();
}

} // namespace treelark
