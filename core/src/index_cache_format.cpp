// Writing an index to its cache file and reading it back. The file is untrusted on the
// way in: anything it says is checked before it sizes an allocation or indexes a column,
// and a checksum over everything after the header catches what the checks let through
// (a flipped bit in an offset is still in range), so a damaged file is a miss and never
// an index that points at the wrong bytes.
#include "index_cache_format.h"

#include "treelark/Busy.h"

#include <QFile>
#include <QIODevice>

#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>

namespace treelark::detail {

namespace {

using Row = DocumentIndex::Row;

constexpr char kMagic[8] = {'T', 'L', 'K', 'I', 'N', 'D', 'E', 'X'};
// Raised whenever the layout below or what a column means changes.
constexpr std::uint32_t kVersion = 1;
// Written as the machine holds it; a file from a machine of the other byte order reads
// back as another number and is refused.
constexpr std::uint32_t kByteOrder = 0x01020304;
constexpr qint64 kMaxPathBytes = 64 << 10;
constexpr qint64 kMaxEncodingBytes = 64;
// The columns are checksummed block by block as they are held; the block is part of the
// format.
static_assert(BlockColumn<std::uint8_t>::kBlock == 16384, "the cache format's blocks changed: raise kVersion");

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t byteOrder;
    std::int64_t size;
    std::int64_t mtimeNs;
    std::int64_t inode;
    unsigned char edges[32];
    std::int64_t rows;
    std::int64_t nameCount;
    std::int64_t nameBytes;
    std::int64_t longSpanCount;
    std::int64_t doctypeStart;
    std::int64_t doctypeEnd;
    std::uint32_t pathBytes;
    std::uint32_t encodingBytes;
    std::uint64_t payloadBytes; // everything after the header
    std::uint64_t checksum;     // of the header (this field 0) and the payload
};
static_assert(sizeof(Header) == 144, "the header has no padding");

struct LongSpan {
    std::uint64_t row;
    std::uint64_t length;
};

// Bytes a row takes in the columns: start, five 32-bit columns, flags.
constexpr qint64 kRowBytes = 8 + 5 * 4 + 1;

// A fast checksum (four independent lanes, one multiply a word): meant to catch damage,
// not to resist someone forging a file, which could as well forge the document.
std::uint64_t mix(std::uint64_t h, const void* data, std::size_t n)
{
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint64_t lane[4] = {h ^ n, h + kMul, h - kMul, ~h};
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        for (int k = 0; k < 4; ++k) {
            std::uint64_t w;
            std::memcpy(&w, p + i + 8 * k, 8);
            lane[k] = std::rotl((lane[k] ^ w) * kMul, 29);
        }
    for (; i < n; ++i)
        lane[i & 3] = std::rotl((lane[i & 3] ^ p[i]) * kMul, 29);
    std::uint64_t out = h;
    for (const std::uint64_t l : lane)
        out = std::rotl(out ^ (l * kMul), 31) * kMul;
    return out ^ (out >> 29);
}

qint64 payloadBytes(qint64 rows, qint64 nameCount, qint64 nameBytes, qint64 longSpans, qint64 pathBytes,
                    qint64 encodingBytes)
{
    return pathBytes + encodingBytes + nameCount * 4 + nameBytes + longSpans * qint64(sizeof(LongSpan)) + rows * kRowBytes;
}

// Applies `f` to every column in the file's order.
template <typename D, typename F>
void eachColumn(D& d, F f)
{
    f(d.start);
    f(d.span);
    f(d.parent);
    f(d.next);
    f(d.children);
    f(d.name);
    f(d.flags);
}

// Checks each block of rows right after it is read, while it is in the processor's cache:
// everything a row says is in reach of the other rows and of the file, and the rows are
// in document order (a first child right after its parent, a sibling later under the
// same parent). What refers to a later block is checked once that block is in.
class RowCheck {
public:
    explicit RowCheck(const DocumentIndexData& d) : m_d(d), m_rows(d.start.size()) {}

