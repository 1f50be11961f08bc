#include "DocumentTreeModel.h"

namespace treelark {

QString treeItemText(const DOMNode& node)
{
    QString tagName, name;
    DOMNamedNodeMap attrs = node.attributes();
    if (!attrs.isNull()) {
        // Read the attributes once, stopping as soon as both names are known.
        const qint64 n = attrs.length();
        for (qint64 i = 0; i < n && (tagName.isEmpty() || name.isEmpty()); ++i) {
            DOMNode a = attrs.item(i);
            const QString attrName = a.name();
            if (attrName == QLatin1String("TagName"))
                tagName = a.value();
            else if (attrName == QLatin1String("Name"))
                name = a.value();
        }
    }
    const QString nodeName = node.nodeName();
    if (!tagName.isEmpty()) {
        if (name.isEmpty() || name == tagName)
            return nodeName + QLatin1String(" (") + tagName + QLatin1Char(')');
        return nodeName + QLatin1String(" (") + tagName + QLatin1Char(',') + name + QLatin1Char(')');
    }
    if (!name.isEmpty())
        return nodeName + QLatin1Char('(') + name + QLatin1Char(')');
    return nodeName;
}

DocumentTreeModel::DocumentTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    m_top.loaded = true;
}

DocumentTreeModel::~DocumentTreeModel() = default;

std::unique_ptr<TreeItem> DocumentTreeModel::makeItem(const DOMNode& node, TreeItem* parent, qsizetype row) const
{
    auto item = std::make_unique<TreeItem>();
    item->parent = asParent(parent);
    item->row = row;
    if (!node.isNull()) {
        item->tag = node;
        item->hasTag = true;
        item->text = treeItemText(node);
    } else {
        item->loaded = true; // an item without a node has no branch
    }
    ++m_itemCount;
    return item;
}

void DocumentTreeModel::clear()
{
    beginResetModel();
    m_top.rows.clear();
    m_itemCount = 0;
    endResetModel();
}

void DocumentTreeModel::load(TreeItem* item) const
{
    if (item->loaded)
        return;
    item->loaded = true;
    if (item->tag.isNull())
        return;
    for (DOMNode c = item->tag.firstChild(); !c.isNull(); c = c.nextSibling())
        item->rows.push_back({c, nullptr});
}

TreeItem* DocumentTreeModel::materialise(TreeItem* parent, qsizetype row) const
{
    TreeItem::Slot& slot = parent->rows[size_t(row)];
    if (!slot.item)
        slot.item = makeItem(slot.node, parent, row);
    return slot.item.get();
}

void DocumentTreeModel::renumber(TreeItem* parent, qsizetype from) const
{
    for (size_t i = size_t(from); i < parent->rows.size(); ++i)
        if (parent->rows[i].item)
            parent->rows[i].item->row = qsizetype(i);
}

void DocumentTreeModel::prepareForEdit(TreeItem* item)
{
    if (item)
        load(item);
}

TreeItem* DocumentTreeModel::AddTreeNode(const DOMNode& xmlNode, TreeItem* tvParent)
{
    TreeItem* parent = tvParent ? tvParent : &m_top;
    const bool wasLoaded = parent->loaded;
    load(parent);
    if (!wasLoaded && !xmlNode.isNull()) {
        // The branch was taken from the document after the node was put there: drop
        // that row so the new branch stands last, as it would had the branch been built.
        for (size_t i = 0; i < parent->rows.size(); ++i) {
            if (parent->rows[i].node == xmlNode) {
                parent->rows.erase(parent->rows.begin() + qsizetype(i));
                renumber(parent, qsizetype(i));
                break;
            }
        }
    }
    const int row = int(parent->rows.size());
    beginInsertRows(indexOf(asParent(parent)), row, row);
    parent->rows.push_back({xmlNode, makeItem(xmlNode, parent, row)});
    endInsertRows();
    return parent->rows.back().item.get();
}

void DocumentTreeModel::removeItem(TreeItem* item)
{
    if (!item)
        return;
    TreeItem* parent = item->parent ? item->parent : &m_top;
    const qsizetype row = item->row;
    beginRemoveRows(indexOf(item->parent), int(row), int(row));
    m_itemCount -= countItems(*item);
    parent->rows.erase(parent->rows.begin() + row);
    renumber(parent, row);
    endRemoveRows();
}

void DocumentTreeModel::setParent(TreeItem* item, TreeItem* newParent)
{
    if (!item || item == newParent)
        return;
    for (TreeItem* a = newParent; a; a = a->parent)
        if (a == item)
            return; // an item cannot go under its own branch
    TreeItem* target = newParent ? newParent : &m_top;
    load(target);
    TreeItem* oldParent = item->parent ? item->parent : &m_top;
    const qsizetype row = item->row;
    const int dest = int(target->rows.size());
    const QModelIndex from = indexOf(item->parent), to = indexOf(newParent);
    if (!beginMoveRows(from, int(row), int(row), to, dest))
        return;
    TreeItem::Slot slot = std::move(oldParent->rows[size_t(row)]);
    oldParent->rows.erase(oldParent->rows.begin() + row);
    renumber(oldParent, row);
    slot.item->parent = newParent;
    slot.item->row = qsizetype(target->rows.size());
    target->rows.push_back(std::move(slot));
    endMoveRows();
}

void DocumentTreeModel::setItemText(TreeItem* item, const QString& text)
{
    if (!item)
        return;
    item->text = text;
    const QModelIndex idx = indexOf(item);
    emit dataChanged(idx, idx, {Qt::DisplayRole});
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
    if (index.row() >= qsizetype(holder->rows.size()))
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
    return row >= 0 && row < qsizetype(parent->rows.size()) ? materialise(parent, row) : nullptr;
}

qsizetype DocumentTreeModel::childCount(TreeItem* item)
{
    TreeItem* parent = item ? item : &m_top;
    load(parent);
    return qsizetype(parent->rows.size());
}

qsizetype DocumentTreeModel::findChildRow(TreeItem* item, const DOMNode& node)
{
    TreeItem* parent = item ? item : &m_top;
    load(parent);
    for (size_t r = 0; r < parent->rows.size(); ++r)
        if (parent->rows[r].node == node)
            return qsizetype(r);
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
    if (row >= int(p->rows.size()))
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
    return int(p->rows.size());
}

int DocumentTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool DocumentTreeModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !m_top.rows.empty();
    auto* holder = static_cast<TreeItem*>(parent.internalPointer());
    if (parent.row() >= qsizetype(holder->rows.size()))
        return false;
    const TreeItem::Slot& slot = holder->rows[size_t(parent.row())];
    if (slot.item && slot.item->loaded)
        return !slot.item->rows.empty();
    return !slot.node.isNull() && slot.node.hasChildNodes();
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
