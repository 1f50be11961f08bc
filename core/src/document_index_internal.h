// What a DocumentIndex holds, shared by its build and its reads.
#pragma once

#include "treelark/DocumentIndex.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace treelark::detail {

// A column of the index in blocks of fixed size: it grows without ever copying what it
// holds, so the peak while building is the index itself and not twice or three times it
// (as a vector's doubling would be, at the moment of the move).
template <typename T>
class BlockColumn {
public:
    static constexpr int kShift = 14;
    static constexpr std::size_t kBlock = std::size_t(1) << kShift;

    void push(T v)
    {
        if ((m_size & (kBlock - 1)) == 0)
            m_blocks.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        m_blocks.back()[m_size & (kBlock - 1)] = v;
        ++m_size;
    }
    T& operator[](std::size_t i) { return m_blocks[i >> kShift][i & (kBlock - 1)]; }
    const T& operator[](std::size_t i) const { return m_blocks[i >> kShift][i & (kBlock - 1)]; }
    std::size_t size() const { return m_size; }
    qint64 bytes() const { return qint64(m_blocks.size() * kBlock * sizeof(T)); }
    void clear()
    {
        m_blocks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_blocks;
    std::size_t m_size = 0;
};

enum RowFlag : std::uint8_t {
    kHasText = 1,
    kClosed = 2,
    kPreserveSpace = 4, // xml:space="preserve" in force
};

// A subtree's length is kept in 32 bits; longer ones (only the top few rows of a file
// above 4 GB) are kept aside.
constexpr std::uint32_t kLongSpan = 0xFFFFFFFFu;

struct DocumentIndexData {
    QString path;
    QByteArray nativePath;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 inode = 0;

    BlockColumn<std::uint64_t> start;
    BlockColumn<std::uint32_t> span;         // end - start; kLongSpan: see longSpans
    BlockColumn<std::uint32_t> parent;
    BlockColumn<std::uint32_t> next;         // next sibling
    BlockColumn<std::uint32_t> children;     // child element count
    BlockColumn<std::uint32_t> name;
    BlockColumn<std::uint8_t> flags;
    std::unordered_map<std::uint32_t, std::uint64_t> longSpans;
    std::vector<QByteArray> names;           // UTF-8, prefix:local as written
    // The document type declaration, whose entities a subtree taken out may need.
    qint64 doctypeStart = -1;
    qint64 doctypeEnd = -1;

    DocumentIndexError error;
    mutable QString lastError;

    void clear();
    qint64 rows() const { return qint64(start.size()); }
    bool valid(DocumentIndex::Row r) const { return r < start.size(); }
    std::uint64_t endOf(DocumentIndex::Row r) const
    {
        const std::uint32_t s = span[r];
        return start[r] + (s == kLongSpan ? longSpans.at(r) : s);
    }
};

bool sameFile(const struct stat& a, const DocumentIndexData& d);
// Whether the file is still the one indexed; if not, lastError says so.
bool fileUnchanged(const DocumentIndexData& d);

} // namespace treelark::detail

struct treelark::DocumentIndex::Impl : treelark::detail::DocumentIndexData {};
