// How the tree follows the document: after each change, undo or redo, the loaded
// branches the edit layer names are brought in line with the document, row by row, with
// the signals views expect, so what the user expanded or selected stays where its node is.
#include "DocumentTreeModel.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace treelark {

// The item whose rows show parent's children: the top for the document node.
TreeItem* DocumentTreeModel::holderOf(const DOMNode& parent) const
{
    if (parent.nodeType() == NODE_DOCUMENT)
        return &m_top;
    return existingItem(parent);
}

namespace {

std::vector<TreeRow> shownChildren(const DOMNode& parent)
{
    std::vector<TreeRow> out;
    // the tree shows the document from its element down
    const bool top = parent.nodeType() == NODE_DOCUMENT;
    for (DOMNode c = parent.firstChild(); !c.isNull(); c = c.nextSibling())
        if (!top || c.nodeType() == NODE_ELEMENT)
            out.push_back(c);
    return out;
}

} // namespace

void DocumentTreeModel::follow(const DocumentChange& change)
{
    // Rows that left one branch for another move with their items (and so with what the
    // view knows of them: expansion, selection); the rest are removed or inserted.
    struct Branch {
        TreeItem* holder;
        DOMNode parent;
        std::vector<TreeRow> wanted;
    };
    std::vector<Branch> synced;
    for (const DOMNode& parent : change.parents)
        if (TreeItem* holder = holderOf(parent)) {
            if (holder->loaded)
                synced.push_back({holder, parent, shownChildren(parent)});
            else if (holder != &m_top) {
                const QModelIndex idx = indexOf(holder); // the expander may come or go
                emit dataChanged(idx, idx);
            }
        }
    std::unordered_map<TreeRow, TreeItem*> leaving; // rows whose nodes are no longer there
    for (const auto& [holder, parent, wanted] : synced) {
        const std::unordered_set<TreeRow> wantedSet(wanted.begin(), wanted.end());
        for (const TreeItem::Slot& slot : holder->rows)
            if (slot.item && !wantedSet.count(slot.row))
                leaving.emplace(slot.row, holder);
    }
    for (const auto& [holder, parent, wanted] : synced)
        adoptMovedRows(holder, wanted, leaving);
    // A branch can go with an ancestor's row: each is looked up again before its turn.
    for (const auto& [holder, parent, wanted] : synced)
        if (TreeItem* still = holderOf(parent); still && still->loaded)
            syncRows(still, wanted);
    if (TreeItem* last = existingItem(change.movedToEnd)) {
        TreeItem* holder = last->parent ? last->parent : &m_top;
        const qsizetype from = last->row, end = qsizetype(holder->rows.size());
        const QModelIndex parentIndex = indexOf(last->parent);
        if (from + 1 < end && beginMoveRows(parentIndex, int(from), int(from), parentIndex, int(end))) {
            TreeItem::Slot slot = std::move(holder->rows[size_t(from)]);
            holder->rows.erase(holder->rows.begin() + from);
            holder->rows.push_back(std::move(slot));
            renumber(holder, from);
            endMoveRows();
        }
    }
    // A change to more nodes than there are items (a walk over the whole document) is
    // cheaper told by asking every item than by finding each node's item.
    if (qint64(change.nodes.size()) > m_itemCount) {
        std::vector<TreeItem*> stack{&m_top};
        while (!stack.empty()) {
            TreeItem* holder = stack.back();
            stack.pop_back();
            for (TreeItem::Slot& slot : holder->rows) {
                TreeItem* item = slot.item.get();
                if (!item)
                    continue;
                if (!item->tag.isNull()) {
                    if (const QString text = m_source->label(item->sourceRow()); text != item->text) {
                        item->text = text;
                        const QModelIndex idx = indexOf(item);
                        emit dataChanged(idx, idx, {Qt::DisplayRole});
                    }
                }
                stack.push_back(item);
            }
        }
        return;
    }
    for (const DOMNode& node : change.nodes)
        if (TreeItem* item = existingItem(node)) {
            item->text = m_source->label(node);
            const QModelIndex idx = indexOf(item);
            emit dataChanged(idx, idx, {Qt::DisplayRole});
        }
}

