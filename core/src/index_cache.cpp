// The folder of index cache files: which file stands for which document, the checks
// before one is used, writing one whole or not at all, and the cap on the folder.
#include "treelark/IndexCache.h"

#include "index_cache_format.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace treelark {

namespace detail {

QByteArray edgesHash(const QByteArray& head, const QByteArray& tail)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(head);
    h.addData(tail);
    return h.result();
}

} // namespace detail

namespace {

const QString kSuffix = QStringLiteral(".idx");
// Room left on the disk after a cache file is written: a cache must never be what fills
// the disk the user saves documents to.
constexpr qint64 kKeepFree = qint64(256) << 20;

// The first and last bytes of the file as they are now, hashed as the build hashes
// what it read; empty when they cannot be read.
QByteArray edgesNow(const QByteArray& nativePath, qint64 size)
{
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    auto readAt = [fd](qint64 at, qint64 n) {
        QByteArray out(n, Qt::Uninitialized);
        qint64 got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd, out.data() + got, size_t(n - got), off_t(at + got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return QByteArray();
            got += r;
        }
        return out;
    };
    const qint64 n = std::min(size, detail::kEdgeBytes);
    const QByteArray head = readAt(0, n), tail = readAt(size - n, n);
    ::close(fd);
    return head.size() == n && tail.size() == n ? detail::edgesHash(head, tail) : QByteArray();
}

bool statFile(const QByteArray& nativePath, detail::CacheIdentity* id)
{
    struct stat info{};
    if (::stat(nativePath.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    id->size = qint64(info.st_size);
    id->inode = qint64(info.st_ino);
    id->mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

// Marks a cache file as just used: the cap removes the ones used longest ago.
void touch(const QString& file)
{
    ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), nullptr, 0);
}

} // namespace

IndexCache::IndexCache(const QString& folder) : m_folder(folder.isEmpty() ? defaultFolder() : folder) {}

QString IndexCache::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/treelark");
}

QString IndexCache::cacheFileFor(const QString& path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return QString();
    const QByteArray key = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return m_folder + QLatin1Char('/') + QString::fromLatin1(key) + kSuffix;
}

bool IndexCache::load(const QString& path, DocumentIndex* index, const DocumentIndex::Progress& progress,
                      const std::atomic<bool>* cancel)
{
    m_lastError.clear();
    m_cancelled = false;
    detail::DocumentIndexData& d = *index->d;
    d.clear();
    const QString file = cacheFileFor(path);
    detail::CacheIdentity id;
    id.path = QFileInfo(path).canonicalFilePath().toUtf8();
    const QByteArray nativePath = QFile::encodeName(path);
    if (file.isEmpty() || !statFile(nativePath, &id)) {
        m_lastError = QStringLiteral("%1 cannot be read.").arg(path);
        return false;
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        m_lastError = QStringLiteral("There is no index kept for %1.").arg(path);
        return false;
    }
    ::posix_fadvise(in.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
    QString why;
    const detail::CacheRead r = detail::readIndexFile(
        &in, id, [&] { return edgesNow(nativePath, id.size); }, &d, progress, cancel, &why);
    // A file changed under the read after all (it is checked again, now that the index
    // is in memory, as a build checks after its last read).
    detail::CacheIdentity after;
    const bool same = statFile(nativePath, &after) && after.size == id.size && after.mtimeNs == id.mtimeNs
        && after.inode == id.inode;
    if (r != detail::CacheRead::Loaded || !same) {
        m_cancelled = r == detail::CacheRead::Cancelled;
        m_lastError = m_cancelled ? QStringLiteral("Reading the kept index of %1 was cancelled.").arg(path)
                                  : QStringLiteral("The index kept for %1 was not used: %2.")
                                        .arg(path, same ? why : QStringLiteral("the file changed while it was read"));
        d.clear();
        return false;
    }
    d.path = path;
    d.nativePath = nativePath;
    touch(file);
    return true;
}

bool IndexCache::save(const DocumentIndex& index)
{
    m_lastError.clear();
    const detail::DocumentIndexData& d = *index.d;
    if (!d.error.isNull() || d.rows() == 0 || d.edges.isEmpty()) {
        m_lastError = QStringLiteral("Only the index of a whole, well-formed file is kept.");
        return false;
    }
    // The index is kept only for the file it was made from: one changed since would be
    // kept under the new file's identity.
    detail::CacheIdentity id;
    if (!statFile(d.nativePath, &id) || id.size != d.size || id.mtimeNs != d.mtimeNs || id.inode != d.inode) {
        m_lastError = QStringLiteral("%1 changed since it was indexed; its index is not kept.").arg(d.path);
        return false;
    }
    const QString file = cacheFileFor(d.path);
    const QByteArray canonical = QFileInfo(d.path).canonicalFilePath().toUtf8();
    const qint64 bytes = detail::indexFileBytes(d, canonical);
    if (bytes > m_cap) {
        m_lastError = QStringLiteral("The index of %1 (%2 MB) is larger than the cache may hold.").arg(d.path).arg(bytes >> 20);
        return false;
    }
    if (!QDir().mkpath(m_folder)) {
        m_lastError = QStringLiteral("The cache folder %1 cannot be made.").arg(m_folder);
        return false;
    }
    const QStorageInfo disk(m_folder);
    if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < bytes + kKeepFree) {
        m_lastError = QStringLiteral("There is not enough free space in %1 to keep the index of %2.").arg(m_folder, d.path);
        return false;
    }
    QSaveFile out(file);
    QString error;
    if (!out.open(QIODevice::WriteOnly) || !detail::writeIndexFile(&out, d, canonical, &error) || !out.commit()) {
        out.cancelWriting();
        m_lastError = QStringLiteral("The index of %1 could not be kept in %2: %3.")
                          .arg(d.path, file, error.isEmpty() ? out.errorString() : error);
        return false;
    }
    return sweep(file);
}

// Removes cache files, the ones used longest ago first, until the folder is under the
// cap; `keep` (the one just written) stays. Only files named as this class names them
// are touched.
bool IndexCache::sweep(const QString& keep)
{
    QDir dir(m_folder);
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo& f : files)
        total += f.size();
    for (const QFileInfo& f : files) {
        if (total <= m_cap)
            break;
        if (f.absoluteFilePath() == QFileInfo(keep).absoluteFilePath() || f.completeBaseName().size() != 32)
            continue;
        if (QFile::remove(f.absoluteFilePath()))
            total -= f.size();
    }
    if (total > m_cap) {
        m_lastError = QStringLiteral("The cache folder %1 is over its size limit.").arg(m_folder);
        return false;
    }
    return true;
}

bool IndexCache::open(const QString& path, DocumentIndex* index, const DocumentIndex::Progress& progress,
                      const std::atomic<bool>* cancel, Source* from)
{
    if (from)
        *from = Source::Built;
    if (load(path, index, progress, cancel)) {
        if (from)
            *from = Source::Cache;
        return true;
    }
    if (m_cancelled) {
        index->d->path = path;
        index->d->error = {m_lastError, 0, 0, true};
        return false;
    }
    const QString missed = m_lastError;
    const bool built = index->build(path, progress, cancel);
    if (built && !save(*index))
        return true; // kept only in memory this time; lastError() says why
    if (!built)
        m_lastError = missed;
    return built;
}

} // namespace treelark
