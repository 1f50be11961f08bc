// Sorting a report list by a clicked column header.
#pragma once

class QTreeWidget;

namespace treelark {

// Sorts `list` by `column` (counted from 0): ascending when the list was last sorted by
// another column (or never), otherwise the other way round from last time.
void SortListByColumn(QTreeWidget* list, int column);

// Sorts again by the column and order last chosen, after rows were added or refilled;
// nothing when the list was never sorted.
void ResortList(QTreeWidget* list);

} // namespace treelark
