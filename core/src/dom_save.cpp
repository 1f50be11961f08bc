// Writing trees out. The document is written the way its file was: same declaration,
// byte-order mark, encoding and indentation unit, so an unedited, consistently indented
// file saves back byte for byte.
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <libxml/xmlsave.h>
#include <libxml/xmlIO.h>

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <future>
#include <optional>
#include <QSaveFile>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace treelark {
namespace detail {

namespace {

int writeToSink(void* ctx, const char* buf, int len)
{
    busyTick();
    return (*static_cast<const ByteSink*>(ctx))(buf, len) ? len : -1;
}

int closeNothing(void*) { return 0; }

bool isUtf8(const char* enc) { return !enc || !qstricmp(enc, "UTF-8") || !qstricmp(enc, "UTF8"); }

// libxml2 reads the indentation unit from this global when a dump starts.
struct IndentScope {
    explicit IndentScope(const QByteArray& unit) : saved(xmlTreeIndentString)
    {
        xmlTreeIndentString = unit.constData();
    }
    ~IndentScope() { xmlTreeIndentString = saved; }
    const char* saved;
};

// libxml2 writes a namespace URI between quotes as it is, so "urn:a&amp;b" read from a
// file would go out as "urn:a&b", which no parser reads. While a tree is written, such
// URIs hold their escaped form.
class EscapedNamespaceUris {
public:
    explicit EscapedNamespaceUris(xmlNodePtr top)
    {
        for (xmlNodePtr n = top; n; n = nextInSubtree(n, top)) {
            if (n->type != XML_ELEMENT_NODE)
                continue;
            for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
                if (!ns->href || (!xmlStrchr(ns->href, '&') && !xmlStrchr(ns->href, '<')))
                    continue;
                QByteArray escaped(reinterpret_cast<const char*>(ns->href));
                escaped.replace('&', "&amp;").replace('<', "&lt;");
                m_saved.emplace_back(ns, ns->href);
                ns->href = xmlStrdup(reinterpret_cast<const xmlChar*>(escaped.constData()));
            }
        }
    }
    ~EscapedNamespaceUris()
    {
        for (auto [ns, original] : m_saved) {
            xmlFree(const_cast<xmlChar*>(ns->href));
            ns->href = original;
        }
    }
    EscapedNamespaceUris(const EscapedNamespaceUris&) = delete;
    EscapedNamespaceUris& operator=(const EscapedNamespaceUris&) = delete;

private:
    std::vector<std::pair<xmlNsPtr, const xmlChar*>> m_saved;
};

// Whether the text holds el's start tag where el says it stands.
bool startTagAt(const QByteArray& text, xmlNodePtr el)
{
    quint64 at = 0, len = 0;
    if (!tagSpan(el, &at, &len) || at + len > quint64(text.size()))
        return false;
    QByteArray open = "<";
    if (el->ns && el->ns->prefix)
        open += QByteArray(reinterpret_cast<const char*>(el->ns->prefix)) + ':';
    open += reinterpret_cast<const char*>(el->name);
    return text.mid(qsizetype(at), open.size()) == open && text.at(qsizetype(at + len - 1)) == '>';
}

} // namespace

// The text of a whole document that is unedited and was read as UTF-8 is the text it was
// read from (which writeSource gives, when it is still there).
bool readAsText(const DocCore& core, xmlNodePtr n)
{
    return n->type == XML_DOCUMENT_NODE && !core.modified && core.tagSpans && !core.sourceConverted;
}

// Reads `path` through, hashing what it reads and handing it to `sink` (if any). False when
// it cannot be read or the sink refuses; `size` gets the bytes read.
bool hashFile(const QString& path, StreamHash& hash, qint64& size, const ByteSink* sink = nullptr)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    size = 0;
    for (;;) {
        const qint64 n = in.read(chunk.data(), chunk.size());
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        hash.add(chunk.constData(), n);
        size += n;
        busyTick();
        if (sink && !(*sink)(chunk.constData(), int(n)))
            return false;
    }
}

