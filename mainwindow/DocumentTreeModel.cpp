#include "DocumentTreeModel.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace treelark {

DocumentTreeModel::DocumentTreeModel(QObject* parent)
    : QAbstractItemModel(parent), m_source(std::make_shared<DomRowSource>(nullptr))
{
    m_top.loaded = true;
}

DocumentTreeModel::~DocumentTreeModel() = default;

std::unique_ptr<TreeItem> DocumentTreeModel::makeItem(const TreeRow& row, TreeItem* parent, qsizetype position) const
{
    auto item = std::make_unique<TreeItem>();
    item->parent = asParent(parent);
    item->row = position;
    if (!row.isNull()) {
        item->tag = row.node;
        item->key = row.key;
        item->text = m_source->label(row);
    } else {
        item->loaded = true; // an item without a row has no branch
    }
    ++m_itemCount;
    return item;
}

void DocumentTreeModel::setSource(std::shared_ptr<const RowSource> source, bool keepEmptyRows)
{
    beginResetModel();
    // An empty row (a document that had no element) shows no node of any source.
    std::erase_if(m_top.rows, [keepEmptyRows](const TreeItem::Slot& s) { return !keepEmptyRows || !s.row.isNull(); });
    m_itemCount = countItems(m_top) - 1;
    m_source = std::move(source);
    m_keysOnly = !m_source->readOnlyReason().isEmpty();
    endResetModel();
}

void DocumentTreeModel::load(TreeItem* item) const
{
    if (item->loaded)
        return;
    item->loaded = true;
    const TreeRow row = item->sourceRow();
    if (row.isNull())
        return;
    const qint64 n = m_source->knownChildCount(row);
    if (m_keysOnly && item != &m_top) {
        item->keys.reserve(size_t(std::max<qint64>(n, 0)));
        for (TreeRow c = m_source->firstChild(row); !c.isNull(); c = m_source->nextSibling(c))
            item->keys.push_back(c.key);
        return;
    }
    if (n > 0)
        item->rows.reserve(size_t(n));
    for (TreeRow c = m_source->firstChild(row); !c.isNull();) {
        TreeRow next = m_source->nextSibling(c);
        item->rows.push_back({std::move(c), nullptr});
        c = std::move(next);
    }
}

TreeRow DocumentTreeModel::rowAt(const TreeItem* t, qsizetype i)
{
    return t->keys.empty() ? t->rows[size_t(i)].row : TreeRow(DOMNode(), t->keys[size_t(i)]);
}

TreeItem* DocumentTreeModel::madeItem(const TreeItem* t, qsizetype i)
{
    if (t->keys.empty())
        return t->rows[size_t(i)].item.get();
    const auto it = t->shown.find(i);
    return it == t->shown.end() ? nullptr : it->second.get();
}

TreeItem* DocumentTreeModel::materialise(TreeItem* parent, qsizetype row) const
{
    if (!parent->keys.empty()) {
        std::unique_ptr<TreeItem>& item = parent->shown[row];
        if (!item)
            item = makeItem(rowAt(parent, row), parent, row);
        return item.get();
    }
    TreeItem::Slot& slot = parent->rows[size_t(row)];
    if (!slot.item)
        slot.item = makeItem(slot.row, parent, row);
    return slot.item.get();
}

void DocumentTreeModel::renumber(TreeItem* parent, qsizetype from) const
{
    for (size_t i = size_t(from); i < parent->rows.size(); ++i)
        if (parent->rows[i].item)
            parent->rows[i].item->row = qsizetype(i);
}

