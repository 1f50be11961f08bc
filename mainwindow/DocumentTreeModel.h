// The document as a tree of items, one per DOM node below (and including) the document
// element. Each item holds its node (its "tag") and a text made from the node's name and
// its TagName and Name attributes.
//
// Branches are built when first needed: an item knows its node's children only once
// the branch is expanded or asked for, and an item object for a child exists only once
// that row is shown or asked for. What a user sees is the same as building every item up
// front, while opening a document of millions of nodes costs one item.
//
// Code that changes the document under an item and then patches the tree must call
// prepareForEdit(item) before changing the document, so the branch is taken from the
// document as it was.
#pragma once

#include "treelark/dom.h"

#include <QAbstractItemModel>

#include <memory>
#include <vector>

namespace treelark {

class TreeItem {
public:
    QString text;
    DOMNode tag;
    TreeItem* parent = nullptr; // nullptr for top-level items

private:
    friend class DocumentTreeModel;
    struct Slot {
        DOMNode node;
        std::unique_ptr<TreeItem> item; // made when the row is first needed
    };
    bool loaded = false;  // rows taken from the document
    bool hasTag = false;  // built from a present node
    qsizetype row = 0;
    std::vector<Slot> rows;
};

// Item text rules: "name (TagName)", "name (TagName,Name)", "name(Name)" or "name".
QString treeItemText(const DOMNode& node);

class DocumentTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit DocumentTreeModel(QObject* parent = nullptr);
    ~DocumentTreeModel() override;

    void clear();
    // Adds the item for xmlNode (and, lazily, its whole branch) as the last child of
    // tvParent, or as a new top-level item when tvParent is nullptr.
    TreeItem* AddTreeNode(const DOMNode& xmlNode, TreeItem* tvParent);
    // Removes the item and its branch.
    void removeItem(TreeItem* item);
    // Moves the item and its branch to the end of newParent's children.
    void setParent(TreeItem* item, TreeItem* newParent);
    void setItemText(TreeItem* item, const QString& text);
    void prepareForEdit(TreeItem* item);

    TreeItem* itemFromIndex(const QModelIndex& index) const;
    QModelIndex indexOf(const TreeItem* item) const;
    qsizetype topLevelCount() const { return qsizetype(m_top.rows.size()); }
    TreeItem* topLevelItem(qsizetype i);
    TreeItem* child(TreeItem* item, qsizetype row);
    qsizetype childCount(TreeItem* item);
    // The row under `item` (nullptr: the top level) that shows `node`, or -1; looks at
    // the rows' nodes without making items for them.
    qsizetype findChildRow(TreeItem* item, const DOMNode& node);
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
    std::unique_ptr<TreeItem> makeItem(const DOMNode& node, TreeItem* parent, qsizetype row) const;
    void renumber(TreeItem* parent, qsizetype from) const;
    static qint64 countItems(const TreeItem& item);
    TreeItem* asParent(TreeItem* item) const { return item == &m_top ? nullptr : item; }

    mutable TreeItem m_top;
    mutable qint64 m_itemCount = 0;
};

} // namespace treelark
