#include "treelark/IndexFeed.h"

#include "document_index_internal.h"

#include <libxml/parser.h>

#include <mutex>
#include <thread>
#include <utility>

namespace treelark {

using Row = DocumentIndex::Row;

struct IndexFeed::Piece {
    // The rows after those of the pieces before it, column by column.
    std::vector<std::uint64_t> start;
    std::vector<std::uint32_t> span, parent, next, children, name;
    std::vector<std::uint8_t> flags;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> longSpans;
    std::vector<QByteArray> names; // names first met since the last piece
    struct Update {
        Row row;
        std::uint32_t span, next, children;
        std::uint8_t flags;
        std::uint64_t longSpan;
    };
    std::vector<Update> updates; // earlier rows that were still open
    // What the file is, so the reader's reads check it as the build's would.
    QString path;
    QByteArray nativePath;
    qint64 size = 0, mtimeNs = 0, inode = 0;
    QByteArray encoding;
    std::vector<char16_t> decoding;
    qint64 doctypeStart = -1, doctypeEnd = -1;
    bool last = false;
    DocumentIndexError error;
};

namespace {

// The columns a piece carries, each with the index column it comes from or goes to.
template <class Data, class Piece, class Each> void eachColumn(Data& d, Piece& p, Each each)
{
    each(d.start, p.start);
    each(d.span, p.span);
    each(d.parent, p.parent);
    each(d.next, p.next);
    each(d.children, p.children);
    each(d.name, p.name);
    each(d.flags, p.flags);
}

// What the file is, from the build to a piece and from a piece to the reader's index.
template <class From, class To> void copyFacts(const From& from, To& to)
{
    to.path = from.path;
    to.nativePath = from.nativePath;
    to.size = from.size;
    to.mtimeNs = from.mtimeNs;
    to.inode = from.inode;
    to.encoding = from.encoding;
    to.decoding = from.decoding;
    to.doctypeStart = from.doctypeStart;
    to.doctypeEnd = from.doctypeEnd;
}

} // namespace

struct IndexFeed::Shared {
    QString path;
    qint64 maxRows = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    DocumentIndex built;                    // the building thread's own
    std::size_t sent = 0;                   // rows handed over
    std::size_t namesSent = 0;
    Row lastSent = DocumentIndex::NoRow;
    std::mutex lock;                        // guards `waiting`
    std::vector<Piece> waiting;
    std::shared_ptr<DocumentIndex> taken = std::make_shared<DocumentIndex>(); // the reader's
    std::thread worker;
};

IndexFeed::IndexFeed(const QString& path, qint64 maxRows) : m_shared(std::make_shared<Shared>())
{
    xmlInitParser(); // once, on this thread, before a second thread parses
    m_shared->path = path;
    m_shared->maxRows = maxRows;
    m_shared->worker = std::thread([s = m_shared] {
        s->built.build(s->path, [&s = *s](qint64, qint64) {
            // Called between blocks of the file: the build is not touching its columns.
            handOver(s, false);
            if (s.built.rowCount() >= s.maxRows)
                s.stop = true;
        }, &s->stop);
        handOver(*s, true);
        s->done = true;
    });
}

IndexFeed::~IndexFeed()
{
    stop();
    if (m_shared->worker.joinable())
        m_shared->worker.join();
}

void IndexFeed::stop() { m_shared->stop = true; }

std::shared_ptr<const DocumentIndex> IndexFeed::index() const { return m_shared->taken; }

bool IndexFeed::finished() const
{
    if (!m_shared->done)
        return false;
    std::lock_guard<std::mutex> hold(m_shared->lock);
    return m_shared->waiting.empty();
}

void IndexFeed::handOver(Shared& s, bool last)
{
    const detail::DocumentIndexData& b = *s.built.d;
    Piece p;
    const std::size_t n = b.start.size();
    eachColumn(b, p, [&](const auto& column, auto& out) {
        out.reserve(n - s.sent);
        for (std::size_t r = s.sent; r < n; ++r)
            out.push_back(column[r]);
    });
    for (std::size_t r = s.sent; r < n; ++r)
        if (b.span[r] == detail::kLongSpan)
            p.longSpans.emplace_back(std::uint32_t(r), b.longSpans.at(std::uint32_t(r)));
    // Only elements still open when the last piece was cut can have changed since: they
    // are the last row handed over and those above it.
    for (Row r = s.lastSent; r != DocumentIndex::NoRow; r = b.parent[r]) {
        const std::uint32_t span = b.span[r];
        p.updates.push_back({r, span, b.next[r], b.children[r], b.flags[r],
                             span == detail::kLongSpan ? b.longSpans.at(r) : 0});
    }
    for (std::size_t i = s.namesSent; i < b.names.size(); ++i)
        p.names.push_back(b.names[i]);
    copyFacts(b, p);
    p.last = last;
    if (last)
        p.error = b.error;
    s.sent = n;
    s.namesSent = b.names.size();
    s.lastSent = n ? Row(n - 1) : DocumentIndex::NoRow;
    std::lock_guard<std::mutex> hold(s.lock);
    s.waiting.push_back(std::move(p));
}

void IndexFeed::apply(DocumentIndex& index, Piece& p)
{
    detail::DocumentIndexData& d = *index.d;
    copyFacts(p, d);
    for (Piece::Update& u : p.updates) {
        d.span[u.row] = u.span;
        d.next[u.row] = u.next;
        d.children[u.row] = u.children;
        d.flags[u.row] = u.flags;
        if (u.span == detail::kLongSpan)
            d.longSpans[u.row] = u.longSpan;
    }
    eachColumn(d, p, [](auto& column, const auto& in) {
        for (const auto v : in)
            column.push(v);
    });
    for (auto& [row, length] : p.longSpans)
        d.longSpans[row] = length;
    for (QByteArray& name : p.names)
        d.names.push_back(std::move(name));
    if (p.last)
        d.error = p.error;
}

Row IndexFeed::take(bool* changed)
{
    std::vector<Piece> pieces;
    {
        std::lock_guard<std::mutex> hold(m_shared->lock);
        pieces.swap(m_shared->waiting);
    }
    *changed = !pieces.empty();
    DocumentIndex& index = *m_shared->taken;
    const qint64 before = index.rowCount();
    for (Piece& p : pieces)
        apply(index, p);
    return before ? Row(before - 1) : DocumentIndex::NoRow;
}

} // namespace treelark
