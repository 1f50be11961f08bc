// Building the index: one pass of libxml2's parser over the file with callbacks that
// record each element and build nothing else.
#include "document_index_internal.h"
#include "layout_blanks.h"

#include "treelark/Busy.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/SAX2.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace treelark {

namespace detail {

void DocumentIndexData::clear()
{
    path.clear();
    nativePath.clear();
    size = mtimeNs = inode = 0;
    start.clear();
    span.clear();
    parent.clear();
    next.clear();
    children.clear();
    name.clear();
    flags.clear();
    longSpans.clear();
    names.clear();
    encoding.clear();
    decoding.clear();
    edges.clear();
    doctypeStart = doctypeEnd = -1;
    error = {};
    lastError.clear();
}

} // namespace detail

namespace {

using Row = DocumentIndex::Row;
using detail::DocumentIndexData;

constexpr std::size_t kReadBlock = std::size_t(1) << 20;
// Rows are numbered in 32 bits, NoRow kept apart.
constexpr qint64 kMaxRows = qint64(DocumentIndex::NoRow);

struct NameKey {
    const xmlChar* prefix;
    const xmlChar* local;
    bool operator==(const NameKey& o) const { return prefix == o.prefix && local == o.local; }
};
struct NameKeyHash {
    std::size_t operator()(const NameKey& k) const
    {
        return std::hash<const void*>()(k.local) * 31 + std::hash<const void*>()(k.prefix);
    }
};

struct BuildState {
    DocumentIndexData* d = nullptr;
    xmlParserCtxtPtr ctxt = nullptr;
    int fd = -1;
    std::unique_ptr<char[]> block;
    std::size_t blockLen = 0;
    std::size_t blockPos = 0;
    qint64 done = 0;
    const DocumentIndex::Progress* progress = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
    bool readFailed = false;
    bool encodingChecked = false;
    detail::DecodedOffsets decoded;
    QByteArray head, tail; // the file's first and last bytes (see edgesHash)

    // What an open element has held so far, for judging its blanks as the DOM does.
    enum : std::uint8_t { kHadChild = detail::kHeldChild, kLastText = detail::kHeldLastText, kFirstText = detail::kHeldFirstText };
    struct Open {
        Row row;
        Row lastChild;
        std::uint8_t held;
    };
    std::vector<Open> open;

    // The parser hands names out of its dictionary, so a name is known by its pointers;
    // the small cache in front of the map catches the few names a document repeats.
    std::unordered_map<NameKey, std::uint32_t, NameKeyHash> nameIds;
    struct CacheSlot {
        NameKey key{nullptr, nullptr};
        std::uint32_t id = 0;
    };
    CacheSlot cache[256];

    bool haveError = false;
    bool stopAtNextElement = false;
};

void fail(BuildState& st, const QString& reason, qint64 line, qint64 column)
{
    if (st.haveError)
        return;
    st.haveError = true;
    st.d->error.reason = reason;
    st.d->error.line = line;
    st.d->error.column = column;
}

// Stops from inside an element callback, where the parser expects it.
void stopHere(BuildState& st, const QString& reason)
{
    fail(st, reason, xmlSAX2GetLineNumber(st.ctxt), xmlSAX2GetColumnNumber(st.ctxt));
    xmlStopParser(st.ctxt);
}

// Where in the file a place in the main input's buffer is.
qint64 fileOffset(BuildState& st, const xmlChar* p)
{
    xmlParserInputPtr in = st.ctxt->input;
    if (in->buf && in->buf->encoder)
        return st.decoded.fileOffset(in, p);
    return qint64(in->consumed) + (p - in->base);
}

BuildState* mainState(void* ctx)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = static_cast<BuildState*>(ctxt->_private);
    // An entity's replacement text is parsed by a context of its own: not the file.
    return st && ctxt == st->ctxt ? st : nullptr;
}

std::uint32_t internName(BuildState& st, const xmlChar* prefix, const xmlChar* local)
{
    const NameKey key{prefix, local};
    BuildState::CacheSlot& slot = st.cache[(reinterpret_cast<std::uintptr_t>(local) >> 4) & 255];
    if (slot.key == key)
        return slot.id;
    auto it = st.nameIds.find(key);
    if (it == st.nameIds.end()) {
        QByteArray qname;
        if (prefix) {
            qname = reinterpret_cast<const char*>(prefix);
            qname += ':';
        }
        qname += reinterpret_cast<const char*>(local);
        it = st.nameIds.emplace(key, std::uint32_t(st.d->names.size())).first;
        st.d->names.push_back(qname);
    }
    slot = {key, it->second};
    return it->second;
}

void onStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                    int, int, const xmlChar**)
{
    BuildState* st = mainState(ctx);
    if (!st)
        return;
    xmlParserCtxtPtr ctxt = st->ctxt;
    if (st->stopAtNextElement)
        return stopHere(*st, st->d->error.reason);
    xmlParserInputPtr in = ctxt->input;
    if (!st->encodingChecked) {
        st->encodingChecked = true;
        // Offsets are taken in the parser's UTF-8; they map back to the file's only when
        // every byte of it is one character.
        if (in->buf && in->buf->encoder) {
            const QByteArray encoding = QByteArray(in->buf->encoder->name).toUpper();
            if (!detail::singleByteDecoding(encoding, &st->d->decoding))
                return stopHere(*st, QStringLiteral("The file is in the %1 encoding; only UTF-8 files and files in "
                                                    "single-byte encodings (ISO-8859, windows-125x) open as large "
                                                    "documents.")
                                         .arg(QString::fromUtf8(encoding)));
            st->d->encoding = encoding;
        }
    }
    DocumentIndexData& d = *st->d;
    if (d.rows() >= kMaxRows)
        return stopHere(*st, QStringLiteral("The document has more than %1 elements, more than a large document can hold.")
                                 .arg(kMaxRows - 1));
    // The parser is at the '>' or "/>" of the start tag; tags hold no other '<', and the
    // tag is still in the buffer (it is read whole before this is called).
    const xmlChar* lt = in->cur;
    while (lt > in->base && *lt != '<')
        --lt;
    if (ctxt->inputNr != 1 || *lt != '<')
        return stopHere(*st, QStringLiteral("An element's place in the file could not be found."));
    const Row row = Row(d.rows());
    const Row parent = st->open.empty() ? DocumentIndex::NoRow : st->open.back().row;
    d.start.push(std::uint64_t(fileOffset(*st, lt)));
    d.span.push(0);
    d.parent.push(parent);
    d.next.push(DocumentIndex::NoRow);
    d.children.push(0);
    d.name.push(internName(*st, prefix, localname));
    d.flags.push(ctxt->space && *ctxt->space == 1 ? detail::kPreserveSpace : 0);
    if (!st->open.empty()) {
        BuildState::Open& up = st->open.back();
        if (up.lastChild != DocumentIndex::NoRow)
            d.next[up.lastChild] = row;
        up.lastChild = row;
        up.held = (up.held | BuildState::kHadChild) & ~BuildState::kLastText;
        ++d.children[parent];
    }
    st->open.push_back({row, DocumentIndex::NoRow, 0});
}

void onEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    BuildState* st = mainState(ctx);
    if (!st || st->open.empty())
        return;
    DocumentIndexData& d = *st->d;
    const Row row = st->open.back().row;
    st->open.pop_back();
    // The parser has just passed the end tag's '>' (or the "/>" of an empty element).
    const std::uint64_t end = std::uint64_t(fileOffset(*st, st->ctxt->input->cur));
    const std::uint64_t length = end - d.start[row];
    if (length >= detail::kLongSpan) {
        d.span[row] = detail::kLongSpan;
        d.longSpans[row] = length;
    } else {
        d.span[row] = std::uint32_t(length);
    }
    d.flags[row] |= detail::kClosed;
}

void noteChild(BuildState& st, bool text)
{
    if (st.open.empty())
        return;
    BuildState::Open& o = st.open.back();
    if (text)
        st.d->flags[o.row] |= detail::kHasText;
    o.held = detail::heldAfterChild(o.held, text);
}

void markText(BuildState& st) { noteChild(st, true); }

void onCharacters(void* ctx, const xmlChar* ch, int len)
{
    BuildState* st = mainState(ctx);
    if (!st || st->open.empty() || (st->d->flags[st->open.back().row] & detail::kHasText))
        return;
    if (!detail::isLayout(st->ctxt, st->open.back().held, ch, len))
        markText(*st);
}

