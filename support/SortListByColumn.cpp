#include "SortListByColumn.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVariant>

namespace treelark {

namespace {

// The list remembers its own sort: the header's indicator cannot be trusted for it, as
// the header flips that on a click by rules of the style before we see the click.
constexpr const char* kKey = "treelarkSortKey";
constexpr const char* kOrder = "treelarkSortOrder";

} // namespace

void SortListByColumn(QTreeWidget* list, int column)
{
    if (!list || column < 0)
        return;
    const QVariant key = list->property(kKey);
    Qt::SortOrder order = Qt::AscendingOrder;
    if (key.isValid() && key.toInt() == column)
        order = list->property(kOrder).toInt() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    list->setProperty(kKey, column);
    list->setProperty(kOrder, int(order));
    ResortList(list);
}

void ResortList(QTreeWidget* list)
{
    if (!list || !list->property(kKey).isValid())
        return;
    const int column = list->property(kKey).toInt();
    const auto order = Qt::SortOrder(list->property(kOrder).toInt());
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(column, order);
    list->sortItems(column, order);
}

} // namespace treelark
