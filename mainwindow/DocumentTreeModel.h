// A tree of items, one per row of a row source: a document's nodes from the document
// element down, or an index's elements. Each item holds its row (for a document, its node:
// its "tag") and the label the source gives it.
//
// Branches are built when first needed: an item knows its row's children only once
// the branch is expanded or asked for, and an item object for a child exists only once
// that row is shown or asked for. What a user sees is the same as building every item up
// front, while opening a document of millions of nodes costs one item.
//
// The model never changes the document. It follows the edit layer's reports of what
// changed (follow()), branch by branch, with the row signals views expect, so items the
// user expanded or selected stay as they were wherever their nodes still are.
#pragma once

#include "DocumentEditor.h"
#include "RowListAllocator.h"
#include "treelark/RowSource.h"

#include <QAbstractItemModel>

#include <memory>
#include <unordered_map>
#include <vector>

namespace treelark {

class TreeItem {
public:
    QString text;
    DOMNode tag;      // the row's node, for a document's rows
    quint64 key = 0;  // the row's number, for other sources' rows
    TreeItem* parent = nullptr; // nullptr for top-level items
    TreeRow sourceRow() const { return {tag, key}; }

private:
    friend class DocumentTreeModel;
    struct Slot {
        TreeRow row;
        std::unique_ptr<TreeItem> item; // made when the row is first needed
    };
    bool loaded = false;  // rows taken from the source
    qsizetype row = 0;
    std::vector<Slot> rows;
    // A read-only source's rows are numbers: a branch keeps only those, and items for
    // the rows shown, so a branch of a million rows costs eight bytes a row.
    std::vector<quint64, RowListAllocator<quint64>> keys;
    std::unordered_map<qsizetype, std::unique_ptr<TreeItem>> shown;
};

class DocumentTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit DocumentTreeModel(QObject* parent = nullptr);
    ~DocumentTreeModel() override;

    // The rows shown from now on; the tree is emptied, but for its empty rows when
    // `keepEmptyRows`. (Until one is set: the rows of whatever document nodes are added.)
    void setSource(std::shared_ptr<const RowSource> source, bool keepEmptyRows = false);
    const RowSource& source() const { return *m_source; }
    // The one way the tree is built: a top-level item for a top row (an empty one for
    // nothing), its branch made as it is shown.
    TreeItem* addTopLevel(const TreeRow& top);
    // Brings the loaded branches in line with the document after a change.
    void follow(const DocumentChange& change);
    // The item showing node, if one has been made; never makes one.
    TreeItem* existingItem(const TreeRow& row) const;
    // The item showing row, made (with those above it) if need be; nullptr when the row
    // is not in the tree.
    TreeItem* itemFor(const TreeRow& row);

    TreeItem* itemFromIndex(const QModelIndex& index) const;
    QModelIndex indexOf(const TreeItem* item) const;
    qsizetype topLevelCount() const { return qsizetype(m_top.rows.size()); }
    TreeItem* topLevelItem(qsizetype i);
    TreeItem* child(TreeItem* item, qsizetype row);
    qsizetype childCount(TreeItem* item);
    // The row under `item` (nullptr: the top level) that shows `node`, or -1; looks at
    // the rows' nodes without making items for them.
    qsizetype findChildRow(TreeItem* item, const TreeRow& row);
    // The source found rows it did not have (a document still being read): each of
    // `rows` that has an item gets the children it has now, after those it had.
    void grow(const std::vector<TreeRow>& rows);
    // The items made under `item` (nullptr: the top level); never makes one.
    std::vector<TreeItem*> existingChildren(TreeItem* item) const;
    // How many item objects exist right now (for tests and benchmarks).
    qint64 materialisedItems() const { return m_itemCount; }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    TreeItem* container(const QModelIndex& parent) const;
    void load(TreeItem* item) const;
    TreeItem* materialise(TreeItem* parent, qsizetype row) const;
    std::unique_ptr<TreeItem> makeItem(const TreeRow& row, TreeItem* parent, qsizetype position) const;
    std::vector<TreeRow> ancestry(const TreeRow& row) const; // from the top row down to row
    void renumber(TreeItem* parent, qsizetype from) const;
    void appendNewChildren(TreeItem* item);
    TreeItem* holderOf(const DOMNode& parent) const;
    void adoptMovedRows(TreeItem* holder, const std::vector<TreeRow>& wanted,
                        std::unordered_map<TreeRow, TreeItem*>& leaving);
    void syncRows(TreeItem* holder, const std::vector<TreeRow>& wanted);
    static qint64 countItems(const TreeItem& item);
    TreeItem* asParent(TreeItem* item) const { return item == &m_top ? nullptr : item; }
    // A branch's rows, however they are kept.
    static qsizetype rowsIn(const TreeItem* t) { return t->keys.empty() ? qsizetype(t->rows.size()) : qsizetype(t->keys.size()); }
    static TreeRow rowAt(const TreeItem* t, qsizetype i);
    static TreeItem* madeItem(const TreeItem* t, qsizetype i); // never makes one
    bool m_keysOnly = false; // the source is read-only: its branches keep keys

    std::shared_ptr<const RowSource> m_source;
    mutable TreeItem m_top;
    mutable qint64 m_itemCount = 0;
};

} // namespace treelark
