/// \file
/// What a tree view of a document is made from: rows, each with a label, children and a
/// parent, and what can be read of a row without changing anything. A document in
/// memory (DomRowSource) and an index of a file too large for memory (IndexRowSource)
/// both give rows this way, so a viewer shows either without knowing which it has.
///
/// A document's rows are its nodes from the document element down, text and comments
/// included. An index's rows are its elements, and an element holding only text has one
/// "#text" row under it, as the document shows its text node; text beside elements has
/// no row there, as the index does not keep its place.
#pragma once

#include "treelark/DocumentIndex.h"
#include "treelark/dom.h"
#include "treelark/export.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace treelark {

/// A row of a source: the node, for a document's rows; the source's own number (never
/// 0), for others. Both empty: no row.
struct TreeRow {
    TreeRow() = default;
    TreeRow(DOMNode n) : node(std::move(n)) {} // a document's rows are its nodes
    TreeRow(DOMNode n, quint64 k) : node(std::move(n)), key(k) {}
    DOMNode node;
    quint64 key = 0;
    bool isNull() const { return node.isNull() && key == 0; }
    bool operator==(const TreeRow& o) const { return key == o.key && node == o.node; }
    bool operator!=(const TreeRow& o) const { return !(*this == o); }
};

/// What the information pane shows of a row.
struct RowDetails {
    QString name;        ///< with its prefix: "p:Item", "#text"
    int type = 0;        ///< NODE_ELEMENT, NODE_TEXT, ...
    QString typeName;    ///< "element", "text", ...
    QString text;        ///< the start of its text
    bool textTruncated = false;
    QList<IndexedAttribute> attributes;
    qint64 childElements = 0;
    qint64 childRows = 0;     ///< the rows under it in the tree, text rows included
    QString baseName;         ///< the name without its prefix; "" for text and comments
    QString value;            ///< the node's own value (text, comment, data); "" for elements
    bool valueTruncated = false;
    bool hasAttributeList = false; ///< an element: it may have attributes, even none
};

/// A tree label: "name (TagName)", "name (TagName,Name)", "name(Name)" or "name", from a
/// row's name and its TagName and Name attributes.
TREELARK_CORE_EXPORT QString treeItemLabel(const QString& nodeName, const QString& tagName, const QString& name);
TREELARK_CORE_EXPORT QString treeItemText(const DOMNode& node);
/// The names from the document element down to the node, joined by '/'; "" for a node
/// that hangs nowhere.
TREELARK_CORE_EXPORT QString nodePath(const DOMNode& node);

class TREELARK_CORE_EXPORT RowSource {
public:
    virtual ~RowSource();

    /// \name The tree
    virtual std::vector<TreeRow> topRows() const = 0;
    virtual TreeRow firstChild(const TreeRow& row) const = 0;
    virtual TreeRow nextSibling(const TreeRow& row) const = 0;
    virtual TreeRow parent(const TreeRow& row) const = 0; ///< no row for the top rows
    virtual bool hasChildren(const TreeRow& row) const = 0;
    /// How many children the row has, when the source can tell without walking them;
    /// -1 otherwise. (A list of them is made ready for that many at once.)
    virtual qint64 knownChildCount(const TreeRow& row) const
    {
        (void)row;
        return -1;
    }
    virtual QString label(const TreeRow& row) const = 0;

    /// \name Reading
    /// The row's path as the window shows it ("FrameworkConfig/ApLayers/ApLayer").
    virtual QString path(const TreeRow& row) const = 0;
    /// The row's name, attributes and the first `maxTextChars` characters of its text.
    virtual bool read(const TreeRow& row, RowDetails* out, qsizetype maxTextChars = 4096) const = 0;
    /// Every element named `name` (with its prefix), in document order.
    virtual std::vector<TreeRow> findByName(const QString& name) const = 0;
    /// The row's subtree as a document of its own (UTF-8).
    virtual bool extract(const TreeRow& row, QByteArray* out) const = 0;
    /// extract() into a file; a failed save leaves any file there as it was.
    virtual bool saveSubtree(const TreeRow& row, const QString& path) const = 0;
    /// Why the last read, extraction or save failed.
    virtual QString lastError() const = 0;
    /// "" when the rows can be edited; otherwise why they cannot.
    virtual QString readOnlyReason() const = 0;
    /// How many elements the source holds.
    virtual qint64 elementCount() const = 0;
};

/// The rows of a document in memory. Rows are its nodes, so they stay good across edits
/// of the document for as long as their nodes do.
class TREELARK_CORE_EXPORT DomRowSource : public RowSource {
public:
    explicit DomRowSource(DOMDocumentPtr document);
    DOMDocumentPtr document() const { return m_doc; }

    std::vector<TreeRow> topRows() const override;
    TreeRow firstChild(const TreeRow& row) const override;
    TreeRow nextSibling(const TreeRow& row) const override;
    TreeRow parent(const TreeRow& row) const override;
    bool hasChildren(const TreeRow& row) const override;
    QString label(const TreeRow& row) const override;
    QString path(const TreeRow& row) const override;
    bool read(const TreeRow& row, RowDetails* out, qsizetype maxTextChars = 4096) const override;
    std::vector<TreeRow> findByName(const QString& name) const override;
    bool extract(const TreeRow& row, QByteArray* out) const override;
    bool saveSubtree(const TreeRow& row, const QString& path) const override;
    QString lastError() const override { return m_lastError; }
    QString readOnlyReason() const override { return QString(); }
    qint64 elementCount() const override;

private:
    // The subtree copied into a document of its own; nothing when it cannot stand as one.
    DOMDocumentPtr standalone(const TreeRow& row) const;
    DOMDocumentPtr m_doc;
    mutable QString m_lastError;
};

/// The rows of an index: elements, and a "#text" row under each element holding only
/// text. Labels, attributes and text are read from the file when asked for.
class TREELARK_CORE_EXPORT IndexRowSource : public RowSource {
public:
    explicit IndexRowSource(std::shared_ptr<const DocumentIndex> index);
    const DocumentIndex& index() const { return *m_index; }

    /// The element a row stands for (for a "#text" row, the element holding the text).
    DocumentIndex::Row elementOf(const TreeRow& row) const;
    TreeRow rowOf(DocumentIndex::Row element) const;
    static bool isTextRow(const TreeRow& row);

    std::vector<TreeRow> topRows() const override;
    TreeRow firstChild(const TreeRow& row) const override;
    TreeRow nextSibling(const TreeRow& row) const override;
    TreeRow parent(const TreeRow& row) const override;
    bool hasChildren(const TreeRow& row) const override;
    qint64 knownChildCount(const TreeRow& row) const override;
    QString label(const TreeRow& row) const override;
    QString path(const TreeRow& row) const override;
    bool read(const TreeRow& row, RowDetails* out, qsizetype maxTextChars = 4096) const override;
    std::vector<TreeRow> findByName(const QString& name) const override;
    bool extract(const TreeRow& row, QByteArray* out) const override;
    bool saveSubtree(const TreeRow& row, const QString& path) const override;
    QString lastError() const override;
    QString readOnlyReason() const override;
    qint64 elementCount() const override { return m_index->rowCount(); }

private:
    bool refuseText(const TreeRow& row) const;
    std::shared_ptr<const DocumentIndex> m_index;
    mutable QString m_lastError;
};

} // namespace treelark

/// \cond
template <> struct std::hash<treelark::TreeRow> {
    std::size_t operator()(const treelark::TreeRow& r) const noexcept
    {
        return std::hash<treelark::DOMNode>()(r.node) ^ std::hash<quint64>()(r.key);
    }
};
/// \endcond
