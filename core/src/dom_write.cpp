// Writing an edited document so that only what the edits touched reads differently: each
// element whose start tag still says what the file said is written with the file's own
// bytes for it (quotes, attribute order, spacing, character references in values, the
// empty-element form); everything else is written by libxml2 as usual. Text, comments and
// the layout between elements are in the tree as read (see dom_load.cpp), so they come
// out as they went in.
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <QFile>

#include <libxml/xmlsave.h>

#include <algorithm>
#include <vector>


namespace treelark::detail {

namespace {

void put(xmlOutputBufferPtr out, const char* s, qsizetype n) { xmlOutputBufferWrite(out, int(n), s); }
void put(xmlOutputBufferPtr out, const QByteArray& s) { put(out, s.constData(), s.size()); }
void put(xmlOutputBufferPtr out, const xmlChar* s) { xmlOutputBufferWriteString(out, reinterpret_cast<const char*>(s)); }

void putQName(xmlOutputBufferPtr out, xmlNodePtr n)
{
    if (n->ns && n->ns->prefix) {
        put(out, n->ns->prefix);
        put(out, ":", 1);
    }
    put(out, n->name);
}

// An attribute value between quotes (double unless the file used single ones for it),
// escaped the way libxml2 escapes it.
void putValue(xmlOutputBufferPtr out, const xmlChar* v, char quote = '"')
{
    QByteArray escaped;
    for (const xmlChar* c = v; c && *c; ++c) {
        switch (*c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '"': escaped += quote == '"' ? "&quot;" : "\""; break;
        case '\'': escaped += quote == '\'' ? "&apos;" : "'"; break;
        case '\n': escaped += "&#10;"; break;
        case '\r': escaped += "&#13;"; break;
        case '\t': escaped += "&#9;"; break;
        default: escaped += char(*c);
        }
    }
    put(out, &quote, 1);
    put(out, escaped);
    put(out, &quote, 1);
}

void putStartTag(xmlOutputBufferPtr out, xmlNodePtr el, bool empty)
{
    put(out, "<", 1);
    putQName(out, el);
    for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next) {
        put(out, " xmlns", 6);
        if (ns->prefix) {
            put(out, ":", 1);
            put(out, ns->prefix);
        }
        put(out, "=", 1);
        putValue(out, ns->href);
    }
    for (xmlAttrPtr a = el->properties; a; a = a->next) {
        put(out, " ", 1);
        putQName(out, reinterpret_cast<xmlNodePtr>(a));
        put(out, "=", 1);
        xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
        putValue(out, v);
        xmlFree(v);
    }
    put(out, empty ? "/>" : ">", empty ? 2 : 1);
}

QByteArray qualifiedBytes(xmlNodePtr n)
{
    const QByteArray local(reinterpret_cast<const char*>(n->name));
    return n->ns && n->ns->prefix ? QByteArray(reinterpret_cast<const char*>(n->ns->prefix)) + ':' + local : local;
}

// One attribute (or declaration) as a start tag in the file writes it: the blanks before
// it, its name, and the whole of it up to the closing quote.
struct TagItem {
    qsizetype blanks = 0, name = 0, end = 0;
    QByteArray qname, rawValue;
    char quote = '"';
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Splits a start tag as written; false if it does not read as one.
bool splitTag(const QByteArray& tag, qsizetype nameLength, std::vector<TagItem>& items, qsizetype& tailAt)
{
    qsizetype i = 1 + nameLength;
    for (;;) {
        const qsizetype blanks = i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i >= tag.size())
            return false;
        if (tag[i] == '>' || tag[i] == '/') {
            tailAt = blanks;
            return true;
        }
        TagItem item;
        item.blanks = blanks;
        item.name = i;
        while (i < tag.size() && tag[i] != '=' && !isBlank(tag[i]))
            ++i;
        item.qname = tag.mid(item.name, i - item.name);
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            return false;
        ++i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            return false;
        const qsizetype close = tag.indexOf(tag[i], i + 1);
        if (close < 0)
            return false;
        item.rawValue = tag.mid(i + 1, close - i - 1);
        item.quote = tag[i];
        item.end = close + 1;
        i = close + 1;
        items.push_back(item);
    }
}

struct Current {
    QByteArray qname;
    xmlNsPtr ns = nullptr;      // a declaration, or
    xmlNodePtr attr = nullptr;  // an attribute
    bool used = false;
};

void putItem(xmlOutputBufferPtr out, const Current& c, char quote = '"')
{
    put(out, c.qname);
    put(out, "=", 1);
    if (c.ns) {
        putValue(out, c.ns->href, quote);
    } else {
        xmlChar* v = xmlNodeGetContent(c.attr);
        putValue(out, v, quote);
        xmlFree(v);
    }
}

// The attribute or declaration now standing where the file had `item`: the one renamed
// from it, else the one of its name that was not renamed.
std::vector<Current>::iterator standingFor(std::vector<Current>& now, const TagItem& item)
{
    void* const mark = nameMark(item.qname);
    auto renamed = [](const Current& c) { return c.attr && reinterpret_cast<xmlAttrPtr>(c.attr)->psvi; };
    auto it = std::find_if(now.begin(), now.end(), [&](const Current& c) {
        return !c.used && c.attr && reinterpret_cast<xmlAttrPtr>(c.attr)->psvi == mark;
    });
    if (it == now.end())
        it = std::find_if(now.begin(), now.end(),
                          [&](const Current& c) { return !c.used && !renamed(c) && c.qname == item.qname; });
    return it;
}

// Writes el's start tag from the file's text for it: as it is when nothing in it changed,
// otherwise with only the changed attributes written anew (in their places, new ones after
// the last, on the same kind of line). Returns false when the file's text cannot serve.
// An element empty now but written "<a ...></a>" gets its end tag here as well.
bool putTagAsRead(xmlOutputBufferPtr out, xmlNodePtr el, const QByteArray& source, bool empty)
{
    quint64 at = 0, len = 0;
    if (!tagSpan(el, &at, &len) || at + len > quint64(source.size()) || len < 3)
        return false;
    const QByteArray tag = QByteArray::fromRawData(source.constData() + at, qsizetype(len));
    if (tag[0] != '<' || tag[tag.size() - 1] != '>')
        return false;
    const QByteArray qname = qualifiedBytes(el);
    // the name as the file has it: a renamed element keeps its attributes as written
    qsizetype nameLength = 0;
    while (1 + nameLength < tag.size() && !isBlank(tag[1 + nameLength]) && tag[1 + nameLength] != '>'
           && tag[1 + nameLength] != '/')
        ++nameLength;
    const bool sameName = tag.mid(1, nameLength) == qname;
    if (!sameName && !tagChanged(el))
        return false;
    const bool selfClosed = tag[tag.size() - 2] == '/';
    std::vector<TagItem> items;
    qsizetype tailAt = 0;
    if (!splitTag(tag, nameLength, items, tailAt))
        return false;

    if (!tagChanged(el)) {
        put(out, tag.constData(), tailAt);
    } else {
        std::vector<Current> now;
        for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next)
            now.push_back({ns->prefix ? "xmlns:" + QByteArray(reinterpret_cast<const char*>(ns->prefix)) : "xmlns", ns,
                           nullptr});
        for (xmlAttrPtr a = el->properties; a; a = a->next)
            now.push_back({qualifiedBytes(reinterpret_cast<xmlNodePtr>(a)), nullptr, reinterpret_cast<xmlNodePtr>(a)});
        put(out, "<", 1);
        put(out, qname);
        QByteArray blanks = " ";
        for (const TagItem& item : items) {
            blanks = tag.mid(item.blanks, item.name - item.blanks);
            const auto it = standingFor(now, item);
            if (it == now.end())
                continue; // removed
            it->used = true;
            const bool same = it->ns ? item.rawValue == reinterpret_cast<const char*>(it->ns->href) : !tagChanged(it->attr);
            if (same) {
                put(out, tag.constData() + item.blanks, item.end - item.blanks);
            } else {
                put(out, blanks);
                putItem(out, *it, item.quote);
            }
        }
        for (const Current& c : now)
            if (!c.used) {
                put(out, blanks);
                putItem(out, c);
            }
    }
    // the end of the tag: as written, but open or closed as the element now is
    QByteArray tail = tag.mid(tailAt);
    if (selfClosed && !empty) {
        tail.chop(2);
        while (!tail.isEmpty() && isBlank(tail.back()))
            tail.chop(1);
        tail += '>';
    }
    put(out, tail);
    if (!selfClosed && empty) {
        put(out, "</", 2);
        put(out, qname);
        put(out, ">", 1);
    }
    return true;
}

