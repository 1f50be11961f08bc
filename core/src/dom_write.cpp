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

// An attribute value between double quotes, escaped the way libxml2 escapes it.
void putValue(xmlOutputBufferPtr out, const xmlChar* v)
{
    QByteArray escaped;
    for (const xmlChar* c = v; c && *c; ++c) {
        switch (*c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '"': escaped += "&quot;"; break;
        case '\n': escaped += "&#10;"; break;
        case '\r': escaped += "&#13;"; break;
        case '\t': escaped += "&#9;"; break;
        default: escaped += char(*c);
        }
    }
    put(out, "\"", 1);
    put(out, escaped);
    put(out, "\"", 1);
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

// The file's start tag for el, if it still stands there and still fits.
bool putTagAsRead(xmlOutputBufferPtr out, xmlNodePtr el, const QByteArray& source, bool empty)
{
    quint64 at = 0, len = 0;
    if (!tagSpan(el, &at, &len) || at + len > quint64(source.size()) || len < 3)
        return false;
    const char* tag = source.constData() + at;
    if (tag[0] != '<' || tag[len - 1] != '>')
        return false;
    // the name is still the one written there
    const QByteArray local(reinterpret_cast<const char*>(el->name));
    QByteArray qname = el->ns && el->ns->prefix ? QByteArray(reinterpret_cast<const char*>(el->ns->prefix)) + ':' + local
                                                 : local;
    if (qsizetype(len) < qname.size() + 2 || QByteArray::fromRawData(tag + 1, qname.size()) != qname)
        return false;
    const char after = tag[1 + qname.size()];
    if (after != '>' && after != '/' && after != ' ' && after != '\t' && after != '\n' && after != '\r')
        return false;
    const bool selfClosed = tag[len - 2] == '/';
    if (selfClosed == empty) {
        put(out, tag, qsizetype(len));
        return true;
    }
    if (selfClosed) { // it has children now: "<a x='1'/>" opens as "<a x='1'>"
        qsizetype end = qsizetype(len) - 2;
        while (end > 1 && QByteArray(" \t\r\n").contains(tag[end - 1]))
            --end;
        put(out, tag, end);
        put(out, ">", 1);
        return true;
    }
    put(out, tag, qsizetype(len)); // "<a></a>" stays that way when it is empty again
    put(out, "</", 2);
    put(out, qname);
    put(out, ">", 1);
    return true; // closed here already
}

} // namespace

QByteArray readSource(const DocCore& core)
{
    if (core.sourcePath.isEmpty())
        return core.sourceBytes;
    QFile in(core.sourcePath);
    if (!in.open(QIODevice::ReadOnly) || in.size() != core.sourceSize)
        return QByteArray();
    QByteArray all = in.readAll();
    StreamHash hash;
    hash.add(all.constData(), all.size());
    return all.size() == core.sourceSize && hash.value == core.sourceHash ? all : QByteArray();
}

void writeWithTags(xmlOutputBufferPtr out, xmlDocPtr doc, xmlNodePtr top, const QByteArray& source)
{
    // Iterative: trees built through the API may be deeper than any stack.
    xmlNodePtr n = top;
    quint64 written = 0;
    while (n) {
        if ((++written & 0xFFFF) == 0)
            busyTick();
        const bool element = n->type == XML_ELEMENT_NODE;
        if (element) {
            const bool empty = n->children == nullptr;
            if (!putTagAsRead(out, n, source, empty))
                putStartTag(out, n, empty);
        } else {
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