// An unmodified document is written as the bytes it was read from, when they are still
// there: false (with whatever the sink got) when the file is gone or no longer the one
// read, and the caller writes the tree instead.
bool writeSource(const DocCore& core, const ByteSink& sink)
{
    if (core.sourcePath.isEmpty())
        return !core.sourceBytes.isEmpty() && sink(core.sourceBytes.constData(), int(core.sourceBytes.size()));
    if (QFileInfo(core.sourcePath).size() != core.sourceSize)
        return false;
    StreamHash hash;
    qint64 total = 0;
    return hashFile(core.sourcePath, hash, total, &sink) && total == core.sourceSize
        && hash.result() == core.sourceHash;
}

bool serialize(DocCore& core, xmlNodePtr node, const ByteSink& sink, bool asFile)
{
    const bool wholeDoc = node->type == XML_DOCUMENT_NODE;
    const char* enc = nullptr;
    if (asFile && wholeDoc && core.doc->encoding)
        enc = reinterpret_cast<const char*>(core.doc->encoding);
    xmlCharEncodingHandlerPtr handler = nullptr;
    if (!isUtf8(enc)) {
        requireEncodable(node, enc);
        handler = xmlFindCharEncodingHandler(enc);
        if (!handler)
            enc = nullptr; // an encoding we cannot write: fall back to UTF-8
    }
    xmlNodePtr root = wholeDoc ? xmlDocGetRootElement(core.doc) : nullptr;
    const bool prologAsRead = asFile && root && core.prologKnown && !core.prologChanged;
    if (prologAsRead && !core.prolog.isEmpty()) {
        if (!sink(core.prolog.constData(), int(core.prolog.size())))
            return false;
    } else if (!prologAsRead && asFile && wholeDoc && core.hadBom && isUtf8(enc) && !sink("\xEF\xBB\xBF", 3)) {
        return false;
    }

    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(writeToSink, closeNothing,
                                                     const_cast<ByteSink*>(&sink), handler);
    if (!out)
        return false;
    const int format = core.formatOutput ? 1 : 0;
    IndentScope indent(core.indentUnit);
    // Start tags as the file has them, where it is still there to copy them from; the
    // writer that does so escapes namespace URIs itself.
    QByteArray source;
    if (asFile && wholeDoc && core.tagSpans && bool(handler) == core.sourceConverted)
        source = handler ? utf8TextOf(readSource(core), enc) : readSource(core);
    if (!source.isEmpty() && root && !startTagAt(source, root))
        source.clear(); // places that do not fit this text: every tag is written anew
    std::optional<EscapedNamespaceUris> escaped;
    if (source.isEmpty())
        escaped.emplace(node);
    const char* dumpEnc = enc ? enc : "UTF-8";
    if (wholeDoc) {
        if (core.hadDeclaration && !prologAsRead) {
            QByteArray decl = core.declaration.isEmpty() ? QByteArray("<?xml version=\"1.0\"?>") : core.declaration;
            xmlOutputBufferWrite(out, int(decl.size()), decl.constData());
            xmlOutputBufferWrite(out, 1, "\n");
        }
        // What follows the document element, as the file has it, while that is unchanged.
        const bool epilogAsRead = prologAsRead && !source.isEmpty() && core.rootEnd > 0 && core.rootEnd <= source.size();
        for (xmlNodePtr c = prologAsRead ? root : core.doc->children; c; c = c->next) {
            if (c->type == XML_ELEMENT_NODE && !source.isEmpty())
                writeWithTags(out, core.doc, c, source);
            else
                xmlNodeDumpOutput(out, core.doc, c, 0, format, dumpEnc);
            if (epilogAsRead && c == root) {
                xmlOutputBufferWrite(out, int(source.size() - core.rootEnd), source.constData() + core.rootEnd);
                break;
            }
            xmlOutputBufferWrite(out, 1, "\n");
        }
    } else {
        xmlNodeDumpOutput(out, core.doc, node, 0, format, dumpEnc);
    }
    const bool failed = out->error != 0;
    return xmlOutputBufferClose(out) >= 0 && !failed;
}

} // namespace detail

QString DOMNode::xml() const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(requireNode());
    if (n->type == XML_NAMESPACE_DECL) {
        auto ns = reinterpret_cast<xmlNsPtr>(n);
        const QString href = ns->href ? QString::fromUtf8(reinterpret_cast<const char*>(ns->href)) : QString();
        return QLatin1Char(' ') + detail::declarationName(ns) + QStringLiteral("=\"") + href.toHtmlEscaped()
            + QLatin1Char('"');
    }
    return QString::fromUtf8(xmlUtf8());
}