TreeItem* DocumentTreeModel::addTopLevel(const TreeRow& top)
{
    const int row = int(m_top.rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_top.rows.push_back({top, nullptr});
    endInsertRows();
    return topLevelItem(row);
}

std::vector<TreeRow> DocumentTreeModel::ancestry(const TreeRow& row) const
{
    std::vector<TreeRow> chain;
    for (TreeRow r = row; !r.isNull(); r = m_source->parent(r))
        chain.push_back(r);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

TreeItem* DocumentTreeModel::existingItem(const TreeRow& row) const
{
    TreeItem* holder = &m_top;
    const std::vector<TreeRow> chain = ancestry(row);
    if (chain.empty())
        return nullptr;
    for (const TreeRow& step : chain) {
        if (!holder->loaded)
            return nullptr;
        TreeItem* found = nullptr;
        for (qsizetype i = 0, n = rowsIn(holder); i < n; ++i)
            if (rowAt(holder, i) == step) {
                found = madeItem(holder, i);
                break;
            }
        if (!found)
            return nullptr;
        holder = found;
    }
    return holder;
}

TreeItem* DocumentTreeModel::itemFor(const TreeRow& row)
{
    TreeItem* item = nullptr;
    const std::vector<TreeRow> chain = ancestry(row);
    for (const TreeRow& step : chain) {
        const qsizetype at = findChildRow(item, step);
        if (at < 0)
            return nullptr;
        item = child(item, at);
    }
    return item;
}

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

qint64 DocumentTreeModel::countItems(const TreeItem& item)
{
    // iterative: branches can be deep
    qint64 n = 0;
    std::vector<const TreeItem*> stack{&item};
    while (!stack.empty()) {
        const TreeItem* t = stack.back();
        stack.pop_back();
        ++n;
        for (const auto& child : t->rows)
            if (child.item)
                stack.push_back(child.item.get());
        for (const auto& [at, child] : t->shown)
            stack.push_back(child.get());
    }
    return n;
}

// An index points at the item that holds its row (the parent, or the invisible top),
// so making an index never makes an item: the view may index every row of a branch of
// a million children while only the rows it shows get item objects.
TreeItem* DocumentTreeModel::itemFromIndex(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    auto* holder = static_cast<TreeItem*>(index.internalPointer());
    if (index.row() >= rowsIn(holder))
        return nullptr;
    return materialise(holder, index.row());
}

QModelIndex DocumentTreeModel::indexOf(const TreeItem* item) const
{
    if (!item)
        return QModelIndex();
    return createIndex(int(item->row), 0, item->parent ? item->parent : &m_top);
}

TreeItem* DocumentTreeModel::topLevelItem(qsizetype i)
{
    return i >= 0 && i < topLevelCount() ? materialise(&m_top, i) : nullptr;
}

TreeItem* DocumentTreeModel::child(TreeItem* item, qsizetype row)
{
    TreeItem* parent = item ? item : &m_top;
    load(parent);
    return row >= 0 && row < rowsIn(parent) ? materialise(parent, row) : nullptr;
}

qsizetype DocumentTreeModel::childCount(TreeItem* item)
{
    TreeItem* parent = item ? item : &m_top;
    load(parent);
    return rowsIn(parent);
}

qsizetype DocumentTreeModel::findChildRow(TreeItem* item, const TreeRow& row)
{
    TreeItem* parent = item ? item : &m_top;
    load(parent);
    for (qsizetype r = 0, n = rowsIn(parent); r < n; ++r)
        if (rowAt(parent, r) == row)
            return r;
    return -1;
}

TreeItem* DocumentTreeModel::container(const QModelIndex& parent) const
{
    return parent.isValid() ? itemFromIndex(parent) : &m_top;
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    TreeItem* p = container(parent);
    if (!p)
        return QModelIndex();
    load(p);
    if (row >= rowsIn(p))
        return QModelIndex();
    return createIndex(row, 0, p);
}

QModelIndex DocumentTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return QModelIndex();
    auto* holder = static_cast<TreeItem*>(child.internalPointer());
    return holder == &m_top ? QModelIndex() : indexOf(holder);
}

int DocumentTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    TreeItem* p = container(parent);
    if (!p)
        return 0;
    load(p);
    return int(rowsIn(p));
}

int DocumentTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool DocumentTreeModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !m_top.rows.empty();
    auto* holder = static_cast<TreeItem*>(parent.internalPointer());
    if (parent.row() >= rowsIn(holder))
        return false;
    if (const TreeItem* item = madeItem(holder, parent.row()); item && item->loaded)
        return rowsIn(item) > 0;
    const TreeRow row = rowAt(holder, parent.row());
    return !row.isNull() && m_source->hasChildren(row);
}

QVariant DocumentTreeModel::data(const QModelIndex& index, int role) const
{
    TreeItem* item = itemFromIndex(index);
    if (!item || role != Qt::DisplayRole)
        return QVariant();
    // An item's text carries whole attribute values; a megabyte-long Name would cost
    // seconds to measure and paint for nothing anyone can read. The row shows the start.
    constexpr qsizetype kShownChars = 1000;
    if (item->text.size() > kShownChars)
        return QString(item->text.left(kShownChars) + QChar(0x2026));
    return item->text;
}

Qt::ItemFlags DocumentTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace treelark
