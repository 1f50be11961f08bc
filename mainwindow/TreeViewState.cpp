#include "TreeViewState.h"

#include "DocumentTreeModel.h"

#include <QScrollBar>
#include <QTreeView>

#include <algorithm>

namespace treelark {

namespace {

bool isElementRow(const TreeRow& row)
{
    return row.node.isNull() ? !IndexRowSource::isTextRow(row) : row.node.nodeType() == NODE_ELEMENT;
}

bool isTextRow(const TreeRow& row)
{
    return row.node.isNull() ? IndexRowSource::isTextRow(row)
                             : row.node.nodeType() == NODE_TEXT || row.node.nodeType() == NODE_CDATA_SECTION;
}

RowPlace placeOfItem(const DocumentTreeModel& model, const QModelIndex& index)
{
    const TreeItem* item = index.isValid() ? model.itemFromIndex(index) : nullptr;
    return item ? placeOf(model.source(), item->sourceRow()) : RowPlace();
}

} // namespace

RowPlace placeOf(const RowSource& source, const TreeRow& row)
{
    RowPlace place;
    for (TreeRow r = row; !r.isNull();) {
        const TreeRow up = source.parent(r);
        if (up.isNull()) {
            place.push_back(0); // the document element is the only element at the top
            break;
        }
        qint64 k = 0;
        if (!isElementRow(r)) {
            k = -1;
        } else {
            for (TreeRow c = source.firstChild(up); !c.isNull() && c != r; c = source.nextSibling(c))
                k += isElementRow(c);
        }
        place.push_back(k);
        r = up;
    }
    std::reverse(place.begin(), place.end());
    return place;
}

TreeRow rowAt(const RowSource& source, const RowPlace& place)
{
    const std::vector<TreeRow> tops = source.topRows();
    auto top = std::find_if(tops.begin(), tops.end(), isElementRow);
    if (place.empty() || top == tops.end())
        return {};
    TreeRow r = *top;
    for (std::size_t i = 1; i < place.size(); ++i) {
        qint64 k = place[i];
        TreeRow c = source.firstChild(r);
        for (; !c.isNull(); c = source.nextSibling(c)) {
            if (k < 0 ? isTextRow(c) : isElementRow(c) && k-- == 0)
                break;
        }
        if (c.isNull())
            return {};
        r = c;
    }
    return r;
}

TreeViewState captureViewState(QTreeView* view, DocumentTreeModel* model)
{
    TreeViewState state;
    // Breadth first over the items that exist: only they can be open.
    std::vector<TreeItem*> level = model->existingChildren(nullptr);
    while (!level.empty()) {
        std::vector<TreeItem*> next;
        for (TreeItem* item : level) {
            if (!view->isExpanded(model->indexOf(item)))
                continue;
            state.expanded.push_back(placeOf(model->source(), item->sourceRow()));
            const std::vector<TreeItem*> below = model->existingChildren(item);
            next.insert(next.end(), below.begin(), below.end());
        }
        level.swap(next);
    }
    state.current = placeOfItem(*model, view->currentIndex());
    state.top = placeOfItem(*model, view->indexAt(QPoint(1, 1)));
    state.horizontal = view->horizontalScrollBar()->value();
    return state;
}

void restoreViewState(QTreeView* view, DocumentTreeModel* model, const TreeViewState& state)
{
    const auto indexAt = [&](const RowPlace& place) {
        const TreeRow row = rowAt(model->source(), place);
        TreeItem* item = row.isNull() ? nullptr : model->itemFor(row);
        return item ? model->indexOf(item) : QModelIndex();
    };
    for (const RowPlace& place : state.expanded)
        if (const QModelIndex index = indexAt(place); index.isValid())
            view->expand(index);
    if (const QModelIndex current = indexAt(state.current); current.isValid())
        view->setCurrentIndex(current);
    if (const QModelIndex top = indexAt(state.top); top.isValid())
        view->scrollTo(top, QAbstractItemView::PositionAtTop);
    view->horizontalScrollBar()->setValue(state.horizontal);
}

} // namespace treelark
