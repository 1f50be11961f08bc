// What a DocumentIndex holds, shared by its build and its reads.
#pragma once

#include "treelark/DocumentIndex.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

struct _xmlParserInput;

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
    // The column as whole blocks, for writing it out and reading it back in one piece
    // each: resize() leaves what it adds unset, for the caller to fill block by block.
    void resize(std::size_t n)
    {
        clear();
        for (std::size_t at = 0; at < n; at += kBlock)
            m_blocks.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        m_size = n;
    }
    std::size_t blockCount() const { return m_blocks.size(); }
    T* block(std::size_t b) { return m_blocks[b].get(); }
    const T* block(std::size_t b) const { return m_blocks[b].get(); }
    // How many of block b's slots hold rows.
    std::size_t blockRows(std::size_t b) const { return std::min(kBlock, m_size - b * kBlock); }
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
    // Empty for a UTF-8 file. Otherwise the single-byte encoding the file declares, and
    // what each of its bytes stands for: reads decode what they take from the file.
    QByteArray encoding;
    std::vector<char16_t> decoding;
    // Of the file's first and last bytes as the build read them (see edgesHash); empty
    // unless the build read the whole file.
    QByteArray edges;
    // The document type declaration, whose entities a subtree taken out may need.
    qint64 doctypeStart = -1;
    qint64 doctypeEnd = -1;

    DocumentIndexError error;
    mutable QString lastError;

    void clear();
    qint64 rows() const { return qint64(start.size()); }
    bool valid(DocumentIndex::Row r) const { return r < start.size(); }
    // Bytes of the file as UTF-8 (the same bytes for a UTF-8 file).
    QByteArray utf8(const QByteArray& raw) const;
    QString text(const QByteArray& raw) const { return QString::fromUtf8(utf8(raw)); }
    std::uint64_t endOf(DocumentIndex::Row r) const
    {
        const std::uint32_t s = span[r];
        return start[r] + (s == kLongSpan ? longSpans.at(r) : s);
    }
};

bool sameFile(const struct stat& a, const DocumentIndexData& d);

// A file changed in place with its size and time kept back is told apart by its bytes:
// the first and last kEdgeBytes of it (the whole of a smaller file, twice) are hashed.
constexpr qint64 kEdgeBytes = qint64(64) << 10;
QByteArray edgesHash(const QByteArray& head, const QByteArray& tail);
// What each byte of a single-byte encoding that keeps ASCII stands for (U+FFFD for a
// byte it leaves undefined); false for any other encoding, which offsets into the
// parser's UTF-8 could not be mapped back from.
bool singleByteDecoding(const QByteArray& encoding, std::vector<char16_t>* table);

// Where in the file a place in the parser's buffer is, for a file the parser converts
// from a single-byte encoding: every byte of the file is one character, so the file's
// offset is the count of characters (UTF-8 lead bytes) before it. Asked in document
// order, it counts only the stretch since the last answer while that is still in the
// buffer; otherwise it counts back from what the converter has taken from the file.
class DecodedOffsets {
public:
    qint64 fileOffset(const ::_xmlParserInput* in, const unsigned char* p);

private:
    qint64 m_decoded = -1; // the last place answered, in the parser's own count
    qint64 m_file = 0;
};
// Whether the file is still the one indexed; if not, lastError says so.
bool fileUnchanged(const DocumentIndexData& d);

} // namespace treelark::detail

struct treelark::DocumentIndex::Impl : treelark::detail::DocumentIndexData {};
