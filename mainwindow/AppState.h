// The program-wide variable every window reads and writes. (Whether the document has
// unsaved changes is the edit layer's to say: DocumentEditor::isModified.)
#pragma once

#include <QString>

namespace treelark {

// File name of the open document as last reported ready; shown in the close prompt.
inline QString sDocumentFile;

} // namespace treelark