void onOtherChild(void* ctx, const xmlChar*, const xmlChar*)
{
    if (BuildState* st = mainState(ctx))
        noteChild(*st, false);
}

void onComment(void* ctx, const xmlChar*)
{
    if (BuildState* st = mainState(ctx); st && st->ctxt->inSubset == 0)
        noteChild(*st, false);
}

void onCdata(void* ctx, const xmlChar*, int)
{
    if (BuildState* st = mainState(ctx))
        markText(*st);
}

void onReference(void* ctx, const xmlChar*)
{
    if (BuildState* st = mainState(ctx))
        markText(*st);
}

// Called with the parser past the name and external identifier of the declaration.
void onInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId, const xmlChar* systemId)
{
    xmlSAX2InternalSubset(ctx, name, externalId, systemId);
    BuildState* st = mainState(ctx);
    if (!st || st->ctxt->inputNr != 1)
        return;
    xmlParserInputPtr in = st->ctxt->input;
    static const char kDoctype[] = "<!DOCTYPE";
    for (const xmlChar* p = in->cur - (sizeof kDoctype - 1); p >= in->base; --p)
        if (memcmp(p, kDoctype, sizeof kDoctype - 1) == 0) {
            st->d->doctypeStart = fileOffset(*st, p);
            return;
        }
}

// Called with the parser just past the declaration's '>'.
void onExternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId, const xmlChar* systemId)
{
    xmlSAX2ExternalSubset(ctx, name, externalId, systemId);
    BuildState* st = mainState(ctx);
    if (st && st->d->doctypeStart >= 0 && st->ctxt->inputNr == 1)
        st->d->doctypeEnd = fileOffset(*st, st->ctxt->input->cur);
}

void onError(void* ctx, xmlErrorPtr e)
{
    if (!e || e->level < XML_ERR_ERROR)
        return;
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* st = ctxt ? static_cast<BuildState*>(ctxt->_private) : nullptr;
    if (!st || st->haveError)
        return;
    fail(*st, QString::fromUtf8(e->message ? e->message : "The document is not well-formed.").trimmed(), e->line,
         e->int2);
    // A fatal error stops the parser by itself; the others (a namespace fault) are
    // reported before the element's callback, which stops it there.
    st->stopAtNextElement = true;
}

int readSome(BuildState* st, char* buffer, int len);

void keepEdges(BuildState& st, ssize_t n)
{
    const char* b = st.block.get();
    if (st.head.size() < detail::kEdgeBytes)
        st.head.append(b, std::min<qint64>(n, detail::kEdgeBytes - st.head.size()));
    if (n >= detail::kEdgeBytes) {
        st.tail = QByteArray(b + n - detail::kEdgeBytes, detail::kEdgeBytes);
    } else {
        st.tail.append(b, n);
        st.tail = st.tail.right(detail::kEdgeBytes);
    }
}

// Hands the parser as much as it asks for, as a plain read would: where its input is cut
// decides how it judges blanks that straddle the cut, and the DOM's load reads that way.
int readBlock(void* ctx, char* buffer, int len)
{
    auto* st = static_cast<BuildState*>(ctx);
    int given = 0;
    while (given < len) {
        const int n = readSome(st, buffer + given, len - given);
        if (n <= 0)
            return given > 0 ? given : n;
        given += n;
    }
    return given;
}

int readSome(BuildState* st, char* buffer, int len)
{
    if (st->blockPos == st->blockLen) {
        if (st->cancel && st->cancel->load(std::memory_order_relaxed)) {
            st->cancelled = true;
            return 0; // the end of the input: the parser stops at once
        }
        ssize_t n;
        do
            n = ::read(st->fd, st->block.get(), kReadBlock);
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            st->readFailed = true;
            return -1;
        }
        st->blockLen = std::size_t(n);
        st->blockPos = 0;
        st->done += n;
        keepEdges(*st, n);
        busyTick();
        if (st->progress && *st->progress)
            (*st->progress)(st->done, st->d->size);
        if (n == 0)
            return 0;
    }
    const std::size_t take = std::min(std::size_t(len), st->blockLen - st->blockPos);
    std::memcpy(buffer, st->block.get() + st->blockPos, take);
    st->blockPos += take;
    return int(take);
}

int closeNothing(void*) { return 0; }

} // namespace

