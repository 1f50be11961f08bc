#include "LargeDocumentModel.h"

#include "DocumentTreeModel.h"

#include <algorithm>

namespace treelark {

namespace {

using Row = DocumentIndex::Row;
// Labels are read from the file; a screenful of them is all that is ever needed at once.
constexpr size_t kKeptLabels = 20000;
// Set in an index's internal id for the "#text" row under an element.
constexpr quintptr kTextRow = quintptr(1) << (sizeof(quintptr) * 8 - 1);

} // namespace

LargeDocumentModel::LargeDocumentModel(QObject* parent) : QAbstractItemModel(parent) {}

void LargeDocumentModel::setIndex(std::shared_ptr<const DocumentIndex> index)
{
    beginResetModel();
    m_index = std::move(index);
    m_children.clear();
    m_labels.clear();
    endResetModel();
}

// An index's internal id is its row plus one, so that 0 stays "no row" (the top level).
Row LargeDocumentModel::rowOf(const QModelIndex& index) const
{
    return index.isValid() ? Row((index.internalId() & ~kTextRow) - 1) : DocumentIndex::NoRow;
}

bool LargeDocumentModel::isTextRow(const QModelIndex& index)
{
    return index.isValid() && (index.internalId() & kTextRow);
}

bool LargeDocumentModel::showsText(Row row) const
{
    return m_index && row != DocumentIndex::NoRow && m_index->firstChild(row) == DocumentIndex::NoRow
        && m_index->hasText(row);
}

const std::vector<Row>& LargeDocumentModel::children(Row row) const
{
    auto it = m_children.find(row);
    if (it != m_children.end())
        return it->second;
    std::vector<Row> list;
    if (m_index) {
        if (row == DocumentIndex::NoRow) {
            if (m_index->root() != DocumentIndex::NoRow)
                list.push_back(m_index->root());
        } else {
            list.reserve(size_t(m_index->childCount(row)));
            for (Row c = m_index->firstChild(row); c != DocumentIndex::NoRow; c = m_index->nextSibling(c))
                list.push_back(c);
        }
    }
    return m_children.emplace(row, std::move(list)).first->second;
}

// Rows are numbered in document order, so a parent's children are in increasing order.
int LargeDocumentModel::positionOf(Row row) const
{
    const std::vector<Row>& siblings = children(m_index->parent(row));
    const auto it = std::lower_bound(siblings.begin(), siblings.end(), row);
    return it != siblings.end() && *it == row ? int(it - siblings.begin()) : -1;
}

QModelIndex LargeDocumentModel::indexOf(Row row) const
{
    if (!m_index || row == DocumentIndex::NoRow || row >= Row(m_index->rowCount()))
        return QModelIndex();
    const int position = positionOf(row);
    return position < 0 ? QModelIndex() : createIndex(position, 0, quintptr(row) + 1);
}

QModelIndex LargeDocumentModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0 || isTextRow(parent))
        return QModelIndex();
    const Row of = rowOf(parent);
    if (row == 0 && showsText(of))
        return createIndex(0, 0, (quintptr(of) + 1) | kTextRow);
    const std::vector<Row>& list = children(of);
    return size_t(row) < list.size() ? createIndex(row, 0, quintptr(list[size_t(row)]) + 1) : QModelIndex();
}

QModelIndex LargeDocumentModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || !m_index)
        return QModelIndex();
    if (isTextRow(child))
        return indexOf(rowOf(child));
    return indexOf(m_index->parent(rowOf(child)));
}

int LargeDocumentModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0 || isTextRow(parent))
        return 0;
    const Row of = rowOf(parent);
    return showsText(of) ? 1 : int(children(of).size());
}

int LargeDocumentModel::columnCount(const QModelIndex&) const { return 1; }

bool LargeDocumentModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_index && m_index->root() != DocumentIndex::NoRow;
    if (isTextRow(parent) || !m_index)
        return false;
    return m_index->firstChild(rowOf(parent)) != DocumentIndex::NoRow || showsText(rowOf(parent));
}

QString LargeDocumentModel::label(Row row) const
{
    if (auto it = m_labels.find(row); it != m_labels.end())
        return it->second;
    IndexedElement element;
    QString text;
    if (m_index && m_index->read(row, &element, 0)) {
        QString tagName, name;
        for (const IndexedAttribute& a : element.attributes) {
            if (a.name == QLatin1String("TagName") && tagName.isEmpty())
                tagName = a.value;
            else if (a.name == QLatin1String("Name") && name.isEmpty())
                name = a.value;
        }
        text = treeItemLabel(element.name, tagName, name);
    } else if (m_index) {
        text = m_index->name(row);
    }
    if (m_labels.size() >= kKeptLabels)
        m_labels.clear();
    m_labels.emplace(row, text);
    return text;
}

QVariant LargeDocumentModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    return isTextRow(index) ? QStringLiteral("#text") : label(rowOf(index));
}

} // namespace treelark
