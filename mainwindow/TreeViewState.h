// What a person arranged in the tree: the branches open, the row selected, the row at the
// top of the view. Rows are kept by where their elements stand (the how-manyth element
// child, from the top down), so the arrangement can be put back on other rows of the same
// file: the rows found while a document loads, then the document's own nodes once it is
// read.
#pragma once

#include "treelark/RowSource.h"

#include <vector>

class QTreeView;

namespace treelark {

class DocumentTreeModel;

// Element positions from the top row down; a last -1 for the "#text" row of an element.
using RowPlace = std::vector<qint64>;

RowPlace placeOf(const RowSource& source, const TreeRow& row);
// The row at `place`; no row when the source has nothing there.
TreeRow rowAt(const RowSource& source, const RowPlace& place);

struct TreeViewState {
    std::vector<RowPlace> expanded; // parents before their children
    RowPlace current;
    RowPlace top;
    int horizontal = 0;
};

TreeViewState captureViewState(QTreeView* view, DocumentTreeModel* model);
// Opens, selects and scrolls to what the state names, as far as the model's source has
// those rows.
void restoreViewState(QTreeView* view, DocumentTreeModel* model, const TreeViewState& state);

} // namespace treelark
