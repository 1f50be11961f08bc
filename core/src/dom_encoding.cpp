// Writing a document in the encoding its file declares: which characters that encoding
// can carry where no character reference can stand in for them, and the file's text as
// the parser saw it (converted to UTF-8) for copying start tags from.
#include "dom_internal.h"

#include <libxml/xmlIO.h>

#include <new>

namespace treelark::detail {

namespace {

int closeNothing(void*) { return 0; }

int appendToBytes(void* ctx, const char* buf, int len)
{
    static_cast<QByteArray*>(ctx)->append(buf, len);
    return len;
}

bool isAscii(const xmlChar* s)
{
    for (; s && *s; ++s)
        if (*s >= 0x80)
            return false;
    return true;
}

// Whether `enc` writes the UTF-8 text s as it is. Where it cannot, libxml2 writes a
// character reference instead, which reads back as the same character only in text and
// attribute values.
bool encodes(const char* enc, const QByteArray& s)
{
    if (isAscii(reinterpret_cast<const xmlChar*>(s.constData())))
        return true;
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(enc);
    if (!handler)
        return true;
    QByteArray written;
    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(appendToBytes, closeNothing, &written, handler);
    if (!out)
        throw std::bad_alloc();
    xmlOutputBufferWrite(out, int(s.size()), s.constData());
    xmlOutputBufferClose(out);
    return written.count('&') == s.count('&');
}

} // namespace

void requireEncodable(xmlNodePtr top, const char* enc)
{
    auto check = [enc](const xmlChar* s, const QString& where) {
        const QByteArray bytes(reinterpret_cast<const char*>(s ? s : reinterpret_cast<const xmlChar*>("")));
        if (encodes(enc, bytes))
            return;
        const QString text = QString::fromUtf8(bytes);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            if (!encodes(enc, text.mid(i, len).toUtf8()))
                raise(DOMError::WriteFailed,
                      QStringLiteral("%1 holds the character U+%2, which the document's encoding (%3) cannot write; "
                                     "change it, or save the document as UTF-8.")
                          .arg(where, QString::number(text.mid(i, len).toUcs4().value(0), 16).toUpper(),
                               QString::fromLatin1(enc)));
            i += len - 1;
        }
    };
    for (xmlNodePtr n = top; n; n = nextInSubtree(n, top)) {
        switch (n->type) {
        case XML_COMMENT_NODE: check(n->content, QStringLiteral("A comment")); break;
        case XML_CDATA_SECTION_NODE: check(n->content, QStringLiteral("A CDATA section")); break;
        case XML_PI_NODE:
            check(n->name, QStringLiteral("A processing instruction's target"));
            check(n->content, QStringLiteral("The processing instruction '%1'").arg(toQ(n->name)));
            break;
        case XML_ENTITY_REF_NODE: check(n->name, QStringLiteral("An entity reference")); break;
        case XML_ELEMENT_NODE:
            check(n->name, QStringLiteral("An element's name"));
            if (n->ns)
                check(n->ns->prefix, QStringLiteral("An element's prefix"));
            for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                check(ns->prefix, QStringLiteral("A namespace prefix"));
            for (xmlAttrPtr a = n->properties; a; a = a->next) {
                check(a->name, QStringLiteral("An attribute's name"));
                if (a->ns)
                    check(a->ns->prefix, QStringLiteral("An attribute's prefix"));
            }
            break;
        default: break;
        }
    }
}

QByteArray utf8TextOf(const QByteArray& raw, const char* enc)
{
    if (raw.isEmpty())
        return raw;
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(enc);
    if (!handler)
        return QByteArray();
    xmlBufferPtr in = xmlBufferCreateSize(size_t(raw.size()) + 1);
    xmlBufferPtr out = xmlBufferCreateSize(size_t(raw.size()) * 2 + 16);
    QByteArray text;
    if (in && out && xmlBufferAdd(in, reinterpret_cast<const xmlChar*>(raw.constData()), int(raw.size())) == 0
        && xmlCharEncInFunc(handler, out, in) >= 0 && xmlBufferLength(in) == 0)
        text = QByteArray(reinterpret_cast<const char*>(xmlBufferContent(out)), xmlBufferLength(out));
    xmlBufferFree(in);
    xmlBufferFree(out);
    xmlCharEncCloseFunc(handler);
    return text;
}

} // namespace treelark::detail
