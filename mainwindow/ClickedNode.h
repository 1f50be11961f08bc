// What the last right-click (or menu key) in the tree chose: the row, the layers
// container the layer commands act on, and where the click was (the tool windows open
// beside it).
#pragma once

#include "treelark/RowSource.h"

#include <QPersistentModelIndex>

namespace treelark {

class DocumentSession;

struct ClickedNode {
    TreeRow row; // its node is the clicked node (pNodeClicked), for a document's rows
    DOMNode pNodeLayers;
    QPersistentModelIndex oItemClicked;
    int xPopup = 0; // twips, in the tree
    int yPopup = 0;

    // The clicked node while it still hangs in the open document; nothing after another
    // document was opened or once the node was deleted.
    DOMNode live(const DocumentSession& session) const;
    // The clicked row while it is still there: its live node, or the index row.
    TreeRow liveRow(const DocumentSession& session) const;
};

} // namespace treelark