    bool block(std::size_t b)
    {
        const DocumentIndexData& d = m_d;
        const std::uint64_t* start = d.start.block(b);
        const std::uint32_t *span = d.span.block(b), *parent = d.parent.block(b), *next = d.next.block(b),
                            *children = d.children.block(b), *name = d.name.block(b);
        const std::uint8_t* flags = d.flags.block(b);
        const std::size_t n = d.start.blockRows(b), first = b * BlockColumn<std::uint8_t>::kBlock;
        const std::uint64_t names = d.names.size(), size = std::uint64_t(d.size);
        // The previous block's last row, whose first child would be this block's first.
        bool ok = b == 0 || (d.children[first - 1] != 0) == (parent[0] == first - 1);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t r = first + i;
            const bool firstChild = i + 1 < n ? parent[i + 1] == r : (r + 1 < m_rows && children[i] != 0);
            const std::size_t nx = next[i];
            bool nextOk = nx == DocumentIndex::NoRow || (nx > r && nx < m_rows);
            if (nextOk && nx != DocumentIndex::NoRow) {
                if (nx - first < n)
                    nextOk = parent[nx - first] == parent[i];
                else
                    m_later.push_back({std::uint32_t(nx), parent[i]});
            }
            // A kept index is of a whole file: every element was closed.
            const bool rowOk = (r == 0 ? parent[i] == DocumentIndex::NoRow : parent[i] < r) & nextOk
                & (children[i] < m_rows) & ((children[i] != 0) == firstChild) & (name[i] < names)
                & (flags[i] == (flags[i] & 7)) & ((flags[i] & kClosed) != 0) & (start[i] < size)
                & (span[i] == kLongSpan || start[i] + span[i] <= size);
            if (!rowOk)
                return false;
            m_long += span[i] == kLongSpan;
        }
        return ok;
    }

    bool whole()
    {
        for (const auto& [row, parent] : m_later)
            if (m_d.parent[row] != parent)
                return false;
        for (const auto& [row, length] : m_d.longSpans)
            if (row >= m_rows || m_d.span[row] != kLongSpan || m_d.start[row] + length > std::uint64_t(m_d.size))
                return false;
        // As many long elements as lengths, all for different rows: each has its own.
        return m_long == m_d.longSpans.size();
    }

private:
    const DocumentIndexData& m_d;
    std::size_t m_rows;
    std::size_t m_long = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_later; // a sibling, the parent it must have
};

class Reader {
public:
    Reader(QFile* in, const Header& h, const DocumentIndex::Progress& progress, const std::atomic<bool>* cancel,
           qint64 total)
        : m_in(in), m_progress(progress), m_cancel(cancel), m_total(total)
    {
        Header unsummed = h;
        unsummed.checksum = 0;
        m_sum = mix(0, &unsummed, sizeof unsummed);
    }

    bool read(void* to, qint64 n)
    {
        if (n == 0)
            return true;
        if (m_in->read(static_cast<char*>(to), n) != n)
            return false;
        m_sum = mix(m_sum, to, std::size_t(n));
        m_done += n;
        if (m_done - m_told >= (qint64(16) << 20)) {
            m_told = m_done;
            busyTick();
            if (m_progress)
                m_progress(m_done, m_total);
        }
        return true;
    }
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    std::uint64_t sum() const { return m_sum; }

private:
    QFile* m_in;
    const DocumentIndex::Progress& m_progress;
    const std::atomic<bool>* m_cancel;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_told = 0;
    std::uint64_t m_sum = 0;
};

} // namespace

qint64 indexFileBytes(const DocumentIndexData& d, const QByteArray& path)
{
    qint64 nameBytes = 0;
    for (const QByteArray& n : d.names)
        nameBytes += n.size();
    return qint64(sizeof(Header))
        + payloadBytes(d.rows(), qint64(d.names.size()), nameBytes, qint64(d.longSpans.size()), path.size(),
                       d.encoding.size());
}

