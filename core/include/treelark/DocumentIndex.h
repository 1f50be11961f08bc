/// \file
/// Large document form: a read-only view of an XML file too big to hold as a DOM.
///
/// build() reads the file once, checking that it is well-formed, and keeps for every
/// element only where it stands in the file, its place in the tree and its name (about
/// thirty bytes an element). Everything else (attributes, text, the bytes of a subtree)
/// is read from the file when asked for, so the file must stay as it was: reads notice a
/// file changed since it was indexed and fail with a message instead of showing something
/// else.
///
/// A file that stops being well-formed partway keeps the rows read up to the fault;
/// error() says what and where. Elements the fault left open have no end (isClosed()).
///
/// Offsets are the file's bytes, so only files where each character's place in the file
/// can be told from the parser's UTF-8 are indexed: UTF-8 (and so ASCII) files, and files
/// declaring a single-byte encoding that keeps ASCII (ISO-8859-x, windows-125x), whose
/// names, attributes and text reads decode to Unicode.
/// IndexCache keeps an index between runs.
/// Elements that an entity's replacement text brings in have no place in the file and
/// are not rows.
#pragma once

#include "treelark/export.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;

namespace treelark {

class IndexCache;

/// Why a build stopped early. Empty reason: it did not.
struct DocumentIndexError {
    QString reason;
    qint64 line = 0;      ///< 1-based, 0 when the fault is not at a place in the file
    qint64 column = 0;    ///< 1-based
    bool cancelled = false;
    bool isNull() const { return reason.isEmpty(); }
};

/// An attribute as the start tag has it: the name with its prefix, the value with
/// references to the predefined entities and characters replaced (others stay as written).
struct IndexedAttribute {
    QString name;
    QString value;
};

/// What a row read from the file gives.
struct IndexedElement {
    QString name;
    QList<IndexedAttribute> attributes;
    /// The element's text when it holds text and no elements (capped; see read()).
    QString text;
    bool textTruncated = false;
};

class TREELARK_CORE_EXPORT DocumentIndex {
public:
    /// Rows are numbered in document order from 0 (the document element).
    using Row = std::uint32_t;
    static constexpr Row NoRow = 0xFFFFFFFFu;
    /// Bytes read so far and the file's size.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    DocumentIndex();
    ~DocumentIndex();
    DocumentIndex(DocumentIndex&&) noexcept;
    DocumentIndex& operator=(DocumentIndex&&) noexcept;
    DocumentIndex(const DocumentIndex&) = delete;
    DocumentIndex& operator=(const DocumentIndex&) = delete;

    /// Indexes the file at `path`, replacing what was indexed before. Returns whether the
    /// whole file was read and is well-formed; otherwise error() tells why, and the rows
    /// read before the fault stay. Setting `*cancel` stops the build (error().cancelled).
    bool build(const QString& path, const Progress& progress = {}, const std::atomic<bool>* cancel = nullptr);

    const DocumentIndexError& error() const;
    /// Why the last read, extraction or save failed ("" after one that worked).
    QString lastError() const;
    QString path() const;
    qint64 fileSize() const;
    /// "UTF-8", or the single-byte encoding the file declares (as the parser names it).
    QString encoding() const;
    /// Bytes the index holds in memory.
    qint64 memoryBytes() const;

    /// \name The tree
    qint64 rowCount() const;
    Row root() const;                         ///< NoRow for a file without an element
    Row parent(Row row) const;                ///< NoRow for the document element
    Row firstChild(Row row) const;            ///< first child element, or NoRow
    Row nextSibling(Row row) const;           ///< NoRow for the last child
    qint64 childCount(Row row) const;         ///< child elements
    int depth(Row row) const;                 ///< 0 for the document element
    /// Whether the element's end tag was read (false for elements a fault left open).
    bool isClosed(Row row) const;
    /// Whether the element holds character data of its own; blanks that run across lines
    /// are layout and do not count.
    bool hasText(Row row) const;
    qint64 startOffset(Row row) const;        ///< of the '<' of its start tag
    qint64 endOffset(Row row) const;          ///< just past its end tag; -1 when not closed

    /// \name Names
    QString name(Row row) const;              ///< as written, with its prefix
    std::uint32_t nameId(Row row) const;
    QString nameOf(std::uint32_t id) const;
    qint64 nameCount() const;
    /// The names from the document element down to the row, joined by '/'
    /// ("FrameworkConfig/ApLayers/ApLayer"), as the main window shows a path.
    QString path(Row row) const;

    /// \name Search (the index only; the file is not read)
    /// The first element named `name` at or after `from` in document order.
    Row findFirst(const QString& name, Row from = 0) const;
    /// Every element named `name`, in document order.
    std::vector<Row> findAll(const QString& name) const;

    /// \name Reads from the file
    /// The row's name, attributes and, for an element holding only text, its first
    /// `maxTextChars` characters of text. Fails (false, lastError()) when the file changed
    /// or cannot be read.
    bool read(Row row, IndexedElement* out, qsizetype maxTextChars = 4096) const;
    /// The subtree as a document of its own: an XML declaration, then the element's
    /// bytes as the file has them, its start tag carrying the namespace declarations in
    /// force there that it does not make itself. Written to `out` in pieces.
    bool extract(Row row, QIODevice* out) const;
    /// extract() into memory; refused for subtrees above `maxBytes`.
    bool extract(Row row, QByteArray* out, qint64 maxBytes = qint64(256) << 20) const;
    /// extract() into a file, through a temporary file renamed over the target.
    bool saveSubtree(Row row, const QString& path) const;

private:
    friend class IndexCache; // writes and reads the columns as they are
    friend class IndexFeed;  // hands them over from the thread that builds them
    struct Impl;
    std::unique_ptr<Impl> d;
};

} ///< namespace treelark
