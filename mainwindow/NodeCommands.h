// The node commands that act on the clicked node itself: Delete, Copy and Paste (with
// the node in memory), SaveToFile, and ShowText in the message window. Changes go through
// the edit layer; a refused one is said on the status line and changes nothing.
#pragma once

#include "treelark/RowSource.h"

#include <QPointer>

class QWidget;

namespace treelark {

class DocumentSession;
class StatusLine;
class frmMessage;

class NodeCommands {
public:
    NodeCommands(DocumentSession& session, StatusLine& status, QWidget* window);

    void deleteNode(const DOMNode& node);
    void copy(const DOMNode& node);
    // `selected`: a row is selected at all; `target`: the clicked node, if it is live.
    void paste(bool selected, const DOMNode& target);
    void saveToFile(const TreeRow& row);
    void showText(const TreeRow& row);

private:
    void refused(const QString& what, const DOMException& e);

    DocumentSession& m_session;
    StatusLine& m_status;
    QWidget* m_window;
    // A deep copy in a document of its own: it outlives the document it came from and
    // may be pasted into the next one.
    DOMNode pNodeCopied;
    QPointer<frmMessage> m_message;
};

} // namespace treelark
