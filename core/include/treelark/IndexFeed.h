/// \file
/// An index of a file built on a thread of its own and handed over, a piece at a time,
/// to the thread that reads it: a window can show the first rows of a document a few
/// milliseconds after it starts to read it, and more as they are found, while the
/// document itself is still being loaded.
///
/// The building thread never touches the index the reader holds: at the end of each
/// block of the file it copies out what it found since the last piece (new rows, and the
/// few earlier rows that can still change: the open elements and their last children),
/// and take() applies the pieces waiting, on the reader's thread.
#pragma once

#include "treelark/DocumentIndex.h"
#include "treelark/export.h"

#include <QString>

#include <atomic>
#include <memory>

namespace treelark {

class TREELARK_CORE_EXPORT IndexFeed {
public:
    /// Starts indexing `path` at once. The build stops by itself after `maxRows` rows:
    /// a preview need not hold the whole file, and its memory stays small beside the
    /// document being loaded.
    IndexFeed(const QString& path, qint64 maxRows);
    /// Stops the build and waits for its thread.
    ~IndexFeed();
    IndexFeed(const IndexFeed&) = delete;
    IndexFeed& operator=(const IndexFeed&) = delete;

    /// The rows found so far (those handed over by take()). Rows only ever get added;
    /// an element still open may still gain children, a next sibling, its end and text.
    std::shared_ptr<const DocumentIndex> index() const;
    /// Applies what the build found since the last call. Returns the row that was last
    /// before it (NoRow when there was none) when rows were added or changed; the rows
    /// that changed are that row, its ancestors and the rows after it. Returns NoRow
    /// and sets `*changed` false when nothing came.
    DocumentIndex::Row take(bool* changed);
    /// Whether the build has ended and everything it found was taken.
    bool finished() const;
    /// Stops the build; what was found stays.
    void stop();

private:
    struct Shared;
    struct Piece;
    // The index's columns are private to it; these two are the only hands on them.
    static void handOver(Shared& s, bool last);            // on the building thread
    static void apply(DocumentIndex& index, Piece& piece); // on the reading thread
    std::shared_ptr<Shared> m_shared;
};

} // namespace treelark
