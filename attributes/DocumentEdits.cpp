#include "DocumentEdits.h"

#include "DocumentEditor.h"
#include "treelark/Busy.h"

#include <QScopeGuard>

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
        return false; // a node the DOM cannot walk up from hangs nowhere
    }
}

namespace {

bool g_editing = false;

} // namespace

bool attributeWindowEditing() { return g_editing; }

void applyEdit(DocumentEditor* editor, const QString& stepName, const DOMNode& target,
               const std::function<void()>& change)
{
    const bool outer = !g_editing;
    g_editing = true;
    const auto restore = qScopeGuard([outer] { g_editing = !outer; });
    if (!isInDocument(editor, target)) {
        change();
        return;
    }
    // A walk over a big subtree can take seconds: it runs as a long command, which the
    // user can stop; stopped, the step is taken back whole.
    runLongCommand([&] { editor->performWhole(stepName, change); });
}

QString refusalText(const QString& what, const DOMException& e)
{
    if (e.code() == DOMError::Cancelled)
        return what + QStringLiteral(" was stopped; the document is as it was.");
    return what + QStringLiteral(" was refused:\n") + e.description();
}

} // namespace treelark