namespace {

// Room for a whole document's text in one block. Filling a fresh block of a hundred
// megabytes page by page costs more than writing the same bytes to a file, so on Linux
// the block asks for huge pages: a few hundred faults instead of tens of thousands.
void reserveText(QByteArray& bytes, qint64 size)
{
    if (size <= 0)
        return;
    bytes.reserve(size);
#ifdef MADV_HUGEPAGE
    constexpr quintptr huge = 2 * 1024 * 1024;
    const quintptr begin = (quintptr(bytes.data()) + huge - 1) & ~(huge - 1);
    const quintptr end = (quintptr(bytes.data()) + quintptr(bytes.capacity())) & ~(huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // advice only
#endif
}

} // namespace

QByteArray DOMNode::xmlUtf8() const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(requireNode());
    if (n->type == XML_NAMESPACE_DECL)
        return xml().toUtf8();
    QByteArray bytes;
    // Inside a long command the user may stop, and gets no text rather than part of it.
    auto collect = [&bytes](const char* b, int len) {
        bytes.append(b, len);
        return !stopRequested();
    };
    // the file's size is the text's size when unedited, and a fair guess after edits
    if (n->type == XML_DOCUMENT_NODE)
        reserveText(bytes, detail::DocCore::of(*this)->sourceSize);
    if (detail::readAsText(*detail::DocCore::of(*this), n)) {
        if (detail::writeSource(*detail::DocCore::of(*this), collect)) {
            if (bytes.startsWith("\xEF\xBB\xBF"))
                bytes.remove(0, 3);
            return bytes;
        }
        throwIfStopped();
        bytes.resize(0); // keeps the block
    }
    detail::serialize(*detail::DocCore::of(*this), n, collect, false);
    throwIfStopped();
    if (bytes.capacity() > 2 * bytes.size() + 65536)
        bytes.squeeze(); // the edits left far less than the file had
    return bytes;
}

qint64 DOMNode::xmlLength() const
{
    xmlNodePtr n = static_cast<xmlNodePtr>(requireNode());
    if (n->type == XML_NAMESPACE_DECL)
        return xml().size();
    qint64 chars = 0;
    // UTF-16 code units of the UTF-8 stream: one per lead byte, two for 4-byte sequences.
    auto count = [&chars](const char* b, int len) {
        for (int i = 0; i < len; ++i) {
            const unsigned char c = static_cast<unsigned char>(b[i]);
            if ((c & 0xC0) != 0x80)
                chars += (c >= 0xF0) ? 2 : 1;
        }
        return true;
    };
    if (detail::readAsText(*detail::DocCore::of(*this), n) && detail::DocCore::of(*this)->sourceChars >= 0)
        return detail::DocCore::of(*this)->sourceChars - (detail::DocCore::of(*this)->hadBom ? 1 : 0);
    if (detail::readAsText(*detail::DocCore::of(*this), n)) {
        bool bom = false, first = true;
        const bool ok = detail::writeSource(*detail::DocCore::of(*this), [&](const char* b, int len) {
            if (first && len >= 3 && !memcmp(b, "\xEF\xBB\xBF", 3))
                bom = true;
            first = false;
            return count(b, len);
        });
        if (ok)
            return chars - (bom ? 1 : 0);
        chars = 0;
    }
    detail::serialize(*detail::DocCore::of(*this), n, count, false);
    return chars;
}

namespace {

// The new file takes the old one's place, so it takes its owner, group and mode too.
// QSaveFile copies the mode only as Qt sees it, which for a privileged user means
// writable, and leaves the new file owned by whoever saves it. A user who may not give
// the file away keeps it (the group where allowed), without the set-id bits.
void keepOwnerAndMode(const QString& path, int fd)
{
    struct stat old {};
    if (fd < 0 || ::stat(QFile::encodeName(path).constData(), &old) != 0)
        return;
    mode_t mode = old.st_mode & 07777;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        mode &= ~mode_t(S_ISUID | S_ISGID);
        if (::fchown(fd, uid_t(-1), old.st_gid) != 0) {
            // the file stays ours, as any new file would be
        }
    }
    if (::fchmod(fd, mode) != 0) {
        // what QSaveFile set stays
    }
}

} // namespace

