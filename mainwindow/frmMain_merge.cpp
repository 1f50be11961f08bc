// Merging a second document into the open one.
#include "frmMain.h"

namespace treelark {

bool frmMain::MergeDocument() { return true; }

void frmMain::pXMLMgr_DOMReady(DOMDocumentPtr oXmlDoc) { Q_UNUSED(oXmlDoc); }

} // namespace treelark
