// How the attribute windows change the document: through the main window's edit layer,
// so each user action is one undoable step, or directly for an element that is not in
// the document yet (the element "InsertNode" is filling in: nothing of the document
// changes until it is inserted, and that insertion is the step).
#pragma once

#include "treelark/dom.h"

#include <functional>

namespace treelark {

class DocumentEditor;

// Whether node hangs in editor's document (attached all the way up).
bool isInDocument(DocumentEditor* editor, const DOMNode& node);

// Runs change, all or nothing: when it throws DOMException the document is as it was
// and the exception goes on to the caller. Recorded as one step named stepName when
// `target` is in the editor's document.
void applyEdit(DocumentEditor* editor, const QString& stepName, const DOMNode& target,
               const std::function<void()>& change);

// Whether one of the attribute windows is making a change right now. They show their own
// changes as they make them; what they follow from the edit layer is everybody else's
// (undo, redo, the main window's commands).
bool attributeWindowEditing();

// Text for a refused change, naming what was asked and why it was refused.
QString refusalText(const QString& what, const DOMException& e);

} // namespace treelark
