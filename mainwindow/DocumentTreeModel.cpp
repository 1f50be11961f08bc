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

void DocumentTreeModel::grow(const std::vector<TreeRow>& rows)
{
    for (const TreeRow& row : rows)
        if (TreeItem* item = existingItem(row))
            appendNewChildren(item);
}

void DocumentTreeModel::appendNewChildren(TreeItem* item)
{
    // A branch never asked for is taken as empty: the rows it has now arrive as an
    // insertion, which is how a view learns that a row it drew as a leaf has children.
    item->loaded = true;
    const qsizetype have = rowsIn(item);
    std::vector<TreeRow> more;
    for (TreeRow c = have ? m_source->nextSibling(rowAt(item, have - 1)) : m_source->firstChild(item->sourceRow());
         !c.isNull(); c = m_source->nextSibling(c))
        more.push_back(std::move(c));
    if (more.empty())
        return;
    beginInsertRows(indexOf(item), int(have), int(have + qsizetype(more.size()) - 1));
    for (TreeRow& c : more) {
        if (m_keysOnly)
            item->keys.push_back(c.key);
        else
            item->rows.push_back({std::move(c), nullptr});
    }
    endInsertRows();
}

std::vector<TreeItem*> DocumentTreeModel::existingChildren(TreeItem* item) const
{
    const TreeItem* t = item ? item : &m_top;
    std::vector<TreeItem*> out;
    for (const auto& slot : t->rows)
        if (slot.item)
            out.push_back(slot.item.get());
    for (const auto& [at, child] : t->shown)
        out.push_back(child.get());
    return out;
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