// A file without a document element is not XML: nothing reads it back.
void DOMDocument::requireSavable() const
{
    if (xmlDocGetRootElement(m_core->doc))
        return;
    if (m_parseError.errorCode)
        detail::raise(DOMError::NotSupported,
                      QStringLiteral("The document did not load (%1); there is nothing to save.").arg(m_parseError.reason));
    detail::raise(DOMError::NotSupported,
                  QStringLiteral("The document has no document element; a file without one cannot be opened again."));
}

QByteArray DOMDocument::saveToBytes() const
{
    requireSavable();
    QByteArray bytes;
    auto collect = [&bytes](const char* b, int len) {
        bytes.append(b, len);
        return true;
    };
    if (!m_core->modified) {
        if (detail::writeSource(*m_core, collect))
            return bytes;
        bytes.clear();
    }
    detail::serialize(*m_core, reinterpret_cast<xmlNodePtr>(m_core->doc), collect, true);
    return bytes;
}

namespace {

// Putting a hundred megabytes on the disk takes a tenth of a second or more, in one call
// that cannot tick: it runs on a helper thread while the caller's window stays painted,
// and the commit's own sync then finds little left to do.
void syncWhileBusy(QSaveFile& file)
{
    if (!file.flush())
        return; // the commit reports it
    const int fd = file.handle();
    auto synced = std::async(std::launch::async, [fd] { ::fdatasync(fd); });
    while (synced.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        busyTick();
}

bool sameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo x(a), y(b);
    if (x.absoluteFilePath() == y.absoluteFilePath())
        return true;
    return x.exists() && y.exists() && x.canonicalFilePath() == y.canonicalFilePath();
}

} // namespace

void DOMDocument::save(const QString& path) const
{
    if (path.isEmpty())
        detail::raise(DOMError::WriteFailed, QStringLiteral("No file name to save to."));
    requireSavable();
    auto cannot = [&path](const QString& why) {
        detail::raise(DOMError::WriteFailed, QStringLiteral("Cannot write %1: %2").arg(path, why));
    };
    // The old file stays whole until the new one is complete: write beside it, then rename.
    // An unmodified document is first written as the bytes it was read from; if those
    // turn out to have changed, that attempt is dropped and the tree is written instead.
    for (bool fromSource : {!m_core->modified, false}) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            cannot(file.errorString());
        keepOwnerAndMode(path, file.handle());
        detail::StreamHash written;
        qint64 writtenBytes = 0;
        auto write = [&file, &written, &writtenBytes](const char* b, int len) {
            written.add(b, len);
            writtenBytes += len;
            return !stopRequested() && file.write(b, len) == len;
        };
        // Stopped by the user, the file beside the old one goes and the old one stays.
        auto stopped = [&file, &path] {
            file.cancelWriting();
            detail::raise(DOMError::Cancelled, QStringLiteral("Saving was stopped; %1 is as it was.").arg(path));
        };
        const bool ok = fromSource ? detail::writeSource(*m_core, write)
                                   : detail::serialize(*m_core, reinterpret_cast<xmlNodePtr>(m_core->doc), write, true);
        if (!ok && stopRequested())
            stopped();
        if (!ok) {
            const QString why = file.errorString();
            file.cancelWriting();
            if (fromSource && file.error() == QFileDevice::NoError)
                continue;
            cannot(why);
        }
        syncWhileBusy(file);
        if (stopRequested())
            stopped();
        if (!file.commit())
            cannot(file.errorString());
        if (sameFile(m_core->diskPath, path)) {
            m_core->diskSize = writtenBytes;
            m_core->diskModified = QFileInfo(path).lastModified();
            m_core->diskHash = written.result();
        }
        return;
    }
}

bool DOMDocument::changedOnDisk(const QString& path) const
{
    const detail::DocCore& core = *m_core;
    if (core.diskPath.isEmpty() || !sameFile(core.diskPath, path))
        return false;
    const QFileInfo info(core.diskPath);
    if (!info.exists() || info.size() != core.diskSize || info.lastModified() != core.diskModified)
        return true;
    // Same size and time: it may still have been rewritten within the clock's grain or had
    // its time set back. Reading it through costs less than the save that follows, which
    // writes as many bytes.
    detail::StreamHash hash;
    qint64 size = 0;
    if (!detail::hashFile(core.diskPath, hash, size))
        return true;
    return hash.result() != core.diskHash;
}

} // namespace treelark