namespace detail {

bool sameFile(const struct stat& a, const DocumentIndexData& d)
{
    return qint64(a.st_size) == d.size && qint64(a.st_ino) == d.inode
        && qint64(a.st_mtim.tv_sec) * 1000000000 + a.st_mtim.tv_nsec == d.mtimeNs;
}

bool fileUnchanged(const DocumentIndexData& d)
{
    struct stat now{};
    if (::stat(d.nativePath.constData(), &now) != 0) {
        d.lastError = QStringLiteral("The file %1 cannot be read any more: %2.").arg(d.path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!sameFile(now, d)) {
        d.lastError = QStringLiteral("The file %1 changed on disk after it was opened; open it again to see it as it is now.")
                          .arg(d.path);
        return false;
    }
    return true;
}

} // namespace detail

DocumentIndex::DocumentIndex() : d(std::make_unique<Impl>()) {}
DocumentIndex::~DocumentIndex() = default;
DocumentIndex::DocumentIndex(DocumentIndex&&) noexcept = default;
DocumentIndex& DocumentIndex::operator=(DocumentIndex&&) noexcept = default;

bool DocumentIndex::build(const QString& path, const Progress& progress, const std::atomic<bool>* cancel)
{
    d->clear();
    d->path = path;
    d->nativePath = QFile::encodeName(path);
    BuildState st;
    st.d = d.get();
    st.progress = &progress;
    st.cancel = cancel;
    st.fd = ::open(d->nativePath.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info{};
    if (st.fd < 0 || ::fstat(st.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const QString why = st.fd < 0 ? QString::fromLocal8Bit(strerror(errno)) : QStringLiteral("not a regular file");
        if (st.fd >= 0)
            ::close(st.fd);
        d->error.reason = QStringLiteral("The file %1 cannot be read: %2.").arg(path, why);
        return false;
    }
    d->size = qint64(info.st_size);
    d->inode = qint64(info.st_ino);
    d->mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    ::posix_fadvise(st.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    st.block = std::make_unique<char[]>(kReadBlock);

    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        ::close(st.fd);
        d->error.reason = QStringLiteral("Out of memory");
        return false;
    }
    st.ctxt = ctxt;
    ctxt->_private = &st;
    // The document-level callbacks stay (the DTD's entities are needed to read references);
    // nothing that would build a node does.
    xmlSAXHandlerPtr sax = ctxt->sax;
    sax->startElementNs = onStartElement;
    sax->endElementNs = onEndElement;
    sax->startElement = nullptr;
    sax->endElement = nullptr;
    sax->characters = onCharacters;
    sax->ignorableWhitespace = onCharacters;
    sax->cdataBlock = onCdata;
    sax->reference = onReference;
    sax->comment = onComment;
    sax->processingInstruction = onOtherChild;
    sax->serror = onError;
    sax->internalSubset = onInternalSubset;
    sax->externalSubset = onExternalSubset;
    const int options = XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;
    const QByteArray url = d->nativePath;
    xmlDocPtr doc = xmlCtxtReadIO(ctxt, readBlock, closeNothing, &st, url.constData(), nullptr, options);
    if (doc)
        xmlFreeDoc(doc);
    else if (ctxt->myDoc)
        xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);

    struct stat after{};
    const bool changed = ::fstat(st.fd, &after) != 0 || !detail::sameFile(after, *d);
    ::close(st.fd);
    if (st.cancelled) {
        d->error = {QStringLiteral("Opening %1 was cancelled.").arg(path), 0, 0, true};
    } else if (st.readFailed) {
        d->error = {QStringLiteral("The file %1 could not be read to the end.").arg(path), 0, 0, false};
    } else if (changed) {
        d->error = {QStringLiteral("The file %1 changed on disk while it was being opened.").arg(path), 0, 0, false};
    } else if (!st.haveError && d->rows() == 0) {
        d->error = {QStringLiteral("The document holds no element."), 1, 1, false};
    }
    if (d->error.isNull() && st.done == d->size)
        d->edges = detail::edgesHash(st.head, st.tail);
    return d->error.isNull();
}

const DocumentIndexError& DocumentIndex::error() const { return d->error; }
QString DocumentIndex::lastError() const { return d->lastError; }
QString DocumentIndex::path() const { return d->path; }
qint64 DocumentIndex::fileSize() const { return d->size; }
QString DocumentIndex::encoding() const
{
    return d->encoding.isEmpty() ? QStringLiteral("UTF-8") : QString::fromLatin1(d->encoding);
}

qint64 DocumentIndex::memoryBytes() const
{
    qint64 names = 0;
    for (const QByteArray& n : d->names)
        names += n.capacity() + qint64(sizeof(QByteArray)) + 16;
    return d->start.bytes() + d->span.bytes() + d->parent.bytes() + d->next.bytes() + d->children.bytes()
        + d->name.bytes() + d->flags.bytes() + names + qint64(d->longSpans.size()) * 32;
}

qint64 DocumentIndex::rowCount() const { return d->rows(); }
DocumentIndex::Row DocumentIndex::root() const { return d->rows() ? 0 : NoRow; }
DocumentIndex::Row DocumentIndex::parent(Row row) const { return d->valid(row) ? d->parent[row] : NoRow; }

DocumentIndex::Row DocumentIndex::firstChild(Row row) const
{
    // Rows are in document order: a first child comes right after its parent.
    return d->valid(row) && d->children[row] ? row + 1 : NoRow;
}

DocumentIndex::Row DocumentIndex::nextSibling(Row row) const { return d->valid(row) ? d->next[row] : NoRow; }
qint64 DocumentIndex::childCount(Row row) const { return d->valid(row) ? d->children[row] : 0; }

int DocumentIndex::depth(Row row) const
{
    if (!d->valid(row))
        return -1;
    int n = 0;
    for (Row r = d->parent[row]; r != NoRow; r = d->parent[r])
        ++n;
    return n;
}

bool DocumentIndex::isClosed(Row row) const { return d->valid(row) && (d->flags[row] & detail::kClosed); }
bool DocumentIndex::hasText(Row row) const { return d->valid(row) && (d->flags[row] & detail::kHasText); }
qint64 DocumentIndex::startOffset(Row row) const { return d->valid(row) ? qint64(d->start[row]) : -1; }
qint64 DocumentIndex::endOffset(Row row) const { return isClosed(row) ? qint64(d->endOf(row)) : -1; }

QString DocumentIndex::name(Row row) const { return d->valid(row) ? QString::fromUtf8(d->names[d->name[row]]) : QString(); }
std::uint32_t DocumentIndex::nameId(Row row) const { return d->valid(row) ? d->name[row] : NoRow; }
QString DocumentIndex::nameOf(std::uint32_t id) const
{
    return id < d->names.size() ? QString::fromUtf8(d->names[id]) : QString();
}
qint64 DocumentIndex::nameCount() const { return qint64(d->names.size()); }

QString DocumentIndex::path(Row row) const
{
    if (!d->valid(row))
        return QString();
    std::vector<Row> chain;
    for (Row r = row; r != NoRow; r = d->parent[r])
        chain.push_back(r);
    QByteArray out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.isEmpty())
            out += '/';
        out += d->names[d->name[*it]];
    }
    return QString::fromUtf8(out);
}

namespace {

std::uint32_t lookupName(const DocumentIndexData& d, const QString& name)
{
    const QByteArray wanted = name.toUtf8();
    for (std::size_t i = 0; i < d.names.size(); ++i)
        if (d.names[i] == wanted)
            return std::uint32_t(i);
    return DocumentIndex::NoRow;
}

} // namespace

DocumentIndex::Row DocumentIndex::findFirst(const QString& name, Row from) const
{
    const std::uint32_t id = lookupName(*d, name);
    if (id == NoRow)
        return NoRow;
    const std::size_t n = d->name.size();
    for (std::size_t i = from; i < n; ++i) {
        if (d->name[i] == id)
            return Row(i);
        if ((i & 0xFFFFF) == 0)
            busyTick();
    }
    return NoRow;
}

std::vector<DocumentIndex::Row> DocumentIndex::findAll(const QString& name) const
{
    std::vector<Row> out;
    const std::uint32_t id = lookupName(*d, name);
    if (id == NoRow)
        return out;
    const std::size_t n = d->name.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (d->name[i] == id)
            out.push_back(Row(i));
        if ((i & 0xFFFFF) == 0)
            busyTick();
    }
    return out;
}

} // namespace treelark
