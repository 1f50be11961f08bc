// Dragging: moving a node under another element in the tree, and files dropped on the
// name box.
#include "frmMain.h"

namespace treelark {

bool frmMain::nameBoxDragEvent(QEvent* event)
{
    Q_UNUSED(event);
    return false;
}

bool frmMain::treeDragEvent(QEvent* event)
{
    Q_UNUSED(event);
    return false;
}

void frmMain::txtNodeName_DropFiles(const QStringList& paths) { Q_UNUSED(paths); }

void frmMain::treeDrop(TreeItem* dropItem) { Q_UNUSED(dropItem); }

} // namespace treelark
