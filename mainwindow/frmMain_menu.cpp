// The node command menu: right-click, layer command switches, Delete, Copy, Paste and
// SaveToFile.
#include "frmMain.h"

namespace treelark {

void frmMain::treeRightClick(const QPoint& pos) { Q_UNUSED(pos); }

void frmMain::installMenuShortcuts() {}

void frmMain::runMenuCommand(const QString& caption) { Q_UNUSED(caption); }

void frmMain::EnableLayerCommands(bool bEdit, bool bAdd)
{
    Q_UNUSED(bEdit);
    Q_UNUSED(bAdd);
}

void frmMain::DeleteNode(const DOMNode& xmlNode) { Q_UNUSED(xmlNode); }

void frmMain::SaveNodeToFile(const DOMNode& xmlNode) { Q_UNUSED(xmlNode); }

} // namespace treelark
