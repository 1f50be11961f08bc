#include "TreeNavigator.h"

#include "TreeViewState.h"

#include <QTreeView>

#include <optional>
#include <utility>

namespace treelark {

TreeItem* TreeNavigator::selectedItem() const
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : m_model->itemFromIndex(selected.first());
}

void TreeNavigator::selectItem(TreeItem* item)
{
    if (!item) {
        m_view->selectionModel()->clearSelection();
        m_view->setCurrentIndex(QModelIndex());
        return;
    }
    m_view->selectionModel()->setCurrentIndex(m_model->indexOf(item), QItemSelectionModel::ClearAndSelect);
}

bool TreeNavigator::reveal(const TreeRow& row)
{
    TreeItem* item = row.isNull() ? nullptr : m_model->itemFor(row);
    if (!item)
        return false;
    std::vector<TreeItem*> above;
    for (TreeItem* a = item->parent; a; a = a->parent)
        above.push_back(a);
    for (auto it = above.rbegin(); it != above.rend(); ++it)
        m_view->expand(m_model->indexOf(*it));
    selectItem(item);
    m_view->scrollTo(m_model->indexOf(item));
    return true;
}

void TreeNavigator::show(const std::shared_ptr<const RowSource>& source, bool below)
{
    std::optional<TreeViewState> kept;
    if (std::exchange(m_keepView, false))
        kept = captureViewState(m_view, m_model);
    m_model->setSource(source, below);
    const std::vector<TreeRow> tops = source->topRows();
    // A document without an element still shows one empty row, as it always did.
    if (tops.empty())
        AddTreeNode(TreeRow());
    for (const TreeRow& top : tops)
        AddTreeNode(top);
    if (kept)
        restoreViewState(m_view, m_model, *kept);
}

TreeItem* TreeNavigator::AddTreeNode(const TreeRow& xmlNode)
{
    TreeItem* item = m_model->addTopLevel(xmlNode);
    if (item && !xmlNode.isNull())
        m_view->setExpanded(m_model->indexOf(item), true);
    return item;
}

} // namespace treelark
