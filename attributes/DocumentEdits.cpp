#include "DocumentEdits.h"

#include "DocumentEditor.h"

namespace treelark {

bool isInDocument(DocumentEditor* editor, const DOMNode& node)
{
    if (!editor || node.isNull() || !editor->document())
        return false;
    try {
        if (node.ownerDocument() != editor->document())
            return false;
        DOMNode n = node;
        while (!n.isNull() && n.nodeType() != NODE_DOCUMENT)
            n = n.parentNode();
        return !n.isNull();
    } catch (const DOMException&) {
        return false;
    }
}

void applyEdit(DocumentEditor* editor, const QString& stepName, const DOMNode& target,
               const std::function<void()>& change)
{
    if (isInDocument(editor, target))
        editor->performWhole(stepName, change);
    else
        change();
}

void markDocumentChanged(DocumentEditor* editor)
{
    if (editor)
        editor->setModified(true);
}

QString refusalText(const QString& what, const DOMException& e)
{
    return what + QStringLiteral(" was refused:\n") + e.description();
}

} // namespace treelark
