// The tree as the window's parts use it: which row is selected, selecting one, and
// opening the branches down to a row. The tree follows the document by itself (the model
// listens to the edit layer); nothing here changes the document or a label.
#pragma once

#include "DocumentTreeModel.h"

class QTreeView;

namespace treelark {

class TreeNavigator {
public:
    TreeNavigator(QTreeView* view, DocumentTreeModel* model) : m_view(view), m_model(model) {}

    QTreeView* view() const { return m_view; }
    DocumentTreeModel* model() const { return m_model; }

    TreeItem* selectedItem() const;
    // nullptr clears the selection.
    void selectItem(TreeItem* item);
    // Expands the branches down to the row's item, selects it and scrolls to it; false
    // when the row is not in the tree (any more).
    bool reveal(const TreeRow& row);
    // The one way the tree is built: a top row for xmlNode (an empty one for no row), its
    // branch made as it is shown, expanded. (Rows below are the model's to make.)
    TreeItem* AddTreeNode(const TreeRow& xmlNode);
    // The rows of `source` from the top, the top rows expanded; `below`: under the empty
    // row a document without an element left, rather than in its place.
    void show(const std::shared_ptr<const RowSource>& source, bool below = false);
    // The next show() puts the open branches, the selection and the scroll position back
    // on the same elements of its source (the document that the rows shown now were
    // found in while it loaded).
    void keepViewForNextSource(bool keep = true) { m_keepView = keep; }

private:
    bool m_keepView = false;
    QTreeView* m_view;
    DocumentTreeModel* m_model;
};

} // namespace treelark