// A text node's text as the file has it, while the node still holds that text.
bool putTextAsRead(xmlOutputBufferPtr out, xmlNodePtr n, const QByteArray& source)
{
    quint64 at = 0, len = 0;
    if (n->type != XML_TEXT_NODE || isFormatting(n) || tagChanged(n) || !tagSpan(n, &at, &len)
        || at + len > quint64(source.size()))
        return false;
    const QByteArray text = QByteArray::fromRawData(source.constData() + at, qsizetype(len));
    if (text.contains('<'))
        return false;
    put(out, text);
    return true;
}

} // namespace

QByteArray readSource(const DocCore& core)
{
    if (core.sourcePath.isEmpty())
        return core.sourceBytes;
    QFile in(core.sourcePath);
    if (!in.open(QIODevice::ReadOnly) || in.size() != core.sourceSize)
        return QByteArray();
    // Read (and checked) a megabyte at a time: a large file takes long enough to hold a window.
    QByteArray all(qsizetype(core.sourceSize), Qt::Uninitialized);
    StreamHash hash;
    qint64 got = 0;
    while (got < core.sourceSize) {
        const qint64 n = in.read(all.data() + got, std::min<qint64>(1 << 20, core.sourceSize - got));
        if (n <= 0)
            return QByteArray();
        hash.add(all.constData() + got, n);
        got += n;
        busyTick();
    }
    return hash.result() == core.sourceHash ? all : QByteArray();
}

void writeWithTags(xmlOutputBufferPtr out, xmlDocPtr doc, xmlNodePtr top, const QByteArray& source)
{
    // Iterative: trees built through the API may be deeper than any stack.
    xmlNodePtr n = top;
    quint64 written = 0;
    while (n) {
        if ((++written & 0x3FFF) == 0)
            busyTick();
        const bool element = n->type == XML_ELEMENT_NODE;
        if (element) {
            const bool empty = n->children == nullptr;
            if (!putTagAsRead(out, n, source, empty))
                putStartTag(out, n, empty);
        } else if (!putTextAsRead(out, n, source) && !(tagChanged(n) && putEditedText(out, n, source))) {
            xmlNodeDumpOutput(out, doc, n, 0, 0, "UTF-8");
        }
        if (element && n->children) {
            n = n->children;
            continue;
        }
        // climb out of every element this was the last child of, closing each
        while (n != top && !n->next) {
            n = n->parent;
            put(out, "</", 2);
            putQName(out, n);
            put(out, ">", 1);
        }
        n = n == top ? nullptr : n->next;
    }
}

} // namespace treelark::detail
