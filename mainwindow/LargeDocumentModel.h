// A document too large to hold as a tree of nodes, shown from its index: rows are the
// index's elements, labelled by the same rule as the document tree's items, with names
// and attributes read from the file only for the rows on screen.
//
// An element that holds only text gets one "#text" row under it, as the document tree
// shows its text node. Text beside child elements (mixed content) has no rows: its
// places are not in the index.
//
// Children of a row are listed the first time the row is asked for them and kept, so
// scrolling through a branch of a million rows costs one walk of that branch.
#pragma once

#include "treelark/DocumentIndex.h"

#include <QAbstractItemModel>

#include <memory>
#include <unordered_map>
#include <vector>

namespace treelark {

class LargeDocumentModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit LargeDocumentModel(QObject* parent = nullptr);

    void setIndex(std::shared_ptr<const DocumentIndex> index);
    const DocumentIndex* documentIndex() const { return m_index.get(); }

    // The element a tree index shows (for a "#text" row, the element holding the text).
    DocumentIndex::Row rowOf(const QModelIndex& index) const;
    static bool isTextRow(const QModelIndex& index);
    QModelIndex indexOf(DocumentIndex::Row row) const;
    // The row's label; "" when the file could not be read there.
    QString label(DocumentIndex::Row row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const std::vector<DocumentIndex::Row>& children(DocumentIndex::Row row) const;
    int positionOf(DocumentIndex::Row row) const;
    bool showsText(DocumentIndex::Row row) const;

    std::shared_ptr<const DocumentIndex> m_index;
    mutable std::unordered_map<DocumentIndex::Row, std::vector<DocumentIndex::Row>> m_children;
    mutable std::unordered_map<DocumentIndex::Row, QString> m_labels;
};

} // namespace treelark