bool writeIndexFile(QIODevice* out, const DocumentIndexData& d, const QByteArray& path, QString* error)
{
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.byteOrder = kByteOrder;
    h.size = d.size;
    h.mtimeNs = d.mtimeNs;
    h.inode = d.inode;
    if (d.edges.size() != qsizetype(sizeof h.edges)) {
        *error = QStringLiteral("the index is not of a whole file");
        return false;
    }
    std::memcpy(h.edges, d.edges.constData(), sizeof h.edges);
    h.rows = d.rows();
    h.nameCount = qint64(d.names.size());
    QByteArray lengths, names;
    for (const QByteArray& n : d.names) {
        const std::uint32_t len = std::uint32_t(n.size());
        lengths.append(reinterpret_cast<const char*>(&len), 4);
        names += n;
    }
    h.nameBytes = names.size();
    std::vector<LongSpan> longSpans;
    for (const auto& [row, length] : d.longSpans)
        longSpans.push_back({row, length});
    h.longSpanCount = qint64(longSpans.size());
    h.doctypeStart = d.doctypeStart;
    h.doctypeEnd = d.doctypeEnd;
    h.pathBytes = std::uint32_t(path.size());
    h.encodingBytes = std::uint32_t(d.encoding.size());
    h.payloadBytes = std::uint64_t(payloadBytes(h.rows, h.nameCount, h.nameBytes, h.longSpanCount, h.pathBytes,
                                                h.encodingBytes));

    bool ok = out->write(reinterpret_cast<const char*>(&h), sizeof h) == qint64(sizeof h);
    std::uint64_t sum = mix(0, &h, sizeof h);
    auto put = [&](const void* p, std::size_t n) {
        if (!ok || n == 0)
            return;
        sum = mix(sum, p, n);
        ok = out->write(static_cast<const char*>(p), qint64(n)) == qint64(n);
    };
    put(path.constData(), std::size_t(path.size()));
    put(d.encoding.constData(), std::size_t(d.encoding.size()));
    put(lengths.constData(), std::size_t(lengths.size()));
    put(names.constData(), std::size_t(names.size()));
    put(longSpans.data(), longSpans.size() * sizeof(LongSpan));
    // Block by block, each block's columns together: a reader checks a block's rows as
    // soon as they are in.
    for (std::size_t b = 0; b < d.start.blockCount(); ++b) {
        eachColumn(d, [&](const auto& column) { put(column.block(b), column.blockRows(b) * sizeof(*column.block(b))); });
        busyTick();
    }
    h.checksum = sum;
    // The checksum goes in last: a file cut short while written holds none that fits.
    ok = ok && out->seek(offsetof(Header, checksum))
        && out->write(reinterpret_cast<const char*>(&h.checksum), sizeof h.checksum) == qint64(sizeof h.checksum);
    if (!ok)
        *error = out->errorString();
    return ok;
}

