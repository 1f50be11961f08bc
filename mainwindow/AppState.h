// The two program-wide variables every window reads and writes.
#pragma once

#include <QString>

namespace treelark {

// The open document has edits that were not saved.
inline bool bDocumentChanged = false;
// File name of the open document as last reported ready; shown in the close prompt.
inline QString sDocumentFile;

} // namespace treelark