void DocumentTreeModel::adoptMovedRows(TreeItem* holder, const std::vector<TreeRow>& wanted,
                                       std::unordered_map<TreeRow, TreeItem*>& leaving)
{
    std::unordered_set<TreeRow> present;
    for (const TreeItem::Slot& slot : holder->rows)
        present.insert(slot.row);

    // New rows that are items elsewhere (moved nodes) come over whole.
    for (size_t i = 0; i < wanted.size(); ++i) {
        const TreeRow& node = wanted[i];
        if (present.count(node))
            continue;
        if (auto found = leaving.find(node); found != leaving.end() && found->second != holder) {
            TreeItem* other = found->second;
            leaving.erase(found);
            const qsizetype from = [&] {
                for (size_t r = 0; r < other->rows.size(); ++r)
                    if (other->rows[r].row == node)
                        return qsizetype(r);
                return qsizetype(-1);
            }();
            if (from < 0)
                continue;
            bool inside = false; // an item cannot go under its own branch
            for (TreeItem* a = holder; a && a != &m_top; a = a->parent ? a->parent : &m_top)
                if (a == other->rows[size_t(from)].item.get()) {
                    inside = true;
                    break;
                }
            if (inside)
                continue;
            qsizetype dest = 0;
            for (size_t k = i; k-- > 0;) {
                auto it = std::find_if(holder->rows.begin(), holder->rows.end(),
                                       [&](const TreeItem::Slot& s) { return s.row == wanted[k]; });
                if (it != holder->rows.end()) {
                    dest = qsizetype(it - holder->rows.begin()) + 1;
                    break;
                }
            }
            if (!beginMoveRows(indexOf(asParent(other)), int(from), int(from), indexOf(asParent(holder)), int(dest)))
                continue;
            TreeItem::Slot slot = std::move(other->rows[size_t(from)]);
            other->rows.erase(other->rows.begin() + from);
            renumber(other, from);
            slot.item->parent = asParent(holder);
            holder->rows.insert(holder->rows.begin() + dest, std::move(slot));
            renumber(holder, dest);
            endMoveRows();
            present.insert(node);
        }
    }
}

void DocumentTreeModel::syncRows(TreeItem* holder, const std::vector<TreeRow>& wanted)
{
    const std::unordered_set<TreeRow> wantedSet(wanted.begin(), wanted.end());
    // Rows whose nodes left, in runs from the end so earlier row numbers hold.
    // (The empty top item a failed load leaves is no node's: it stays.)
    auto gone = [&](qsizetype r) {
        const TreeRow& node = holder->rows[size_t(r)].row;
        return !node.isNull() && !wantedSet.count(node);
    };
    for (qsizetype r = qsizetype(holder->rows.size()); r-- > 0;) {
        if (!gone(r))
            continue;
        qsizetype first = r;
        while (first > 0 && gone(first - 1))
            --first;
        beginRemoveRows(indexOf(asParent(holder)), int(first), int(r));
        for (qsizetype k = first; k <= r; ++k)
            if (holder->rows[size_t(k)].item)
                m_itemCount -= countItems(*holder->rows[size_t(k)].item);
        holder->rows.erase(holder->rows.begin() + first, holder->rows.begin() + r + 1);
        renumber(holder, first);
        endRemoveRows();
        r = first;
    }

    // New nodes, each run after the row of the node before it in the document.
    std::unordered_map<TreeRow, qsizetype> rowOf;
    for (size_t r = 0; r < holder->rows.size(); ++r)
        rowOf.emplace(holder->rows[r].row, qsizetype(r));
    struct Run {
        qsizetype at;
        std::vector<TreeRow> nodes;
    };
    std::vector<Run> runs;
    qsizetype anchor = 0;
    bool inRun = false;
    for (const TreeRow& node : wanted) {
        if (auto it = rowOf.find(node); it != rowOf.end()) {
            anchor = it->second + 1;
            inRun = false;
            continue;
        }
        if (!inRun)
            runs.push_back({anchor, {}});
        runs.back().nodes.push_back(node);
        inRun = true;
    }
    std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.at > b.at; });
    for (const Run& run : runs) {
        const qsizetype n = qsizetype(run.nodes.size());
        beginInsertRows(indexOf(asParent(holder)), int(run.at), int(run.at + n - 1));
        std::vector<TreeItem::Slot> fresh;
        fresh.reserve(size_t(n));
        for (const TreeRow& node : run.nodes)
            fresh.push_back({node, nullptr});
        holder->rows.insert(holder->rows.begin() + run.at, std::make_move_iterator(fresh.begin()),
                            std::make_move_iterator(fresh.end()));
        renumber(holder, run.at);
        endInsertRows();
    }
}

} // namespace treelark
