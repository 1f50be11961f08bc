// The cache file of a large document index: a header that says which file it was made
// from and how much follows, then the names and the columns, block by block as they are
// in memory.
#pragma once

#include "document_index_internal.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

class QFile;
class QIODevice;

namespace treelark::detail {

// What a cache file must have been made from to be used.
struct CacheIdentity {
    QByteArray path; // canonical, UTF-8
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 inode = 0;
};

// The size writeIndexFile() will give the file.
qint64 indexFileBytes(const DocumentIndexData& d, const QByteArray& path);
bool writeIndexFile(QIODevice* out, const DocumentIndexData& d, const QByteArray& path, QString* error);

enum class CacheRead { Loaded, Miss, Cancelled };
// Reads the header, asks `sameEdges` whether the file's first and last bytes still hash
// to what it holds (only once everything cheaper matched), then the columns, every count
// and place checked against the file it was made from and against each other.
CacheRead readIndexFile(QFile* in, const CacheIdentity& expected, const std::function<QByteArray()>& edgesNow,
                        DocumentIndexData* d, const DocumentIndex::Progress& progress,
                        const std::atomic<bool>* cancel, QString* why);

} // namespace treelark::detail