CacheRead readIndexFile(QFile* in, const CacheIdentity& expected, const std::function<QByteArray()>& edgesNow,
                        DocumentIndexData* d, const DocumentIndex::Progress& progress,
                        const std::atomic<bool>* cancel, QString* why)
{
    Header h{};
    const qint64 fileBytes = in->size();
    if (in->read(reinterpret_cast<char*>(&h), sizeof h) != qint64(sizeof h) || std::memcmp(h.magic, kMagic, 8) != 0) {
        *why = QStringLiteral("it is not an index cache file");
        return CacheRead::Miss;
    }
    if (h.version != kVersion || h.byteOrder != kByteOrder) {
        *why = QStringLiteral("it is of another format version");
        return CacheRead::Miss;
    }
    if (h.size != expected.size || h.mtimeNs != expected.mtimeNs || h.inode != expected.inode) {
        *why = QStringLiteral("the file changed since it was indexed");
        return CacheRead::Miss;
    }
    // Every element takes four bytes of the file at least ("<a/>"); every name is an
    // element's; the rest is bounded by the file's own size.
    const bool counts = h.rows > 0 && h.rows <= h.size / 4 + 1 && h.rows < qint64(DocumentIndex::NoRow)
        && h.nameCount > 0 && h.nameCount <= h.rows && h.nameBytes >= h.nameCount && h.nameBytes <= h.size
        && h.longSpanCount >= 0 && h.longSpanCount <= h.rows && h.pathBytes <= kMaxPathBytes
        && h.encodingBytes <= kMaxEncodingBytes
        && ((h.doctypeStart == -1 && h.doctypeEnd == -1)
            || (h.doctypeStart >= 0 && h.doctypeStart < h.doctypeEnd && h.doctypeEnd <= h.size));
    if (!counts || qint64(h.payloadBytes) != payloadBytes(h.rows, h.nameCount, h.nameBytes, h.longSpanCount,
                                                         h.pathBytes, h.encodingBytes)
        || fileBytes != qint64(sizeof h) + qint64(h.payloadBytes)) {
        *why = QStringLiteral("it is damaged or cut short");
        return CacheRead::Miss;
    }
    Reader r(in, h, progress, cancel, fileBytes);
    QByteArray path(h.pathBytes, Qt::Uninitialized), encoding(h.encodingBytes, Qt::Uninitialized);
    if (!r.read(path.data(), path.size()) || !r.read(encoding.data(), encoding.size())) {
        *why = QStringLiteral("it is cut short");
        return CacheRead::Miss;
    }
    if (path != expected.path) {
        *why = QStringLiteral("it was made for another file");
        return CacheRead::Miss;
    }
    if (edgesNow() != QByteArray(reinterpret_cast<const char*>(h.edges), sizeof h.edges)) {
        *why = QStringLiteral("the file's content changed since it was indexed");
        return CacheRead::Miss;
    }
    d->encoding = encoding;
    if (!encoding.isEmpty() && !singleByteDecoding(encoding, &d->decoding)) {
        *why = QStringLiteral("its encoding is not one an index can be of");
        return CacheRead::Miss;
    }
    std::vector<std::uint32_t> lengths(std::size_t(h.nameCount));
    QByteArray names(qsizetype(h.nameBytes), Qt::Uninitialized);
    std::vector<LongSpan> longSpans(std::size_t(h.longSpanCount));
    bool ok = r.read(lengths.data(), h.nameCount * 4) && r.read(names.data(), names.size())
        && r.read(longSpans.data(), h.longSpanCount * qint64(sizeof(LongSpan)));
    if (!ok) {
        *why = QStringLiteral("it is cut short");
        return CacheRead::Miss;
    }
    qint64 at = 0;
    for (const std::uint32_t len : lengths) {
        if (len == 0 || len > h.nameBytes - at) {
            *why = QStringLiteral("its names do not hold together");
            return CacheRead::Miss;
        }
        d->names.push_back(names.mid(at, len));
        at += len;
    }
    for (const LongSpan& s : longSpans)
        d->longSpans[std::uint32_t(std::min<std::uint64_t>(s.row, DocumentIndex::NoRow))] = s.length;
    d->size = h.size;
    d->mtimeNs = h.mtimeNs;
    d->inode = h.inode;
    d->doctypeStart = h.doctypeStart;
    d->doctypeEnd = h.doctypeEnd;
    d->edges = QByteArray(reinterpret_cast<const char*>(h.edges), sizeof h.edges);
    if (at != h.nameBytes || qint64(d->longSpans.size()) != h.longSpanCount) {
        *why = QStringLiteral("its names do not hold together");
        return CacheRead::Miss;
    }
    eachColumn(*d, [&](auto& column) { column.resize(std::size_t(h.rows)); });
    RowCheck check(*d);
    bool rowsHold = true;
    for (std::size_t b = 0; ok && b < d->start.blockCount(); ++b) {
        if (r.cancelled())
            return CacheRead::Cancelled;
        eachColumn(*d, [&](auto& column) {
            ok = ok && r.read(column.block(b), qint64(column.blockRows(b) * sizeof(*column.block(b))));
        });
        rowsHold = rowsHold && ok && check.block(b);
    }
    if (!ok || r.sum() != h.checksum) {
        *why = QStringLiteral("it is damaged");
        return CacheRead::Miss;
    }
    if (!rowsHold || !check.whole()) {
        *why = QStringLiteral("its rows do not hold together");
        return CacheRead::Miss;
    }
    return CacheRead::Loaded;
}

} // namespace treelark::detail
