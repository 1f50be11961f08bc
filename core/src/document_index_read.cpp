// Reading a row of the index from the file: its start tag, its text, its subtree.
#include "document_index_internal.h"

#include "treelark/Busy.h"

#include <QBuffer>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace treelark {

namespace {

using Row = DocumentIndex::Row;
using detail::DocumentIndexData;

// A start tag is read in a small piece first and in larger ones while it does not end;
// no tag the parser accepted is near the cap, but a file changed in place might be.
constexpr qint64 kFirstRead = 4096;
constexpr qint64 kTagCap = qint64(64) << 20;
constexpr qint64 kCopyBlock = qint64(1) << 20;

struct RawAttribute {
    QByteArray name;
    QByteArray value; // as written, between the quotes
    char quote = '"';
};

struct StartTag {
    QByteArray name;
    std::vector<RawAttribute> attributes;
    qint64 nameEnd = 0; // bytes from the '<' to the end of the name
    qint64 length = 0;  // bytes from the '<' to past the '>'
};

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

enum class TagParse { Done, NeedMore, Bad };

TagParse parseStartTag(const char* p, qint64 n, StartTag* out)
{
    if (n < 1)
        return TagParse::NeedMore;
    if (p[0] != '<')
        return TagParse::Bad;
    qint64 i = 1;
    while (i < n && !isSpace(p[i]) && p[i] != '/' && p[i] != '>')
        ++i;
    if (i == n)
        return TagParse::NeedMore;
    out->name = QByteArray(p + 1, i - 1);
    out->nameEnd = i;
    out->attributes.clear();
    for (;;) {
        while (i < n && isSpace(p[i]))
            ++i;
        if (i == n)
            return TagParse::NeedMore;
        if (p[i] == '>') {
            out->length = i + 1;
            return TagParse::Done;
        }
        if (p[i] == '/') {
            if (i + 1 == n)
                return TagParse::NeedMore;
            if (p[i + 1] != '>')
                return TagParse::Bad;
            out->length = i + 2;
            return TagParse::Done;
        }
        const qint64 nameAt = i;
        while (i < n && !isSpace(p[i]) && p[i] != '=' && p[i] != '>' && p[i] != '/')
            ++i;
        RawAttribute a;
        a.name = QByteArray(p + nameAt, i - nameAt);
        while (i < n && isSpace(p[i]))
            ++i;
        if (i == n)
            return TagParse::NeedMore;
        if (p[i] != '=' || a.name.isEmpty())
            return TagParse::Bad;
        ++i;
        while (i < n && isSpace(p[i]))
            ++i;
        if (i == n)
            return TagParse::NeedMore;
        if (p[i] != '"' && p[i] != '\'')
            return TagParse::Bad;
        a.quote = p[i++];
        const char* close = static_cast<const char*>(memchr(p + i, a.quote, size_t(n - i)));
        if (!close)
            return TagParse::NeedMore;
        a.value = QByteArray(p + i, close - (p + i));
        i = close - p + 1;
        out->attributes.push_back(std::move(a));
    }
}

// Appends the character a reference ("lt", "#60", "#x3C") stands for; false when it is
// none of the five predefined ones nor a character reference.
bool appendReference(const char* ref, qsizetype len, QByteArray* out)
{
    const QByteArrayView r(ref, len);
    static const struct {
        const char* name;
        char ch;
    } predefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& p : predefined)
        if (r == p.name) {
            out->append(p.ch);
            return true;
        }
    if (len < 2 || ref[0] != '#')
        return false;
    bool ok = false;
    const uint code = r.at(1) == 'x' ? QByteArray(ref + 2, len - 2).toUInt(&ok, 16) : QByteArray(ref + 1, len - 1).toUInt(&ok, 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    const char32_t c = char32_t(code);
    out->append(QString::fromUcs4(&c, 1).toUtf8());
    return true;
}

// Reads "&...;" at p[i] into out; returns the bytes used (the '&' alone when it is not a
// reference that ends in reach).
qsizetype decodeReference(const char* p, qsizetype i, qsizetype n, QByteArray* out)
{
    const char* semi = static_cast<const char*>(memchr(p + i, ';', size_t(std::min<qsizetype>(n - i, 16))));
    if (semi && appendReference(p + i + 1, semi - (p + i + 1), out))
        return semi - (p + i) + 1;
    if (semi) { // an entity the DTD declares: shown as written
        out->append(p + i, semi - (p + i) + 1);
        return semi - (p + i) + 1;
    }
    out->append('&');
    return 1;
}

// An attribute's value as the parser gives it: references replaced, line ends and
// other blanks one space each.
QString attributeValue(const QByteArray& raw)
{
    QByteArray out;
    out.reserve(raw.size());
    const char* p = raw.constData();
    const qsizetype n = raw.size();
    for (qsizetype i = 0; i < n;) {
        const char c = p[i];
        if (c == '&') {
            i += decodeReference(p, i, n, &out);
        } else if (c == '\r') {
            out.append(' ');
            i += (i + 1 < n && p[i + 1] == '\n') ? 2 : 1;
        } else {
            out.append(c == '\n' || c == '\t' ? ' ' : c);
            ++i;
        }
    }
    return QString::fromUtf8(out);
}

// Character data between tags as the DOM has it: references replaced, CDATA sections
// opened, comments and instructions left out, line ends "\n", and blanks the parser
// takes for layout (see judgedLayout in document_index.cpp) dropped when they run across
// lines. A construct cut off at the end of the bytes is dropped.
QByteArray contentText(const char* p, qsizetype n, bool preserveSpace)
{
    QByteArray out;
    out.reserve(n);
    bool hadChild = false, lastText = false, firstText = false;
    auto child = [&](bool text) {
        firstText = firstText || (text && !hadChild);
        hadChild = true;
        lastText = text;
    };
    auto skipTo = [&](qsizetype from, const char* end) -> qsizetype {
        const qsizetype at = QByteArrayView(p + from, n - from).indexOf(QByteArrayView(end));
        return at < 0 ? -1 : from + at + qsizetype(strlen(end));
    };
    for (qsizetype i = 0; i < n;) {
        const char c = p[i];
        if (c == '<') {
            const QByteArrayView rest(p + i, n - i);
            qsizetype next;
            if (rest.startsWith("<![CDATA[")) {
                const qsizetype end = skipTo(i + 9, "]]>");
                const qsizetype stop = end < 0 ? n : end - 3;
                out.append(p + i + 9, stop - (i + 9));
                next = end;
            } else if (rest.startsWith("<!--")) {
                next = skipTo(i + 4, "-->");
            } else if (rest.startsWith("<?")) {
                next = skipTo(i + 2, "?>");
            } else {
                next = -1; // an element, which a text-only element does not hold
            }
            if (next < 0)
                break;
            child(false); // a CDATA section is not a text node to the parser's judgement
            i = next;
        } else if (c == '&') {
            i += decodeReference(p, i, n, &out);
            child(true);
        } else {
            qsizetype end = i;
            bool blank = true, lineBreak = false;
            for (; end < n && p[end] != '<' && p[end] != '&'; ++end) {
                blank = blank && isSpace(p[end]);
                lineBreak = lineBreak || p[end] == '\n' || p[end] == '\r';
            }
            const bool beforeEndTag = end + 1 >= n || (p[end] == '<' && p[end + 1] == '/');
            const bool layout = blank && lineBreak && !preserveSpace && (end == n || p[end] == '<')
                && !(beforeEndTag && !hadChild) && !lastText && !firstText;
            if (!layout) {
                for (qsizetype k = i; k < end; ++k) {
                    if (p[k] == '\r') {
                        out.append('\n');
                        k += k + 1 < end && p[k + 1] == '\n';
                    } else {
                        out.append(p[k]);
                    }
                }
                child(true);
            }
            i = end;
        }
    }
    return out;
}

class FileReader {
public:
    explicit FileReader(const DocumentIndexData& d) : m_d(d) {}
    ~FileReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open()
    {
        if (!detail::fileUnchanged(m_d))
            return false;
        m_fd = ::open(m_d.nativePath.constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            m_d.lastError = QStringLiteral("The file %1 cannot be read: %2.").arg(m_d.path, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        return true;
    }

    bool readAt(qint64 offset, qint64 length, QByteArray* out)
    {
        length = std::max<qint64>(0, std::min(length, m_d.size - offset));
        out->resize(length);
        qint64 got = 0;
        while (got < length) {
            const ssize_t n = ::pread(m_fd, out->data() + got, size_t(length - got), off_t(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_d.lastError = n == 0 ? QStringLiteral("The file %1 is shorter than when it was opened.").arg(m_d.path)
                                       : QStringLiteral("The file %1 cannot be read: %2.")
                                             .arg(m_d.path, QString::fromLocal8Bit(strerror(errno)));
                return false;
            }
            got += n;
        }
        return true;
    }

    bool startTag(Row row, StartTag* tag)
    {
        const qint64 at = qint64(m_d.start[row]);
        const qint64 limit = (m_d.flags[row] & detail::kClosed) ? qint64(m_d.endOf(row)) - at : m_d.size - at;
        QByteArray bytes;
        for (qint64 want = kFirstRead;; want *= 4) {
            const qint64 take = std::min({want, limit, kTagCap});
            if (!readAt(at, take, &bytes))
                return false;
            const TagParse r = parseStartTag(bytes.constData(), bytes.size(), tag);
            if (r == TagParse::Done && m_d.utf8(tag->name) == m_d.names[m_d.name[row]])
                return true;
            if (r != TagParse::NeedMore || take == limit || take == kTagCap)
                break;
        }
        m_d.lastError = QStringLiteral("The file %1 no longer has the element it had at byte %2; open it again.")
                            .arg(m_d.path)
                            .arg(at);
        return false;
    }

private:
    const DocumentIndexData& m_d;
    int m_fd = -1;
};

// Declarations of namespaces in force at `row` that its own tag does not make, nearest
// first: what the element needs to stand on its own.
bool inheritedNamespaces(const DocumentIndexData& d, FileReader& file, Row row, const StartTag& own,
                         std::vector<RawAttribute>* out)
{
    std::vector<QByteArray> seen;
    for (const RawAttribute& a : own.attributes)
        if (a.name == "xmlns" || a.name.startsWith("xmlns:"))
            seen.push_back(a.name);
    StartTag tag;
    for (Row r = d.parent[row]; r != DocumentIndex::NoRow; r = d.parent[r]) {
        if (!file.startTag(r, &tag))
            return false;
        for (RawAttribute& a : tag.attributes) {
            if ((a.name != "xmlns" && !a.name.startsWith("xmlns:")) || std::find(seen.begin(), seen.end(), a.name) != seen.end())
                continue;
            seen.push_back(a.name);
            if (!a.value.isEmpty()) // an undeclared default namespace is the default already
                out->push_back(std::move(a));
        }
    }
    return true;
}

// The internal subset of a document type declaration ("<!DOCTYPE r SYSTEM 'x' [...]>"):
// from the first '[' outside a literal to the last ']'; empty when there is none.
QByteArray internalSubset(const QByteArray& decl)
{
    char quote = 0;
    for (qsizetype i = 0; i < decl.size(); ++i) {
        const char c = decl[i];
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            const qsizetype close = decl.lastIndexOf(']');
            return close > i ? decl.mid(i + 1, close - i - 1) : QByteArray();
        }
    }
    return QByteArray();
}

} // namespace

bool DocumentIndex::read(Row row, IndexedElement* out, qsizetype maxTextChars) const
{
    d->lastError.clear();
    if (!d->valid(row) || !out) {
        d->lastError = QStringLiteral("There is no row %1.").arg(row);
        return false;
    }
    FileReader file(*d);
    StartTag tag;
    if (!file.open() || !file.startTag(row, &tag))
        return false;
    *out = IndexedElement();
    out->name = d->text(tag.name);
    out->attributes.reserve(qsizetype(tag.attributes.size()));
    for (const RawAttribute& a : tag.attributes)
        out->attributes.push_back({d->text(a.name), attributeValue(d->utf8(a.value))});
    if (!(d->flags[row] & detail::kHasText) || d->children[row] != 0 || !(d->flags[row] & detail::kClosed))
        return true;
    // The text runs from the start tag to the end tag's '<', the last one in the element.
    const qint64 from = qint64(d->start[row]) + tag.length;
    const qint64 end = qint64(d->endOf(row));
    const qint64 tailFrom = std::max(from, end - qint64(tag.name.size()) - 4096);
    QByteArray tail;
    if (!file.readAt(tailFrom, end - tailFrom, &tail))
        return false;
    const qsizetype lt = tail.lastIndexOf('<');
    if (lt < 0) {
        d->lastError = QStringLiteral("The end of the element at byte %1 cannot be found; open the file again.").arg(from);
        return false;
    }
    const qint64 textEnd = end - (tail.size() - lt);
    // Four bytes a character at most, and room for a reference cut short.
    const qint64 budget = qint64(maxTextChars) * 4 + 16;
    QByteArray bytes;
    if (!file.readAt(from, std::min(textEnd - from, budget), &bytes))
        return false;
    bytes = d->utf8(bytes);
    out->text = QString::fromUtf8(contentText(bytes.constData(), bytes.size(), d->flags[row] & detail::kPreserveSpace));
    out->textTruncated = textEnd - from > budget || out->text.size() > maxTextChars;
    if (out->text.size() > maxTextChars)
        out->text.truncate(maxTextChars);
    return true;
}

bool DocumentIndex::extract(Row row, QIODevice* out) const
{
    d->lastError.clear();
    if (!d->valid(row) || !out) {
        d->lastError = QStringLiteral("There is no row %1.").arg(row);
        return false;
    }
    if (!(d->flags[row] & detail::kClosed)) {
        d->lastError = QStringLiteral("The element %1 does not end before the fault in the file, so it cannot be taken out whole.")
                           .arg(name(row));
        return false;
    }
    FileReader file(*d);
    StartTag tag;
    std::vector<RawAttribute> inherited;
    if (!file.open() || !file.startTag(row, &tag) || !inheritedNamespaces(*d, file, row, tag, &inherited))
        return false;
    const qint64 at = qint64(d->start[row]);
    const qint64 end = qint64(d->endOf(row));
    // The bytes are copied as the file has them, never converted: a file in a single-byte
    // encoding gives a document declaring that encoding, so what was not asked for is
    // not rewritten (and the copy costs no more than for UTF-8).
    const QByteArray encoding = d->encoding.isEmpty() ? QByteArray("UTF-8") : d->encoding;
    QByteArray head = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n";
    QByteArray bytes;
    // The entities the subtree refers to are declared there; the external part is left
    // behind, as it is never read.
    if (d->doctypeStart >= 0 && d->doctypeEnd > d->doctypeStart) {
        if (d->doctypeEnd - d->doctypeStart > kTagCap) {
            d->lastError = QStringLiteral("The document type declaration is too long to copy with the element.");
            return false;
        }
        if (!file.readAt(d->doctypeStart, d->doctypeEnd - d->doctypeStart, &bytes))
            return false;
        if (const QByteArray subset = internalSubset(bytes); !subset.isEmpty())
            head += "<!DOCTYPE " + tag.name + " [" + subset + "]>\n";
    }
    if (!file.readAt(at, tag.nameEnd, &bytes))
        return false;
    head += bytes;
    for (const RawAttribute& a : inherited)
        head += ' ' + a.name + '=' + a.quote + a.value + a.quote;
    auto write = [&](const QByteArray& b) {
        if (out->write(b) == b.size())
            return true;
        d->lastError = QStringLiteral("The element could not be written: %1.").arg(out->errorString());
        return false;
    };
    if (!write(head))
        return false;
    for (qint64 pos = at + tag.nameEnd; pos < end; pos += kCopyBlock) {
        if (!file.readAt(pos, std::min(kCopyBlock, end - pos), &bytes) || !write(bytes))
            return false;
        busyTick();
    }
    // What was copied is what was indexed only if the file stayed as it was meanwhile.
    return detail::fileUnchanged(*d) && write(QByteArray("\n"));
}

bool DocumentIndex::extract(Row row, QByteArray* out, qint64 maxBytes) const
{
    if (d->valid(row) && isClosed(row) && endOffset(row) - startOffset(row) > maxBytes) {
        d->lastError = QStringLiteral("The element %1 is %2 bytes long, too long to show; save it to a file instead.")
                           .arg(name(row))
                           .arg(endOffset(row) - startOffset(row));
        return false;
    }
    QBuffer buffer(out);
    out->clear();
    buffer.open(QIODevice::WriteOnly);
    if (extract(row, &buffer))
        return true;
    out->clear();
    return false;
}

bool DocumentIndex::saveSubtree(Row row, const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        d->lastError = QStringLiteral("%1 cannot be written: %2.").arg(path, file.errorString());
        return false;
    }
    if (!extract(row, &file)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        d->lastError = QStringLiteral("%1 cannot be written: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace treelark
