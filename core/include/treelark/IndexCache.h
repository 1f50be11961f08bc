/// \file
/// Large document indexes kept between runs, so a big file opens at the speed of reading
/// its index back rather than of parsing it again.
///
/// One cache file a document, named after a hash of the document's canonical path, in
/// a folder of the user's cache (GenericCacheLocation + "/treelark" unless told
/// otherwise). A cache file is used only for the very file it was made from: the same
/// size, modification time and inode, and the same bytes at its start and end. Anything
/// else, or a cache file that is damaged, cut short, of another format version or not
/// one at all, is a miss: the document is indexed again and the cache file replaced.
///
/// Cache files are written whole or not at all (a temporary file renamed over the old
/// one), only for an index of a whole, well-formed file. The folder is kept under a cap
/// by removing the files used longest ago.
#pragma once

#include "treelark/DocumentIndex.h"
#include "treelark/export.h"

#include <QString>

#include <atomic>

namespace treelark {

class TREELARK_CORE_EXPORT IndexCache {
public:
    static constexpr qint64 kDefaultCapBytes = qint64(2) << 30;

    /// `folder` empty: the user's cache folder (see defaultFolder()).
    explicit IndexCache(const QString& folder = QString());

    /// GenericCacheLocation + "/treelark" ($XDG_CACHE_HOME/treelark, ~/.cache/treelark).
    static QString defaultFolder();
    QString folder() const { return m_folder; }
    /// The most the folder's cache files may take together.
    void setCapBytes(qint64 bytes) { m_cap = bytes; }
    qint64 capBytes() const { return m_cap; }

    /// The cache file that stands for the document at `path` ("" when it does not exist).
    QString cacheFileFor(const QString& path) const;

    /// Fills `index` from the cache file of `path` when there is one made from the file
    /// as it is now. False on a miss (lastError() says why) or when `*cancel` was set
    /// (cancelled()); `index` then holds nothing.
    bool load(const QString& path, DocumentIndex* index, const DocumentIndex::Progress& progress = {},
              const std::atomic<bool>* cancel = nullptr);
    /// Keeps a whole, error-free index (of a file still as it was indexed); then removes
    /// the oldest cache files while the folder is over the cap. False, with
    /// lastError(), when it was not kept; nothing of an earlier cache file is lost then
    /// other than by the cap.
    bool save(const DocumentIndex& index);

    enum class Source { Cache, Built };
    /// load(), else DocumentIndex::build() and, when that read the whole file, save().
    /// Returns what build() would; `from` tells where the index came from. A failed save
    /// does not fail the open (lastError() keeps why). Cancelling while the cache file is
    /// read cancels the open (index->error().cancelled), without building.
    bool open(const QString& path, DocumentIndex* index, const DocumentIndex::Progress& progress = {},
              const std::atomic<bool>* cancel = nullptr, Source* from = nullptr);

    QString lastError() const { return m_lastError; }
    bool cancelled() const { return m_cancelled; }

private:
    bool sweep(const QString& keep);

    QString m_folder;
    qint64 m_cap = kDefaultCapBytes;
    QString m_lastError;
    bool m_cancelled = false;
};

} // namespace treelark
